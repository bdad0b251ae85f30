#include "io/getpoints.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "io/fortran.hpp"
#include "io/io_error.hpp"
#include "io/linefile.hpp"
#include "io/read_pass.hpp"

namespace krel::io {

namespace detail {

namespace {

Layout choose_layout(std::string_view name, std::string_view first) {
    if (name.size() >= 5 && name.substr(name.size() - 5) == ".node") return Layout::node_list;
    if (first.size() >= 2 && first[0] == '1' && first[1] == ',') return Layout::comma;
    return Layout::plain;
}

// Hands out the first line once more before the rest of the file: comma and
// plain files read their first line again as the first record.
class ReplayFirst final : public LineSource {
public:
    ReplayFirst(LineFile& file, std::string_view first, bool replay)
        : file_(file), first_(first), replay_(replay) {}
    bool next(std::string_view& line) override {
        if (replay_) {
            replay_ = false;
            line = first_;
            return true;
        }
        return file_.next(line);
    }

private:
    LineFile& file_;
    std::string_view first_;
    bool replay_;
};

}  // namespace

std::int64_t Pass::run() {
    if (mode_ == PassMode::explore && s_.plans != nullptr) *s_.plans = ChunkPlans{};
    for (std::size_t i = 0; i < s_.files.size(); ++i) read_file(s_.files[i], i);
    console_.line("");
    if (mode_ == PassMode::explore) {
        console_.put(FreeLine{}.text(">Total nodes:").num(n_).str());
    } else {
        nodes_->n = static_cast<std::int32_t>(n_);
    }
    return n_;
}

void Pass::read_file(const std::string& name, std::size_t index) {
    console_.put(FreeLine{}.text(mode_ == PassMode::explore ? "->exploring " : "->loading   ").text(name).str());
    // A stream is kept by the first pass that opens it; everything below
    // reads the copy, a plain file with the same bytes.
    path_ = s_.streams != nullptr ? s_.streams->path_for(name) : name;
    if (content_is_las(name, path_)) {
        read_las(name, index);
        return;
    }
    auto source = std::make_unique<ByteSource>(name, path_, ahead());
    // Compressed text cannot be cut into chunks: it is read in one piece.
    const bool plain = source->plain_regular();
    LineFile file(std::move(source));
    std::string_view first;
    ++lines_;
    if (!file.next(first)) throw read_error(name, 1, "end of file: the file is empty");
    const std::string_view first64 = first.substr(0, 64);
    Layout layout = choose_layout(name, first64);
    const bool replay = layout != Layout::node_list;
    std::int64_t count = 0;  // node-list record limit; 0 or less: none
    if (layout == Layout::node_list) {
        constexpr std::array<FieldType, 1> one{FieldType::integer};
        std::array<FieldValue, 1> v;
        OneLine line(first64);
        switch (read_record(line, one, v)) {
        case RecordStatus::end:
            throw read_error(name, 1, "end of file reading the node count");
        case RecordStatus::bad:
            // Only this file is lost; the later names are still read.
            if (mode_ == PassMode::explore) error_line(lines_);
            return;
        case RecordStatus::ok:
            break;
        }
        count = v[0].i;
        if (count <= 0) layout = Layout::plain;  // read on from the second line
    }
    if (layout != Layout::node_list && plain && read_chunked(name, index, layout)) return;
    ReplayFirst src(file, first, replay);
    read_records(src, layout, count);
}

// The fields a record of the layout holds. The explore pass without a hull
// needs x and y only as numbers.
std::vector<FieldType> Pass::record_types(Layout layout) const {
    const bool selected = layout == Layout::plain && s_.icolmax > 0;
    const FieldType xy = xy_type();
    std::vector<FieldType> types;
    if (layout == Layout::plain) {
        if (selected) {
            types.assign(static_cast<std::size_t>(s_.icolmax), xy);
            types[static_cast<std::size_t>(s_.ic3 - 1)] = FieldType::real64;
        } else {
            types = {xy, xy, FieldType::real32};
        }
    } else {
        types = {FieldType::integer, xy, xy, FieldType::real32};
    }
    return types;
}

// The positions in the order x, y, z; z's type wins where a position is
// shared, as in the full list of record_types.
Pass::Sparse Pass::sparse_columns() const {
    Sparse c;
    const std::int32_t col[3] = {s_.ic1, s_.ic2, s_.ic3};
    std::size_t* slot[3] = {&c.x, &c.y, &c.z};
    for (int k = 0; k < 3; ++k) {
        const auto at = static_cast<std::size_t>(col[k] - 1);
        std::size_t i = 0;
        while (i < c.at.size() && c.at[i] != at) ++i;
        if (i == c.at.size()) {
            c.at.push_back(at);
            c.types.push_back(xy_type());
        }
        if (k == 2) c.types[i] = FieldType::real64;
        *slot[k] = i;
    }
    return c;
}

void Pass::xyz_of(const std::vector<FieldValue>& v, Layout layout, double& x, double& y, float& z) const {
    if (layout == Layout::plain && s_.icolmax > 0) {
        x = v[static_cast<std::size_t>(s_.ic1 - 1)].d;
        y = v[static_cast<std::size_t>(s_.ic2 - 1)].d;
        z = static_cast<float>(v[static_cast<std::size_t>(s_.ic3 - 1)].d);
    } else if (layout == Layout::plain) {
        x = v[0].d;
        y = v[1].d;
        z = v[2].f;
    } else {
        x = v[1].d;
        y = v[2].d;
        z = v[3].f;
    }
}

// The line counter is raised before the node-list count is checked, so the
// read that stops at the count is counted.
void Pass::read_records(LineSource& src, Layout layout, std::int64_t count) {
    std::int64_t from_file = 0;
    (void)each_record(
        src, layout,
        [&] {
            ++lines_;
            return !(count > 0 && from_file == count);
        },
        [&] {
            if (mode_ == PassMode::explore) error_line(lines_);
        },
        [&](double x, double y, float z) {
            ++from_file;
            ++records_;
            take(x, y, z);
            return true;
        });
}

// Where the explore pass keeps a LAZ file's records, when they fit what is
// left of the room for kept records; nullptr: they are decoded again.
std::vector<unsigned char>* Pass::records_to_keep(const LasFile& file, std::size_t index) const {
    KeptRecords* kept = s_.records;
    if (mode_ != PassMode::explore || kept == nullptr || !file.header().laz) return nullptr;
    const std::size_t rl = file.header().record_length;
    if (file.records() == 0 || file.records() > (kept->most_bytes - kept->bytes) / rl) return nullptr;
    const auto bytes = static_cast<std::size_t>(file.records()) * rl;
    if (kept->files.size() < s_.files.size()) kept->files.resize(s_.files.size());
    std::vector<unsigned char>& keep = kept->files[index];
    try {
        keep.reserve(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    kept->bytes += keep.capacity();
    return &keep;
}

// A LAS file reads like a text dump of its points, one per line: the
// first-line read, one line per point, and the read that meets the end.
//
// A LAZ file's records kept by the explore pass are the bytes that decoding
// the file again would give the load pass (the decoder's records depend on
// the file alone), handed to the same loop: the load pass cannot tell them
// apart. The file's own diagnostics all come from the explore pass, which
// decoded every record; a file that failed there ended the run.
void Pass::read_las(const std::string& name, std::size_t index) {
    LasFile file(name, path_, ahead(), LasFile::kBlockBytes, s_.threads);
    if (mode_ == PassMode::explore)
        for (const std::string& w : file.warnings()) warnings_.line("krel: '" + name + "': " + w);
    const LasDecoder dec(file.header());
    const std::size_t rl = file.header().record_length;
    ++lines_;
    const std::int64_t lines0 = lines_ - 1;
    std::int64_t withheld = 0;
    auto each_record = [&](std::span<const unsigned char> block) {
        for (const unsigned char* rec = block.data(); rec != block.data() + block.size(); rec += rl) {
            if (!s_.classes.has(dec.code(rec))) continue;
            if (dec.withheld(rec)) {
                ++withheld;
                continue;
            }
            ++lines_;
            const double x = dec.x(rec);
            const double y = dec.y(rec);
            const float z = dec.z(rec);
            // Only a header with huge scales overflows; a text dump would
            // hold "inf" there, which is a read error too.
            if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
                if (mode_ == PassMode::explore) error_line(lines_);
                continue;
            }
            ++records_;
            take(x, y, z);
        }
    };
    std::vector<unsigned char>* keep = records_to_keep(file, index);
    KeptRecords* kept = mode_ == PassMode::load ? s_.records : nullptr;
    if (kept != nullptr && index < kept->files.size() && !kept->files[index].empty()) {
        std::vector<unsigned char> records;
        records.swap(kept->files[index]);  // freed as soon as it is read
        kept->bytes -= records.capacity();
        const std::size_t block = std::max<std::size_t>(1, LasFile::kBlockBytes / rl) * rl;
        for (std::size_t at = 0; at < records.size(); at += block)
            each_record(std::span<const unsigned char>(records).subspan(at, std::min(block, records.size() - at)));
    } else {
        std::span<const unsigned char> block;
        while (file.next_block(block, lines_ - lines0 + 1)) {
            if (keep != nullptr) keep->insert(keep->end(), block.begin(), block.end());
            each_record(block);
        }
    }
    ++lines_;
    if (mode_ == PassMode::explore && withheld > 0)
        console_.put(FreeLine{}.text(">withheld points left out of ").text(name).text(":").num(withheld).str());
}

// The filters, in their order, then the store.
void Pass::take(double x, double y, float z) {
    // iskip is 1 unless memory was short: spare the division then.
    if (s_.iskip > 1 && lines_ % s_.iskip != 0) return;
    if (records_ % kProgressRecords == 0) progress();
    if (!passes(x, y, z)) return;
    if (mode_ == PassMode::explore) {
        ++n_;
        return;
    }
    // A capacity of 0 stores nothing; a full array keeps overwriting its
    // last slot, and slot 1 sets the origin each time it is written.
    if (capacity_ < 1) return;
    n_ = n_ + 1 < capacity_ ? n_ + 1 : capacity_;
    NodeArrays& a = *nodes_;
    if (n_ == 1) {
        a.xorig = x;
        a.yorig = y;
    }
    const auto xs = static_cast<float>(x - a.xorig);
    const auto ys = static_cast<float>(y - a.yorig);
    if (a.sink != nullptr) {
        a.sink->store(n_, xs, ys, z);
        return;
    }
    a.x[n_] = xs;
    a.y[n_] = ys;
    a.z[n_] = z;
}

// The explore pass counts records in millions, the load pass points; the
// spinner turns with the records.
std::string Pass::progress_text(std::int64_t value, std::int64_t records) const {
    std::string text = mode_ == PassMode::explore ? " >explore" : " >loading";
    text += format_i(value / 1000000, 4);
    text += " M ";
    text[0] = spinner(records / 100000);
    return text;
}

void Pass::progress() { console_.iimesg(progress_text(mode_ == PassMode::explore ? records_ : n_, records_)); }

}  // namespace detail

std::int64_t getpoints(PassMode mode, const ReadSettings& settings, NodeArrays* nodes, TextOut& console,
                       TextOut& warnings) {
    detail::Pass pass(mode, settings, nodes, console, warnings);
    return pass.run();
}

}  // namespace krel::io

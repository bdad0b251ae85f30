#include "io/getpoints.hpp"

#include <array>
#include <cstring>
#include <fcntl.h>
#include <exception>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <cmath>
#include <span>
#include <string_view>

#include "io/fields.hpp"
#include "io/fortran.hpp"
#include "io/io_error.hpp"
#include "io/linefile.hpp"

namespace krel::io {

namespace {

enum class Layout { node_list, comma, plain };

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

// Chunks are at least this large: smaller files are read in one piece.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kChunkBuffer = std::size_t{1} << 20;  // read buffer of each chunk

// Size of a regular file, 0 for anything else.
std::int64_t regular_size(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::int64_t>(st.st_size);
}

// Offset just after the first LF at or after `from`, or -1 when there is none.
std::int64_t line_start_after(const std::string& name, std::int64_t from, std::int64_t size) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::vector<char> buf(std::size_t{1} << 16);
    std::int64_t at = from, found = -1;
    while (at < size && found < 0) {
        const ssize_t got = ::pread(fd, buf.data(), buf.size(), at);
        if (got <= 0) break;
        const void* nl = std::memchr(buf.data(), '\n', static_cast<std::size_t>(got));
        if (nl != nullptr) found = at + (static_cast<const char*>(nl) - buf.data()) + 1;
        at += got;
    }
    ::close(fd);
    return found;
}

char spinner(std::int64_t step) {
    static constexpr std::array<char, 4> kSpin{'|', '\\', '|', '/'};
    return kSpin[static_cast<std::size_t>(step % 4)];
}

class Pass {
public:
    Pass(PassMode mode, const ReadSettings& s, NodeArrays* nodes, TextOut& console, TextOut& warnings)
        : mode_(mode), s_(s), nodes_(nodes), console_(console), warnings_(warnings),
          capacity_(mode == PassMode::load ? nodes->capacity : 0) {}

    std::int64_t run() {
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

private:
    void read_file(const std::string& name, std::size_t index) {
        console_.put(FreeLine{}
                         .text(mode_ == PassMode::explore ? "->exploring " : "->loading   ")
                         .text(name)
                         .str());
        if (is_las_file(name)) {
            read_las(name);
            return;
        }
        LineFile file(name);
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
                if (mode_ == PassMode::explore)
                    console_.put(FreeLine{}.text("***error reading line ").num(lines_).str());
                return;
            case RecordStatus::ok:
                break;
            }
            count = v[0].i;
            if (count <= 0) layout = Layout::plain;  // read on from the second line
        }
        if (layout != Layout::node_list && read_chunked(name, index, layout)) return;
        ReplayFirst src(file, first, replay);
        read_records(src, layout, count);
    }

    // One chunk of a file read side by side with the others: counts as the
    // file's own reading would, relative to the chunk's start.
    struct Chunk {
        std::int64_t begin = 0;      // bytes [begin, end) of the file
        std::int64_t end = 0;
        std::exception_ptr error;    // a read failure, thrown again by the reader's thread
        std::int64_t ok0 = 0;        // load: records read in the pass before the chunk
        std::int64_t n0 = 0;         // load: slots filled before the chunk
        std::int64_t attempts = 0;   // record reads, the one meeting the chunk's end included
        std::int64_t ok = 0;         // records read without error
        std::int64_t accepted = 0;   // points passing the filters
        bool partial = false;        // the chunk's end cut a record
        std::vector<std::pair<std::int64_t, std::int64_t>> errors;  // explore: (read, records before)
        std::vector<std::string> progress;                           // load: progress texts
    };

    // The record loop of read_records over one chunk, without printing: the
    // explore pass notes its read errors, the load pass stores its points in
    // their slots and notes its progress texts. Only reads shared state.
    void parse_chunk(const std::string& name, Chunk& c, Layout layout) const {
        try {
            LineFile src(name, c.begin, c.end, kChunkBuffer);
            parse_chunk_lines(src, c, layout);
        } catch (...) {
            c.error = std::current_exception();
        }
    }

    void parse_chunk_lines(LineSource& src, Chunk& c, Layout layout) const {
        const std::vector<FieldType> types = record_types(layout);
        std::vector<FieldValue> v(types.size());
        NodeArrays* a = nodes_;
        for (;;) {
            ++c.attempts;
            bool partial = false;
            const RecordStatus st = read_record(src, types, v, &partial);
            if (st == RecordStatus::end) {
                c.partial = partial;
                return;
            }
            if (st == RecordStatus::bad) {
                if (mode_ == PassMode::explore) c.errors.emplace_back(c.attempts, c.ok);
                continue;
            }
            ++c.ok;
            if (mode_ == PassMode::load && (c.ok0 + c.ok) % 100001 == 0) {
                std::string text = " >loading";
                text += format_i((c.n0 + c.accepted) / 1000000, 4);
                text += " M ";
                text[0] = spinner((c.ok0 + c.ok) / 100000);
                c.progress.push_back(std::move(text));
            }
            double x, y;
            float z;
            xyz_of(v, layout, x, y, z);
            if (!passes(x, y, z)) continue;
            ++c.accepted;
            if (mode_ == PassMode::explore) continue;
            const std::int64_t slot = c.n0 + c.accepted;
            a->x[slot] = static_cast<float>(x - a->xorig);
            a->y[slot] = static_cast<float>(y - a->yorig);
            a->z[slot] = z;
        }
    }

    // A large plain or comma file, read in chunks side by side. false: read
    // it in one piece instead; nothing has been printed or counted then.
    bool read_chunked(const std::string& name, std::size_t index, Layout layout) {
        if (s_.threads < 2 || s_.plans == nullptr) return false;
        ChunkPlans& plans = *s_.plans;
        if (plans.files.size() < s_.files.size()) plans.files.resize(s_.files.size());
        ChunkPlan& plan = plans.files[index];
        std::int64_t total = 0;
        if (mode_ == PassMode::load) {
            // The same points in the same slots as a reading in one piece.
            if (plan.bounds.empty() || s_.iskip != 1 || nodes_->sink != nullptr) return false;
            for (const std::int64_t k : plan.accepted) total += k;
            if (n_ + total > capacity_) return false;
        }
        const std::int64_t size = regular_size(name);
        if (size < static_cast<std::int64_t>(kChunkBytes)) return false;
        if (mode_ == PassMode::explore) {
            plan = ChunkPlan{};
            const std::int64_t parts =
                std::min<std::int64_t>(s_.threads, size / static_cast<std::int64_t>(kChunkBytes));
            plan.bounds.push_back(0);
            for (std::int64_t k = 1; k < parts; ++k) {
                // Each chunk starts at the beginning of a line.
                const std::int64_t at = line_start_after(name, size * k / parts, size);
                if (at < 0) break;
                if (at > plan.bounds.back() && at < size) plan.bounds.push_back(at);
            }
            plan.bounds.push_back(size);
            if (plan.bounds.size() < 3) {
                plan = ChunkPlan{};
                return false;
            }
        } else if (plan.bounds.back() != size) {
            return false;  // the file changed
        }
        const std::size_t parts = plan.bounds.size() - 1;
        std::vector<Chunk> chunks(parts);
        std::int64_t ok0 = records_, n0 = n_;
        for (std::size_t c = 0; c < parts; ++c) {
            chunks[c].begin = plan.bounds[c];
            chunks[c].end = plan.bounds[c + 1];
            if (mode_ == PassMode::load) {
                chunks[c].ok0 = ok0;
                chunks[c].n0 = n0;
                ok0 += plan.ok[c];
                n0 += plan.accepted[c];
            }
        }
        if (mode_ == PassMode::load && n_ == 0 && total > 0 && !set_origin(name, layout)) return false;
        {
            // A thread that cannot be had (memory short) leaves its chunks to this one.
            std::vector<std::thread> threads;
            std::size_t started = 1;
            try {
                for (; started < parts; ++started)
                    threads.emplace_back(
                        [this, &name, &chunks, started, layout] { parse_chunk(name, chunks[started], layout); });
            } catch (const std::system_error&) {
            }
            parse_chunk(name, chunks[0], layout);
            for (std::size_t c = started; c < parts; ++c) parse_chunk(name, chunks[c], layout);
            for (std::thread& t : threads) t.join();
        }
        for (const Chunk& c : chunks) {
            if (!c.error) continue;
            // Short of memory for a chunk's buffer: the reading in one piece needs less.
            try {
                std::rethrow_exception(c.error);
            } catch (const std::bad_alloc&) {
                if (mode_ == PassMode::explore) plan = ChunkPlan{};
                return false;
            }
        }
        for (std::size_t c = 0; c + 1 < parts; ++c) {
            if (chunks[c].partial) {
                // A record runs over a chunk's end: only the whole file reads it right.
                if (mode_ == PassMode::explore) plan = ChunkPlan{};
                return false;
            }
        }
        if (mode_ == PassMode::load) {
            for (std::size_t c = 0; c < parts; ++c)
                if (chunks[c].ok != plan.ok[c] || chunks[c].accepted != plan.accepted[c]) return false;
        }

        // What the reading in one piece would have printed and counted.
        for (std::size_t c = 0; c < parts; ++c) {
            const Chunk& ch = chunks[c];
            const std::int64_t lines0 = lines_;
            const std::int64_t records0 = records_;
            if (mode_ == PassMode::explore) {
                for (const auto& [attempt, before] : ch.errors) {
                    advance_records(records0 + before);
                    console_.put(FreeLine{}.text("***error reading line ").num(lines0 + attempt).str());
                }
                advance_records(records0 + ch.ok);
                plan.ok.push_back(ch.ok);
                plan.accepted.push_back(ch.accepted);
            } else {
                for (const std::string& text : ch.progress) console_.iimesg(text);
                records_ = records0 + ch.ok;
            }
            n_ += ch.accepted;
            // The read that met a chunk's end is the next chunk's first read.
            lines_ = lines0 + ch.attempts - (c + 1 < parts ? 1 : 0);
        }
        return true;
    }

    // Load: the origin is the file's first accepted point when no earlier
    // file gave one; the chunks need it before they start.
    bool set_origin(const std::string& name, Layout layout) {
        const std::vector<FieldType> types = record_types(layout);
        std::vector<FieldValue> v(types.size());
        LineFile src(name, std::size_t{1} << 16);
        for (;;) {
            const RecordStatus st = read_record(src, types, v);
            if (st == RecordStatus::end) return false;
            if (st == RecordStatus::bad) continue;
            double x, y;
            float z;
            xyz_of(v, layout, x, y, z);
            if (!passes(x, y, z)) continue;
            nodes_->xorig = x;
            nodes_->yorig = y;
            return true;
        }
    }

    // Explore: the record counter moves on to `target`, with the progress
    // texts of every multiple of 100001 passed on the way.
    void advance_records(std::int64_t target) {
        std::int64_t next = (records_ / 100001 + 1) * 100001;
        while (next <= target) {
            records_ = next;
            progress();
            next += 100001;
        }
        records_ = target;
    }

    // The fields a record of the layout holds. The explore pass without a
    // hull needs x and y only as numbers.
    [[nodiscard]] std::vector<FieldType> record_types(Layout layout) const {
        const bool selected = layout == Layout::plain && s_.icolmax > 0;
        const FieldType xy = mode_ == PassMode::explore && s_.hull == nullptr ? FieldType::checked : FieldType::real64;
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

    void xyz_of(const std::vector<FieldValue>& v, Layout layout, double& x, double& y, float& z) const {
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

    void read_records(LineSource& src, Layout layout, std::int64_t count) {
        const std::vector<FieldType> types = record_types(layout);
        std::vector<FieldValue> v(types.size());
        std::int64_t from_file = 0;
        for (;;) {
            ++lines_;
            if (count > 0 && from_file == count) return;
            const RecordStatus st = read_record(src, types, v);
            if (st == RecordStatus::end) return;
            if (st == RecordStatus::bad) {
                if (mode_ == PassMode::explore)
                    console_.put(FreeLine{}.text("***error reading line ").num(lines_).str());
                continue;
            }
            ++from_file;
            double x, y;
            float z;
            xyz_of(v, layout, x, y, z);
            ++records_;
            take(x, y, z);
        }
    }

    // A LAS file reads like a text dump of its points, one per line: the
    // first-line read, one line per point, and the read that meets the end.
    void read_las(const std::string& name) {
        LasFile file(name, LasFile::kBlockBytes, s_.threads);
        if (mode_ == PassMode::explore)
            for (const std::string& w : file.warnings()) warnings_.line("krel: '" + name + "': " + w);
        const LasDecoder dec(file.header());
        const std::size_t rl = file.header().record_length;
        ++lines_;
        std::int64_t withheld = 0;
        std::span<const unsigned char> block;
        while (file.next_block(block)) {
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
                    if (mode_ == PassMode::explore)
                        console_.put(FreeLine{}.text("***error reading line ").num(lines_).str());
                    continue;
                }
                ++records_;
                take(x, y, z);
            }
        }
        ++lines_;
        if (mode_ == PassMode::explore && withheld > 0)
            console_.put(FreeLine{}.text(">withheld points left out of ").text(name).text(":").num(withheld).str());
    }

    // The filters, in their order, then the store.
    void take(double x, double y, float z) {
        // iskip is 1 unless memory was short: spare the division then.
        if (s_.iskip > 1 && lines_ % s_.iskip != 0) return;
        if (records_ % 100001 == 0) progress();
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

    // The z range (inclusive) and the hull.
    [[nodiscard]] bool passes(double x, double y, float z) const {
        if (s_.ztmin > z || z > s_.ztmax) return false;
        return s_.hull == nullptr || inside_hull(*s_.hull, x, y);
    }

    void progress() {
        std::string text = mode_ == PassMode::explore ? " >explore" : " >loading";
        text += format_i(mode_ == PassMode::explore ? records_ / 1000000 : n_ / 1000000, 4);
        text += " M ";
        text[0] = spinner(records_ / 100000);
        console_.iimesg(text);
    }

    PassMode mode_;
    const ReadSettings& s_;
    NodeArrays* nodes_;
    TextOut& console_;
    TextOut& warnings_;
    std::int64_t capacity_;
    std::int64_t n_ = 0;
    std::int64_t lines_ = 0;    // raised for each first line and before each record read
    std::int64_t records_ = 0;  // records read without error
};

}  // namespace

std::int64_t getpoints(PassMode mode, const ReadSettings& settings, NodeArrays* nodes, TextOut& console,
                       TextOut& warnings) {
    Pass pass(mode, settings, nodes, console, warnings);
    return pass.run();
}

}  // namespace krel::io

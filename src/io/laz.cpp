#include "io/laz.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>

#include "io/io_error.hpp"
#include "io/las.hpp"
#include "io/threads.hpp"

namespace krel::io::laz {

namespace {

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}
std::string num(std::uint64_t v) { return std::to_string(v); }

constexpr std::uint16_t kCompressionRecord = 22204;
constexpr std::uint32_t kVariableChunks = 0xFFFFFFFFU;
constexpr std::size_t kVlrHeader = 54;
constexpr std::size_t kRecordFixed = 34;  // compression record before its item list
// The most points a chunk can code per byte. An adaptive model never gives a
// symbol more than 1 - 2^-15 of the interval (a bit model 1 - 2^-13), and a
// point codes at least a change symbol and three coordinate lengths with
// their correctors: at least 0.0075 bits, some 1,100 points a byte. A chunk
// claiming more is a lie, and decoding it would take time that its bytes do
// not justify; the bound leaves a margin of seven.
constexpr std::uint64_t kMaxPointsPerByte = 8192;

// The compression record: found by walking the VLRs as far as they go
// before the point data (the LAS reader says separately when they do not).
std::vector<unsigned char> find_record(const ReadAt& read, const LasHeader& h, std::uint64_t file_size,
                                       const std::string& file) {
    const std::uint64_t limit = std::min<std::uint64_t>(h.point_offset, file_size);
    std::uint64_t pos = h.header_size;
    for (std::uint32_t i = 0; i < h.vlr_count && pos + kVlrHeader <= limit; ++i) {
        std::array<unsigned char, kVlrHeader> vh{};
        if (read(vh.data(), vh.size(), pos) != vh.size()) break;
        const std::uint16_t id = le16(vh.data() + 18);
        const std::uint64_t length = le16(vh.data() + 20);
        const bool ours = std::memcmp(vh.data() + 2, "laszip encoded", 14) == 0 && vh[16] == 0;
        if (ours && id == kCompressionRecord) {
            if (pos + kVlrHeader + length > limit)
                throw file_error(file, "LAZ compression record runs into the point data");
            std::vector<unsigned char> rec(static_cast<std::size_t>(length));
            if (read(rec.data(), rec.size(), pos + kVlrHeader) != rec.size())
                throw file_error(file, "LAZ compression record cannot be read");
            return rec;
        }
        pos += kVlrHeader + length;
    }
    throw file_error(file, "LAZ points without their compression record (variable-length record 22204)");
}

// The compressor, coder, chunk size and items of the compression record,
// each checked.
Layout parse_record(const std::vector<unsigned char>& rec, const LasHeader& h, const std::string& file) {
    auto lie = [&](const std::string& what) { return file_error(file, "LAZ compression record: " + what); };
    if (rec.size() < kRecordFixed) throw lie("only " + num(rec.size()) + " bytes");
    Layout lay;
    lay.compressor = le16(rec.data());
    const std::uint16_t coder = le16(rec.data() + 2);
    lay.chunk_size = le32(rec.data() + 12);
    const std::uint16_t item_count = le16(rec.data() + 32);
    if (rec.size() < kRecordFixed + 6 * std::size_t{item_count})
        throw lie(num(item_count) + " items do not fit its " + num(rec.size()) + " bytes");
    for (std::uint16_t i = 0; i < item_count; ++i) {
        const unsigned char* p = rec.data() + kRecordFixed + 6 * i;
        lay.items.push_back({le16(p), le16(p + 2), le16(p + 4)});
    }
    if (coder != 0) throw file_error(file, "LAZ coder " + num(coder) + " is not supported");
    if (lay.compressor < 1 || lay.compressor > 3)
        throw file_error(file, "LAZ compressor " + num(lay.compressor) + " is not supported");
    if (auto bad = check_items(lay.items, h.record_length)) {
        if (lay.compressor == 1)
            throw file_error(file, "LAZ point-wise compressor (no chunks): " + bad->substr(4));
        throw file_error(file, *bad);
    }
    const bool layered = lay.items[0].type == static_cast<std::uint16_t>(ItemType::point14);
    if (layered != (lay.compressor == 3))
        throw lie("compressor " + num(lay.compressor) + " does not fit item " + item_name(lay.items[0].type));
    if (lay.compressor != 1 && lay.chunk_size == 0) throw lie("chunk size 0");
    return lay;
}

// The chunk table's offset. It leads the point data; a writer that could not
// go back to fill it in leaves -1 there and puts it in the last 8 bytes.
std::uint64_t find_table(const ReadAt& read, std::uint64_t data, std::uint64_t file_size, const std::string& file) {
    std::array<unsigned char, 8> b8{};
    if (data + 8 > file_size || read(b8.data(), 8, data) != 8) throw file_error(file, "LAZ chunk table missing: the file ends at its offset");
    const std::uint64_t lead = le64(b8.data());
    std::uint64_t table = lead;
    if (table <= data || table > file_size) {
        if (file_size >= 16 && read(b8.data(), 8, file_size - 8) == 8) table = le64(b8.data());
        if (table <= data + 8 || table > file_size - 8 || file_size < 16)
            throw file_error(file, "LAZ chunk table missing: its offset " + num(lead) + " is not in the file of " +
                                       num(file_size) + " bytes");
    }
    if (table + 8 > file_size) throw file_error(file, "LAZ chunk table cut off at byte " + num(table));
    return table;
}

// The chunks listed by the table at `table`, each checked against the bytes
// between the point data and the table.
void read_chunks(const ReadAt& read, const LasHeader& h, std::uint64_t table, std::uint64_t file_size,
                 const std::string& file, Layout& lay) {
    std::array<unsigned char, 8> th{};
    if (read(th.data(), 8, table) != 8) throw file_error(file, "LAZ chunk table cannot be read");
    const std::uint32_t count = le32(th.data() + 4);
    const std::uint64_t first_chunk = h.point_offset + 8;
    const std::uint64_t span = table > first_chunk ? table - first_chunk : 0;
    // Every chunk holds at least its first record whole, so the data bounds
    // the count before anything is allocated for it.
    if (count == 0 || count > span / h.record_length)
        throw file_error(file, "LAZ chunk table counts " + num(count) + " chunks in " + num(span) +
                                   " bytes of point data");
    // Each entry codes in a few bytes; the rest of the file bounds it anyway.
    std::vector<unsigned char> coded(
        static_cast<std::size_t>(std::min<std::uint64_t>(file_size - table - 8, 64 + std::uint64_t{count} * 24)));
    coded.resize(read(coded.data(), coded.size(), table + 8));
    Decoder dec;
    dec.start(coded.data(), coded.data() + coded.size());
    IntDecoder ic(32, 2);
    const bool variable = lay.chunk_size == kVariableChunks;
    std::uint32_t last_points = 0, last_bytes = 0;
    std::uint64_t at = first_chunk, first = 0;
    lay.chunks.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint64_t points = lay.chunk_size;
        if (variable) {
            last_points = static_cast<std::uint32_t>(ic.decode(dec, static_cast<std::int32_t>(last_points), 0));
            points = last_points;
        }
        last_bytes = static_cast<std::uint32_t>(ic.decode(dec, static_cast<std::int32_t>(last_bytes), 1));
        if (dec.overrun() > 4 || last_bytes > table - at)
            throw file_error(file, "LAZ chunk table is wrong: chunk " + num(i + 1) + " of " + num(count) +
                                       " does not end before the table at byte " + num(table));
        // A fixed-size file's last chunk holds what is left of the count.
        const std::uint64_t in_chunk = first < h.promised ? std::min(points, h.promised - first) : 0;
        if (in_chunk > std::uint64_t{last_bytes} * kMaxPointsPerByte)
            throw file_error(file, "LAZ chunk table is wrong: chunk " + num(i + 1) + " of " + num(count) +
                                       " cannot hold " + num(in_chunk) + " points in " + num(last_bytes) + " bytes");
        if (in_chunk > 0) {
            lay.chunks.push_back({at, last_bytes, in_chunk, first});
            first += in_chunk;
        }
        at += last_bytes;
    }
    lay.points = first;
}

}  // namespace

Layout read_layout(const ReadAt& read, const LasHeader& h, std::uint64_t file_size, const std::string& file) {
    Layout lay = parse_record(find_record(read, h, file_size, file), h, file);
    const std::uint64_t data = h.point_offset;
    if (lay.compressor == 1) {
        // One chunk of every point, from the offset to the end of the file.
        if (file_size > data && h.promised > 0) {
            const std::uint64_t bytes = file_size - data;
            lay.points = std::min(h.promised, bytes * kMaxPointsPerByte);
            lay.chunks.push_back({data, bytes, lay.points, 0});
        }
        return lay;
    }
    if (h.promised == 0) return lay;
    read_chunks(read, h, find_table(read, data, file_size, file), file_size, file, lay);
    return lay;
}

// A group's records, decoded by whichever thread claimed the group; or the
// reader's blocks of one chunk too large to hold whole.
struct ChunkStream::Slot {
    explicit Slot(const std::vector<Item>& items) : dec(items) {}
    ChunkDecoder dec;
    std::vector<unsigned char> coded;  // the bytes of the chunks being decoded
    std::vector<unsigned char> out;    // the group's records
    std::size_t out_records = 0;       // decoded into out
    bool ready = false;                // under mutex_: decoded, or failed, for the reader to take
    bool started = false;              // a streamed chunk: read, and its decoder started
    std::size_t bad = 0;               // the chunk that turned out damaged
    std::string error;                 // where in it, empty: none
    std::exception_ptr failed;         // a read that failed on a worker thread
};

namespace {
// Small chunks (octree pages) are grouped up to this so that a thread gets a
// worthwhile share. The grouping depends on the chunks alone, never on the
// thread count.
constexpr std::uint64_t kGroupPoints = 50000;
}  // namespace

ChunkStream::ChunkStream(const Layout& layout, ReadAt read, std::string file, std::uint64_t records, int threads,
                         std::size_t block_bytes, std::uint64_t whole_bytes)
    : layout_(layout), read_(std::move(read)), file_(std::move(file)), records_(records), whole_bytes_(whole_bytes) {
    rl_ = 0;
    for (const Item& it : layout_.items) rl_ += it.size;
    block_records_ = std::max<std::size_t>(1, block_bytes / rl_);
    make_groups();
    // Two slots a thread: one that finishes early goes on with a later group
    // while the reader still hands out an earlier one.
    const std::size_t n = std::max<std::size_t>(1, groups_.size());
    // A decoder holds a group's records: an absurd -j must not hold a whole
    // large file's at once.
    const auto t = static_cast<std::size_t>(useful_threads(threads));
    const std::size_t slots = std::min(n, t == 1 ? 1 : 2 * t);
    for (std::size_t i = 0; i < slots; ++i) slots_.push_back(std::make_unique<Slot>(layout_.items));
    workers_wanted_ = std::min(n, t) - 1;
}

ChunkStream::~ChunkStream() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

std::uint64_t ChunkStream::wanted(std::size_t k) const {
    const Chunk& c = layout_.chunks[k];
    return c.first < records_ ? std::min(c.points, records_ - c.first) : 0;
}

void ChunkStream::make_groups() {
    const std::size_t n = layout_.chunks.size();
    for (std::size_t k = 0; k < n;) {
        Group g{k, k, wanted(k), false};
        if (g.points == 0) break;
        g.large = g.points * rl_ > whole_bytes_;
        ++k;
        while (!g.large && g.points < kGroupPoints && k < n) {
            const std::uint64_t more = wanted(k);
            if (more == 0 || (g.points + more) * rl_ > whole_bytes_) break;
            g.points += more;
            ++k;
        }
        g.chunk_end = k;
        groups_.push_back(g);
    }
}

// The next group, unless an earlier one still holds its slot. A large chunk
// is left to the reader, which streams it when its turn comes.
bool ChunkStream::claimable() const {
    return claim_ < groups_.size() && claim_ < at_ + slots_.size() && !groups_[claim_].large;
}

void ChunkStream::decode_claimed(std::unique_lock<std::mutex>& lock) {
    const std::size_t g = claim_++;
    Slot& s = slot_of(g);
    lock.unlock();
    decode_whole(s, groups_[g]);
    lock.lock();
    s.ready = true;
    done_.notify_one();  // only the reader waits for a slot
}

void ChunkStream::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || claimable(); });
        if (stop_) return;
        decode_claimed(lock);
    }
}

// The reader is done with group at_: its slot may take a later group.
void ChunkStream::release() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        slot_of(at_).ready = false;
        ++at_;
    }
    wake_.notify_all();
}

// The group's chunks lie back to back in the file: one read for all of them.
void ChunkStream::decode_whole(Slot& s, const Group& g) try {
    s.out_records = 0;
    s.error.clear();
    s.failed = nullptr;
    s.out.resize(static_cast<std::size_t>(g.points) * rl_);
    const std::uint64_t from = layout_.chunks[g.chunk].offset;
    const Chunk& last = layout_.chunks[g.chunk_end - 1];
    s.coded.resize(static_cast<std::size_t>(last.offset + last.bytes - from));
    s.coded.resize(read_(s.coded.data(), s.coded.size(), from));
    for (std::size_t k = g.chunk; k < g.chunk_end; ++k) {
        const Chunk& c = layout_.chunks[k];
        const std::uint64_t want = wanted(k);
        // A short read (the file shrank) leaves the chunk cut off.
        const std::size_t at = static_cast<std::size_t>(std::min<std::uint64_t>(c.offset - from, s.coded.size()));
        const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(c.offset + c.bytes - from, s.coded.size()));
        s.bad = k;
        if (!s.dec.start(s.coded.data() + at, s.coded.data() + end, c.points)) {
            s.error = "its first point";
            return;
        }
        const std::size_t made = s.dec.decode(s.out.data() + s.out_records * rl_, static_cast<std::size_t>(want));
        s.out_records += made;
        if (s.dec.damaged() || made < want) {
            s.error = "point " + num(c.first + s.dec.done());
            return;
        }
    }
} catch (...) {
    s.failed = std::current_exception();  // raised in order, when the group's turn comes
}

IoError ChunkStream::damaged(std::size_t chunk, const std::string& where) const {
    return file_error(file_, "LAZ chunk " + num(chunk + 1) + " of " + num(layout_.chunks.size()) +
                                 " is damaged or cut off at " + where);
}

// The next block of group at_, one chunk too large to hold whole; false
// after its last.
bool ChunkStream::stream(Slot& s, const unsigned char*& data, std::size_t& bytes) {
    const Group& g = groups_[at_];
    const Chunk& c = layout_.chunks[g.chunk];
    if (!s.started) {
        {
            // Claims stop at a large chunk, so claim_ is at_ here; the
            // workers go on past it.
            const std::lock_guard<std::mutex> lock(mutex_);
            claim_ = at_ + 1;
        }
        wake_.notify_all();
        s.started = true;
        s.coded.resize(static_cast<std::size_t>(c.bytes));
        s.coded.resize(read_(s.coded.data(), s.coded.size(), c.offset));
        s.out.resize(block_records_ * rl_);
        if (!s.dec.start(s.coded.data(), s.coded.data() + s.coded.size(), c.points))
            throw damaged(g.chunk, "its first point");
    }
    const std::uint64_t left = g.points - s.dec.done();
    if (left == 0) {
        s.started = false;
        return false;
    }
    const std::size_t made = s.dec.decode(s.out.data(), static_cast<std::size_t>(std::min<std::uint64_t>(left, block_records_)));
    if (s.dec.damaged() || made == 0) throw damaged(g.chunk, "point " + num(c.first + s.dec.done()));
    handed_ += made;
    data = s.out.data();
    bytes = made * rl_;
    return true;
}

bool ChunkStream::next(const unsigned char*& data, std::size_t& bytes) {
    if (held_) {
        held_ = false;
        release();
    }
    // Started here, not in the constructor, so that a failed start leaves an
    // object whose destructor joins those that did start.
    while (workers_.size() < workers_wanted_) workers_.emplace_back([this] { work(); });
    for (;;) {
        if (handed_ >= records_ || at_ >= groups_.size()) return false;
        Slot& s = slot_of(at_);
        if (groups_[at_].large) {
            if (stream(s, data, bytes)) return true;
            release();
            continue;
        }
        {
            // While a worker decodes the group, the reader decodes a later one.
            std::unique_lock<std::mutex> lock(mutex_);
            while (!s.ready) {
                if (claimable())
                    decode_claimed(lock);
                else
                    done_.wait(lock);
            }
        }
        if (s.failed) std::rethrow_exception(s.failed);
        // The group's records before the damaged chunk are not handed out:
        // the run ends here in any case, the same way at every -j.
        if (!s.error.empty()) throw damaged(s.bad, s.error);
        if (s.out_records == 0) {
            release();
            continue;
        }
        handed_ += s.out_records;
        data = s.out.data();
        bytes = s.out_records * rl_;
        held_ = true;
        return true;
    }
}

}  // namespace krel::io::laz

#pragma once
// LAZ files: the compression record (variable-length record 22204 of user
// "laszip encoded"), the chunk table, and the chunks decoded into plain LAS
// records, in order, a block at a time, several chunks at once on threads.
//
// The point data of a chunked file starts with the 64-bit offset of the chunk
// table; the chunks follow back to back. The table holds the version (0), the
// chunk count and, arithmetic-coded, each chunk's byte count and (variable
// chunk size) its point count. Every chunk restarts the coders, so chunks
// decode independently of each other.

#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/io_error.hpp"
#include "io/laz_items.hpp"

namespace krel::io {
struct LasHeader;
}

namespace krel::io::laz {

// Reads up to n bytes at a file position; returns how many (fewer at the end).
using ReadAt = std::function<std::size_t(unsigned char* dst, std::size_t n, std::uint64_t pos)>;

struct Chunk {
    std::uint64_t offset = 0;  // file position of its first byte
    std::uint64_t bytes = 0;
    std::uint64_t points = 0;
    std::uint64_t first = 0;  // index of its first point in the file, 0-based
};

struct Layout {
    std::uint16_t compressor = 0;  // 1 point-wise (one chunk), 2 chunked, 3 layered chunked
    std::uint32_t chunk_size = 0;  // points per chunk; 0xFFFFFFFF: each chunk says
    std::vector<Item> items;
    std::vector<Chunk> chunks;
    std::uint64_t points = 0;      // points the chunks hold (the last fixed chunk cut to the header count)
};

// Finds the compression record among the header's variable-length records
// and reads the chunk table. `header` has the format byte's compression bits
// cleared. Throws IoError "'<file>': LAZ ..." when the record is missing or
// lies, the compressor, coder or an item is not supported, or the chunk table
// is missing or does not fit the file. Nothing is allocated beyond what the
// file's size allows: the chunk count is bounded by the bytes of point data.
[[nodiscard]] Layout read_layout(const ReadAt& read, const LasHeader& header, std::uint64_t file_size,
                                 const std::string& file);

// A chunk is decoded whole when its records fit in this; a larger one, which
// only an odd writer makes, streams in blocks.
constexpr std::uint64_t kWholeChunkBytes = std::uint64_t{16} << 20;

// Hands out the decoded records of a file in order. `threads` > 1 decodes
// that many groups of chunks side by side; the records are the same for
// every count.
class ChunkStream {
public:
    ChunkStream(const Layout& layout, ReadAt read, std::string file, std::uint64_t records, int threads,
                std::size_t block_bytes, std::uint64_t whole_bytes = kWholeChunkBytes);
    ~ChunkStream();
    ChunkStream(const ChunkStream&) = delete;
    ChunkStream& operator=(const ChunkStream&) = delete;

    // The next block of whole records; false after the last of `records`.
    // Throws IoError "'<file>': LAZ chunk c of n is damaged ..." naming the
    // point (1-based in the file) where the data ran out.
    [[nodiscard]] bool next(const unsigned char*& data, std::size_t& bytes);

private:
    struct Slot;
    struct Group {  // consecutive chunks decoded by one thread into one slot
        std::size_t chunk = 0, chunk_end = 0;  // chunks [chunk, chunk_end)
        std::uint64_t points = 0;              // records to decode
        bool large = false;                    // one chunk too large to hold: streamed by the reader
    };
    [[nodiscard]] std::uint64_t wanted(std::size_t chunk) const;  // its records up to records_
    void make_groups();
    [[nodiscard]] Slot& slot_of(std::size_t group) { return *slots_[group % slots_.size()]; }
    [[nodiscard]] bool claimable() const;  // under mutex_
    void decode_claimed(std::unique_lock<std::mutex>& lock);
    void decode_whole(Slot& slot, const Group& group);
    void work();  // a worker's loop
    void release();
    [[nodiscard]] bool stream(Slot& slot, const unsigned char*& data, std::size_t& bytes);
    [[nodiscard]] IoError damaged(std::size_t chunk, const std::string& where) const;

    const Layout& layout_;
    ReadAt read_;
    std::string file_;
    std::uint64_t records_, handed_ = 0;
    std::size_t rl_;
    std::size_t block_records_;
    std::uint64_t whole_bytes_;
    std::vector<Group> groups_;
    std::vector<std::unique_ptr<Slot>> slots_;  // group g decodes into slot g % size
    std::size_t at_ = 0;    // the group the reader hands out, or waits for
    bool held_ = false;     // group at_'s records are out: its slot is freed on the next call
    // Whoever is free (a worker, or the reader while its group is not ready)
    // claims the next group whose slot is free, so no thread waits for a
    // batch's slowest group. Workers are started once and kept: a thread
    // started per batch often ran on the core of the one that started it.
    std::vector<std::thread> workers_;
    std::size_t workers_wanted_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::size_t claim_ = 0;  // next group to claim
    bool stop_ = false;
};

}  // namespace krel::io::laz

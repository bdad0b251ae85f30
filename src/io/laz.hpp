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

// Hands out the decoded records of a file in order. `threads` > 1 decodes
// that many chunks side by side; the records are the same for every count.
class ChunkStream {
public:
    ChunkStream(const Layout& layout, ReadAt read, std::string file, std::uint64_t records, int threads,
                std::size_t block_bytes);
    ~ChunkStream();
    ChunkStream(const ChunkStream&) = delete;
    ChunkStream& operator=(const ChunkStream&) = delete;

    // The next block of whole records; false after the last of `records`.
    // Throws IoError "'<file>': LAZ chunk c of n is damaged ..." naming the
    // point (1-based in the file) where the data ran out.
    [[nodiscard]] bool next(const unsigned char*& data, std::size_t& bytes);

private:
    struct Slot;
    void fill_batch();
    void decode_whole(Slot& slot);
    void work(std::size_t slot);  // a worker's loop: slot `slot` of each batch that fills it
    [[nodiscard]] std::uint64_t wanted(std::size_t chunk) const;  // its records up to records_

    const Layout& layout_;
    ReadAt read_;
    std::string file_;
    std::uint64_t records_, handed_ = 0;
    std::size_t rl_;
    std::size_t block_records_;
    int threads_;
    std::size_t next_chunk_ = 0;  // next chunk not yet started
    std::vector<std::unique_ptr<Slot>> slots_;
    std::size_t batch_ = 0, batch_at_ = 0;  // slots filled, next slot to hand out
    // Workers for slots 1 on, started with the first batch that needs them
    // and kept: a thread started per batch often ran on the core of the one
    // that started it, the batch then taking as long as at one thread.
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::uint64_t round_ = 0;  // batches handed to the workers
    std::size_t pending_ = 0;  // workers still decoding this round's slots
    bool stop_ = false;
};

}  // namespace krel::io::laz

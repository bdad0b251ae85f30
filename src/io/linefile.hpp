#pragma once
// A text file read line by line through one buffer. Lines come without
// their LF; a CR before the LF (or ending the last line) is dropped. Read
// failures throw IoError naming the file.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "io/fields.hpp"
#include "io/file.hpp"
#include "io/huge_pages.hpp"
#include "io/source.hpp"

namespace krel::io {

class LineFile final : public LineSource {
public:
    // Large enough that a read costs nothing beside the parsing of what it
    // brings, small enough to stay in the core's cache and to be touched (and
    // page-faulted) once per pass: 4 MiB read the same 290 MB at the same
    // rate, and cost a small file a fault per 4 KiB of its size.
    static constexpr std::size_t kBufferBytes = std::size_t{256} << 10;

    // Opens the file for reading; throws IoError when it cannot be opened.
    explicit LineFile(std::string name, std::size_t buffer_bytes = kBufferBytes);
    // Only the bytes [begin, end) of the file, as if they were all of it.
    LineFile(std::string name, long long begin, long long end, std::size_t buffer_bytes = kBufferBytes);
    // The same, of the file at `path`, named `name` in diagnostics (a kept copy).
    LineFile(std::string name, const std::string& path, long long begin, long long end,
             std::size_t buffer_bytes = kBufferBytes);
    // A point file's content as `source` hands it out (decompressed, or from
    // a stream's copy); read failures, damaged compressed data among them,
    // name the line that was being read.
    explicit LineFile(std::unique_ptr<ByteSource> source, std::size_t buffer_bytes = kBufferBytes);
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    bool next(std::string_view& line) override;

    // Lines handed out so far (the physical line number of the last one).
    [[nodiscard]] long long lines_read() const { return lines_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    // Bytes read from the file so far.
    [[nodiscard]] long long bytes_read() const { return bytes_; }

private:
    bool fill();  // reads more data; false at end of file

    std::string name_;
    Fd fd_;
    std::unique_ptr<ByteSource> source_;  // set: the bytes come from here, not fd_
    void allocate(std::size_t bytes);  // an empty buffer of this size

    // Not initialised: only [begin_, end_) is ever read, and a fresh buffer
    // would otherwise be cleared (and its pages touched) before the file is
    // read into it, once per pass.
    HugeArray<char> buf_;
    std::size_t size_ = 0;   // bytes in buf_
    std::size_t begin_ = 0;  // first unread byte in buf_
    std::size_t end_ = 0;    // end of valid data in buf_
    bool eof_ = false;
    long long offset_ = -1;  // ranged: next byte to read; -1: read the file from its start
    long long stop_ = 0;     // ranged: end of the range
    long long lines_ = 0;
    long long bytes_ = 0;
};

}  // namespace krel::io

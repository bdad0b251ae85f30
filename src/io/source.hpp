#pragma once
// Where the point reader's bytes come from. A point file may be compressed
// (gzip, zstd, bzip2, xz: told by its first bytes, not its name) and is then
// decompressed as it is read, in every pass; nothing decompressed is written
// to disk. An input that cannot be read twice (a pipe, a FIFO, standard input,
// a character device) is copied, as it came, to a temporary file by the first
// pass that opens it, and every pass reads the copy: the copy is a plain file
// holding the same bytes, so it reads exactly as such a file would.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "io/decoder.hpp"

namespace krel::io {

class ByteSource {
public:
    static constexpr std::size_t kInputBytes = std::size_t{1} << 18;  // compressed bytes read at a time
    static constexpr std::size_t kStageBytes = std::size_t{1} << 16;  // decompressed bytes per decoder step

    // Opens `path` and looks at its first bytes; diagnostics name `name` (the
    // input as given: `path` may be its kept copy). `ahead`: a compressed
    // file is decompressed on a thread of its own, a block ahead of read()
    // (the bytes are the same; the reader's parsing and the decompression
    // then run side by side). Throws IoError when the file cannot be opened;
    // a failure to read its first bytes comes with the first read().
    ByteSource(std::string name, const std::string& path, bool ahead = false);
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Up to n bytes of the content (decompressed): the count, 0 at the end,
    // -1 on failure with error() saying what (a failed read, damaged or
    // cut-off compressed data, bytes after its end). After -1 every call
    // returns -1.
    [[nodiscard]] ssize_t read(void* dst, std::size_t n);
    [[nodiscard]] const std::string& error() const { return error_; }

    [[nodiscard]] Compression compression() const { return kind_; }
    // A regular file, read as it is: it may be sized and read at offsets.
    [[nodiscard]] bool plain_regular() const { return regular_ && kind_ == Compression::none; }
    // Its size when it is a plain regular file, else -1.
    [[nodiscard]] std::int64_t plain_size() const { return plain_regular() ? size_ : -1; }
    [[nodiscard]] bool regular() const { return regular_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    // Bytes of content handed out so far.
    [[nodiscard]] std::uint64_t content_read() const { return out_total_; }

private:
    struct Ahead;
    ssize_t produce(void* dst, std::size_t n);  // read() without the helper thread
    ssize_t decode_step();  // the next bytes into stage_
    void start_ahead();
    void run_ahead(Ahead& a);
    ssize_t read_fd(unsigned char* dst, std::size_t n);
    ssize_t fail(std::string what);

    std::string name_;
    int fd_ = -1;
    bool regular_ = false;
    std::int64_t size_ = 0;                // of a regular file
    Compression kind_ = Compression::none;
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<unsigned char[]> in_;  // compressed input (plain: the first bytes only)
    std::size_t in_size_ = 0;              // room in in_
    std::size_t in_at_ = 0, in_end_ = 0;   // unread bytes of in_
    bool in_eof_ = false;                  // the file has no more bytes than those in in_
    std::unique_ptr<unsigned char[]> stage_;  // decompressed bytes not yet handed out
    std::size_t stage_at_ = 0, stage_end_ = 0;
    bool failed_ = false;
    std::string pending_;                  // a failure met after the bytes last handed out
    std::uint64_t out_total_ = 0;
    std::string error_;
    std::unique_ptr<Ahead> ahead_;         // set: a helper thread decompresses
};

// Whether the file holds "LASF" at the start of its content (decompressed). A
// file that cannot be opened or read is "not LAS": the text reader reports it.
[[nodiscard]] bool content_is_las(const std::string& name, const std::string& path);

// The inputs of a run that cannot be read twice, each copied once to the
// temporary folder. The folder is the caller's (so are its removal and the
// clean-up on a signal): `make_folder` makes it when the first copy is needed
// and returns its path; it throws IoError when it cannot.
class KeptStreams {
public:
    explicit KeptStreams(std::function<std::string()> make_folder) : make_folder_(std::move(make_folder)) {}

    // The file the passes read for input `name`: the name itself when the file
    // can be read again (a regular file, a block device, a directory, or one
    // that cannot be looked at, so that its reader reports it), else its copy,
    // made by the first call for it. Two names of one stream share its copy.
    // Throws IoError naming the input when the stream cannot be read, and the
    // folder as well when the copy cannot be written (a full disk).
    [[nodiscard]] const std::string& path_for(const std::string& name);

    // Bytes copied so far, over all streams.
    [[nodiscard]] std::uint64_t copied() const { return copied_; }

private:
    std::function<std::string()> make_folder_;
    std::string folder_;
    std::map<std::string, std::string> by_name_;                      // input name -> file read
    std::map<std::pair<dev_t, ino_t>, std::string> by_stream_;        // stream -> its copy
    std::uint64_t copied_ = 0;
};

}  // namespace krel::io

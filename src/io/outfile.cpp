#include "io/outfile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/io_error.hpp"

namespace krel::io {

namespace {
// Small writes gather in a buffer of a few pages; a text of a quarter of it
// or more is written as it stands.
constexpr std::size_t kFlushBytes = std::size_t{64} << 10;
constexpr std::size_t kDirectBytes = kFlushBytes / 4;
}

void OutFile::open(const std::string& path, const std::string& shown) {
    name_ = shown.empty() ? path : shown;
    fd_ = Fd::open(path, O_WRONLY | O_CREAT, 0666);
    if (!fd_.valid()) throw io_error("open", name_, "for writing", errno);
    struct stat st {};
    regular_ = ::fstat(fd_.get(), &st) != 0 || S_ISREG(st.st_mode);
    written_ = false;
    buf_.clear();
}

void OutFile::write(std::string_view text) {
    if (text.empty()) return;
    // A large text (a tile's result) goes out as it stands, after what is
    // buffered: copied, it would only write the buffer's pages.
    if (text.size() >= kDirectBytes) {
        flush();
        write_through(text);
        return;
    }
    // One buffer for the whole run, its memory touched once: flushed before
    // it would be moved to a larger one. The bytes and their order are the
    // same either way.
    if (buf_.capacity() < kFlushBytes) buf_.reserve(kFlushBytes);
    if (!buf_.empty() && buf_.size() + text.size() > buf_.capacity()) flush();
    buf_ += text;
    if (buf_.size() >= kFlushBytes) flush();
}

void OutFile::write_through(std::string_view text) {
    if (!written_) {
        if (regular_ && ::ftruncate(fd_.get(), 0) != 0) throw io_error("write", name_, "", errno);
        written_ = true;
    }
    write_all(fd_.get(), text.data(), text.size(), name_);
}

void OutFile::flush() {
    if (!fd_.valid() || buf_.empty()) return;
    write_through(buf_);
    buf_.clear();
}

void OutFile::close() {
    if (!fd_.valid()) return;
    try {
        flush();
    } catch (...) {
        fd_.reset();
        throw;
    }
    if (fd_.close() != 0) throw io_error("close", name_, "", errno);
}

}  // namespace krel::io

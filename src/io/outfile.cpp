#include "io/outfile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "io/io_error.hpp"

namespace krel::io {

namespace {
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;
}

OutFile::~OutFile() {
    if (fd_ >= 0) ::close(fd_);
}

void OutFile::open(const std::string& path, const std::string& shown) {
    name_ = shown.empty() ? path : shown;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) throw io_error("open", name_, "for writing", errno);
    written_ = false;
    buf_.clear();
}

void OutFile::write(std::string_view text) {
    if (text.empty()) return;
    buf_ += text;
    if (buf_.size() >= kFlushBytes) flush();
}

void OutFile::write_through(std::string_view text) {
    if (!written_) {
        if (::ftruncate(fd_, 0) != 0) throw io_error("write", name_, "", errno);
        written_ = true;
    }
    while (!text.empty()) {
        const ssize_t put = ::write(fd_, text.data(), text.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            throw io_error("write", name_, "", errno);
        }
        if (put == 0) throw io_error("write", name_, "", ENOSPC);
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

void OutFile::flush() {
    if (fd_ < 0 || buf_.empty()) return;
    write_through(buf_);
    buf_.clear();
}

void OutFile::close() {
    if (fd_ < 0) return;
    try {
        flush();
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw io_error("close", name_, "", errno);
}

}  // namespace krel::io

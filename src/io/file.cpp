#include "io/file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "io/io_error.hpp"

namespace krel::io {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

Fd Fd::open(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return Fd(fd);
}

void Fd::reset() {
    if (fd_ >= 0) ::close(release());
}

int Fd::close() {
    if (fd_ < 0) return 0;
    // No retry on EINTR: on Linux the descriptor is gone either way.
    return ::close(release());
}

ssize_t read_some(int fd, void* buf, std::size_t n) {
    for (;;) {
        const ssize_t got = ::read(fd, buf, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

ssize_t pread_full(int fd, void* buf, std::size_t n, std::int64_t at) {
    auto* dst = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, dst + done, n - done, static_cast<off_t>(at + static_cast<std::int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

void write_all(int fd, const void* data, std::size_t n, std::string_view name) {
    const auto* src = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd, src, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw io_error("write", name, "", errno);
        }
        if (put == 0) throw io_error("write", name, "", ENOSPC);
        src += put;
        n -= static_cast<std::size_t>(put);
    }
}

}  // namespace krel::io

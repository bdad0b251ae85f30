#pragma once
// The one place krel talks to file descriptors. A descriptor closes itself;
// reads and writes go on after a signal (EINTR) and after short transfers, so
// no caller has its own retry loop. Reads report failures as -1 with errno
// set (each reader words its own diagnostic); writes throw IoError.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace krel::io {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    // ::open with O_CLOEXEC added; an invalid Fd (errno set) when it fails.
    [[nodiscard]] static Fd open(const std::string& path, int flags, mode_t mode = 0);

    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    [[nodiscard]] int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, errors ignored (the reading side, or a file given up).
    void reset();
    // Closes now and reports the outcome: 0, or -1 with errno set. A written
    // file's close is checked, since it may be the first to see a full disk.
    int close();

private:
    int fd_ = -1;
};

// One read of up to n bytes at the file position: bytes read, 0 at the end,
// -1 (errno set) on failure.
ssize_t read_some(int fd, void* buf, std::size_t n);
// Up to n bytes from offset `at`, as many reads as it takes: fewer than n only
// at the end of the file; -1 (errno set) on failure.
ssize_t pread_full(int fd, void* buf, std::size_t n, std::int64_t at);
// All n bytes at the file position; throws IoError "cannot write '<name>'"
// (a write that takes nothing counts as a full disk).
void write_all(int fd, const void* data, std::size_t n, std::string_view name);

}  // namespace krel::io

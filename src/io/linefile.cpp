#include "io/linefile.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <utility>

#include "io/io_error.hpp"

namespace krel::io {

LineFile::LineFile(std::string name, std::size_t buffer_bytes) : name_(std::move(name)) {
    fd_ = Fd::open(name_, O_RDONLY);
    if (!fd_.valid()) throw io_error("open", name_, "for reading", errno);
    // A small regular file (a hull, one of many point files) needs no more
    // than its size; the buffer still grows if the file does.
    struct stat st {};
    if (::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) < buffer_bytes)
        buffer_bytes = static_cast<std::size_t>(st.st_size) + 1;
    allocate(buffer_bytes < 16 ? 16 : buffer_bytes);
}

void LineFile::allocate(std::size_t bytes) {
    buf_ = allocate_huge_array<char>(bytes);
    if (!buf_) throw std::bad_alloc();
    size_ = bytes;
}

LineFile::LineFile(std::string name, long long begin, long long end, std::size_t buffer_bytes)
    : LineFile(std::move(name), buffer_bytes) {
    offset_ = begin;
    stop_ = end;
}

LineFile::LineFile(std::string name, const std::string& path, long long begin, long long end,
                   std::size_t buffer_bytes)
    : LineFile(path, begin, end, buffer_bytes) {
    name_ = std::move(name);
}

LineFile::LineFile(std::unique_ptr<ByteSource> source, std::size_t buffer_bytes)
    : name_(source->name()), source_(std::move(source)) {
    const std::int64_t size = source_->plain_size();
    if (size >= 0 && static_cast<std::uint64_t>(size) < buffer_bytes) buffer_bytes = static_cast<std::size_t>(size) + 1;
    allocate(buffer_bytes < 16 ? 16 : buffer_bytes);
}

bool LineFile::fill() {
    if (eof_) return false;
    // Keep the unfinished line; grow only when one line outgrows the buffer.
    if (begin_ > 0) {
        std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == size_) {
        HugeArray<char> old = std::move(buf_);
        allocate(2 * size_);
        std::memcpy(buf_.get(), old.get(), end_);
    }
    std::size_t want = size_ - end_;
    if (offset_ >= 0 && static_cast<long long>(want) > stop_ - offset_) want = static_cast<std::size_t>(stop_ - offset_);
    if (source_) {
        const ssize_t got = source_->read(buf_.get() + end_, want);
        if (got < 0) throw read_error(name_, lines_ + 1, source_->error());
        if (got == 0) {
            eof_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(got);
        bytes_ += got;
        return true;
    }
    const ssize_t got = offset_ < 0 ? read_some(fd_.get(), buf_.get() + end_, want)
                                    : pread_full(fd_.get(), buf_.get() + end_, want, offset_);
    if (got < 0) throw read_error(name_, lines_ + 1, std::string("cannot read: ") + std::strerror(errno));
    if (got == 0) {
        eof_ = true;
        return false;
    }
    end_ += static_cast<std::size_t>(got);
    bytes_ += got;
    if (offset_ >= 0) offset_ += got;
    return true;
}

bool LineFile::next(std::string_view& line) {
    std::size_t scanned = begin_;
    for (;;) {
        const void* nl = std::memchr(buf_.get() + scanned, '\n', end_ - scanned);
        if (nl != nullptr) {
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_.get());
            std::size_t stop = at;
            if (stop > begin_ && buf_[stop - 1] == '\r') --stop;
            line = std::string_view(buf_.get() + begin_, stop - begin_);
            begin_ = at + 1;
            ++lines_;
            return true;
        }
        const std::size_t pending = end_ - begin_;
        if (!fill()) {
            if (end_ == begin_) return false;
            // Last line without its LF.
            std::size_t stop = end_;
            if (buf_[stop - 1] == '\r') --stop;
            line = std::string_view(buf_.get() + begin_, stop - begin_);
            begin_ = end_;
            ++lines_;
            return true;
        }
        scanned = begin_ + pending;
    }
}

}  // namespace krel::io

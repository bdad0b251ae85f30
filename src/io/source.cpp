#include "io/source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "io/io_error.hpp"

namespace krel::io {

// The helper only calls produce() and fills the block the reader is not in;
// the reader takes whole blocks in the order they were made, so it sees the
// very bytes, failure included, that it would have decoded itself.
struct ByteSource::Ahead {
    static constexpr int kBlocks = 3;
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    std::mutex m;
    std::condition_variable cv;
    std::unique_ptr<unsigned char[]> block[kBlocks];
    std::size_t length[kBlocks] = {};
    int first = 0;          // block the reader takes from
    int filled = 0;         // blocks ready, from `first` on
    std::size_t taken = 0;  // bytes of block `first` handed out
    bool ended = false;     // no block follows the filled ones
    ssize_t last = 0;       // what produce() returned at the end: 0 or -1
    bool stop = false;      // the source is being closed
    std::thread worker;
};

ByteSource::ByteSource(std::string name, const std::string& path, bool ahead) : name_(std::move(name)) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw io_error("open", name_, "for reading", errno);
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    size_ = regular_ ? static_cast<std::int64_t>(st.st_size) : 0;
    // The first bytes tell the format; they stay in in_ and are the first
    // bytes handed out (or decompressed), so nothing is read twice.
    in_size_ = kMagicBytes;
    in_ = std::make_unique_for_overwrite<unsigned char[]>(in_size_);
    while (in_end_ < kMagicBytes) {
        const ssize_t got = read_fd(in_.get() + in_end_, kMagicBytes - in_end_);
        if (got < 0) {
            // Reported by the first read, with the line, as any read failure.
            pending_ = std::string("cannot read: ") + std::strerror(errno);
            in_eof_ = true;
            break;
        }
        if (got == 0) {
            in_eof_ = true;
            break;
        }
        in_end_ += static_cast<std::size_t>(got);
    }
    kind_ = detect_compression(std::span<const unsigned char>(in_.get(), in_end_));
    if (kind_ == Compression::none) return;
    decoder_ = make_decoder(kind_);
    auto bigger = std::make_unique_for_overwrite<unsigned char[]>(kInputBytes);
    std::memcpy(bigger.get(), in_.get(), in_end_);
    in_ = std::move(bigger);
    in_size_ = kInputBytes;
    stage_ = std::make_unique_for_overwrite<unsigned char[]>(kStageBytes);
    if (ahead) start_ahead();
}

ByteSource::~ByteSource() {
    if (ahead_) {
        {
            const std::lock_guard<std::mutex> lock(ahead_->m);
            ahead_->stop = true;
        }
        ahead_->cv.notify_all();
        ahead_->worker.join();
    }
    if (fd_ >= 0) ::close(fd_);
}

void ByteSource::start_ahead() {
    auto a = std::make_unique<Ahead>();
    for (auto& b : a->block) b = std::make_unique_for_overwrite<unsigned char[]>(Ahead::kBlockBytes);
    Ahead* p = a.get();
    try {
        a->worker = std::thread([this, p] { run_ahead(*p); });
    } catch (const std::system_error&) {
        return;  // no thread to be had: the reader decodes itself
    }
    ahead_ = std::move(a);
}

void ByteSource::run_ahead(Ahead& a) {
    for (;;) {
        int slot;
        {
            std::unique_lock<std::mutex> lock(a.m);
            a.cv.wait(lock, [&] { return a.stop || a.filled < Ahead::kBlocks; });
            if (a.stop) return;
            slot = (a.first + a.filled) % Ahead::kBlocks;
        }
        std::size_t have = 0;
        ssize_t got = 1;
        while (have < Ahead::kBlockBytes && (got = produce(a.block[slot].get() + have, Ahead::kBlockBytes - have)) > 0)
            have += static_cast<std::size_t>(got);
        {
            const std::lock_guard<std::mutex> lock(a.m);
            a.length[slot] = have;
            if (have > 0) ++a.filled;
            if (got <= 0) {
                a.ended = true;
                a.last = got;
            }
        }
        a.cv.notify_all();
        if (got <= 0) return;
    }
}

ssize_t ByteSource::read(void* dst, std::size_t n) {
    if (n == 0) return 0;
    ssize_t got;
    if (!ahead_) {
        got = produce(dst, n);
    } else {
        Ahead& a = *ahead_;
        std::unique_lock<std::mutex> lock(a.m);
        a.cv.wait(lock, [&] { return a.filled > 0 || a.ended; });
        if (a.filled == 0) {
            got = a.last;
        } else {
            const int b = a.first;
            const std::size_t k = std::min(n, a.length[b] - a.taken);
            std::memcpy(dst, a.block[b].get() + a.taken, k);
            a.taken += k;
            if (a.taken == a.length[b]) {
                a.first = (b + 1) % Ahead::kBlocks;
                --a.filled;
                a.taken = 0;
                lock.unlock();
                a.cv.notify_all();
            }
            got = static_cast<ssize_t>(k);
        }
    }
    if (got > 0) out_total_ += static_cast<std::uint64_t>(got);
    return got;
}

ssize_t ByteSource::read_fd(unsigned char* dst, std::size_t n) {
    for (;;) {
        const ssize_t got = ::read(fd_, dst, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

ssize_t ByteSource::fail(std::string what) {
    failed_ = true;
    error_ = std::move(what);
    return -1;
}

ssize_t ByteSource::produce(void* dst_void, std::size_t n) {
    if (failed_) return -1;
    auto* dst = static_cast<unsigned char*>(dst_void);
    if (n == 0) return 0;
    if (!decoder_) {
        if (in_at_ < in_end_) {
            const std::size_t k = std::min(n, in_end_ - in_at_);
            std::memcpy(dst, in_.get() + in_at_, k);
            in_at_ += k;
            return static_cast<ssize_t>(k);
        }
        if (!pending_.empty()) return fail(pending_);
        if (in_eof_) return 0;
        const ssize_t got = read_fd(dst, n);
        if (got < 0) return fail(std::string("cannot read: ") + std::strerror(errno));
        return got;
    }
    if (stage_at_ == stage_end_) {
        if (!pending_.empty()) return fail(pending_);
        const ssize_t got = decode_step();
        if (got <= 0) return got;
    }
    const std::size_t k = std::min(n, stage_end_ - stage_at_);
    std::memcpy(dst, stage_.get() + stage_at_, k);
    stage_at_ += k;
    return static_cast<ssize_t>(k);
}

// The decoder always gets the same room, whatever the caller asks for: how
// much a library hands out before it finds damage depends on that room, and
// the line named in the diagnostic must not depend on the reader's buffer or
// on whether a helper thread decodes.
ssize_t ByteSource::decode_step() {
    stage_at_ = stage_end_ = 0;
    for (;;) {
        std::size_t used = 0, made = 0;
        const bool ok = decoder_->step(std::span<const unsigned char>(in_.get() + in_at_, in_end_ - in_at_), used,
                                       std::span<unsigned char>(stage_.get(), kStageBytes), made, in_eof_);
        in_at_ += used;
        stage_end_ = made;
        if (!ok) {
            // What came before the damage is still handed out; the failure
            // comes with the next call.
            if (made == 0) return fail(decoder_->error());
            pending_ = decoder_->error();
            return static_cast<ssize_t>(made);
        }
        if (made > 0) return static_cast<ssize_t>(made);
        if (used > 0) continue;
        if (in_eof_) {
            if (in_at_ < in_end_ || !decoder_->complete())
                return fail("the " + std::string(compression_name(kind_)) + " data is cut off");
            return 0;
        }
        // Nothing to do without more input: keep what is left and read on.
        if (in_at_ > 0) {
            std::memmove(in_.get(), in_.get() + in_at_, in_end_ - in_at_);
            in_end_ -= in_at_;
            in_at_ = 0;
        }
        const ssize_t got = read_fd(in_.get() + in_end_, in_size_ - in_end_);
        if (got < 0) return fail(std::string("cannot read: ") + std::strerror(errno));
        if (got == 0) in_eof_ = true;
        in_end_ += static_cast<std::size_t>(got);
    }
}

bool content_is_las(const std::string& name, const std::string& path) {
    try {
        ByteSource src(name, path);
        // Only a file can be looked at twice: a stream's bytes are the text
        // reader's.
        if (!src.regular()) return false;
        unsigned char sig[4];
        std::size_t have = 0;
        while (have < sizeof sig) {
            const ssize_t got = src.read(sig + have, sizeof sig - have);
            if (got <= 0) return false;
            have += static_cast<std::size_t>(got);
        }
        return std::memcmp(sig, "LASF", 4) == 0;
    } catch (const IoError&) {
        return false;
    }
}

const std::string& KeptStreams::path_for(const std::string& name) {
    const auto known = by_name_.find(name);
    if (known != by_name_.end()) return known->second;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode))
        return by_name_.emplace(name, name).first->second;
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    const auto shared = by_stream_.find(key);
    if (shared != by_stream_.end()) return by_name_.emplace(name, shared->second).first->second;

    // A FIFO opens once a writer has opened it.
    const int in = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw io_error("open", name, "for reading", errno);
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } in_closer{in};
    if (folder_.empty()) {
        try {
            folder_ = make_folder_();
        } catch (const IoError& e) {
            throw IoError("cannot keep a copy of '" + name + "': " + e.what());
        }
    }
    const std::string copy = folder_ + "/input-" + std::to_string(by_stream_.size() + 1);
    const std::string where = "in '" + folder_ + "'";
    Closer out{::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (out.fd < 0) throw io_error("keep a copy of", name, where, errno);
    std::vector<unsigned char> buf(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(in, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw io_error("read", name, "", errno);
        if (got == 0) break;
        for (std::size_t done = 0; done < static_cast<std::size_t>(got);) {
            const ssize_t put = ::write(out.fd, buf.data() + done, static_cast<std::size_t>(got) - done);
            if (put < 0 && errno == EINTR) continue;
            // A write that takes nothing is a full disk.
            if (put <= 0) throw io_error("keep a copy of", name, where, put < 0 ? errno : ENOSPC);
            done += static_cast<std::size_t>(put);
        }
        copied_ += static_cast<std::uint64_t>(got);
    }
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) throw io_error("keep a copy of", name, where, errno);
    by_stream_.emplace(key, copy);
    return by_name_.emplace(name, copy).first->second;
}

}  // namespace krel::io

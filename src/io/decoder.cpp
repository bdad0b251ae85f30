#include "io/decoder.hpp"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace krel::io {

namespace {

constexpr unsigned char kGzipMagic[] = {0x1F, 0x8B};
constexpr unsigned char kZstdMagic[] = {0x28, 0xB5, 0x2F, 0xFD};
constexpr unsigned char kXzMagic[] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr unsigned char kBzip2Block[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
constexpr unsigned char kBzip2End[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};

bool starts(std::span<const unsigned char> head, std::span<const unsigned char> magic) {
    return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

// Where a member (gzip) or stream (bzip2, xz) ended, only the next one's
// magic may follow. wait: no bytes yet, or too few to tell before the end.
enum class Next { wait, member, junk };
Next next_member(std::span<const unsigned char> in, std::span<const unsigned char> magic, bool last) {
    if (in.empty() || (in.size() < magic.size() && !last)) return Next::wait;
    return starts(in, magic) ? Next::member : Next::junk;
}

// The libraries count in 32-bit sizes; the buffers are far smaller, but a
// span is clipped so that no size is ever cut short silently.
unsigned clip(std::size_t n) {
    return n > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max() : static_cast<unsigned>(n);
}

// gzip through zlib, member after member: each must begin with the magic.
class GzipDecoder final : public Decoder {
public:
    GzipDecoder() {
        if (inflateInit2(&zs_, 15 + 16) != Z_OK) throw std::bad_alloc();  // 16: gzip wrapper only
    }
    ~GzipDecoder() override { inflateEnd(&zs_); }
    GzipDecoder(const GzipDecoder&) = delete;
    GzipDecoder& operator=(const GzipDecoder&) = delete;

    bool step(std::span<const unsigned char> in, std::size_t& used, std::span<unsigned char> out, std::size_t& made,
              bool last) override {
        used = made = 0;
        if (between_) {
            const Next next = next_member(in, kGzipMagic, last);
            if (next == Next::wait) return true;
            if (next == Next::junk) {
                error_ = "bytes after the end of the gzip data";
                return false;
            }
            if (inflateReset(&zs_) != Z_OK) {
                error_ = "gzip decoder cannot restart";
                return false;
            }
            between_ = false;
        }
        zs_.next_in = const_cast<unsigned char*>(in.data());  // zlib's API is not const
        zs_.avail_in = clip(in.size());
        zs_.next_out = out.data();
        zs_.avail_out = clip(out.size());
        const int r = inflate(&zs_, Z_NO_FLUSH);
        used = clip(in.size()) - zs_.avail_in;
        made = clip(out.size()) - zs_.avail_out;
        if (r == Z_STREAM_END) {
            between_ = true;
            return true;
        }
        if (r == Z_OK || r == Z_BUF_ERROR) return true;  // BUF_ERROR: no progress without more input
        error_ = std::string("damaged gzip data: ") + (zs_.msg != nullptr ? zs_.msg : "error " + std::to_string(r));
        return false;
    }
    bool complete() const override { return between_; }

private:
    z_stream zs_{};
    bool between_ = false;  // before the next member, the last one complete
};

// zstd: the library reads frame after frame (skippable ones included) and
// refuses what is not a frame.
class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder() : dctx_(ZSTD_createDCtx()) {
        if (dctx_ == nullptr) throw std::bad_alloc();
    }
    ~ZstdDecoder() override { ZSTD_freeDCtx(dctx_); }
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;

    bool step(std::span<const unsigned char> in, std::size_t& used, std::span<unsigned char> out, std::size_t& made,
              bool) override {
        used = made = 0;
        // At a frame's end with nothing new the library would ask for the
        // next frame's header, which is no news.
        if (in.empty() && complete_) return true;
        ZSTD_inBuffer zin{in.data(), in.size(), 0};
        ZSTD_outBuffer zout{out.data(), out.size(), 0};
        const std::size_t r = ZSTD_decompressStream(dctx_, &zout, &zin);
        used = zin.pos;
        made = zout.pos;
        if (ZSTD_isError(r) != 0) {
            // Where a frame ended, only a frame may follow.
            error_ = complete_ && ZSTD_getErrorCode(r) == ZSTD_error_prefix_unknown
                         ? std::string("bytes after the end of the zstd data")
                         : std::string("damaged zstd data: ") + ZSTD_getErrorName(r);
            return false;
        }
        if (used > 0 || made > 0) complete_ = r == 0;
        return true;
    }
    bool complete() const override { return complete_; }

private:
    ZSTD_DCtx* dctx_;
    bool complete_ = false;
};

// bzip2 through libbz2, stream after stream (parallel compressors write many).
class Bzip2Decoder final : public Decoder {
public:
    Bzip2Decoder() { init(); }
    ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&bs_); }
    Bzip2Decoder(const Bzip2Decoder&) = delete;
    Bzip2Decoder& operator=(const Bzip2Decoder&) = delete;

    bool step(std::span<const unsigned char> in, std::size_t& used, std::span<unsigned char> out, std::size_t& made,
              bool last) override {
        used = made = 0;
        if (between_) {
            constexpr unsigned char kMagic[] = {'B', 'Z', 'h'};
            const Next next = next_member(in, kMagic, last);
            if (next == Next::wait) return true;
            if (next == Next::junk) {
                error_ = "bytes after the end of the bzip2 data";
                return false;
            }
            BZ2_bzDecompressEnd(&bs_);
            init();
            between_ = false;
        }
        bs_.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(in.data()));
        bs_.avail_in = clip(in.size());
        bs_.next_out = reinterpret_cast<char*>(out.data());
        bs_.avail_out = clip(out.size());
        const int r = BZ2_bzDecompress(&bs_);
        used = clip(in.size()) - bs_.avail_in;
        made = clip(out.size()) - bs_.avail_out;
        if (r == BZ_STREAM_END) {
            between_ = true;
            return true;
        }
        if (r == BZ_OK) return true;
        error_ = r == BZ_DATA_ERROR ? "damaged bzip2 data: a block fails its check"
                 : r == BZ_DATA_ERROR_MAGIC ? "damaged bzip2 data: bad magic"
                 : r == BZ_MEM_ERROR        ? "bzip2 decoder out of memory"
                                            : "damaged bzip2 data: error " + std::to_string(r);
        return false;
    }
    bool complete() const override { return between_; }

private:
    void init() {
        bs_ = bz_stream{};
        if (BZ2_bzDecompressInit(&bs_, 0, 0) != BZ_OK) throw std::bad_alloc();
    }

    bz_stream bs_{};
    bool between_ = false;
};

// xz through liblzma, stream after stream: each may be followed by zero
// padding in steps of four bytes, and the next must begin with the magic.
class XzDecoder final : public Decoder {
public:
    XzDecoder() { init(); }
    ~XzDecoder() override { lzma_end(&ls_); }
    XzDecoder(const XzDecoder&) = delete;
    XzDecoder& operator=(const XzDecoder&) = delete;

    bool step(std::span<const unsigned char> in, std::size_t& used, std::span<unsigned char> out, std::size_t& made,
              bool last) override {
        used = made = 0;
        if (between_) {
            while (used < in.size() && in[used] == 0) ++used;
            padding_ += used;
            const Next next = next_member(in.subspan(used), kXzMagic, last);
            if (next == Next::wait) return true;
            if (next == Next::junk || padding_ % 4 != 0) {
                error_ = "bytes after the end of the xz data";
                return false;
            }
            lzma_end(&ls_);
            init();
            between_ = false;
            in = in.subspan(used);
        }
        const std::size_t skipped = used;
        ls_.next_in = in.data();
        ls_.avail_in = in.size();
        ls_.next_out = out.data();
        ls_.avail_out = out.size();
        const lzma_ret r = lzma_code(&ls_, LZMA_RUN);
        // On damage too: what was decoded before it is handed out.
        used = skipped + in.size() - ls_.avail_in;
        made = out.size() - ls_.avail_out;
        switch (r) {
        case LZMA_OK:
        case LZMA_BUF_ERROR:  // no progress: more input needed, or cut off
            return true;
        case LZMA_STREAM_END:
            between_ = true;
            padding_ = 0;
            return true;
        case LZMA_MEM_ERROR:
            error_ = "xz decoder out of memory";
            return false;
        case LZMA_MEMLIMIT_ERROR:
            error_ = "xz data needs more than 1 GiB to decompress";
            return false;
        default:
            error_ = "damaged xz data: error " + std::to_string(static_cast<int>(r));
            return false;
        }
    }
    bool complete() const override { return between_ && padding_ % 4 == 0; }

private:
    void init() {
        ls_ = LZMA_STREAM_INIT;
        // A header asking for more than this is refused rather than allocated;
        // xz -9 needs 65 MiB.
        constexpr std::uint64_t kMemLimit = std::uint64_t{1} << 30;
        if (lzma_stream_decoder(&ls_, kMemLimit, 0) != LZMA_OK) throw std::bad_alloc();
    }

    lzma_stream ls_ = LZMA_STREAM_INIT;
    bool between_ = false;     // after a complete stream
    std::uint64_t padding_ = 0;  // zero bytes since its end
};

}  // namespace

Compression detect_compression(std::span<const unsigned char> head) {
    if (starts(head, kGzipMagic)) return Compression::gzip;
    if (starts(head, kZstdMagic)) return Compression::zstd;
    // A skippable frame may come first: 0x184D2A50 to 0x184D2A5F.
    if (head.size() >= 4 && (head[0] & 0xF0) == 0x50 && head[1] == 0x2A && head[2] == 0x4D && head[3] == 0x18)
        return Compression::zstd;
    if (starts(head, kXzMagic)) return Compression::xz;
    if (head.size() >= 10 && head[0] == 'B' && head[1] == 'Z' && head[2] == 'h' && head[3] >= '1' &&
        head[3] <= '9' && (starts(head.subspan(4), kBzip2Block) || starts(head.subspan(4), kBzip2End)))
        return Compression::bzip2;
    return Compression::none;
}

std::string_view compression_name(Compression c) {
    switch (c) {
    case Compression::gzip: return "gzip";
    case Compression::zstd: return "zstd";
    case Compression::bzip2: return "bzip2";
    case Compression::xz: return "xz";
    case Compression::none: break;
    }
    return "plain";
}

std::unique_ptr<Decoder> make_decoder(Compression c) {
    switch (c) {
    case Compression::gzip: return std::make_unique<GzipDecoder>();
    case Compression::zstd: return std::make_unique<ZstdDecoder>();
    case Compression::bzip2: return std::make_unique<Bzip2Decoder>();
    case Compression::xz: return std::make_unique<XzDecoder>();
    case Compression::none: break;
    }
    return nullptr;
}

}  // namespace krel::io

#pragma once
// Compressed test inputs, made in memory through the formats' own libraries
// (the ones krel decompresses with), so no test needs the command-line tools.

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "io/decoder.hpp"

namespace krel::test {

inline std::string gzip(std::string_view text) {
    z_stream zs{};
    if (deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
    std::string out(deflateBound(&zs, static_cast<uLong>(text.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (r != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

// With the content checksum, as the zstd tool writes by default.
inline std::string zstd(std::string_view text) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(text.size()), '\0');
    const std::size_t n = ZSTD_compress2(cctx, out.data(), out.size(), text.data(), text.size());
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(n) != 0) throw std::runtime_error("zstd");
    out.resize(n);
    return out;
}

inline std::string bzip2(std::string_view text) {
    auto room = static_cast<unsigned>(text.size() + text.size() / 100 + 600);
    std::string out(room, '\0');
    if (BZ2_bzBuffToBuffCompress(out.data(), &room, const_cast<char*>(text.data()),
                                 static_cast<unsigned>(text.size()), 9, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2");
    out.resize(room);
    return out;
}

inline std::string xz(std::string_view text, std::uint32_t preset = 6) {
    std::string out(lzma_stream_buffer_bound(text.size()), '\0');
    std::size_t pos = 0;
    if (lzma_easy_buffer_encode(preset, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(text.data()),
                                text.size(), reinterpret_cast<uint8_t*>(out.data()), &pos, out.size()) != LZMA_OK)
        throw std::runtime_error("xz");
    out.resize(pos);
    return out;
}

inline std::string compress(io::Compression c, std::string_view text) {
    switch (c) {
    case io::Compression::gzip: return gzip(text);
    case io::Compression::zstd: return zstd(text);
    case io::Compression::bzip2: return bzip2(text);
    case io::Compression::xz: return xz(text);
    case io::Compression::none: break;
    }
    return std::string(text);
}

}  // namespace krel::test

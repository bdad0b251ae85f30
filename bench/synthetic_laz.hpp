#pragma once
// Large LAZ files for the benchmarks, built from a small one: its chunks
// repeated until the point count is reached, each copy moved east by the
// width of the sample (the first record of a chunk is stored raw and every
// later X is a difference, so moving the first moves them all). The result
// has variable-size chunks and a chunk table of its own; the decoder does the
// same work per point as on the sample. A LAS twin holds the same records
// uncompressed.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "io/las.hpp"
#include "io/laz.hpp"
#include "support/laz_writer.hpp"

namespace krel::bench {

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes `laz_out` with at least `points` points from the chunks of `sample`,
// and, when twin_out is not empty, the uncompressed twin. Returns the count.
inline std::uint64_t grow_laz(const std::string& sample, std::uint64_t points, const std::string& laz_out,
                              const std::string& twin_out = {}) {
    const std::string src = slurp(sample);
    const auto head = std::span(reinterpret_cast<const unsigned char*>(src.data()),
                                std::min<std::size_t>(src.size(), io::kLasHeaderRead));
    const io::LasHeader h = io::parse_las_header(head, src.size(), sample);
    const io::laz::ReadAt read = [&src](unsigned char* dst, std::size_t n, std::uint64_t pos) {
        const std::size_t k = pos < src.size() ? std::min<std::size_t>(n, src.size() - pos) : 0;
        std::memcpy(dst, src.data() + pos, k);
        return k;
    };
    const io::laz::Layout lay = io::laz::read_layout(read, h, src.size(), sample);
    // The sample's X extent, from its twin records, sets the step between copies.
    std::int64_t xmin = INT64_MAX, xmax = INT64_MIN;
    {
        io::laz::ChunkStream cs(lay, read, sample, lay.points, 1, std::size_t{4} << 20);
        const unsigned char* d;
        std::size_t b;
        while (cs.next(d, b))
            for (std::size_t at = 0; at < b; at += h.record_length) {
                const std::int64_t x = io::LasDecoder::le32(d + at);
                xmin = std::min(xmin, x);
                xmax = std::max(xmax, x);
            }
    }
    const std::int32_t step = static_cast<std::int32_t>(xmax - xmin + 1000);

    std::string out = src.substr(0, h.point_offset);
    // Variable-size chunks from here on: the compression record's chunk size.
    {
        std::size_t pos = h.header_size;
        for (std::uint32_t i = 0; i < h.vlr_count; ++i) {
            std::uint16_t id, len;
            std::memcpy(&id, out.data() + pos + 18, 2);
            std::memcpy(&len, out.data() + pos + 20, 2);
            if (id == 22204) {
                const std::uint32_t variable = 0xFFFFFFFFU;
                std::memcpy(out.data() + pos + 54 + 12, &variable, 4);
            }
            pos += 54 + len;
        }
    }
    const std::size_t table_at = out.size();
    out.append(8, '\0');
    std::vector<test::lazw::TableEntry> entries;
    std::uint64_t total = 0;
    for (std::int32_t copy = 0; total < points; ++copy) {
        for (const io::laz::Chunk& c : lay.chunks) {
            std::string bytes = src.substr(c.offset, c.bytes);
            std::int32_t x;
            std::memcpy(&x, bytes.data(), 4);
            x += copy * step;
            std::memcpy(bytes.data(), &x, 4);
            out += bytes;
            entries.push_back({static_cast<std::uint32_t>(c.points), static_cast<std::uint32_t>(c.bytes)});
            total += c.points;
        }
    }
    const std::uint64_t table = out.size();
    std::memcpy(out.data() + table_at, &table, 8);
    out += test::lazw::chunk_table(entries, true);
    // The counts: legacy (formats 0 to 5, when it fits) and 64-bit (1.4).
    const std::uint32_t legacy = h.point_format < 6 && total <= 0xFFFFFFFFU ? static_cast<std::uint32_t>(total) : 0;
    std::memcpy(out.data() + 107, &legacy, 4);
    if (h.version_minor >= 4 && h.header_size >= 255) std::memcpy(out.data() + 247, &total, 8);
    std::ofstream(laz_out, std::ios::binary | std::ios::trunc).write(out.data(), static_cast<std::streamsize>(out.size()));

    if (!twin_out.empty()) {
        io::LasFile f(laz_out);
        std::ofstream t(twin_out, std::ios::binary | std::ios::trunc);
        std::string twin_head = out.substr(0, h.point_offset);
        twin_head[104] = static_cast<char>(h.point_format);
        t.write(twin_head.data(), static_cast<std::streamsize>(twin_head.size()));
        std::span<const unsigned char> blk;
        while (f.next_block(blk))
            t.write(reinterpret_cast<const char*>(blk.data()), static_cast<std::streamsize>(blk.size()));
    }
    return total;
}

}  // namespace krel::bench

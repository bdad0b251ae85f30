#pragma once
// Large LAZ files for the benchmarks, built from a small one: its chunks
// repeated until the point count is reached, each copy moved east by the
// width of the sample (the first record of a chunk is stored raw and every
// later X is a difference, so moving the first moves them all). The result
// has variable-size chunks and a chunk table of its own; the decoder does the
// same work per point as on the sample. A LAS twin holds the same records
// uncompressed.

#include <algorithm>
#include <array>
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

inline std::uint32_t get_u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint32_t>(p[3]) << 24;
}

// Point format 7 from a format 8 file of POINT14, RGBNIR14 and BYTE14 items:
// its chunks without the NIR layer and the extra bytes' layers. Each layer is
// a stream of its own, so the rest decodes as before, the RGB layer as an
// RGB14 item; the VLR describing the extra bytes goes with them.
inline std::string format7_from_format8(const std::string& src, const std::string& name) {
    using test::las_detail::put;
    const auto* bytes = reinterpret_cast<const unsigned char*>(src.data());
    const io::LasHeader h =
        io::parse_las_header(std::span(bytes, std::min<std::size_t>(src.size(), io::kLasHeaderRead)), src.size(), name);
    const io::laz::ReadAt read = [&src](unsigned char* dst, std::size_t n, std::uint64_t pos) {
        const std::size_t k = pos < src.size() ? std::min<std::size_t>(n, src.size() - pos) : 0;
        std::memcpy(dst, src.data() + pos, k);
        return k;
    };
    const io::laz::Layout lay = io::laz::read_layout(read, h, src.size(), name);
    const std::vector<io::laz::Item>& items = lay.items;
    if (items.size() != 3 || items[1].type != 12 || items[2].type != 14) return {};
    auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8); };
    std::string out = src.substr(0, h.header_size);
    std::uint32_t vlrs = 0;
    for (std::size_t i = 0, pos = h.header_size; i < h.vlr_count; ++i) {
        std::string v = src.substr(pos, 54 + u16(pos + 20));
        pos += v.size();
        if (u16(pos - v.size() + 18) == 4 && v.compare(2, 9, "LASF_Spec") == 0) continue;
        if (u16(pos - v.size() + 18) == 22204) {
            v.resize(54 + 34);
            put<std::uint16_t>(v, 20, 34 + 12);
            put<std::uint16_t>(v, 54 + 32, 2);
            for (const std::array<std::uint16_t, 3> it : {std::array<std::uint16_t, 3>{10, 30, items[0].version},
                                                         std::array<std::uint16_t, 3>{11, 6, items[1].version}})
                for (std::size_t k = 0; k < 3; ++k) put<std::uint16_t>(v, v.size(), it[k]);
        }
        out += v;
        ++vlrs;
    }
    out[104] = static_cast<char>((bytes[104] & 0xC0) | 7);
    put<std::uint16_t>(out, 105, 36);
    put<std::uint32_t>(out, 100, vlrs);
    put<std::uint32_t>(out, 96, static_cast<std::uint32_t>(out.size()));
    const std::size_t table_at = out.size();
    out.append(8, '\0');
    // A chunk: the first record, the count, every layer's size, the layers.
    const std::size_t layers = 9 + 2 + items[2].size, rl = h.record_length;
    std::vector<test::lazw::TableEntry> entries;
    for (const io::laz::Chunk& c : lay.chunks) {
        std::string k = src.substr(c.offset, 36);
        if (c.points > 1) {
            std::size_t kept = 0;
            for (std::size_t l = 0; l < 10; ++l) kept += get_u32(bytes + c.offset + rl + 4 + 4 * l);
            k += src.substr(c.offset + rl, 4 + 4 * 10);
            k += src.substr(c.offset + rl + 4 + 4 * layers, kept);
        }
        out += k;
        entries.push_back({static_cast<std::uint32_t>(c.points), static_cast<std::uint32_t>(k.size())});
    }
    put<std::uint64_t>(out, table_at, out.size());
    return out + test::lazw::chunk_table(entries, lay.chunk_size == 0xFFFFFFFFU);
}

}  // namespace krel::bench

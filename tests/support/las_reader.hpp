#pragma once
// LAS bytes decoded from the raw header fields and records, independently of
// krel's reader: for the files krel writes and the text a reader must take
// from the files a test writes.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace krel::test {

// LAS decoded from the raw header fields and records, independently of
// krel's reader: the promised count (the 64-bit one from 1.4 on, where the
// legacy one is 0 or smaller) bounded by the whole records present.
struct ReadLas {
    std::uint8_t minor = 0, format = 0;
    std::uint16_t global_encoding = 0, header_size = 0, record_length = 0;
    std::uint32_t point_offset = 0;
    std::uint64_t legacy_count = 0, count64 = 0;
    double scale[3]{}, offset[3]{}, max[3]{}, min[3]{};
    std::vector<std::string> vlrs;              // whole records
    std::vector<std::array<double, 3>> points;  // decoded
    std::vector<unsigned> classes;              // the whole byte in 1.0 and formats 6 to 10, else 5 bits
    std::vector<bool> withheld;
    std::string error;
};

inline ReadLas read_las(std::string_view b) {
    ReadLas r;
    auto get = [&](std::size_t at, auto v) {
        std::memcpy(&v, b.data() + at, sizeof v);
        return v;
    };
    if (b.size() < 227 || b.substr(0, 4) != "LASF" || b[24] != 1) return r.error = "not LAS 1.x", r;
    r.minor = static_cast<std::uint8_t>(b[25]);
    r.global_encoding = get(6, std::uint16_t{});
    r.header_size = get(94, std::uint16_t{});
    r.point_offset = get(96, std::uint32_t{});
    const auto nvlr = get(100, std::uint32_t{});
    r.format = static_cast<std::uint8_t>(b[104]);
    r.record_length = get(105, std::uint16_t{});
    r.legacy_count = get(107, std::uint32_t{});
    std::uint64_t n = r.legacy_count;
    if (r.minor >= 4 && r.header_size >= 255) {
        r.count64 = get(247, std::uint64_t{});
        if (n == 0 || r.count64 > n) n = r.count64;
    }
    n = std::min<std::uint64_t>(n, b.size() > r.point_offset ? (b.size() - r.point_offset) / r.record_length : 0);
    for (int k = 0; k < 3; ++k) {
        r.scale[k] = get(131 + 8 * k, double{});
        r.offset[k] = get(155 + 8 * k, double{});
        r.max[k] = get(179 + 16 * k, double{});
        r.min[k] = get(187 + 16 * k, double{});
    }
    for (std::size_t at = r.header_size, i = 0; i < nvlr && at + 54 <= r.point_offset; ++i) {
        const std::size_t len = 54 + get(at + 20, std::uint16_t{});
        r.vlrs.emplace_back(b.substr(at, len));
        at += len;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::size_t at = r.point_offset + i * r.record_length;
        const auto flags = static_cast<unsigned char>(b[at + 15]);
        const bool wide = r.format >= 6;
        r.points.push_back({get(at, std::int32_t{}) * r.scale[0] + r.offset[0],
                            get(at + 4, std::int32_t{}) * r.scale[1] + r.offset[1],
                            get(at + 8, std::int32_t{}) * r.scale[2] + r.offset[2]});
        r.classes.push_back(wide ? static_cast<unsigned char>(b[at + 16]) : r.minor == 0 ? flags : flags & 0x1Fu);
        r.withheld.push_back(wide ? (flags & 0x04) != 0 : r.minor != 0 && (flags & 0x80) != 0);
    }
    return r;
}

// The x y z lines a reader must take from LAS bytes: no withheld point, only
// the classes keep(class) takes; shortest round-trip digits, z as a float.
template <class Keep>
std::string las_as_text(std::string_view b, Keep keep) {
    const auto shortest = [](auto v) {
        char buf[64];
        return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
    };
    const ReadLas r = read_las(b);
    std::string text;
    for (std::size_t i = 0; i < r.points.size(); ++i) {
        if (r.withheld[i] || !keep(r.classes[i])) continue;
        const auto& p = r.points[i];
        text += shortest(p[0]) + ' ' + shortest(p[1]) + ' ' + shortest(static_cast<float>(p[2])) + '\n';
    }
    return text;
}

// The LAS file krel writes: point format 0 of 20 bytes, the header of its
// version, the counts and the size that the points need.
inline std::string las_output_error(std::string_view b) {
    const ReadLas r = read_las(b);
    if (!r.error.empty()) return r.error;
    if (r.format != 0 || r.record_length != 20) return "not point format 0 of 20 bytes";
    if (r.header_size != (r.minor == 4 ? 375 : 227)) return "header size";
    std::uint32_t returns = 0;
    std::memcpy(&returns, b.data() + 111, 4);
    if (returns != r.legacy_count) return "returns do not add up";
    if (r.minor == 4 && r.count64 != r.legacy_count) return "64-bit count";
    std::size_t vlr_bytes = 0;
    for (const std::string& v : r.vlrs) vlr_bytes += v.size();
    if (r.header_size + vlr_bytes != r.point_offset || b.size() != r.point_offset + r.legacy_count * 20)
        return "offset or size";
    return "";
}

}  // namespace krel::test

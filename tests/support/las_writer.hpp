#pragma once
// A small LAS writer for tests and benchmarks. It writes the fields a reader
// needs from first principles (little-endian, fixed offsets) and lets a test
// break any of them: counts, sizes, offsets, VLR lengths, a cut-off tail.
// Bytes that a point reader must not look at are filled with a pattern, so a
// decoder that reads the wrong byte sees garbage.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace krel::test {

struct LasRec {
    std::int32_t X = 0, Y = 0, Z = 0;  // raw integer coordinates
    std::uint8_t cls = 2;              // classification code (formats 0-5: 0 to 31, 1.0: the whole byte)
    bool withheld = false;
    bool synthetic = false;            // another flag next to withheld, which must not matter
};

struct LasShape {
    std::uint8_t major = 1, minor = 2;
    std::uint8_t format = 0;            // point format byte as written (bit 7 set: "LAZ")
    std::uint16_t record_length = 0;    // 0: the format's minimum
    std::uint16_t header_size = 0;      // 0: 227, 235 for 1.3, 375 for 1.4 and later
    std::int64_t point_offset = -1;     // -1: right after the header and the VLRs
    std::vector<std::string> vlrs;      // payloads of the variable-length records
    std::int64_t vlr_count = -1;        // -1: vlrs.size()
    std::int64_t vlr_length = -1;       // -1: each payload's size; else written in every VLR header
    std::int64_t legacy_count = -1;     // -1: the number of points (0 for formats 6-10 in 1.4)
    std::int64_t count64 = -1;          // 1.4 headers: -1: the number of points
    std::array<double, 3> scale{0.01, 0.01, 0.01};
    std::array<double, 3> offset{0, 0, 0};
};

inline constexpr std::array<std::uint16_t, 11> kMinRecord{20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

namespace las_detail {

inline void put(std::string& s, std::size_t at, const void* v, std::size_t n) {
    if (s.size() < at + n) s.resize(at + n, '\0');
    const auto* b = static_cast<const unsigned char*>(v);
    for (std::size_t i = 0; i < n; ++i) s[at + i] = static_cast<char>(b[i]);  // little-endian host
}
template <class T>
void put(std::string& s, std::size_t at, T v) {
    put(s, at, &v, sizeof v);
}

}  // namespace las_detail

inline std::uint16_t las_record_length(const LasShape& shape) {
    return shape.record_length != 0 ? shape.record_length : kMinRecord[shape.format & 0x3F];
}

inline std::uint16_t las_header_size(const LasShape& shape) {
    if (shape.header_size != 0) return shape.header_size;
    return shape.minor >= 4 ? 375 : shape.minor == 3 ? 235 : 227;
}

// The header, the VLRs and any padding up to the point data, for npoints.
inline std::string las_head(const LasShape& shape, std::uint64_t npoints) {
    using las_detail::put;
    const std::uint16_t hs = las_header_size(shape);
    // A header size under 227 is written in the field only; the fields
    // themselves are all there.
    const std::size_t phys = hs < 227 ? 227 : hs;
    std::string s(phys, '\0');
    std::memcpy(s.data(), "LASF", 4);
    s[24] = static_cast<char>(shape.major);
    s[25] = static_cast<char>(shape.minor);
    std::memcpy(s.data() + 26, "krel test", 9);
    put<std::uint16_t>(s, 94, hs);
    std::size_t vlr_bytes = 0;
    for (const std::string& v : shape.vlrs) vlr_bytes += 54 + v.size();
    const std::uint64_t offset = shape.point_offset >= 0 ? static_cast<std::uint64_t>(shape.point_offset) : phys + vlr_bytes;
    put<std::uint32_t>(s, 96, static_cast<std::uint32_t>(offset));
    put<std::uint32_t>(s, 100, static_cast<std::uint32_t>(shape.vlr_count >= 0 ? shape.vlr_count : std::int64_t(shape.vlrs.size())));
    s[104] = static_cast<char>(shape.format);
    put<std::uint16_t>(s, 105, las_record_length(shape));
    std::int64_t legacy = shape.legacy_count;
    if (legacy < 0) legacy = (shape.minor >= 4 && (shape.format & 0x3F) >= 6) || npoints > 0xFFFFFFFFU ? 0 : std::int64_t(npoints);
    put<std::uint32_t>(s, 107, static_cast<std::uint32_t>(legacy));
    put<std::uint32_t>(s, 111, static_cast<std::uint32_t>(legacy));  // all of the first return
    for (int k = 0; k < 3; ++k) {
        put<double>(s, 131 + 8 * std::size_t(k), shape.scale[std::size_t(k)]);
        put<double>(s, 155 + 8 * std::size_t(k), shape.offset[std::size_t(k)]);
    }
    if (hs >= 255) put<std::uint64_t>(s, 247, shape.count64 >= 0 ? std::uint64_t(shape.count64) : npoints);
    s.resize(phys);
    for (std::size_t i = 0; i < shape.vlrs.size(); ++i) {
        std::string h(54, '\0');
        std::memcpy(h.data() + 2, "krel", 4);
        put<std::uint16_t>(h, 18, static_cast<std::uint16_t>(i + 1));
        put<std::uint16_t>(h, 20, static_cast<std::uint16_t>(shape.vlr_length >= 0 ? shape.vlr_length : std::int64_t(shape.vlrs[i].size())));
        s += h;
        s += shape.vlrs[i];
    }
    if (s.size() < offset) s.resize(offset, '\xCC');
    else s.resize(offset);  // an offset inside the header or the VLRs: the records overlay them
    return s;
}

inline void append_las_record(std::string& out, const LasShape& shape, const LasRec& r) {
    using las_detail::put;
    const std::size_t at = out.size();
    const std::uint16_t rl = las_record_length(shape);
    out.resize(at + rl);
    for (std::size_t i = 12; i < rl; ++i) out[at + i] = static_cast<char>(0xA5 ^ i);
    put<std::int32_t>(out, at, r.X);
    put<std::int32_t>(out, at + 4, r.Y);
    put<std::int32_t>(out, at + 8, r.Z);
    if ((shape.format & 0x3F) >= 6) {
        out[at + 14] = static_cast<char>(0x11);  // return 1 of 1
        out[at + 15] = static_cast<char>((r.withheld ? 0x04 : 0) | (r.synthetic ? 0x01 : 0) | 0x08);  // + overlap
        out[at + 16] = static_cast<char>(r.cls);
    } else if (shape.minor == 0) {
        out[at + 14] = static_cast<char>(0x09);
        out[at + 15] = static_cast<char>(r.cls);
    } else {
        out[at + 14] = static_cast<char>(0x09);
        out[at + 15] = static_cast<char>((r.cls & 0x1F) | (r.synthetic ? 0x20 : 0) | (r.withheld ? 0x80 : 0));
    }
}

// A whole file; cut removes that many bytes from its end.
inline std::string las_file(const LasShape& shape, const std::vector<LasRec>& points, std::size_t cut = 0) {
    std::string s = las_head(shape, points.size());
    for (const LasRec& r : points) append_las_record(s, shape, r);
    s.resize(s.size() > cut ? s.size() - cut : 0);
    return s;
}

}  // namespace krel::test

#include "io/las_out.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "io/fortran.hpp"
#include "io/io_error.hpp"
#include "io/las.hpp"

namespace krel::io {

namespace {

constexpr std::size_t kVlrHeader = 54;
constexpr std::size_t kRecord0 = 20;  // point format 0
// Beyond this no thousandth fits 64 bits (nor any LAS integer at 0.001).
constexpr double kFarAway = 1.0e15;

template <class T>
void put(std::string& s, std::size_t at, T v) {
    std::memcpy(s.data() + at, &v, sizeof v);  // little-endian host
}

// A value with three decimals as F.3 prints it, in thousandths: the digits
// of the printed text, so the LAS integer says exactly what the result says.
std::int64_t thousandths(double v) {
    const std::string f = format_f(v, 30, 3);
    std::int64_t r = 0;
    bool negative = false;
    for (char c : f) {
        if (c == '-') negative = true;
        else if (c >= '0' && c <= '9') r = r * 10 + (c - '0');
    }
    return negative ? -r : r;
}

}  // namespace

LasFrame default_las_frame(double xorig, double yorig) {
    LasFrame f;
    f.offset[0] = std::floor(xorig);
    f.offset[1] = std::floor(yorig);
    return f;
}

LasFrame read_las_frame(const std::string& name) {
    LasFrame f;
    std::uint64_t point_offset = 0;
    std::uint16_t header_size = 0;
    std::uint32_t vlr_count = 0;
    {
        LasFile las(name);  // checks the header
        const LasHeader& h = las.header();
        f.from_input = true;
        f.version_minor = h.version_minor >= 4 ? 4 : 2;
        for (int k = 0; k < 3; ++k) f.scale[k] = h.scale[k], f.offset[k] = h.offset[k];
        point_offset = h.point_offset;
        header_size = h.header_size;
        vlr_count = h.vlr_count;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) throw io_error("open", name, "for reading", errno);
    unsigned char enc[2] = {0, 0};
    in.seekg(6);
    in.read(reinterpret_cast<char*>(enc), 2);
    if (f.version_minor == 4) f.global_encoding = static_cast<std::uint16_t>(enc[0] & 0x10);
    // The same bounded walk as the reader's check: a record that does not end
    // before the point data ends the walk.
    std::uint64_t pos = header_size;
    for (std::uint32_t i = 0; i < vlr_count && pos + kVlrHeader <= point_offset; ++i) {
        std::string rec(kVlrHeader, '\0');
        in.seekg(static_cast<std::streamoff>(pos));
        if (!in.read(rec.data(), kVlrHeader)) break;
        const auto* b = reinterpret_cast<const unsigned char*>(rec.data());
        const std::size_t length = b[20] | static_cast<std::size_t>(b[21]) << 8;
        if (pos + kVlrHeader + length > point_offset) break;
        if (std::strncmp(rec.data() + 2, "LASF_Projection", 16) == 0) {
            rec.resize(kVlrHeader + length);
            if (!in.read(rec.data() + kVlrHeader, static_cast<std::streamsize>(length))) break;
            f.vlrs.push_back(std::move(rec));
        }
        pos += kVlrHeader + length;
    }
    return f;
}

namespace {

// The nodes as the file's integers, and the bounds of what they read back as.
struct Quantized {
    std::vector<std::int32_t> ints;  // x, y, z of each node
    double lo[3], hi[3];
};

Quantized quantize(const LasFrame& frame, std::span<const float> x, std::span<const float> y, std::span<const float> z,
                   double xorig, double yorig, const std::string& shown) {
    const std::size_t n = x.size();
    Quantized out;
    out.ints.resize(3 * n);
    for (int k = 0; k < 3; ++k)
        out.lo[k] = std::numeric_limits<double>::max(), out.hi[k] = std::numeric_limits<double>::lowest();
    for (std::size_t i = 0; i < n; ++i) {
        const double v[3] = {static_cast<double>(x[i]) + xorig, static_cast<double>(y[i]) + yorig, z[i]};
        for (int k = 0; k < 3; ++k) {
            std::int64_t q;
            if (frame.from_input) {
                const double steps = std::round((v[k] - frame.offset[k]) / frame.scale[k]);
                q = std::fabs(steps) < 2147483648.0 ? static_cast<std::int64_t>(steps) : std::numeric_limits<std::int64_t>::max();
            } else if (std::fabs(v[k]) < kFarAway && std::fabs(frame.offset[k]) < kFarAway) {
                // Offsets are whole metres: thousandths of the printed value
                // minus the offset stay exact in integers.
                q = thousandths(v[k]) - static_cast<std::int64_t>(frame.offset[k]) * 1000;
            } else {
                q = std::numeric_limits<std::int64_t>::max();  // cannot fit: refused below
            }
            if (q < std::numeric_limits<std::int32_t>::min() || q > std::numeric_limits<std::int32_t>::max())
                throw file_error(shown, "node " + std::to_string(i + 1) + " lies too far from the LAS offset for its scale");
            out.ints[3 * i + static_cast<std::size_t>(k)] = static_cast<std::int32_t>(q);
            const double back = static_cast<double>(q) * frame.scale[k] + frame.offset[k];
            out.lo[k] = std::min(out.lo[k], back);
            out.hi[k] = std::max(out.hi[k], back);
        }
    }
    if (n == 0)
        for (int k = 0; k < 3; ++k) out.lo[k] = out.hi[k] = 0.0;
    return out;
}

// The public header and the kept VLRs.
std::string header(const LasFrame& frame, std::uint64_t n, const Quantized& q) {
    const bool v14 = frame.version_minor == 4;
    const std::size_t header_size = v14 ? 375 : 227;
    std::size_t vlr_bytes = 0;
    for (const std::string& v : frame.vlrs) vlr_bytes += v.size();
    std::string h(header_size, '\0');
    std::memcpy(h.data(), "LASF", 4);
    put(h, 6, frame.global_encoding);
    put(h, 24, std::uint8_t{1});
    put(h, 25, frame.version_minor);
    std::memcpy(h.data() + 26, "krel", 4);       // system identifier
    std::memcpy(h.data() + 58, "krel 3.12", 9);  // generating software
    // Creation day and year stay 0 (unknown): the bytes do not depend on the day.
    put(h, 94, static_cast<std::uint16_t>(header_size));
    put(h, 96, static_cast<std::uint32_t>(header_size + vlr_bytes));
    put(h, 100, static_cast<std::uint32_t>(frame.vlrs.size()));
    put(h, 104, std::uint8_t{0});
    put(h, 105, static_cast<std::uint16_t>(kRecord0));
    const auto legacy = static_cast<std::uint32_t>(n <= 0xFFFFFFFFULL ? n : 0);
    put(h, 107, legacy);
    put(h, 111, legacy);  // every point is a first (and only) return
    for (int k = 0; k < 3; ++k) {
        put(h, 131 + 8 * static_cast<std::size_t>(k), frame.scale[k]);
        put(h, 155 + 8 * static_cast<std::size_t>(k), frame.offset[k]);
        put(h, 179 + 16 * static_cast<std::size_t>(k), q.hi[k]);
        put(h, 187 + 16 * static_cast<std::size_t>(k), q.lo[k]);
    }
    if (v14) {
        put(h, 247, n);
        put(h, 255, n);
    }
    for (const std::string& v : frame.vlrs) h += v;
    return h;
}

}  // namespace

void write_las(const LasFrame& frame, std::span<const float> x, std::span<const float> y, std::span<const float> z,
               double xorig, double yorig, const std::string& shown, const ByteOut& out) {
    const std::uint64_t n = x.size();
    // The integers first: the header holds their bounds.
    const Quantized q = quantize(frame, x, y, z, xorig, yorig, shown);
    out(header(frame, n, q));

    std::string block;
    block.reserve(kRecord0 * 65536);
    std::string rec(kRecord0, '\0');
    put(rec, 14, std::uint8_t{0x09});  // return 1 of 1
    put(rec, 15, std::uint8_t{2});     // ground
    for (std::size_t i = 0; i < n; ++i) {
        put(rec, 0, q.ints[3 * i]);
        put(rec, 4, q.ints[3 * i + 1]);
        put(rec, 8, q.ints[3 * i + 2]);
        block += rec;
        if (block.size() >= kRecord0 * 65536) {
            out(block);
            block.clear();
        }
    }
    out(block);
}

}  // namespace krel::io

#pragma once
// Strict readers for the files krel writes with -w, written from the formats'
// descriptions: anything out of place is a failure naming where, so that a
// writer slip cannot pass as a lenient parse.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace krel::test {

struct ReadMesh {
    std::vector<std::array<double, 3>> points;
    std::vector<std::array<std::int64_t, 3>> triangles;  // 0-based
    std::string error;                                   // empty: read
};

namespace mesh_detail {

inline bool whole_number(std::string_view t, double& v) {
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    return r.ec == std::errc() && r.ptr == t.data() + t.size() && !t.empty();
}
inline bool whole_int(std::string_view t, std::int64_t& v) {
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    return r.ec == std::errc() && r.ptr == t.data() + t.size() && !t.empty();
}
// Fields separated by single blanks, nothing before or after.
inline std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> f;
    std::size_t at = 0;
    while (at <= line.size()) {
        const auto next = line.find(' ', at);
        f.push_back(line.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos) break;
        at = next + 1;
    }
    return f;
}
inline std::vector<std::string_view> lines(std::string_view text, std::string& error) {
    std::vector<std::string_view> l;
    if (text.empty() || text.back() != '\n') error = "no LF at the end";
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lf = text.find('\n', at);
        if (lf == std::string_view::npos) break;
        l.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    return l;
}
inline bool check_triangles(ReadMesh& m) {
    for (const auto& t : m.triangles)
        for (std::int64_t v : t)
            if (v < 0 || v >= static_cast<std::int64_t>(m.points.size())) {
                m.error = "triangle names node " + std::to_string(v + 1);
                return false;
            }
    return true;
}

}  // namespace mesh_detail

// SMS 2dm: "MESH2D", an optional MESHNAME, then E3T and ND cards with ids
// counting from 1 in order; every triangle names an existing node.
inline ReadMesh read_2dm(std::string_view text) {
    using namespace mesh_detail;
    ReadMesh m;
    const auto ls = lines(text, m.error);
    if (!m.error.empty()) return m;
    if (ls.empty() || ls[0] != "MESH2D") return m.error = "first line is not MESH2D", m;
    for (std::size_t i = 1; i < ls.size(); ++i) {
        const auto f = fields(ls[i]);
        const std::string where = "line " + std::to_string(i + 1) + ": ";
        if (f[0] == "MESHNAME" && i == 1) continue;
        std::int64_t id = 0;
        if (f[0] == "E3T" && f.size() == 6) {
            std::array<std::int64_t, 3> t{};
            std::int64_t mat = 0;
            if (!whole_int(f[1], id) || id != static_cast<std::int64_t>(m.triangles.size()) + 1 || !whole_int(f[2], t[0]) ||
                !whole_int(f[3], t[1]) || !whole_int(f[4], t[2]) || !whole_int(f[5], mat))
                return m.error = where + "bad E3T", m;
            for (auto& v : t) --v;
            m.triangles.push_back(t);
        } else if (f[0] == "ND" && f.size() == 5) {
            std::array<double, 3> p{};
            if (!whole_int(f[1], id) || id != static_cast<std::int64_t>(m.points.size()) + 1 || !whole_number(f[2], p[0]) ||
                !whole_number(f[3], p[1]) || !whole_number(f[4], p[2]))
                return m.error = where + "bad ND", m;
            m.points.push_back(p);
        } else {
            return m.error = where + "unknown card", m;
        }
    }
    check_triangles(m);
    return m;
}

// LandXML 1.2 as krel writes it: well-formed (every tag closed in order,
// attributes quoted), one TIN surface, P ids counting from 1 holding
// "northing easting elevation", F holding three P ids. Points come back as
// x (easting), y (northing), z.
inline ReadMesh read_landxml(std::string_view text) {
    using namespace mesh_detail;
    ReadMesh m;
    const std::string_view decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (text.substr(0, decl.size()) != decl) return m.error = "no XML declaration", m;
    std::vector<std::string> open;
    bool tin = false;
    std::size_t at = decl.size();
    while (at < text.size()) {
        const auto lt = text.find('<', at);
        if (lt == std::string_view::npos) {
            if (text.substr(at).find_first_not_of(" \n") != std::string_view::npos) return m.error = "text after the root", m;
            break;
        }
        const std::string_view between = text.substr(at, lt - at);
        const auto gt = text.find('>', lt);
        if (gt == std::string_view::npos) return m.error = "tag not closed", m;
        std::string_view tag = text.substr(lt + 1, gt - lt - 1);
        at = gt + 1;
        if (tag.empty()) return m.error = "empty tag", m;
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) return m.error = "</" + std::string(tag.substr(1)) + "> out of order", m;
            const std::string name = open.back();
            open.pop_back();
            const auto f = fields(between);
            if (name == "P") {
                std::array<double, 3> p{};
                if (f.size() != 3 || !whole_number(f[0], p[1]) || !whole_number(f[1], p[0]) || !whole_number(f[2], p[2]))
                    return m.error = "bad P '" + std::string(between) + "'", m;
                m.points.push_back(p);
            } else if (name == "F") {
                std::array<std::int64_t, 3> t{};
                if (f.size() != 3 || !whole_int(f[0], t[0]) || !whole_int(f[1], t[1]) || !whole_int(f[2], t[2]))
                    return m.error = "bad F '" + std::string(between) + "'", m;
                for (auto& v : t) --v;
                m.triangles.push_back(t);
            } else if (between.find_first_not_of(" \n") != std::string_view::npos) {
                return m.error = "text inside <" + name + ">", m;
            }
            continue;
        }
        if (between.find_first_not_of(" \n") != std::string_view::npos) return m.error = "text between tags", m;
        const bool empty = tag.back() == '/';
        if (empty) tag.remove_suffix(1);
        const std::string name(tag.substr(0, tag.find(' ')));
        // Attributes: name="value", separated by one blank.
        std::string_view rest = tag.substr(name.size());
        while (!rest.empty()) {
            const auto eq = rest.find("=\"");
            const auto close = eq == std::string_view::npos ? eq : rest.find('"', eq + 2);
            if (rest[0] != ' ' || close == std::string_view::npos) return m.error = "bad attribute in <" + name + ">", m;
            const std::string_view attr = rest.substr(1, eq - 1), value = rest.substr(eq + 2, close - eq - 2);
            if (name == "P" && attr == "id") {
                std::int64_t id = 0;
                if (!whole_int(value, id) || id != static_cast<std::int64_t>(m.points.size()) + 1)
                    return m.error = "P id " + std::string(value) + " out of order", m;
            }
            if (name == "Definition" && attr == "surfType" && value == "TIN") tin = true;
            rest = rest.substr(close + 1);
        }
        if (open.empty() && name != "LandXML") return m.error = "root is not LandXML", m;
        if (!empty) open.push_back(name);
    }
    if (!open.empty()) return m.error = "<" + open.back() + "> not closed", m;
    if (!tin) return m.error = "no TIN definition", m;
    check_triangles(m);
    return m;
}

// Binary little-endian PLY with double x y z and uchar/int face lists.
inline ReadMesh read_ply(std::string_view bytes) {
    ReadMesh m;
    const auto end = bytes.find("end_header\n");
    if (end == std::string_view::npos) return m.error = "no end_header", m;
    std::istringstream head{std::string(bytes.substr(0, end))};
    std::string line;
    std::size_t nv = 0, nf = 0;
    std::vector<std::string> expect = {"ply", "format binary_little_endian 1.0"};
    std::vector<std::string> got;
    while (std::getline(head, line)) {
        if (line.rfind("comment", 0) == 0) continue;
        if (line.rfind("element vertex ", 0) == 0) nv = std::stoull(line.substr(15)), line = "element vertex";
        if (line.rfind("element face ", 0) == 0) nf = std::stoull(line.substr(13)), line = "element face";
        got.push_back(line);
    }
    const std::vector<std::string> want = {"ply", "format binary_little_endian 1.0", "element vertex", "property double x",
                                           "property double y", "property double z", "element face",
                                           "property list uchar int vertex_indices"};
    if (got != want) return m.error = "unexpected header", m;
    std::size_t at = end + 11;
    if (bytes.size() != at + nv * 24 + nf * 13) return m.error = "body size", m;
    for (std::size_t i = 0; i < nv; ++i, at += 24) {
        std::array<double, 3> p{};
        std::memcpy(p.data(), bytes.data() + at, 24);
        m.points.push_back(p);
    }
    for (std::size_t i = 0; i < nf; ++i, at += 13) {
        if (bytes[at] != 3) return m.error = "face not a triangle", m;
        std::int32_t t[3];
        std::memcpy(t, bytes.data() + at + 1, 12);
        m.triangles.push_back({t[0], t[1], t[2]});
    }
    mesh_detail::check_triangles(m);
    return m;
}

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

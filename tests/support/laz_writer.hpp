#pragma once
// A small LAZ writer for tests, fuzz seeds and benchmarks: the range encoder
// and integer compressor that mirror the reader's decoder, the POINT10
// version 2 coder (point format 0), the chunk table, and rebuilds of a file
// from another file's chunks (to make large inputs from small ones, and a
// layered format 7 file from a format 8 one). Written from the format, for
// our own files; it lets a test break what it wants.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/las.hpp"
#include "io/laz.hpp"
#include "support/las_writer.hpp"

namespace krel::test::lazw {

inline std::uint32_t get_u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint32_t>(p[3]) << 24;
}

class Model {
public:
    explicit Model(std::uint32_t n = 2) : n_(n), dist_(n), count_(n, 1) {
        cycle_ = n;
        update();
        cycle_ = until_ = (n + 6) >> 1;
    }
    void update() {
        total_ += cycle_;
        if (total_ > (1U << 15)) {
            total_ = 0;
            for (std::uint32_t& c : count_) total_ += (c = (c + 1) >> 1);
        }
        const std::uint32_t scale = 0x80000000U / total_;
        std::uint32_t sum = 0;
        for (std::uint32_t k = 0; k < n_; ++k) {
            dist_[k] = (scale * sum) >> 16;
            sum += count_[k];
        }
        cycle_ = std::min((5 * cycle_) >> 2, (n_ + 6) << 3);
        until_ = cycle_;
    }
    std::uint32_t n_, total_ = 0, cycle_ = 0, until_ = 0;
    std::vector<std::uint32_t> dist_, count_;
};

struct BitModel {
    std::uint32_t c0 = 1, c = 2, p0 = 1U << 12, until = 4, cycle = 4;
    void update() {
        c += cycle;
        if (c > (1U << 13)) {
            c = (c + 1) >> 1;
            c0 = (c0 + 1) >> 1;
            if (c0 == c) ++c;
        }
        p0 = (c0 * (0x80000000U / c)) >> 18;
        cycle = std::min((5 * cycle) >> 2, 64U);
        until = cycle;
    }
};

class Encoder {
public:
    void symbol(Model& m, std::uint32_t s) {
        const std::uint32_t init = base_;
        if (s == m.n_ - 1) {
            const std::uint32_t x = m.dist_[s] * (length_ >> 15);
            base_ += x;
            length_ -= x;
        } else {
            length_ >>= 15;
            const std::uint32_t x = m.dist_[s] * length_;
            base_ += x;
            length_ = m.dist_[s + 1] * length_ - x;
        }
        if (init > base_) carry();
        if (length_ < kMin) renorm();
        ++m.count_[s];
        if (--m.until_ == 0) m.update();
    }
    void bit(BitModel& m, std::uint32_t b) {
        const std::uint32_t x = m.p0 * (length_ >> 13);
        if (b == 0) {
            length_ = x;
            ++m.c0;
        } else {
            const std::uint32_t init = base_;
            base_ += x;
            length_ -= x;
            if (init > base_) carry();
        }
        if (length_ < kMin) renorm();
        if (--m.until == 0) m.update();
    }
    void bits(std::uint32_t n, std::uint32_t v) {
        if (n > 19) {
            raw(16, v & 0xFFFF);
            v >>= 16;
            n -= 16;
        }
        raw(n, v);
    }
    void int32(std::uint32_t v) {
        raw(16, v & 0xFFFF);
        raw(16, v >> 16);
    }
    std::string done() {
        const std::uint32_t init = base_;
        bool another = true;
        if (length_ > 2 * kMin) {
            base_ += kMin;
            length_ = kMin >> 1;
        } else {
            base_ += kMin >> 1;
            length_ = kMin >> 9;
            another = false;
        }
        if (init > base_) carry();
        renorm();
        out_.append(another ? 3 : 2, '\0');
        return out_;
    }

private:
    static constexpr std::uint32_t kMin = 0x01000000U;
    void raw(std::uint32_t n, std::uint32_t v) {
        const std::uint32_t init = base_;
        length_ >>= n;
        base_ += v * length_;
        if (init > base_) carry();
        if (length_ < kMin) renorm();
    }
    void carry() {
        std::size_t i = out_.size();
        while (i > 0 && static_cast<unsigned char>(out_[i - 1]) == 0xFF) out_[--i] = '\0';
        if (i > 0) out_[i - 1] = static_cast<char>(static_cast<unsigned char>(out_[i - 1]) + 1);
    }
    void renorm() {
        do {
            out_ += static_cast<char>(base_ >> 24);
            base_ <<= 8;
        } while ((length_ <<= 8) < kMin);
    }
    std::string out_;
    std::uint32_t base_ = 0, length_ = 0xFFFFFFFFU;
};

class IntCoder {
public:
    IntCoder(std::uint32_t bits, std::uint32_t contexts) {
        corr_bits_ = bits < 32 ? bits : 32;
        range_ = bits < 32 ? 1U << bits : 0;
        min_ = bits < 32 ? -static_cast<std::int32_t>(range_ / 2) : INT32_MIN;
        for (std::uint32_t i = 0; i < contexts; ++i) k_models_.emplace_back(corr_bits_ + 1);
        for (std::uint32_t i = 1; i <= corr_bits_; ++i) corr_.emplace_back(1U << std::min(i, 8U));
    }
    void code(Encoder& e, std::int32_t pred, std::int32_t real, std::uint32_t context) {
        std::int64_t c = std::int64_t{real} - pred;
        if (range_ != 0) {
            if (c < min_) c += range_;
            else if (c > min_ + std::int64_t{range_} - 1) c -= range_;
        } else {
            c = static_cast<std::int32_t>(static_cast<std::uint32_t>(real) - static_cast<std::uint32_t>(pred));
        }
        std::uint32_t c1 = c <= 0 ? static_cast<std::uint32_t>(-c) : static_cast<std::uint32_t>(c - 1);
        k_ = 0;
        while (c1 != 0) {
            c1 >>= 1;
            ++k_;
        }
        e.symbol(k_models_[context], k_);
        if (k_ == 0) {
            e.bit(corr0_, static_cast<std::uint32_t>(c));
        } else if (k_ < 32) {
            std::int64_t v = c < 0 ? c + ((std::int64_t{1} << k_) - 1) : c - 1;
            auto u = static_cast<std::uint32_t>(v);
            if (k_ <= 8) {
                e.symbol(corr_[k_ - 1], u);
            } else {
                const std::uint32_t k1 = k_ - 8;
                e.symbol(corr_[k_ - 1], u >> k1);
                e.bits(k1, u & ((1U << k1) - 1));
            }
        }
    }
    std::uint32_t k_ = 0;

private:
    std::uint32_t corr_bits_, range_;
    std::int32_t min_;
    std::vector<Model> k_models_, corr_;
    BitModel corr0_;
};

// Median of five, as the reader keeps it.
struct Median5 {
    std::array<std::int32_t, 5> v{};
    bool high = true;
    void add(std::int32_t x) {
        if (high) {
            if (x < v[2]) {
                v[4] = v[3]; v[3] = v[2];
                if (x < v[0]) { v[2] = v[1]; v[1] = v[0]; v[0] = x; }
                else if (x < v[1]) { v[2] = v[1]; v[1] = x; }
                else v[2] = x;
            } else {
                if (x < v[3]) { v[4] = v[3]; v[3] = x; } else v[4] = x;
                high = false;
            }
        } else {
            if (v[2] < x) {
                v[0] = v[1]; v[1] = v[2];
                if (v[4] < x) { v[2] = v[3]; v[3] = v[4]; v[4] = x; }
                else if (v[3] < x) { v[2] = v[3]; v[3] = x; }
                else v[2] = x;
            } else {
                if (v[1] < x) { v[0] = v[1]; v[1] = x; } else v[0] = x;
                high = true;
            }
        }
    }
};

// One chunk of 20-byte POINT10 records, coded with version 2.
inline std::string point10_chunk(const std::vector<std::array<unsigned char, 20>>& recs) {
    static constexpr std::uint8_t kMap[8][8] = {
        {15, 14, 13, 12, 11, 10, 9, 8}, {14, 0, 1, 3, 6, 10, 10, 9},  {13, 1, 2, 4, 7, 11, 11, 10},
        {12, 3, 4, 5, 8, 12, 12, 11},   {11, 6, 7, 8, 9, 13, 13, 12}, {10, 10, 11, 12, 13, 14, 14, 13},
        {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};
    static constexpr std::uint8_t kLevel[8][8] = {
        {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 2, 3, 4, 5}, {3, 2, 1, 0, 1, 2, 3, 4},
        {4, 3, 2, 1, 0, 1, 2, 3}, {5, 4, 3, 2, 1, 0, 1, 2}, {6, 5, 4, 3, 2, 1, 0, 1}, {7, 6, 5, 4, 3, 2, 1, 0}};
    if (recs.empty()) return {};
    std::string out(reinterpret_cast<const char*>(recs[0].data()), 20);
    if (recs.size() == 1) return out;
    auto i32 = [](const unsigned char* p) { std::int32_t v; std::memcpy(&v, p, 4); return v; };
    auto u16 = [](const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); };
    Encoder e;
    Model changed(64);
    std::vector<Model> bit_byte(256, Model(256)), cls(256, Model(256)), user(256, Model(256)), angle(2, Model(256));
    IntCoder ic_int(16, 4), ic_src(16, 1), ic_dx(32, 2), ic_dy(32, 22), ic_z(32, 20);
    std::array<std::uint16_t, 16> last_int{};
    std::array<std::int32_t, 8> last_h{};
    std::array<Median5, 16> xm, ym;
    std::array<unsigned char, 20> last = recs[0];
    for (std::size_t i = 1; i < recs.size(); ++i) {
        const unsigned char* p = recs[i].data();
        const unsigned r = p[14] & 7U, n = (p[14] >> 3) & 7U, m = kMap[n][r], l = kLevel[n][r];
        const std::uint16_t inten = u16(p + 12);
        const unsigned cv = (last[14] != p[14]) << 5 | (last_int[m] != inten) << 4 | (last[15] != p[15]) << 3 |
                            (last[16] != p[16]) << 2 | (last[17] != p[17]) << 1 | (u16(&last[18]) != u16(p + 18));
        e.symbol(changed, cv);
        if (cv & 32) e.symbol(bit_byte[last[14]], p[14]);
        if (cv & 16) {
            ic_int.code(e, last_int[m], inten, m < 3 ? m : 3);
            last_int[m] = inten;
        }
        if (cv & 8) e.symbol(cls[last[15]], p[15]);
        if (cv & 4) e.symbol(angle[(p[14] >> 6) & 1U], static_cast<std::uint8_t>(p[16] - last[16]));
        if (cv & 2) e.symbol(user[last[17]], p[17]);
        if (cv & 1) ic_src.code(e, u16(&last[18]), u16(p + 18), 0);
        const std::uint32_t single = n == 1 ? 1 : 0;
        std::int32_t d = static_cast<std::int32_t>(static_cast<std::uint32_t>(i32(p)) - static_cast<std::uint32_t>(i32(&last[0])));
        ic_dx.code(e, xm[m].v[2], d, single);
        xm[m].add(d);
        d = static_cast<std::int32_t>(static_cast<std::uint32_t>(i32(p + 4)) - static_cast<std::uint32_t>(i32(&last[4])));
        ic_dy.code(e, ym[m].v[2], d, single + (ic_dx.k_ < 20 ? ic_dx.k_ & ~1U : 20));
        ym[m].add(d);
        const std::uint32_t kb = (ic_dx.k_ + ic_dy.k_) / 2;
        ic_z.code(e, last_h[l], i32(p + 8), single + (kb < 18 ? kb & ~1U : 18));
        last_h[l] = i32(p + 8);
        last = recs[i];
    }
    return out + e.done();
}

struct TableEntry {
    std::uint32_t points = 0, bytes = 0;
};

// The chunk table: version, count, then the coded counts.
inline std::string chunk_table(const std::vector<TableEntry>& entries, bool variable) {
    std::string out(8, '\0');
    const auto n = static_cast<std::uint32_t>(entries.size());
    std::memcpy(out.data() + 4, &n, 4);
    Encoder e;
    IntCoder ic(32, 2);
    TableEntry last;
    for (const TableEntry& t : entries) {
        if (variable) ic.code(e, static_cast<std::int32_t>(last.points), static_cast<std::int32_t>(t.points), 0);
        ic.code(e, static_cast<std::int32_t>(last.bytes), static_cast<std::int32_t>(t.bytes), 1);
        last = t;
    }
    return out + e.done();
}

// The compression record's payload: compressor, coder, version, options,
// chunk size, counts (-1: unknown) and the items (type, size, version).
inline std::string laz_record(std::uint16_t compressor, std::uint32_t chunk_size,
                              const std::vector<std::array<std::uint16_t, 3>>& items) {
    std::string s(34 + 6 * items.size(), '\0');
    using las_detail::put;
    put<std::uint16_t>(s, 0, compressor);
    s[4] = 2;
    s[5] = 2;
    put<std::uint32_t>(s, 12, chunk_size);
    put<std::int64_t>(s, 16, -1);
    put<std::int64_t>(s, 24, -1);
    put<std::uint16_t>(s, 32, static_cast<std::uint16_t>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i)
        for (std::size_t k = 0; k < 3; ++k) put<std::uint16_t>(s, 34 + 6 * i + 2 * k, items[i][k]);
    return s;
}

// Header and VLRs of a LAZ file: `shape` with the compression record as its
// only VLR (user "laszip encoded", record 22204) and the format's bit 7 set.
inline std::string laz_head(LasShape shape, std::uint64_t npoints, const std::string& record) {
    shape.format = static_cast<std::uint8_t>(shape.format | 0x80);
    shape.vlrs = {record};
    std::string s = las_head(shape, npoints);
    const std::size_t at = las_header_size(shape) < 227 ? 227 : las_header_size(shape);
    std::memset(s.data() + at, 0, 18);
    std::memcpy(s.data() + at + 2, "laszip encoded", 14);
    las_detail::put<std::uint16_t>(s, at + 18, 22204);
    return s;
}

// A format 0 LAZ file of the given records in chunks of chunk_size.
inline std::string point10_file(const std::vector<std::array<unsigned char, 20>>& recs, std::uint32_t chunk_size,
                                const LasShape& shape = {}) {
    std::string s = laz_head(shape, recs.size(), laz_record(2, chunk_size, {{6, 20, 2}}));
    const std::size_t table_at = s.size();
    s.append(8, '\0');
    std::vector<TableEntry> entries;
    for (std::size_t i = 0; i < recs.size(); i += chunk_size) {
        const std::vector<std::array<unsigned char, 20>> part(
            recs.begin() + static_cast<std::ptrdiff_t>(i),
            recs.begin() + static_cast<std::ptrdiff_t>(std::min(recs.size(), i + chunk_size)));
        const std::string c = point10_chunk(part);
        entries.push_back({static_cast<std::uint32_t>(part.size()), static_cast<std::uint32_t>(c.size())});
        s += c;
    }
    las_detail::put<std::uint64_t>(s, table_at, s.size());
    return s + chunk_table(entries, false);
}

// The same records in chunks of the given sizes, the sizes in the table
// (variable chunk size).
inline std::string point10_variable_file(const std::vector<std::array<unsigned char, 20>>& recs,
                                         const std::vector<std::size_t>& sizes) {
    std::string s = laz_head({}, recs.size(), laz_record(2, 0xFFFFFFFFU, {{6, 20, 2}}));
    const std::size_t table_at = s.size();
    s.append(8, '\0');
    std::vector<TableEntry> entries;
    std::size_t i = 0;
    for (const std::size_t n : sizes) {
        const std::vector<std::array<unsigned char, 20>> part(recs.begin() + static_cast<std::ptrdiff_t>(i),
                                                             recs.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
        const std::string c = point10_chunk(part);
        entries.push_back({static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(c.size())});
        s += c;
    }
    las_detail::put<std::uint64_t>(s, table_at, s.size());
    return s + chunk_table(entries, true);
}

// The point-wise compressor: one stream from the point data to the end, no
// chunk table.
inline std::string point10_pointwise_file(const std::vector<std::array<unsigned char, 20>>& recs) {
    return laz_head({}, recs.size(), laz_record(1, 0, {{6, 20, 2}})) + point10_chunk(recs);
}

// Format 0 records of a small synthetic terrain walk: varied returns,
// classes (2 and others), withheld flags, intensities.
inline std::vector<std::array<unsigned char, 20>> point10_records(std::size_t n, std::uint32_t seed) {
    std::vector<std::array<unsigned char, 20>> out(n);
    std::uint32_t s = seed * 2654435761U + 1;
    auto rnd = [&s] { s = s * 1664525U + 1013904223U; return s >> 8; };
    std::int32_t x = 100000, y = 200000, z = 5000;
    for (std::array<unsigned char, 20>& r : out) {
        x += static_cast<std::int32_t>(rnd() % 200) - 60;
        y += static_cast<std::int32_t>(rnd() % 50) - 25;
        z += static_cast<std::int32_t>(rnd() % 41) - 20;
        std::memcpy(r.data(), &x, 4);
        std::memcpy(r.data() + 4, &y, 4);
        std::memcpy(r.data() + 8, &z, 4);
        const std::uint16_t inten = static_cast<std::uint16_t>(rnd() % 300);
        std::memcpy(r.data() + 12, &inten, 2);
        const unsigned nret = 1 + rnd() % 3;
        r[14] = static_cast<unsigned char>((1 + rnd() % nret) | nret << 3 | (rnd() % 2) << 6);
        r[15] = static_cast<unsigned char>((rnd() % 4 == 0 ? 6 : 2) | (rnd() % 50 == 0 ? 0x80 : 0));
        r[16] = static_cast<unsigned char>(rnd() % 7);
        r[17] = 0;
        r[18] = static_cast<unsigned char>(rnd() % 3);
        r[19] = 0;
    }
    return out;
}

// Point format 7 from a format 8 file of POINT14, RGBNIR14 and BYTE14 items:
// its chunks without the NIR layer and the extra bytes' layers. Each layer is
// a stream of its own, so the rest decodes as before, the RGB layer as an
// RGB14 item; the VLR describing the extra bytes goes with them.
inline std::string format7_from_format8(const std::string& src, const std::string& name) {
    using las_detail::put;
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
    std::vector<TableEntry> entries;
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
    return out + chunk_table(entries, lay.chunk_size == 0xFFFFFFFFU);
}

}  // namespace krel::test::lazw

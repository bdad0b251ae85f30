#pragma once
// The writing half of LAZ for tests and benchmarks: the range encoder and
// integer compressor that mirror the reader's decoder, the chunk table and
// the compression record. With them a test rebuilds a sample's chunks into
// files no sample has (many chunks, point-wise, damaged tables). Written from
// the format, for our own files.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/laz_arith.hpp"
#include "support/las_writer.hpp"

namespace krel::test::lazw {

// The bit model's adaptation is the reader's own: the samples, coded by
// another writer, check it.
using io::laz::BitModel;

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
        const std::uint32_t x = m.bit0_prob * (length_ >> 13);
        if (b == 0) {
            length_ = x;
            ++m.bit0_count;
        } else {
            const std::uint32_t init = base_;
            base_ += x;
            length_ -= x;
            if (init > base_) carry();
        }
        if (length_ < kMin) renorm();
        if (--m.until_update == 0) m.update();
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

// A chunked LAZ file: `head` (header and VLRs up to the point data), the
// table offset, the chunks, the table of `entries`. table_offset -1: the
// table's true place.
inline std::string chunked_file(const std::string& head, const std::vector<std::string>& chunks,
                                const std::vector<TableEntry>& entries, bool variable, std::int64_t table_offset = -1) {
    std::string s = head;
    const std::size_t at = s.size();
    s.append(8, '\0');
    for (const std::string& c : chunks) s += c;
    las_detail::put<std::uint64_t>(s, at, table_offset < 0 ? s.size() : static_cast<std::uint64_t>(table_offset));
    return s + chunk_table(entries, variable);
}

}  // namespace krel::test::lazw

#include "io/laz_arith.hpp"

#include <algorithm>
#include <bit>
#include <cassert>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace krel::io::laz {

namespace {
constexpr std::uint32_t kSymbolMaxCount = 1U << kSymbolShift;
constexpr std::uint32_t kBitMaxCount = 1U << kBitShift;
}  // namespace

void SymbolModel::init(std::uint32_t symbols) {
    assert(symbols >= 2 && symbols <= 2048);
    symbols_ = symbols;
    last_symbol_ = symbols - 1;
    count_.assign(symbols, 1);
    // The state after a first update of the uniform counts; the distribution
    // it would store is computed on demand until the next update.
    total_count_ = symbols;
    uniform_scale_ = 0x80000000U / total_count_;
    uniform_shift_ = std::has_single_bit(symbols) ? kSymbolShift - static_cast<std::uint32_t>(std::countr_zero(symbols)) : 0;
    update_cycle_ = until_update_ = (symbols + 6) >> 1;
}

void SymbolModel::update() {
    total_count_ += update_cycle_;
    if (total_count_ > kSymbolMaxCount) {
        total_count_ = 0;
        for (std::uint16_t& c : count_) {
            c = static_cast<std::uint16_t>((c + 1) >> 1);
            total_count_ += c;
        }
    }
    // Counts are at least 1 and their total at most 2^15, so the scale is at
    // least 2^16 and the distribution strictly increasing: every symbol keeps
    // a non-empty share of the interval.
    const std::uint32_t scale = 0x80000000U / total_count_;
    if (uniform_scale_ != 0) {
        // The first update of this start: room for the distribution and
        // two cells or more per symbol, at least 2^6 and at most 2^12 cells.
        // A small model gets the finer table for little: its search then
        // seldom steps (a step is a branch on the decoded value), where two
        // cells a symbol had a third of the decodes step in models of 2 to
        // 32 symbols. Format 3 gained 3 to 5 %, the others moved within
        // the noise (at least 2^5 and 2^7 gained less, 2^8 lost).
        uniform_scale_ = 0;
        uniform_shift_ = 0;
        const auto bits = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::bit_width(last_symbol_)) + 1, 6, 12);
        table_shift_ = kSymbolShift - bits;
        table_.resize((std::size_t{1} << bits) + 1);
        cells_ = std::uint32_t{1} << bits;
        distribution_.resize(symbols_ + 1);
        distribution_[symbols_] = UINT32_MAX;
    }
    // Cell c starts at c << table_shift_; it gets the last symbol starting
    // at or before that, where the search for any value in the cell begins:
    // the largest k >= 1 whose start, rounded up to a cell, is at or before
    // c (0 if none). The rounded starts do not decrease with k, so each k is
    // stored at its rounded start, a later k over an earlier one, and the
    // table is the running maximum of what was stored (the starts are below
    // 2^15, so the rounded ones are at most the last cell). A plain store a
    // symbol: symbols that share a cell do not wait on each other.
    const std::uint32_t shift = table_shift_, symbols = symbols_;  // not reloaded after each store
    const std::uint32_t round = (1U << shift) - 1;
    std::uint16_t* table = table_.data();
    std::fill(table_.begin(), table_.end(), std::uint16_t{0});
    std::uint32_t* dist = distribution_.data();
    const std::uint16_t* count = count_.data();
    dist[0] = 0;
    std::uint32_t sum = count[0];
    for (std::uint32_t k = 1; k < symbols; ++k) {
        const std::uint32_t start = (scale * sum) >> (31 - kSymbolShift);
        dist[k] = start;
        table[(start + round) >> shift] = static_cast<std::uint16_t>(k);
        sum += count[k];
    }
    // The running maximum, eight cells at a time: within a group by three
    // shifted maxima, then the maximum before it (the group's last lane
    // carried on). Every value is below 2^11, so the signed 16-bit maximum
    // is the maximum. The cells before the last one are a multiple of eight
    // (2^6 or more).
#if defined(__SSE2__)
    const std::size_t groups = (table_.size() - 1) / 8;
    __m128i before = _mm_setzero_si128();
    for (std::size_t i = 0; i < groups; ++i) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 8 * i));
        v = _mm_max_epi16(v, _mm_slli_si128(v, 2));
        v = _mm_max_epi16(v, _mm_slli_si128(v, 4));
        v = _mm_max_epi16(v, _mm_slli_si128(v, 8));
        v = _mm_max_epi16(v, before);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(table + 8 * i), v);
        before = _mm_shuffle_epi32(_mm_shufflehi_epi16(v, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
    }
    const auto last = static_cast<std::uint16_t>(_mm_extract_epi16(before, 7));
    if (table[8 * groups] < last) table[8 * groups] = last;
#else
    for (std::size_t c = 1; c < table_.size(); ++c) table[c] = std::max(table[c], table[c - 1]);
#endif
    update_cycle_ = (5 * update_cycle_) >> 2;
    const std::uint32_t max_cycle = (symbols_ + 6) << 3;
    if (update_cycle_ > max_cycle) update_cycle_ = max_cycle;
    until_update_ = update_cycle_;
}

void BitModel::update() {
    bit_count += update_cycle;
    if (bit_count > kBitMaxCount) {
        bit_count = (bit_count + 1) >> 1;
        bit0_count = (bit0_count + 1) >> 1;
        if (bit0_count == bit_count) ++bit_count;
    }
    const std::uint32_t scale = 0x80000000U / bit_count;
    bit0_prob = (bit0_count * scale) >> (31 - kBitShift);
    update_cycle = (5 * update_cycle) >> 2;
    if (update_cycle > 64) update_cycle = 64;
    until_update = update_cycle;
}

void Decoder::start(const unsigned char* begin, const unsigned char* end) {
    p_ = begin;
    end_ = end;
    overrun_ = 0;
    length_ = 0xFFFFFFFFU;
    value_ = 0;
    for (int i = 0; i < 4; ++i) value_ = value_ << 8 | next_byte();
}

IntDecoder::IntDecoder(std::uint32_t bits, std::uint32_t contexts) {
    if (bits != 0 && bits < 32) {
        corr_bits_ = bits;
        corr_range_ = 1U << bits;
        corr_min_ = -static_cast<std::int32_t>(corr_range_ / 2);
    } else {
        corr_bits_ = 32;
        corr_range_ = 0;
        corr_min_ = INT32_MIN;
    }
    bits_.resize(contexts);
    corrector_.resize(corr_bits_);
    init();
}

// The models start on first use: most contexts and bit lengths never occur
// in a chunk (small chunks, as in octree pages, pay for every model made),
// and a model's start state does not depend on when it is made.
void IntDecoder::init() {
    for (SymbolModel& m : bits_) m.reset();
    for (SymbolModel& m : corrector_) m.reset();
    corrector0_ = BitModel{};
    k_ = 0;
}

}  // namespace krel::io::laz

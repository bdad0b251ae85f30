#pragma once
// The entropy decoder of LAZ: a 32-bit range decoder with adaptive symbol and
// bit models, and the integer decompressor that codes a value as a corrector
// to a prediction (its bit length k through one model, the bits through
// others). Integer arithmetic only: every step is defined on every input, so
// damaged data gives wrong values, never a fault.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace krel::io::laz {

inline constexpr std::uint32_t kSymbolShift = 15;  // distribution precision of symbol models
inline constexpr std::uint32_t kBitShift = 13;     // probability precision of bit models

// Adaptive model of `symbols` symbols (2 to 2048). Counts start at 1 and are
// halved when their total passes 2^15; the distribution is rebuilt after a
// cycle of decodes that grows by 5/4 up to 8 * (symbols + 6).
//
// Decoding looks the symbol up in a table over the distribution's top bits
// and steps forward from there. The table is the decoder's own: it only
// narrows where the search starts, and the search ends at the one symbol
// whose interval holds the value, so its size cannot change a result. Until
// its first update a model is uniform and needs neither table nor stored
// distribution: a small chunk (an octree page of a few points) then pays
// nothing for the many models it starts and hardly uses.
class SymbolModel {
public:
    SymbolModel() = default;
    explicit SymbolModel(std::uint32_t symbols) { init(symbols); }
    // (Re)starts the model at uniform counts; keeps the storage.
    void init(std::uint32_t symbols);
    [[nodiscard]] bool ready() const { return symbols_ != 0; }
    void reset() { symbols_ = 0; }  // marks it for init() on first use

private:
    friend class Decoder;
    void update();

    // Start of symbol k while the counts are still uniform (all 1): what the
    // first update stores, with the running sum equal to k.
    [[nodiscard]] std::uint32_t uniform_start(std::uint32_t k) const { return (uniform_scale_ * k) >> (31 - kSymbolShift); }

    std::uint32_t symbols_ = 0;  // 0: not initialised
    std::uint32_t last_symbol_ = 0;
    std::uint32_t uniform_scale_ = 0;  // nonzero: not updated yet, the distribution is uniform
    std::uint32_t uniform_shift_ = 0;  // nonzero: uniform over a power of two symbols, 15 - log2
    std::uint32_t table_shift_ = 0;
    std::uint32_t cells_ = 0;  // the table's last cell
    std::uint32_t total_count_ = 0, update_cycle_ = 0, until_update_ = 0;
    // Cumulative counts scaled to 2^15, symbols + 1 entries: the last is a
    // bound above any value a search compares with, so the step stops there.
    std::vector<std::uint32_t> distribution_;
    // Counts fit 16 bits: they sum to at most 2^15 after an update and grow
    // by at most a cycle (under 2^15) before the next. The narrow type also
    // tells the compiler that counting cannot touch the decoder's state.
    std::vector<std::uint16_t> count_;
    std::vector<std::uint16_t> table_;  // cell -> first symbol that can hold it
};

// Adaptive model of one bit: probability of 0 in 13 bits.
struct BitModel {
    std::uint32_t bit0_count = 1, bit_count = 2;
    std::uint32_t bit0_prob = 1U << 12;
    std::uint32_t until_update = 4, update_cycle = 4;
    void update();
};

// Range decoder over one byte range. Reading past the range gives zero bytes
// and counts them in overrun(): a valid stream never does that, so a caller
// that sees overrun() > 0 knows its data was cut off or damaged.
//
// Every step is forced inline: a caller that works on a local copy of the
// decoder (whose address then never escapes) keeps its state in registers
// from one symbol to the next instead of storing and reloading it around
// each call.
class Decoder {
public:
    Decoder() = default;
    // Starts on [begin, end): reads the first four bytes as the value.
    void start(const unsigned char* begin, const unsigned char* end);

    [[gnu::always_inline]] std::uint32_t decode_symbol(SymbolModel& m) {
        // The symbol is the last whose scaled start is at most value / length:
        // start * length <= value holds exactly when start <= value / length
        // (rounded down), and no product overflows (start < 2^15, length <
        // 2^17). Damaged data can put value past the interval; the table
        // index is then held to its last cell and the search gives the last
        // symbol, as for any value at the top.
        const std::uint32_t y0 = length_;
        length_ >>= kSymbolShift;
        const std::uint32_t dv = value_ / length_;
        std::uint32_t sym, x, y;
        if (m.uniform_scale_ == 0) [[likely]] {
            // Past the first update (most decodes): table and search.
            const std::uint32_t* dist = m.distribution_.data();
            sym = m.table_[std::min(dv >> m.table_shift_, m.cells_)];
            while (dist[sym + 1] <= dv) ++sym;
            x = dist[sym] * length_;
            y = sym == m.last_symbol_ ? y0 : dist[sym + 1] * length_;
        } else if (m.uniform_shift_ != 0) {
            // Uniform over 2^b symbols: the starts are k << (15 - b) exactly
            // (the scale is 2^(31 - b)), so the symbol is the value's top
            // bits, as the search below would find it.
            sym = std::min(dv >> m.uniform_shift_, m.last_symbol_);
            x = (sym << m.uniform_shift_) * length_;
            y = sym == m.last_symbol_ ? y0 : ((sym + 1) << m.uniform_shift_) * length_;
        } else {
            // Uniform: start(k) <= k * 2^15 / symbols, so the estimate below
            // starts at or before the symbol, and start(k) falls short of
            // that bound by less than two, so at most a step reaches it.
            sym = static_cast<std::uint32_t>(
                std::min<std::uint64_t>((std::uint64_t{dv} * m.symbols_) >> kSymbolShift, m.last_symbol_));
            while (sym != m.last_symbol_ && m.uniform_start(sym + 1) <= dv) ++sym;
            x = m.uniform_start(sym) * length_;
            y = sym == m.last_symbol_ ? y0 : m.uniform_start(sym + 1) * length_;
        }
        value_ -= x;
        length_ = y - x;
        renorm_step();
        ++m.count_[sym];
        if (--m.until_update_ == 0) m.update();
        return sym;
    }
    [[gnu::always_inline]] std::uint32_t decode_bit(BitModel& m) {
        // Both outcomes by masks: the bit is as unpredictable as the data.
        const std::uint32_t x = m.bit0_prob * (length_ >> kBitShift);
        const std::uint32_t sym = value_ < x ? 0 : 1;
        const std::uint32_t one = 0U - sym;
        value_ -= x & one;
        length_ = (x & ~one) | ((length_ - x) & one);
        m.bit0_count += sym ^ 1U;
        renorm_step();
        if (--m.until_update == 0) m.update();
        return sym;
    }
    [[gnu::always_inline]] std::uint32_t read_bits(std::uint32_t bits) {  // 1 to 32 raw bits
        assert(bits >= 1 && bits <= 32);
        std::uint32_t lo = 0, shift = 0;
        if (bits > 19) [[unlikely]] {  // the low half first
            lo = read_short();
            bits -= 16;
            shift = 16;
        }
        length_ >>= bits;
        const std::uint32_t sym = value_ / length_;
        value_ -= length_ * sym;
        if (length_ < kMinLength) renorm();
        return sym << shift | lo;
    }
    std::uint32_t read_int() {                    // 32 raw bits, low half first
        const std::uint32_t lo = read_short();
        return read_short() << 16 | lo;
    }

    [[nodiscard]] std::size_t overrun() const { return overrun_; }
    [[nodiscard]] const unsigned char* position() const { return p_; }

private:
    std::uint32_t read_short() {
        length_ >>= 16;
        const std::uint32_t sym = value_ / length_;
        value_ -= length_ * sym;
        if (length_ < kMinLength) renorm();
        return sym;
    }
    [[gnu::always_inline]] std::uint32_t next_byte() {
        if (p_ < end_) return *p_++;
        ++overrun_;
        return 0;
    }
    [[gnu::always_inline]] void renorm() {
        // length stays above 0 (every step keeps a positive share), so this
        // ends after at most three bytes.
        do {
            value_ = value_ << 8 | next_byte();
            length_ <<= 8;
        } while (length_ < kMinLength);
    }

    // renorm() after a symbol: the first byte is shifted in or not without a
    // branch, as the test's outcome is as often one way as the other, so the
    // chain from one symbol to the next carries no branch to mispredict; a
    // second byte (length fell below 2^16) is rare and branches to renorm().
    // The same bytes in the same order as renorm(); at the end of the range,
    // renorm() itself. Measured against a branch on the test and against
    // shifting in all bytes from length's leading zeros: formats 3, 7 and 8
    // gained 5 to 6 %, none lost. On x86-64 the select is one compare, two
    // conditional moves and an add of the carry, written out because the
    // compiler made it a branch or some 14 instructions of masks and shifts
    // by a variable count: formats 0 to 8 gained a further 6 to 19 %.
    [[gnu::always_inline]] void renorm_step() {
        if (p_ == end_) [[unlikely]] {
            if (length_ < kMinLength) renorm();
            return;
        }
#if defined(__x86_64__) && defined(__GNUC__) && !defined(KREL_PORTABLE)
        const std::uint32_t v8 = value_ << 8 | *p_;
        const std::uint32_t l8 = length_ << 8;
        asm("cmpl %[min], %[len]\n\t"
            "cmovb %[v8], %[val]\n\t"
            "cmovb %[l8], %[len]\n\t"
            "adcq $0, %[p]"
            : [val] "+r"(value_), [len] "+r"(length_), [p] "+r"(p_)
            : [v8] "r"(v8), [l8] "r"(l8), [min] "i"(kMinLength)
            : "cc");
#else
        const std::uint32_t low = length_ < kMinLength ? 1 : 0;
        const std::uint32_t shift = low << 3;
        value_ = value_ << shift | (*p_ & (0U - low));
        length_ <<= shift;
        p_ += low;
#endif
        if (length_ < kMinLength) [[unlikely]] renorm();
    }
    static constexpr std::uint32_t kMinLength = 0x01000000U;

    const unsigned char* p_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::size_t overrun_ = 0;
    std::uint32_t value_ = 0;
    std::uint32_t length_ = 0xFFFFFFFFU;
};

// Integer decompressor: value = prediction + corrector, wrapped into the
// range of `bits` bits (bits 32: plain 32-bit wrap). `contexts` separate
// models of the corrector's bit length; k() is the last length decoded,
// which the items use as context for the next value.
class IntDecoder {
public:
    IntDecoder(std::uint32_t bits, std::uint32_t contexts);
    void init();  // back to the start state (every chunk)
    std::int32_t decode(Decoder& dec, std::int32_t pred, std::uint32_t context) { return decode_here(dec, pred, context); }
    // decode() inlined wherever it is called, for a caller whose decoder is
    // a local copy kept in registers.
    [[gnu::always_inline]] std::int32_t decode_here(Decoder& dec, std::int32_t pred, std::uint32_t context) {
        SymbolModel& length = bits_[context];
        if (!length.ready()) length.init(corr_bits_ + 1);
        k_ = dec.decode_symbol(length);
        if (k_ > kBitsHigh) return decode_large(dec, pred);
        std::int32_t c;
        if (k_ == 0) {
            c = static_cast<std::int32_t>(dec.decode_bit(corrector0_));
        } else {
            SymbolModel& m = corrector_[k_ - 1];
            if (!m.ready()) m.init(1U << k_);
            // The corrector's k bits code [-(2^k - 1), -2^(k-1)] and [2^(k-1) + 1, 2^k].
            const auto u = static_cast<std::int32_t>(dec.decode_symbol(m));
            const std::int32_t below = u < (1 << (k_ - 1)) ? 1 : 0;
            c = u + 1 - ((1 << k_) & -below);
        }
        return wrap(pred, c);
    }
    [[nodiscard]] std::uint32_t k() const { return k_; }

private:
    // k_ above kBitsHigh: the high bits through a model, the rest raw.
    [[gnu::always_inline]] std::int32_t decode_large(Decoder& dec, std::int32_t pred) {
        std::int64_t c;
        if (k_ < 32) {
            SymbolModel& m = corrector_[k_ - 1];
            if (!m.ready()) m.init(1U << kBitsHigh);
            const std::uint32_t k1 = k_ - kBitsHigh;
            const std::uint32_t high = dec.decode_symbol(m);  // before the raw low bits
            c = high << k1 | dec.read_bits(k1);
            if (c >= (std::int64_t{1} << (k_ - 1)))
                c += 1;
            else
                c -= (std::int64_t{1} << k_) - 1;
        } else {
            c = corr_min_;
        }
        return wrap(pred, c);
    }
    // prediction + corrector in the value's range: wrapped once each way, as
    // the coder did; damaged data may leave it outside, and the cast then
    // keeps the low bits.
    [[nodiscard]] std::int32_t wrap(std::int32_t pred, std::int64_t c) const {
        std::int64_t real = static_cast<std::int64_t>(pred) + c;
        if (corr_range_ == 0) return static_cast<std::int32_t>(static_cast<std::uint32_t>(real));
        if (real < 0)
            real += corr_range_;
        else if (real >= static_cast<std::int64_t>(corr_range_))
            real -= corr_range_;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(real));
    }

    static constexpr std::uint32_t kBitsHigh = 8;
    std::uint32_t corr_bits_, corr_range_;
    std::int32_t corr_min_;
    std::uint32_t k_ = 0;
    std::vector<SymbolModel> bits_;       // by context: corrector bit length 0..corr_bits
    std::vector<SymbolModel> corrector_;  // by bit length - 1
    BitModel corrector0_;
};

}  // namespace krel::io::laz

#pragma once
// The entropy decoder of LAZ: a 32-bit range decoder with adaptive symbol and
// bit models, and the integer decompressor that codes a value as a corrector
// to a prediction (its bit length k through one model, the bits through
// others). Integer arithmetic only: every step is defined on every input, so
// damaged data gives wrong values, never a fault.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krel::io::laz {

// Adaptive model of `symbols` symbols (2 to 2048). Counts start at 1 and are
// halved when their total passes 2^15; the distribution is rebuilt after a
// cycle of decodes that grows by 5/4 up to 8 * (symbols + 6). Models of more
// than 16 symbols carry a lookup table that narrows the search.
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

    std::uint32_t symbols_ = 0;  // 0: not initialised
    std::uint32_t last_symbol_ = 0;
    std::uint32_t table_shift_ = 0, table_size_ = 0;
    std::uint32_t total_count_ = 0, update_cycle_ = 0, until_update_ = 0;
    std::vector<std::uint32_t> distribution_;  // cumulative, scaled to 2^15
    std::vector<std::uint32_t> count_;
    std::vector<std::uint32_t> table_;  // table_size_ + 2 entries, or none
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
class Decoder {
public:
    Decoder() = default;
    // Starts on [begin, end): reads the first four bytes as the value.
    void start(const unsigned char* begin, const unsigned char* end);

    std::uint32_t decode_symbol(SymbolModel& m);
    std::uint32_t decode_bit(BitModel& m);
    std::uint32_t read_bits(std::uint32_t bits);  // 1 to 32 raw bits
    std::uint32_t read_int() {                    // 32 raw bits, low half first
        const std::uint32_t lo = read_short();
        return read_short() << 16 | lo;
    }

    [[nodiscard]] std::size_t overrun() const { return overrun_; }
    [[nodiscard]] const unsigned char* position() const { return p_; }

private:
    std::uint32_t read_short();
    std::uint32_t next_byte() {
        if (p_ < end_) return *p_++;
        ++overrun_;
        return 0;
    }
    void renorm() {
        // length stays above 0 (every step keeps a positive share), so this
        // ends after at most three bytes.
        do {
            value_ = value_ << 8 | next_byte();
            length_ <<= 8;
        } while (length_ < kMinLength);
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
    std::int32_t decode(Decoder& dec, std::int32_t pred, std::uint32_t context);
    [[nodiscard]] std::uint32_t k() const { return k_; }

private:
    static constexpr std::uint32_t kBitsHigh = 8;
    std::uint32_t corr_bits_, corr_range_;
    std::int32_t corr_min_;
    std::uint32_t k_ = 0;
    std::vector<SymbolModel> bits_;       // by context: corrector bit length 0..corr_bits
    std::vector<SymbolModel> corrector_;  // by bit length - 1
    BitModel corrector0_;
};

}  // namespace krel::io::laz

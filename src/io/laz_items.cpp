#include "io/laz_items.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "io/laz_coders.hpp"
#include "io/laz_point14.hpp"

namespace krel::io::laz {

namespace {

// Contexts of the version 2 point coder by return number r and count n
// (3 bits each): wrong or swapped r and n get contexts of their own.
constexpr std::uint8_t kReturnMap[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8}, {14, 0, 1, 3, 6, 10, 10, 9},  {13, 1, 2, 4, 7, 11, 11, 10},
    {12, 3, 4, 5, 8, 12, 12, 11},   {11, 6, 7, 8, 9, 13, 13, 12}, {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};
constexpr std::uint8_t kReturnLevel[8][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 2, 3, 4, 5}, {3, 2, 1, 0, 1, 2, 3, 4},
    {4, 3, 2, 1, 0, 1, 2, 3}, {5, 4, 3, 2, 1, 0, 1, 2}, {6, 5, 4, 3, 2, 1, 0, 1}, {7, 6, 5, 4, 3, 2, 1, 0}};

}  // namespace

// POINT10, version 2: a symbol says which of the fields besides X, Y and Z
// changed; X and Y are coded against the median of the last five
// differences, Z against the last Z of the same return level.
class Point10Coder {
public:
    void first(const unsigned char* rec) {
        x_ = get32(rec);
        y_ = get32(rec + 4);
        z_ = get32(rec + 8);
        intensity_ = 0;  // the coder's start state, whatever the first record holds
        bits_ = rec[14];
        class_ = rec[15];
        angle_ = rec[16];
        user_ = rec[17];
        source_ = get16(rec + 18);
        changed_.init(64);
        for (SymbolModel& m : bit_byte_) m.reset();
        for (SymbolModel& m : classification_) m.reset();
        for (SymbolModel& m : user_data_) m.reset();
        for (SymbolModel& m : angle_model_) m.reset();
        ic_intensity_.init();
        ic_source_.init();
        ic_dx_.init();
        ic_dy_.init();
        ic_z_.init();
        last_intensity_.fill(0);
        last_height_.fill(0);
        x_median_.fill(Median5{});
        y_median_.fill(Median5{});
    }

    [[gnu::always_inline]] void decode(Decoder& stream, unsigned char* rec) {
        Decoder d = stream;  // a local copy: in registers (see Decoder)
        const std::uint32_t changed = d.decode_symbol(changed_);
        if (changed & 32) bits_ = static_cast<std::uint8_t>(d.decode_symbol(lazy(bit_byte_[bits_], 256)));
        const unsigned r = bits_ & 7U, n = (bits_ >> 3) & 7U;
        const unsigned m = kReturnMap[n][r], l = kReturnLevel[n][r];
        if (changed != 0) {
            if (changed & 16) {
                intensity_ = static_cast<std::uint16_t>(ic_intensity_.decode_here(d, last_intensity_[m], m < 3 ? m : 3));
                last_intensity_[m] = intensity_;
            } else {
                intensity_ = last_intensity_[m];
            }
            if (changed & 8) class_ = static_cast<std::uint8_t>(d.decode_symbol(lazy(classification_[class_], 256)));
            if (changed & 4)
                angle_ = static_cast<std::uint8_t>(angle_ + d.decode_symbol(lazy(angle_model_[(bits_ >> 6) & 1U], 256)));
            if (changed & 2) user_ = static_cast<std::uint8_t>(d.decode_symbol(lazy(user_data_[user_], 256)));
            if (changed & 1) source_ = static_cast<std::uint16_t>(ic_source_.decode_here(d, source_, 0));
        }
        const std::uint32_t single = n == 1 ? 1 : 0;
        std::int32_t diff = ic_dx_.decode_here(d, x_median_[m].get(), single);
        x_ = wrap_add(x_, diff);
        x_median_[m].add(diff);
        diff = ic_dy_.decode_here(d, y_median_[m].get(), single + k_context(ic_dx_.k(), 20));
        y_ = wrap_add(y_, diff);
        y_median_[m].add(diff);
        z_ = ic_z_.decode_here(d, last_height_[l], single + k_context((ic_dx_.k() + ic_dy_.k()) / 2, 18));
        last_height_[l] = z_;

        stream = d;
        put32(rec, x_);
        put32(rec + 4, y_);
        put32(rec + 8, z_);
        put16(rec + 12, intensity_);
        rec[14] = bits_;
        rec[15] = class_;
        rec[16] = angle_;
        rec[17] = user_;
        put16(rec + 18, source_);
    }

private:
    std::int32_t x_ = 0, y_ = 0, z_ = 0;
    std::uint16_t intensity_ = 0, source_ = 0;
    std::uint8_t bits_ = 0, class_ = 0, angle_ = 0, user_ = 0;
    SymbolModel changed_;
    std::array<SymbolModel, 256> bit_byte_, classification_, user_data_;  // by the last value
    std::array<SymbolModel, 2> angle_model_;                              // by the scan direction
    IntDecoder ic_intensity_{16, 4}, ic_source_{16, 1}, ic_dx_{32, 2}, ic_dy_{32, 22}, ic_z_{32, 20};
    std::array<std::uint16_t, 16> last_intensity_{};
    std::array<std::int32_t, 8> last_height_{};
    std::array<Median5, 16> x_median_, y_median_;
};

// GPSTIME11, version 2: up to four time sequences; a time is a multiple of
// the sequence's last difference plus a corrector, or a jump to another
// sequence, or a new full 64-bit value.
class Gps11Coder {
public:
    void first(const unsigned char* rec) {
        std::uint64_t t = 0;
        for (int i = 7; i >= 0; --i) t = t << 8 | rec[i];
        times_ = {t, 0, 0, 0};
        diffs_.fill(0);
        extremes_.fill(0);
        last_ = next_ = 0;
        multi_.init(kMultiTotal);
        zero_diff_.init(6);
        ic_.init();
    }

    [[gnu::always_inline]] void decode(Decoder& stream, unsigned char* rec) {
        Decoder d = stream;  // a local copy: in registers (see Decoder)
        // A jump to another sequence codes that sequence's time next; a valid
        // stream jumps once, damaged data is cut off after four.
        for (int jumps = 0; jumps < 4; ++jumps) {
            if (diffs_[last_] == 0) {
                const std::uint32_t multi = d.decode_symbol(zero_diff_);
                if (multi == 1) {
                    diffs_[last_] = ic_.decode(d, 0, 0);
                    add(diffs_[last_]);
                    extremes_[last_] = 0;
                } else if (multi == 2) {
                    full(d);
                } else if (multi > 2) {
                    last_ = (last_ + multi - 2) & 3U;
                    continue;
                }
            } else {
                const auto multi = static_cast<std::int32_t>(d.decode_symbol(multi_));
                // The two common codes inline, the rest through the call.
                if (multi == 1) {
                    add(ic_.decode_here(d, diffs_[last_], 1));
                    extremes_[last_] = 0;
                } else if (multi < kUnchanged) {
                    std::int32_t diff;
                    if (multi == 0) {
                        diff = ic_.decode(d, 0, 7);
                        extreme(diff);
                    } else if (multi < kMulti) {
                        diff = ic_.decode_here(d, times(multi, diffs_[last_]), multi < 10 ? 2 : 3);
                    } else if (multi == kMulti) {
                        diff = ic_.decode(d, times(multi, diffs_[last_]), 4);
                        extreme(diff);
                    } else {
                        const std::int32_t minus = kMulti - multi;
                        if (minus > kMultiMinus) {
                            diff = ic_.decode(d, times(minus, diffs_[last_]), 5);
                        } else {
                            diff = ic_.decode(d, times(kMultiMinus, diffs_[last_]), 6);
                            extreme(diff);
                        }
                    }
                    add(diff);
                } else if (multi == kCodeFull) {
                    full(d);
                } else if (multi > kCodeFull) {
                    last_ = (last_ + static_cast<unsigned>(multi - kCodeFull)) & 3U;
                    continue;
                }
            }
            break;
        }
        stream = d;
        put64(rec, times_[last_]);
    }

private:
    static constexpr std::int32_t kMulti = 500, kMultiMinus = -10;
    static constexpr std::int32_t kUnchanged = kMulti - kMultiMinus + 1;
    static constexpr std::int32_t kCodeFull = kMulti - kMultiMinus + 2;
    static constexpr std::uint32_t kMultiTotal = kMulti - kMultiMinus + 6;

    static std::int32_t times(std::int32_t a, std::int32_t b) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
    }
    void add(std::int32_t diff) {
        times_[last_] += static_cast<std::uint64_t>(static_cast<std::int64_t>(diff));
    }
    void extreme(std::int32_t diff) {
        if (++extremes_[last_] > 3) {
            diffs_[last_] = diff;
            extremes_[last_] = 0;
        }
    }
    void full(Decoder& d) {
        next_ = (next_ + 1) & 3U;
        const auto hi = static_cast<std::uint32_t>(
            ic_.decode(d, static_cast<std::int32_t>(static_cast<std::uint32_t>(times_[last_] >> 32)), 8));
        times_[next_] = static_cast<std::uint64_t>(hi) << 32 | d.read_int();
        last_ = next_;
        diffs_[last_] = 0;
        extremes_[last_] = 0;
    }

    std::array<std::uint64_t, 4> times_{};  // the double's bits
    std::array<std::int32_t, 4> diffs_{}, extremes_{};
    unsigned last_ = 0, next_ = 0;
    SymbolModel multi_, zero_diff_;
    IntDecoder ic_{32, 9};
};

// RGB12, version 2: which bytes changed, then each changed byte against the
// last one, green and blue predicted from the change of red.
class Rgb12Coder {
public:
    void first(const unsigned char* rec) {
        for (int i = 0; i < 3; ++i) last_[i] = get16(rec + 2 * i);
        used_.init(128);
        for (SymbolModel& m : byte_) m.init(256);
    }

    [[gnu::always_inline]] void decode(Decoder& stream, unsigned char* rec) {
        Decoder d = stream;  // a local copy: in registers (see Decoder)
        const std::uint32_t sym = d.decode_symbol(used_);
        std::array<std::uint32_t, 3> now{};
        const auto lo = [](std::uint32_t v) { return static_cast<std::int32_t>(v & 0xFF); };
        const auto hi = [](std::uint32_t v) { return static_cast<std::int32_t>(v >> 8); };
        const auto clamp = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
        const auto plus = [](std::uint32_t corr, std::uint32_t pred) { return (corr + pred) & 0xFFU; };
        const std::array<std::uint32_t, 3>& last = last_;
        now[0] = sym & 1 ? plus(d.decode_symbol(byte_[0]), last[0] & 0xFF) : last[0] & 0xFF;
        now[0] |= (sym & 2 ? plus(d.decode_symbol(byte_[1]), last[0] >> 8) : last[0] >> 8) << 8;
        if (sym & 64) {
            std::int32_t diff = lo(now[0]) - lo(last[0]);
            now[1] = sym & 4 ? plus(d.decode_symbol(byte_[2]), clamp(diff + lo(last[1]))) : last[1] & 0xFF;
            if (sym & 16) {
                diff = (diff + lo(now[1]) - lo(last[1])) / 2;
                now[2] = plus(d.decode_symbol(byte_[4]), clamp(diff + lo(last[2])));
            } else {
                now[2] = last[2] & 0xFF;
            }
            diff = hi(now[0]) - hi(last[0]);
            now[1] |= (sym & 8 ? plus(d.decode_symbol(byte_[3]), clamp(diff + hi(last[1]))) : last[1] >> 8) << 8;
            if (sym & 32) {
                diff = (diff + hi(now[1]) - hi(last[1])) / 2;
                now[2] |= plus(d.decode_symbol(byte_[5]), clamp(diff + hi(last[2]))) << 8;
            } else {
                now[2] |= last[2] & 0xFF00;
            }
        } else {
            now[1] = now[2] = now[0];
        }
        stream = d;
        last_ = now;
        for (int i = 0; i < 3; ++i) put16(rec + 2 * i, now[i]);
    }

private:
    std::array<std::uint32_t, 3> last_{};  // red, green, blue
    SymbolModel used_;
    std::array<SymbolModel, 6> byte_;  // low red, high red, low green, high green, low blue, high blue
};

// BYTE, version 2: each byte as the difference to its last value.
class ByteCoder {
public:
    explicit ByteCoder(std::size_t n) : last_(n), model_(n) {}
    void first(const unsigned char* rec) {
        std::memcpy(last_.data(), rec, last_.size());
        for (SymbolModel& m : model_) m.init(256);
    }
    void decode(Decoder& d, unsigned char* rec) {
        for (std::size_t i = 0; i < last_.size(); ++i) {
            last_[i] = static_cast<unsigned char>(last_[i] + d.decode_symbol(model_[i]));
            rec[i] = last_[i];
        }
    }

private:
    std::vector<unsigned char> last_;
    std::vector<SymbolModel> model_;
};

// WAVEPACKET13 (formats 4 and 5): the descriptor index through a model; the
// offset to the waveform data as the last one, the last one plus the last
// packet's size, the last one plus a coded difference, or 64 raw bits; the
// packet size, the return point's location and the X, Y and Z steps (floats,
// coded as their bits) each against its last value. Writers label the item
// version 1 or 2; both are this coder.
class Wave13Coder {
public:
    void first(const unsigned char* rec) {
        std::memcpy(last_.data(), rec, last_.size());
        index_.reset();
        for (SymbolModel& m : offset_kind_) m.reset();
        ic_offset_.init();
        ic_size_.init();
        ic_return_.init();
        ic_xyz_.init();
        last_kind_ = 0;
        last_diff_ = 0;
    }
    void decode(Decoder& d, unsigned char* rec) {
        rec[0] = static_cast<unsigned char>(d.decode_symbol(lazy(index_, 256)));
        std::uint64_t offset = get64(last_.data() + 1);
        const auto size = static_cast<std::uint32_t>(get32(last_.data() + 9));
        last_kind_ = d.decode_symbol(lazy(offset_kind_[last_kind_], 4));
        if (last_kind_ == 1) {
            offset += size;
        } else if (last_kind_ == 2) {
            last_diff_ = ic_offset_.decode(d, last_diff_, 0);
            offset += static_cast<std::uint64_t>(std::int64_t{last_diff_});
        } else if (last_kind_ == 3) {
            const std::uint64_t lo = d.read_int();
            offset = std::uint64_t{d.read_int()} << 32 | lo;
        }
        put64(rec + 1, offset);
        put32(rec + 9, ic_size_.decode(d, static_cast<std::int32_t>(size), 0));
        put32(rec + 13, ic_return_.decode(d, get32(last_.data() + 13), 0));
        for (std::uint32_t k = 0; k < 3; ++k) put32(rec + 17 + 4 * k, ic_xyz_.decode(d, get32(last_.data() + 17 + 4 * k), k));
        std::memcpy(last_.data(), rec, last_.size());
    }

private:
    std::array<unsigned char, 29> last_{};
    SymbolModel index_;
    std::array<SymbolModel, 4> offset_kind_;  // by the last kind
    IntDecoder ic_offset_{32, 1}, ic_size_{32, 1}, ic_return_{32, 1}, ic_xyz_{32, 3};
    std::uint32_t last_kind_ = 0;
    std::int32_t last_diff_ = 0;
};

std::string item_name(std::uint16_t type) {
    switch (static_cast<ItemType>(type)) {
    case ItemType::byte: return "BYTE";
    case ItemType::point10: return "POINT10";
    case ItemType::gpstime11: return "GPSTIME11";
    case ItemType::rgb12: return "RGB12";
    case ItemType::wavepacket13: return "WAVEPACKET13";
    case ItemType::point14: return "POINT14";
    case ItemType::rgb14: return "RGB14";
    case ItemType::rgbnir14: return "RGBNIR14";
    case ItemType::wavepacket14: return "WAVEPACKET14";
    case ItemType::byte14: return "BYTE14";
    }
    return "type " + std::to_string(type);
}

std::optional<std::string> check_items(const std::vector<Item>& items, std::size_t record_length) {
    if (items.empty()) return "the item list is empty";
    const bool layered = items[0].type == static_cast<std::uint16_t>(ItemType::point14);
    std::size_t sum = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& it = items[i];
        const std::string name = item_name(it.type) + " version " + std::to_string(it.version);
        std::size_t want = 0;  // fixed size, 0: any size from 1
        bool plain = false;    // an item of formats 0 to 5
        switch (static_cast<ItemType>(it.type)) {
        case ItemType::byte: plain = true; break;
        case ItemType::point10: want = 20; plain = true; break;
        case ItemType::gpstime11: want = 8; plain = true; break;
        case ItemType::rgb12: want = 6; plain = true; break;
        case ItemType::wavepacket13: want = 29; plain = true; break;
        case ItemType::point14: want = 30; break;
        case ItemType::rgb14: want = 6; break;
        case ItemType::rgbnir14: want = 8; break;
        case ItemType::wavepacket14: want = 29; break;
        case ItemType::byte14: break;
        default: return "LAZ item " + name + " is not supported";
        }
        if (plain == layered) return "LAZ item " + name + " cannot be mixed with " + item_name(items[0].type);
        if (layered && it.type == static_cast<std::uint16_t>(ItemType::point14) && i != 0)
            return "LAZ item list holds POINT14 twice";
        if (!layered && it.type == static_cast<std::uint16_t>(ItemType::point10) && i != 0)
            return "LAZ item list: POINT10 must come first";
        if (!layered && i == 0 && it.type != static_cast<std::uint16_t>(ItemType::point10))
            return "LAZ item list: POINT10 must come first";
        const bool wave13 = it.type == static_cast<std::uint16_t>(ItemType::wavepacket13);
        if (wave13 && it.version != 1 && it.version != 2)
            return "LAZ item " + name + " is not supported (only versions 1 and 2)";
        if (plain && !wave13 && it.version != 2) return "LAZ item " + name + " is not supported (only version 2)";
        if (!plain && it.version != 3 && it.version != 4)
            return "LAZ item " + name + " is not supported (only versions 3 and 4)";
        if ((want != 0 && it.size != want) || it.size == 0)
            return "LAZ item " + name + " has size " + std::to_string(it.size);
        sum += it.size;
    }
    if (sum != record_length)
        return "LAZ items make records of " + std::to_string(sum) + " bytes, the header says " +
               std::to_string(record_length);
    return std::nullopt;
}

ChunkDecoder::ChunkDecoder(const std::vector<Item>& items, bool every_layer) : items_(items), every_layer_(every_layer) {
    layered_ = items_[0].type == static_cast<std::uint16_t>(ItemType::point14);
    for (const Item& it : items_) {
        offsets_.push_back(record_length_);
        record_length_ += it.size;
        if (layered_) continue;
        switch (static_cast<ItemType>(it.type)) {
        case ItemType::point10: point10_ = std::make_unique<Point10Coder>(); break;
        case ItemType::gpstime11: gps11_ = std::make_unique<Gps11Coder>(); break;
        case ItemType::rgb12: rgb12_ = std::make_unique<Rgb12Coder>(); break;
        case ItemType::wavepacket13: wave13_ = std::make_unique<Wave13Coder>(); break;
        default: bytes_.push_back(std::make_unique<ByteCoder>(it.size)); break;
        }
    }
    if (layered_) point14_ = std::make_unique<Point14Coder>(every_layer_);
    first_.resize(record_length_);
    std::vector<std::uint16_t> types;
    for (const Item& it : items_) types.push_back(it.type);
    const auto p10 = static_cast<std::uint16_t>(ItemType::point10), gps = static_cast<std::uint16_t>(ItemType::gpstime11),
               rgb = static_cast<std::uint16_t>(ItemType::rgb12);
    if (types == std::vector<std::uint16_t>{p10}) plain_ = Plain::point10;
    if (types == std::vector<std::uint16_t>{p10, gps}) plain_ = Plain::gps;
    if (types == std::vector<std::uint16_t>{p10, rgb}) plain_ = Plain::rgb;
    if (types == std::vector<std::uint16_t>{p10, gps, rgb}) plain_ = Plain::gps_rgb;
}

ChunkDecoder::~ChunkDecoder() = default;

bool ChunkDecoder::start(const unsigned char* begin, const unsigned char* end, std::uint64_t points) {
    points_ = points;
    done_ = 0;
    damaged_ = false;
    if (points == 0) return true;
    if (static_cast<std::size_t>(end - begin) < record_length_) return false;
    std::memcpy(first_.data(), begin, record_length_);
    const unsigned char* p = begin + record_length_;
    if (layered_) return start_layered(p, end);
    std::size_t b = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const unsigned char* rec = first_.data() + offsets_[i];
        switch (static_cast<ItemType>(items_[i].type)) {
        case ItemType::point10: point10_->first(rec); break;
        case ItemType::gpstime11: gps11_->first(rec); break;
        case ItemType::rgb12: rgb12_->first(rec); break;
        case ItemType::wavepacket13: wave13_->first(rec); break;
        default: bytes_[b++]->first(rec); break;
        }
    }
    if (points > 1) dec_.start(p, end);
    return true;
}

namespace {
// Layers of each layered item: POINT14 has nine, BYTE14 one per byte.
std::size_t layer_count(const Item& it) {
    switch (static_cast<ItemType>(it.type)) {
    case ItemType::point14: return 9;
    case ItemType::rgbnir14: return 2;
    case ItemType::byte14: return it.size;
    default: return 1;
    }
}
}  // namespace

// A layered chunk: the first record, the record count, every layer's size
// (all items, in item order), then the layers in the same order.
bool ChunkDecoder::start_layered(const unsigned char* p, const unsigned char* end) {
    point14_->first(first_.data());
    if (points_ == 1) return true;
    std::size_t layers = 0;
    for (const Item& it : items_) layers += layer_count(it);
    if (static_cast<std::size_t>(end - p) < 4 + 4 * layers) return false;
    p += 4;  // the record count; the chunk table's count is the one used
    std::vector<std::uint32_t>& size = layer_sizes_;
    size.resize(layers);
    for (std::uint32_t& s : size) {
        s = static_cast<std::uint32_t>(get32(p));
        p += 4;
    }
    std::uint64_t total = 0;
    for (const std::uint32_t s : size) total += s;
    if (total > static_cast<std::uint64_t>(end - p)) return false;
    // POINT14's layers in order: X/Y, Z, class, flags, then intensity, scan
    // angle, user data, point source, GPS time, which are skipped, like the
    // other items' layers. Skipping cannot change what is decoded: each layer
    // is a stream of its own with its own models, and the four decoded here
    // take their contexts only from each other (returns, scanner channel,
    // the GPS-time-changed bit of the X/Y layer) and from their own last
    // values, never from a skipped field; their bytes are never read. The
    // tests hold these fields against the twins decoded whole by another
    // decoder, and against this one decoding every layer (every_layer_).
    const int decoded = every_layer_ ? Point14Coder::kLayers : Point14Coder::kRunLayers;
    for (int k = 0; k < Point14Coder::kLayers; ++k) {
        layer_on_[k] = k < decoded && (size[k] != 0 || k == Point14Coder::xy);
        if (layer_on_[k]) {
            layer_[k].start(p, p + size[k]);
        } else {
            layer_[k] = Decoder{};  // reads nothing, and has overrun nothing (Point14Coder tests them all)
        }
        p += size[k];
    }
    return true;
}

bool ChunkDecoder::overrun() const {
    if (!layered_) return dec_.overrun() != 0;
    for (int k = 0; k < Point14Coder::kLayers; ++k)
        if (layer_on_[k] && layer_[k].overrun() != 0) return true;
    return false;
}

// Formats 0 to 3: the items of a record on the one stream, its decoder a
// local copy kept in registers from item to item and the loop's counters in
// locals (the records are written as bytes, which may alias any member).
// The same calls in the same order as the general loop below.
template <bool Gps, bool Rgb>
std::size_t ChunkDecoder::decode_point10(unsigned char* out, std::size_t n) {
    const std::size_t gps_at = Gps ? offsets_[1] : 0, rgb_at = Rgb ? offsets_[Gps ? 2 : 1] : 0;
    const std::size_t length = record_length_;
    const std::uint64_t points = points_;
    std::uint64_t done = done_;
    bool damaged = damaged_;
    Decoder d = dec_;
    std::size_t made = 0;
    while (made < n && done < points && !damaged) {
        unsigned char* rec = out + made * length;
        if (done == 0) {
            std::memcpy(rec, first_.data(), length);
        } else {
            point10_->decode(d, rec);
            if constexpr (Gps) gps11_->decode(d, rec + gps_at);
            if constexpr (Rgb) rgb12_->decode(d, rec + rgb_at);
        }
        ++done;
        ++made;
        if (done > 1 && d.overrun() != 0) damaged = true;
    }
    dec_ = d;
    done_ = done;
    damaged_ = damaged;
    return made;
}

std::size_t ChunkDecoder::decode(unsigned char* out, std::size_t n) {
    switch (plain_) {
    case Plain::point10: return decode_point10<false, false>(out, n);
    case Plain::gps: return decode_point10<true, false>(out, n);
    case Plain::rgb: return decode_point10<false, true>(out, n);
    case Plain::gps_rgb: return decode_point10<true, true>(out, n);
    case Plain::other: break;
    }
    if (layered_) {
        // Every record starts as the first, in bulk (doubling the copied
        // span), and the coder writes the fields it decodes over it.
        const auto m = static_cast<std::size_t>(std::min<std::uint64_t>(n, points_ - done_));
        if (m > 0) std::memcpy(out, first_.data(), record_length_);
        for (std::size_t have = 1; have < m;) {
            const std::size_t more = std::min(have, m - have);
            std::memcpy(out + have * record_length_, out, more * record_length_);
            have += more;
        }
    }
    std::size_t made = 0;
    if (layered_) {
        if (n > 0 && done_ == 0 && points_ > 0) {  // the first record is already in place
            ++done_;
            ++made;
        }
        const auto m = static_cast<std::size_t>(std::min<std::uint64_t>(n - made, points_ - done_));
        if (m > 0 && !damaged_) {
            const std::size_t k = point14_->decode(layer_, layer_on_, out + made * record_length_, record_length_, m);
            done_ += k;
            made += k;
            if (overrun()) damaged_ = true;
        }
        return made;
    }
    while (made < n && done_ < points_ && !damaged_) {
        unsigned char* rec = out + made * record_length_;
        if (done_ == 0) {
            std::memcpy(rec, first_.data(), record_length_);
        } else {
            std::size_t b = 0;
            for (std::size_t i = 0; i < items_.size(); ++i) {
                unsigned char* field = rec + offsets_[i];
                switch (static_cast<ItemType>(items_[i].type)) {
                case ItemType::point10: point10_->decode(dec_, field); break;
                case ItemType::gpstime11: gps11_->decode(dec_, field); break;
                case ItemType::rgb12: rgb12_->decode(dec_, field); break;
                case ItemType::wavepacket13: wave13_->decode(dec_, field); break;
                default: bytes_[b++]->decode(dec_, field); break;
                }
            }
        }
        ++done_;
        ++made;
        if (done_ > 1 && overrun()) damaged_ = true;
    }
    return made;
}

}  // namespace krel::io::laz

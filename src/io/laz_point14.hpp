#pragma once
// The POINT14 coder of LAZ versions 3 and 4 (point formats 6 to 10), the
// layers the point reader needs. Internal to the LAZ reader.

#include <array>
#include <cstdint>

#include "io/laz_arith.hpp"
#include "io/laz_coders.hpp"

namespace krel::io::laz {

// Contexts of the layered coder by return number r and count n (4 bits
// each): 6 for X and Y, 8 levels for Z.
inline constexpr std::uint8_t kReturnMap6[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3}, {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5}};
inline constexpr std::uint8_t kReturnLevel8[16][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7}, {1, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7, 7, 7, 7},
    {2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7, 7, 7}, {3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7, 7},
    {4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7}, {5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7},
    {6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7}, {7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 7},
    {7, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7}, {7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6},
    {7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5}, {7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4},
    {7, 7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3}, {7, 7, 7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2},
    {7, 7, 7, 7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1}, {7, 7, 7, 7, 7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0}};

// POINT14, versions 3 and 4: the layers this reader needs (X/Y with the
// returns and the scanner channel, Z, the classification, the flags) and, for
// the tests' check that skipping the others changes nothing, those too. Each
// scanner channel has a context of its own (last point, models, predictors),
// made from the current one when the channel first appears in the chunk.
class Point14Coder {
public:
    // The layers in chunk order; the reader decodes the first kRunLayers.
    enum Layer { xy, z, cls, flags, intensity, angle, user, source, gps, kLayers };
    static constexpr int kRunLayers = 4;

    // every_layer: decode (when on) and write the fields of the other layers too.
    explicit Point14Coder(bool every_layer) : every_layer_(every_layer) {}

    void first(const unsigned char* rec) {
        Last p;
        p.x = get32(rec);
        p.y = get32(rec + 4);
        p.z = get32(rec + 8);
        p.returns = rec[14];
        p.flags = rec[15];
        p.cls = rec[16];
        p.intensity = get16(rec + 12);
        p.user = rec[17];
        p.angle = get16(rec + 18);
        p.source = get16(rec + 20);
        p.gps = get64(rec + 22);
        for (Context& c : ctx_) c.unused = true;
        current_ = (p.flags >> 4) & 3U;
        ctx_[current_].start(p);
    }

    // Layer k decodes from dec[k] when on[k]; an empty layer means the field
    // never changes in the chunk. Decodes up to count records at out, length
    // bytes apart, each over the bytes it holds (the first record's, or the
    // last one's); stops after a record for which a stream ran past its
    // bytes. Returns the records written.
    std::size_t decode(std::array<Decoder, kLayers>& dec, const std::array<bool, kLayers>& on, unsigned char* out,
                       std::size_t length, std::size_t count) {
        if (every_layer_) {
            for (std::size_t i = 0; i < count;) {
                decode_record(dec[xy], dec[z], dec[cls], dec[flags], on, out + i * length);
                other_layers(dec, on);
                write_others(out + i * length);
                ++i;
                for (int k = 0; k < kLayers; ++k)
                    if (on[k] && dec[k].overrun() != 0) return i;
            }
            return count;
        }
        // The run's four decoders as locals for the whole call, the X/Y
        // one in registers: no copy in and out of each record, no call per
        // record, and one test of the streams' ends for the four.
        Decoder dxy = dec[xy], dz = dec[z], dc = dec[cls], df = dec[flags];
        std::size_t i = 0;
        while (i < count) {
            decode_record(dxy, dz, dc, df, on, out + i * length);
            ++i;
            if ((dxy.overrun() | dz.overrun() | dc.overrun() | df.overrun()) != 0) break;
        }
        dec[xy] = dxy;
        dec[z] = dz;
        dec[cls] = dc;
        dec[flags] = df;
        return i;
    }

private:
    // The X/Y, Z, class and flag layers of one record, written to rec.
    [[gnu::always_inline]] void decode_record(Decoder& dxy, Decoder& dz, Decoder& dc, Decoder& df,
                                              const std::array<bool, kLayers>& on, unsigned char* rec) {
        // The X/Y layer's decoder as a local copy, in registers for the
        // whole record; the coordinate decoders are inlined into it.
        Decoder d = dxy;
        Context* c = &ctx_[current_];
        {
            const Last& p = c->last;
            const unsigned r = p.returns & 15U, n = p.returns >> 4;
            const unsigned lpr = (r == 1 ? 1 : 0) + (r >= n ? 2 : 0) + (p.gps_changed ? 4 : 0);
            changed_ = d.decode_symbol(lazy(c->changed[lpr], 128));
        }
        if (changed_ & 64) {
            const unsigned channel = (current_ + d.decode_symbol(lazy(c->channel, 3)) + 1) & 3U;
            if (ctx_[channel].unused) ctx_[channel].start(c->last);
            current_ = channel;
            c = &ctx_[current_];
            c->last.flags = static_cast<std::uint8_t>((c->last.flags & ~0x30U) | channel << 4);
        }
        Last& p = c->last;
        const bool gps_changed = (changed_ & 16) != 0;
        const unsigned last_r = p.returns & 15U, last_n = p.returns >> 4;
        const unsigned n = changed_ & 4 ? d.decode_symbol(lazy(c->returns_n[last_n], 16)) : last_n;
        unsigned r;
        switch (changed_ & 3) {
        case 0: r = last_r; break;
        case 1: r = (last_r + 1) & 15U; break;
        case 2: r = (last_r + 15) & 15U; break;
        default:
            r = gps_changed ? d.decode_symbol(lazy(c->return_r[last_r], 16))
                            : (last_r + d.decode_symbol(lazy(c->return_same, 13)) + 2) & 15U;
        }
        p.returns = static_cast<std::uint8_t>(n << 4 | r);
        const unsigned m = kReturnMap6[n][r], l = kReturnLevel8[n][r];
        const unsigned cpr = (r == 1 ? 2 : 0) + (r >= n ? 1 : 0);
        const unsigned idx = m << 1 | (gps_changed ? 1 : 0);
        const std::uint32_t single = n == 1 ? 1 : 0;
        // The class and flag layers before X, Y and Z: each layer is a
        // stream with models of its own, and these two read only the return
        // numbers (decoded above) and their own last values, so the order
        // changes nothing decoded. It lets their decodes, which seldom
        // branch the wrong way, run beside the coordinates' instead of
        // being thrown away and redone after each mispredicted branch on a
        // corrector's bit length (formats 6 and 7 +7 to 8 %, 8 +3 %).
        if (on[cls]) {
            const unsigned ccc = ((p.cls & 0x1FU) << 1) + (cpr == 3 ? 1 : 0);
            p.cls = static_cast<std::uint8_t>(dc.decode_symbol(lazy(c->classification[ccc], 256)));
        }
        if (on[flags]) {
            const unsigned last = (p.flags >> 7 & 1U) << 5 | (p.flags >> 6 & 1U) << 4 | (p.flags & 15U);
            const std::uint32_t f = df.decode_symbol(lazy(c->flag_model[last], 64));
            p.flags = static_cast<std::uint8_t>((f >> 5 & 1U) << 7 | (f >> 4 & 1U) << 6 | (p.flags & 0x30U) | (f & 15U));
        }
        std::int32_t diff = c->dx.decode_here(d, c->x_median[idx].get(), single);
        p.x = wrap_add(p.x, diff);
        c->x_median[idx].add(diff);
        diff = c->dy.decode_here(d, c->y_median[idx].get(), single + k_context(c->dx.k(), 20));
        p.y = wrap_add(p.y, diff);
        c->y_median[idx].add(diff);
        dxy = d;
        if (on[z]) {
            p.z = c->dz.decode_here(dz, c->last_z[l], single + k_context((c->dx.k() + c->dy.k()) / 2, 18));
            c->last_z[l] = p.z;
        }
        cpr_ = cpr;
        p.gps_changed = gps_changed;
        put32(rec, p.x);
        put32(rec + 4, p.y);
        put32(rec + 8, p.z);
        rec[14] = p.returns;
        rec[15] = p.flags;
        rec[16] = p.cls;
    }

    void write_others(unsigned char* rec) const {
        const Last& p = ctx_[current_].last;
        put16(rec + 12, p.intensity);
        rec[17] = p.user;
        put16(rec + 18, p.angle);
        put16(rec + 20, p.source);
        put64(rec + 22, p.gps);
    }

private:
    struct Last {
        std::int32_t x = 0, y = 0, z = 0;
        std::uint8_t returns = 0;  // return number in bits 0-3, count in 4-7
        std::uint8_t flags = 0;    // class flags 0-3, channel 4-5, scan direction 6, edge 7
        std::uint8_t cls = 0;
        bool gps_changed = false;
        std::uint16_t intensity = 0, angle = 0, source = 0;  // angle: the int16's bits
        std::uint8_t user = 0;
        std::uint64_t gps = 0;  // the double's bits
    };
    struct Context {
        bool unused = true;
        Last last;
        std::array<Median5, 12> x_median, y_median;
        std::array<std::int32_t, 8> last_z{};
        std::array<SymbolModel, 8> changed;  // by the last point's return position
        SymbolModel channel, return_same;
        std::array<SymbolModel, 16> returns_n, return_r;       // by the last value
        std::array<SymbolModel, 64> classification, flag_model;  // by the last value
        IntDecoder dx{32, 2}, dy{32, 22}, dz{32, 20};
        // The other layers'.
        std::array<std::uint16_t, 8> last_intensity{};  // by return position and GPS change
        std::array<SymbolModel, 64> user_data;          // by the class / 4
        IntDecoder ic_intensity{16, 4}, ic_angle{16, 2}, ic_source{16, 1}, ic_gps{32, 9};
        SymbolModel gps_multi, gps_0diff;
        std::array<std::uint64_t, 4> gps_seq{};         // up to four time sequences
        std::array<std::int32_t, 4> gps_diff{}, gps_extreme{};
        unsigned gps_last = 0, gps_next = 0;

        void start(const Last& p) {
            unused = false;
            last = p;
            last.gps_changed = false;
            x_median.fill(Median5{});
            y_median.fill(Median5{});
            last_z.fill(p.z);
            for (SymbolModel& m : changed) m.reset();
            channel.reset();
            return_same.reset();
            for (SymbolModel& m : returns_n) m.reset();
            for (SymbolModel& m : return_r) m.reset();
            for (SymbolModel& m : classification) m.reset();
            for (SymbolModel& m : flag_model) m.reset();
            dx.init();
            dy.init();
            dz.init();
            last_intensity.fill(p.intensity);
            for (SymbolModel& m : user_data) m.reset();
            ic_intensity.init();
            ic_angle.init();
            ic_source.init();
            ic_gps.init();
            gps_multi.reset();
            gps_0diff.reset();
            gps_seq = {p.gps, 0, 0, 0};
            gps_diff.fill(0);
            gps_extreme.fill(0);
            gps_last = gps_next = 0;
        }
    };

    // After decode_record: the other layers of the same record.
    void other_layers(std::array<Decoder, kLayers>& dec, const std::array<bool, kLayers>& on) {
        Context& c = ctx_[current_];
        Last& p = c.last;
        const unsigned cpr = cpr_;
        const bool gps_changed = p.gps_changed;
        if (on[intensity]) {
            const unsigned i = cpr << 1 | (gps_changed ? 1 : 0);
            p.intensity = static_cast<std::uint16_t>(c.ic_intensity.decode(dec[intensity], c.last_intensity[i], cpr));
            c.last_intensity[i] = p.intensity;
        }
        if (on[angle] && (changed_ & 8))
            p.angle = static_cast<std::uint16_t>(
                c.ic_angle.decode(dec[angle], static_cast<std::int16_t>(p.angle), gps_changed ? 1 : 0));
        if (on[user]) p.user = static_cast<std::uint8_t>(dec[user].decode_symbol(lazy(c.user_data[p.cls >> 2], 256)));
        if (on[source] && (changed_ & 32)) p.source = static_cast<std::uint16_t>(c.ic_source.decode(dec[source], p.source, 0));
        if (on[gps] && gps_changed) gps_time(dec[gps], c);
    }

    // GPS time: as the format 1 coder, but with no code for "unchanged" (the
    // X/Y layer says that) and the codes after it one lower.
    static void gps_time(Decoder& d, Context& c) {
        constexpr std::int32_t kMulti = 500, kMultiMinus = -10, kCodeFull = kMulti - kMultiMinus + 1;
        const auto times = [](std::int32_t a, std::int32_t b) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
        };
        const auto add = [&c](std::int32_t diff) { c.gps_seq[c.gps_last] += static_cast<std::uint64_t>(std::int64_t{diff}); };
        const auto extreme = [&c](std::int32_t diff) {
            if (++c.gps_extreme[c.gps_last] > 3) {
                c.gps_diff[c.gps_last] = diff;
                c.gps_extreme[c.gps_last] = 0;
            }
        };
        const auto full = [&] {
            c.gps_next = (c.gps_next + 1) & 3U;
            const auto hi = static_cast<std::uint32_t>(
                c.ic_gps.decode(d, static_cast<std::int32_t>(static_cast<std::uint32_t>(c.gps_seq[c.gps_last] >> 32)), 8));
            c.gps_seq[c.gps_next] = std::uint64_t{hi} << 32 | d.read_int();
            c.gps_last = c.gps_next;
            c.gps_diff[c.gps_last] = 0;
            c.gps_extreme[c.gps_last] = 0;
        };
        // A jump codes the other sequence's time next; damaged data is cut
        // off after four.
        for (int jumps = 0; jumps < 4; ++jumps) {
            const std::int32_t last_diff = c.gps_diff[c.gps_last];
            if (last_diff == 0) {
                const std::uint32_t multi = d.decode_symbol(lazy(c.gps_0diff, 5));
                if (multi == 0) {
                    c.gps_diff[c.gps_last] = c.ic_gps.decode(d, 0, 0);
                    add(c.gps_diff[c.gps_last]);
                    c.gps_extreme[c.gps_last] = 0;
                } else if (multi == 1) {
                    full();
                } else {
                    c.gps_last = (c.gps_last + multi - 1) & 3U;
                    continue;
                }
            } else {
                const auto multi = static_cast<std::int32_t>(d.decode_symbol(lazy(c.gps_multi, kCodeFull + 4)));
                if (multi == 1) {
                    add(c.ic_gps.decode(d, last_diff, 1));
                    c.gps_extreme[c.gps_last] = 0;
                } else if (multi < kCodeFull) {
                    std::int32_t diff;
                    if (multi == 0) {
                        diff = c.ic_gps.decode(d, 0, 7);
                        extreme(diff);
                    } else if (multi < kMulti) {
                        diff = c.ic_gps.decode(d, times(multi, last_diff), multi < 10 ? 2 : 3);
                    } else if (multi == kMulti) {
                        diff = c.ic_gps.decode(d, times(multi, last_diff), 4);
                        extreme(diff);
                    } else if (kMulti - multi > kMultiMinus) {
                        diff = c.ic_gps.decode(d, times(kMulti - multi, last_diff), 5);
                    } else {
                        diff = c.ic_gps.decode(d, times(kMultiMinus, last_diff), 6);
                        extreme(diff);
                    }
                    add(diff);
                } else if (multi == kCodeFull) {
                    full();
                } else {
                    c.gps_last = (c.gps_last + static_cast<unsigned>(multi - kCodeFull)) & 3U;
                    continue;
                }
            }
            break;
        }
        c.last.gps = c.gps_seq[c.gps_last];
    }

    bool every_layer_;
    std::array<Context, 4> ctx_;
    unsigned current_ = 0;
    std::uint32_t changed_ = 0;
    unsigned cpr_ = 0;  // the last record's return position, for other_layers
};

}  // namespace krel::io::laz

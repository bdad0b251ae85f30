#pragma once
// Selection of the next candidate: the slot with the largest weighted error,
// the lowest slot among equal largest values, never a NaN. A tree of fan-out
// 16 over the slots gives exactly the slot that a scan in slot order with a
// strictly-greater running maximum gives, and follows changed scores by
// rescanning the groups of 16 on their paths (or by one rebuild when most of
// them changed). Each group's winner is found four entries at a time without
// a jump: which entry wins is as good as random.

#include <cstdint>
#include <vector>

namespace krel::deflate {

class Selection {
public:
    Selection() = default;
    // A move keeps the levels' storage (and groups_ with it); a copy would not.
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    Selection(Selection&&) = default;
    Selection& operator=(Selection&&) = default;
    // Slots first..last of dw (1-based; dw must outlive the calls) take part.
    // Scores are numbers of at least 0 or NaN, as weighted errors are.
    void build(const float* dw, std::int32_t first, std::int32_t last);
    // dw[slot] changed; the answer follows at the next flush(). A group is
    // listed once however many of its slots change: flush scans it once.
    void changed(std::int32_t slot) { changed_if(slot, true); }
    // changed(slot) where `now` is set, nothing otherwise, without a jump.
    void changed_if(std::int32_t slot, bool now) {
        Level& l = *groups_;
        const auto g = static_cast<std::size_t>(slot - first_) >> kShift;
        l.dirty[l.ndirty] = static_cast<std::uint32_t>(g);
        l.ndirty += static_cast<std::size_t>(now & (l.listed[g] == 0));
        l.listed[g] |= static_cast<std::uint8_t>(now);
    }
    // Brings the answer up to date with every changed slot.
    void flush();
    // The winning slot, 0 when no score is a number. Only after flush().
    [[nodiscard]] std::int32_t best() const { return best_; }

private:
    static constexpr int kShift = 4;
    static constexpr std::size_t kFan = std::size_t{1} << kShift;  // entries per group
    static constexpr float kNone = -1.0F;  // the value of an entry without a candidate

    // One level of the tree: entry e is the winner of group e of the level
    // below (of slots, for the first level). Padded with empty entries to
    // whole groups of 16.
    struct Level {
        std::size_t n = 0;             // entries
        std::vector<float> v;          // winning score, kNone when empty
        std::vector<std::int32_t> slot;  // winning slot, 0 when empty
        std::vector<std::uint32_t> dirty;  // entries to make again, each once
        std::vector<std::uint8_t> listed;  // entry -> 1 while it is in dirty
        std::size_t ndirty = 0;
    };
    void slot_group(std::size_t g);                      // entry g of level 0, from slot group g of dw
    void entry_group(std::size_t level, std::size_t g);  // entry g of a level, from group g of the one below
    void rebuild();

    const float* dw_ = nullptr;
    std::int32_t first_ = 0;
    std::int32_t last_ = 0;
    std::vector<Level> levels_;
    Level* groups_ = nullptr;  // levels_[0], for changed()
    std::int32_t best_ = 0;
};

// The same answer by a full scan of dw[first..last], as a reference: kmax
// keeps its value when no score is a number.
std::int32_t select_by_scan(const float* dw, std::int32_t first, std::int32_t last, std::int32_t kmax);

}  // namespace krel::deflate

#pragma once
// Selection of the next candidate: the slot with the largest weighted error,
// the lowest slot among equal largest values, never a NaN. A tournament tree
// over the slots gives exactly the slot that a scan in slot order with a
// strictly-greater running maximum gives, in O(1), and follows changed scores
// in O(log n) each (or one rebuild when most of them changed). The tree's
// leaves are blocks of 8 consecutive slots, found by a scan of their scores:
// half a cache line, where a leaf per slot would cost a miss per tree level.

#include <cstdint>
#include <vector>

namespace krel::deflate {

class Selection {
public:
    // Slots first..last of dw (1-based; dw must outlive the calls) take part.
    void build(const float* dw, std::int32_t first, std::int32_t last);
    // dw[slot] changed; the answer follows at the next flush(). A block is
    // listed once however many of its slots change: flush scans it once.
    void changed(std::int32_t slot) {
        const auto b = static_cast<std::size_t>(slot - first_) / kBlock;
        if (listed_[b] != 0) return;
        listed_[b] = 1;
        dirty_.push_back(b);
    }
    // Brings the tree up to date with every changed slot.
    void flush();
    // The winning slot, 0 when no score is a number. Only after flush().
    [[nodiscard]] std::int32_t best() const { return tree_.empty() ? 0 : tree_[1].slot; }

private:
    static constexpr std::int32_t kBlock = 8;  // slots per leaf
    struct Entry {
        float v = 0.0F;         // the slot's score (copied, so a match needs no lookup)
        std::int32_t slot = 0;  // 0: no candidate below this node
    };
    [[nodiscard]] static Entry winner(const Entry& a, const Entry& b);
    [[nodiscard]] Entry block(std::size_t b) const;  // winner of block b, by a scan
    void rebuild();

    const float* dw_ = nullptr;
    std::int32_t first_ = 0;
    std::int32_t last_ = 0;
    std::size_t leaves_ = 0;            // blocks, rounded up to a power of two
    std::vector<Entry> tree_;           // 1-based heap over the blocks
    std::vector<std::size_t> dirty_;    // blocks changed since the last flush, each once
    std::vector<std::uint8_t> listed_;  // block -> 1 while it is in dirty_
};

// The same answer by a full scan of dw[first..last], as a reference: kmax
// keeps its value when no score is a number.
std::int32_t select_by_scan(const float* dw, std::int32_t first, std::int32_t last, std::int32_t kmax);

}  // namespace krel::deflate

#pragma once
// The items of a LAZ point record and the decoding of one chunk into plain
// LAS records. Point formats 0 to 5 use the item version 2 coders, one
// arithmetic stream for all fields; formats 6 to 10 use the layered coders of
// versions 3 and 4, where each field group has a stream (layer) of its own.
//
// Layered chunks: only the layers of X/Y (with the return numbers and the
// scanner channel), Z, the classification and the flags are decoded; every
// other byte of a record keeps the value it has in the chunk's first record.
// Chunks of formats 0 to 5 are decoded whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/laz_arith.hpp"

namespace krel::io::laz {

enum class ItemType : std::uint16_t {
    byte = 0, point10 = 6, gpstime11 = 7, rgb12 = 8, wavepacket13 = 9,
    point14 = 10, rgb14 = 11, rgbnir14 = 12, wavepacket14 = 13, byte14 = 14,
};

struct Item {
    std::uint16_t type = 0;     // ItemType, or an unknown code
    std::uint16_t size = 0;     // bytes in the record
    std::uint16_t version = 0;  // coder version
};

// Name of an item type for messages ("POINT10", "type 3").
[[nodiscard]] std::string item_name(std::uint16_t type);

// What is wrong with an item list for a record of `record_length` bytes, or
// nullopt when this decoder can read it: known types and sizes, version 2 for
// the items of formats 0 to 5 (BYTE, POINT10, GPSTIME11, RGB12; WAVEPACKET13
// version 1 or 2), version 3 or 4 for the layered ones with POINT14 first,
// sizes adding up to the record.
[[nodiscard]] std::optional<std::string> check_items(const std::vector<Item>& items, std::size_t record_length);

class Point10Coder;
class Gps11Coder;
class Rgb12Coder;
class ByteCoder;
class Wave13Coder;
class Point14Coder;

// Decodes the records of one chunk at a time, a block of records per call.
// Built once per file and reused for every chunk; not shared between threads.
class ChunkDecoder {
public:
    // items passed check_items. every_layer (for the tests' check of the
    // skipping): layered chunks decode every POINT14 layer and write all its
    // fields; the reader's fields come out the same either way.
    explicit ChunkDecoder(const std::vector<Item>& items, bool every_layer = false);
    ~ChunkDecoder();
    ChunkDecoder(const ChunkDecoder&) = delete;
    ChunkDecoder& operator=(const ChunkDecoder&) = delete;

    // Starts a chunk of `points` records on its bytes [begin, end). Returns
    // false when the bytes cannot hold the chunk's first record and its
    // stream headers (a cut-off or damaged chunk).
    [[nodiscard]] bool start(const unsigned char* begin, const unsigned char* end, std::uint64_t points);

    // Decodes the next records of the chunk, at most n, into out (record
    // length bytes each); returns how many. Stops early, with damaged() set,
    // when a stream runs past its bytes.
    std::size_t decode(unsigned char* out, std::size_t n);

    [[nodiscard]] bool damaged() const { return damaged_; }
    // Records of the chunk decoded so far (the first damaged one included).
    [[nodiscard]] std::uint64_t done() const { return done_; }
    [[nodiscard]] std::size_t record_length() const { return record_length_; }

private:
    bool start_layered(const unsigned char* p, const unsigned char* end);
    [[nodiscard]] bool overrun() const;
    template <bool Gps, bool Rgb>
    std::size_t decode_point10(unsigned char* out, std::size_t n);

    // The item lists of formats 0 to 3, which have a loop of their own.
    enum class Plain { other, point10, gps, rgb, gps_rgb };

    std::vector<Item> items_;
    std::size_t record_length_ = 0;
    bool layered_ = false;
    Plain plain_ = Plain::other;
    std::vector<unsigned char> first_;  // the chunk's first record
    std::uint64_t points_ = 0, done_ = 0;
    bool damaged_ = false;

    Decoder dec_;  // formats 0 to 5: the one stream
    std::unique_ptr<Point10Coder> point10_;
    std::unique_ptr<Gps11Coder> gps11_;
    std::unique_ptr<Rgb12Coder> rgb12_;
    std::unique_ptr<Wave13Coder> wave13_;
    std::vector<std::unique_ptr<ByteCoder>> bytes_;  // BYTE items, in record order
    std::vector<std::size_t> offsets_;               // byte of each item in the record
    std::unique_ptr<Point14Coder> point14_;
    bool every_layer_ = false;
    std::array<Decoder, 9> layer_;     // layered: POINT14's layers, the first four unless every_layer_
    std::array<bool, 9> layer_on_{};  // decoded, and holds data (an empty one never changes)
    std::vector<std::uint32_t> layer_sizes_;  // of every item's layers, in the chunk being read
};

}  // namespace krel::io::laz

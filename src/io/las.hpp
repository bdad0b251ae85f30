#pragma once
// LAS point files, versions 1.0 to 1.4, point formats 0 to 10: the header with
// its checks, and the point records streamed in large blocks. Only what the
// point reader needs is decoded: X, Y, Z, the class and the withheld flag.
//
// All multi-byte fields are little-endian. Header fields used (byte offsets):
//    0 "LASF"            24 version major     25 version minor
//   94 header size (2)   96 offset to point data (4)   100 VLR count (4)
//  104 point format (1) 105 record length (2)  107 legacy point count (4)
//  131 x, y, z scale (3 doubles)   155 x, y, z offset (3 doubles)
//  247 64-bit point count (1.4 headers of at least 255 bytes)

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/file.hpp"
#include "io/source.hpp"

namespace krel::io {

namespace laz {
struct Layout;
class ChunkStream;
}  // namespace laz

// The classes that -k keeps; without -k every class is kept.
struct ClassSet {
    std::array<bool, 256> keep{};  // by classification code
    bool all = true;               // no list given: every class

    [[nodiscard]] bool has(unsigned code) const { return all || keep[code]; }
};

// A -k list: classification codes separated by single commas, each an integer
// field (optional sign, digits) from 0 to 255; nothing else, no blanks, no
// empty item. nullopt when the text is not such a list.
[[nodiscard]] std::optional<ClassSet> parse_class_list(std::string_view text);

constexpr std::size_t kLasHeaderMin = 227;   // the 1.0 to 1.2 header
constexpr std::size_t kLasHeaderRead = 375;  // the 1.4 header: all a reader looks at
constexpr int kLasFormats = 11;              // point formats 0 to 10

// Smallest record length of each point format.
constexpr std::array<std::uint16_t, kLasFormats> kLasMinRecord{20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

struct LasHeader {
    std::uint8_t version_major = 0, version_minor = 0;
    std::uint16_t header_size = 0;    // bytes
    std::uint32_t point_offset = 0;   // byte where the first point record starts
    std::uint32_t vlr_count = 0;      // variable-length records after the header
    std::uint8_t point_format = 0;    // 0 to 10 (compression bits cleared)
    bool laz = false;                 // the format byte had bit 7 or 6 set: LAZ-compressed records
    std::uint16_t record_length = 0;  // bytes per point record, at least the format's minimum
    std::uint64_t promised = 0;       // point count: legacy, or the larger 64-bit one of 1.4
    double scale[3] = {1, 1, 1};      // x, y, z scale factors, finite
    double offset[3] = {0, 0, 0};     // x, y, z offsets, finite
};

// Whether `name` is a regular file whose first four bytes are "LASF". A file
// that cannot be opened or read is "not LAS": the text reader then reports it.
[[nodiscard]] bool is_las_file(const std::string& name);

// Reads and checks the header from its first bytes (kLasHeaderRead, or the
// whole file when shorter) and the file size. Throws IoError "'<file>': ..."
// naming the field for: a file ending before 227 bytes or before its header
// size, a version major other than 1, a header size under 227, an unknown
// point format (after bits 7 and 6, LAZ, are taken off), a record length
// below the format's minimum, an offset to point data inside the header, a
// scale or offset that is not a finite number.
[[nodiscard]] LasHeader parse_las_header(std::span<const unsigned char> head, std::uint64_t file_size,
                                         std::string_view file);

// Where a record keeps its class and withheld flag, and how to scale it.
struct LasDecoder {
    std::size_t class_at = 15;          // byte of the class
    std::uint8_t class_mask = 0x1F;     // its bits
    std::size_t flags_at = 15;          // byte of the withheld flag
    std::uint8_t withheld_mask = 0x80;  // the flag's bit; 0: the version has none
    double sx = 1, sy = 1, sz = 1, ox = 0, oy = 0, oz = 0;

    explicit LasDecoder(const LasHeader& h);

    [[nodiscard]] unsigned code(const unsigned char* rec) const { return rec[class_at] & class_mask; }
    [[nodiscard]] bool withheld(const unsigned char* rec) const { return (rec[flags_at] & withheld_mask) != 0; }
    // x = X * scale + offset in double, multiply then add, each rounded; z is
    // that double rounded once to float.
    [[nodiscard]] double x(const unsigned char* rec) const { return static_cast<double>(le32(rec)) * sx + ox; }
    [[nodiscard]] double y(const unsigned char* rec) const { return static_cast<double>(le32(rec + 4)) * sy + oy; }
    [[nodiscard]] float z(const unsigned char* rec) const {
        return static_cast<float>(static_cast<double>(le32(rec + 8)) * sz + oz);
    }

    static std::int32_t le32(const unsigned char* p) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                         static_cast<std::uint32_t>(p[2]) << 16 |
                                         static_cast<std::uint32_t>(p[3]) << 24);
    }
};

// An open LAS file: header checked, point records handed out block by block.
// Nothing is read past the end of the file and no buffer is sized by a field
// that was not checked: the block holds whole records, about block_bytes.
// A LAZ file hands out its records decoded, a chunk or a block at a time,
// `threads` chunks decoded side by side; the records do not depend on it.
class LasFile {
public:
    static constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

    // Opens and checks the file; throws IoError when it cannot be opened or
    // read, its header is broken, or its LAZ compression record or chunk
    // table is missing, lies or names what the decoder cannot read. LAZ
    // chunks are decoded on `threads` threads.
    explicit LasFile(std::string name, std::size_t block_bytes = kBlockBytes, int threads = 1);
    // The same for the content of `path` (a kept copy, or a compressed file:
    // then read front to back as it is decompressed, once through to learn
    // its size first), named `name` in diagnostics. `ahead`: decompressed on
    // a helper thread. LAZ inside compressed data is refused.
    LasFile(std::string name, const std::string& path, bool ahead, std::size_t block_bytes = kBlockBytes,
            int threads = 1);
    ~LasFile();
    LasFile(const LasFile&) = delete;
    LasFile& operator=(const LasFile&) = delete;

    [[nodiscard]] const LasHeader& header() const { return header_; }
    // Whole records between the offset to point data and the end of the file
    // (LAZ: the records its chunks hold).
    [[nodiscard]] std::uint64_t present() const { return present_; }
    // Records that will be handed out: the promised count, bounded by present().
    [[nodiscard]] std::uint64_t records() const { return records_; }
    // What is wrong but does not stop the reading, one text per fault, without
    // the file name: the count bound and variable-length records that run into
    // the point data.
    [[nodiscard]] const std::vector<std::string>& warnings() const { return warnings_; }

    // The next block of whole records (record_length bytes each); false once
    // all records() were handed out. Throws IoError when a read fails
    // (naming `line`, the reader's line in this file, when the compressed
    // data is damaged) or a LAZ chunk turns out damaged.
    [[nodiscard]] bool next_block(std::span<const unsigned char>& block, long long line = 0);

private:
    void check_vlrs(std::uint64_t file_size);
    // n bytes at pos (fewer only at the end). A compressed file is read
    // front to back: pos never goes back behind what was read, except into
    // the header's first bytes, which are kept.
    std::size_t read_at(unsigned char* dst, std::size_t n, std::uint64_t pos, long long line = 1);

    std::string name_;
    Fd fd_;
    std::unique_ptr<ByteSource> seq_;     // set: a compressed file, read front to back
    std::uint64_t seq_at_ = 0;            // bytes of seq_ read so far
    std::vector<unsigned char> head_;     // seq_: its first bytes
    LasHeader header_;
    std::uint64_t present_ = 0;
    std::uint64_t records_ = 0;
    std::uint64_t handed_ = 0;        // records handed out so far
    std::vector<unsigned char> buf_;  // one block of whole records
    std::vector<std::string> warnings_;
    std::unique_ptr<laz::Layout> laz_;          // LAZ files only
    std::unique_ptr<laz::ChunkStream> chunks_;  // LAZ files only
};

}  // namespace krel::io

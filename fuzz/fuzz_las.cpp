// The LAS header and record reader.
//
// Input: a LAS file's bytes (the harness does not add the signature: a file
// without it must be refused by the header check). The header is checked from
// memory; the file is then streamed from disk in small blocks, every record
// decoded, and read once more by the point reader. Byte 26, in the system
// identifier that no reader looks at, chooses a class list.
//
// Checks: no more records than promised or present, whole records only, the
// same records from the stream as the header promised, and the point reader's
// two passes agree.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "fuzz_support.hpp"
#include "io/getpoints.hpp"
#include "io/io_error.hpp"
#include "io/las.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krel::io;
    const std::span<const unsigned char> bytes(data, size);
    bool header_ok = false;
    try {
        const LasHeader h = parse_las_header(bytes.first(std::min(size, kLasHeaderRead)), size, "f.las");
        header_ok = true;
        KREL_FUZZ_CHECK(h.record_length >= kLasMinRecord[h.point_format]);
        KREL_FUZZ_CHECK(h.point_offset >= h.header_size && h.header_size >= kLasHeaderMin);
    } catch (const IoError&) {
    }

    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    dir.write("f.las", std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string name = dir.file("f.las");
    KREL_FUZZ_CHECK(is_las_file(name) == (size >= 4 && std::memcmp(data, "LASF", 4) == 0));
    if (!header_ok) {
        bool refused = false;
        try {
            LasFile file(name);
        } catch (const IoError&) {
            refused = true;
        }
        KREL_FUZZ_CHECK(refused);
        return 0;
    }

    // A block size from the file's size, from one record to a few hundred
    // bytes, so that files of a few records are read in several blocks.
    const std::size_t block = 1 + size % 301;
    // LAZ has a harness of its own; its records are not the file's bytes.
    if (size > 104 && (data[104] & 0xC0) != 0) return 0;
    LasFile file(name, block);
    const LasHeader& h = file.header();
    const std::uint64_t rl = h.record_length;
    KREL_FUZZ_CHECK(file.records() <= h.promised && file.records() <= file.present());
    KREL_FUZZ_CHECK(file.present() * rl <= size - std::min<std::uint64_t>(size, h.point_offset));
    const LasDecoder dec(h);
    std::uint64_t seen = 0;
    std::span<const unsigned char> blk;
    while (file.next_block(blk)) {
        KREL_FUZZ_CHECK(!blk.empty() && blk.size() % rl == 0);
        for (std::size_t at = 0; at < blk.size(); at += rl) {
            const unsigned char* rec = blk.data() + at;
            // The decoder reads the record as stored in the file.
            KREL_FUZZ_CHECK(std::memcmp(rec, data + h.point_offset + (seen * rl), rl) == 0);
            (void)dec.code(rec);
            (void)dec.withheld(rec);
            const double x = dec.x(rec);
            const float z = dec.z(rec);
            (void)x;
            (void)z;
            ++seen;
        }
    }
    KREL_FUZZ_CHECK(seen == file.records());

    // The point reader: every record of the kept classes without the withheld
    // flag is a point, and the load pass stores what the explore pass counted.
    ReadSettings s;
    s.files = {name};
    if ((size > 26 ? data[26] : 0) % 3 == 1) s.classes = *parse_class_list("2");
    if ((size > 26 ? data[26] : 0) % 3 == 2) s.classes = *parse_class_list("0,1,2,3,31,255");
    StringOut console, warnings;
    const std::int64_t explored = getpoints(PassMode::explore, s, nullptr, console, warnings);
    KREL_FUZZ_CHECK(explored >= 0 && static_cast<std::uint64_t>(explored) <= file.records());
    NodeArrays nodes;
    KREL_FUZZ_CHECK(nodes.allocate(static_cast<std::int32_t>(explored)));
    StringOut console2, warnings2;
    KREL_FUZZ_CHECK(getpoints(PassMode::load, s, &nodes, console2, warnings2) == explored);
    for (std::int32_t i = 1; i <= nodes.n; ++i) {
        KREL_FUZZ_CHECK(!std::isnan(nodes.x[static_cast<std::size_t>(i)]));
        KREL_FUZZ_CHECK(!std::isnan(nodes.z[static_cast<std::size_t>(i)]));
    }
    return 0;
}

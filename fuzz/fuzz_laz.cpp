// The LAZ reader.
//
// Input: a LAZ file's bytes. The file is opened (compression record, chunk
// table) and its records decoded to the end, once on one thread and once on
// three, in small blocks.
//
// Checks: a refusal is an IoError naming the file; no more records than
// promised or than the chunks hold; whole records only; the records (and the
// error, if any) are the same on one thread and on three. Inputs promising
// more than 2^20 points or 64 MB of records are opened but not decoded, to
// keep each run short and small: the decode time and the records kept here
// grow with the count, not with the file.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "io/io_error.hpp"
#include "io/las.hpp"

namespace {

struct Decoded {
    std::vector<unsigned char> records;
    std::string error;
};

Decoded decode(const std::string& name, int threads, std::size_t block) {
    using namespace krel::io;
    Decoded d;
    try {
        LasFile file(name, block, threads);
        const LasHeader& h = file.header();
        KREL_FUZZ_CHECK(file.records() <= h.promised && file.records() <= file.present());
        if (file.records() > (1U << 20) || file.records() * h.record_length > (std::uint64_t{1} << 26)) return d;
        std::span<const unsigned char> blk;
        while (file.next_block(blk)) {
            KREL_FUZZ_CHECK(!blk.empty() && blk.size() % h.record_length == 0);
            d.records.insert(d.records.end(), blk.begin(), blk.end());
        }
        KREL_FUZZ_CHECK(d.records.size() == file.records() * h.record_length);
    } catch (const IoError& e) {
        d.error = e.what();
        KREL_FUZZ_CHECK(d.error.rfind("'" + name + "'", 0) == 0 || d.error.find(name) != std::string::npos, d.error);
    }
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    dir.write("f.laz", std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string name = dir.file("f.laz");
    const std::size_t block = 1 + size % 977;
    const Decoded one = decode(name, 1, block);
    const Decoded three = decode(name, 3, block);
    KREL_FUZZ_CHECK(one.error == three.error, one.error + " / " + three.error);
    KREL_FUZZ_CHECK(one.records == three.records);
    return 0;
}

// The decompressing reader on one file (gzip, zstd, bzip2, xz or plain, told
// by its first bytes), then the point reader on it.
//
// Input: the file's bytes.
// - The content read in small steps, and decompressed ahead on a helper
//   thread, is the same, up to the same failure; plain bytes come back as
//   they are.
// - When the content is whole (no failure) and small, both passes of the
//   point reader give what they give for a plain file holding the content
//   (a LAS file among them): the same counts, console lines, warnings and
//   stored points, or the same failure, apart from the file name.

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"
#include "io/getpoints.hpp"
#include "io/io_error.hpp"
#include "io/source.hpp"

namespace {

// More content than this is not compared (a small input can decompress to
// gigabytes): reading stops there.
constexpr std::size_t kMaxContent = std::size_t{1} << 20;

struct Content {
    std::string bytes;
    std::string error;
    bool cut = false;  // stopped at kMaxContent
};

Content read_content(const std::string& path, std::size_t step, bool ahead) {
    Content c;
    krel::io::ByteSource src("f", path, ahead);
    std::string buf(step, '\0');
    for (;;) {
        const ssize_t got = src.read(buf.data(), step);
        if (got < 0) {
            c.error = src.error();
            return c;
        }
        if (got == 0) return c;
        c.bytes.append(buf.data(), static_cast<std::size_t>(got));
        if (c.bytes.size() > kMaxContent) {
            c.cut = true;
            return c;
        }
    }
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

struct PassResult {
    std::int64_t explored = -1, loaded = -1;
    std::string console, warnings, error;
    std::string points;  // the stored nodes' bytes
};

PassResult passes(const std::string& file, int threads) {
    using namespace krel::io;
    ReadSettings s;
    s.files = {file};
    s.threads = threads;
    PassResult r;
    StringOut console, warnings;
    try {
        r.explored = getpoints(PassMode::explore, s, nullptr, console, warnings);
        NodeArrays nodes;
        if (!nodes.allocate(static_cast<std::int32_t>(r.explored))) krel::fuzz::fail("allocate");
        r.loaded = getpoints(PassMode::load, s, &nodes, console, warnings);
        for (std::int32_t i = 1; i <= nodes.n; ++i) {
            const float v[3] = {nodes.x[i], nodes.y[i], nodes.z[i]};
            r.points.append(reinterpret_cast<const char*>(v), sizeof v);
        }
    } catch (const IoError& e) {
        r.error = e.what();
    }
    r.console = console.str();
    r.warnings = warnings.str();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    dir.write("p.z", input);
    const std::string packed = dir.file("p.z");

    const Content small = read_content(packed, 7, false);
    const Content big = read_content(packed, std::size_t{1} << 16, false);
    const Content ahead = read_content(packed, 4096, true);
    if (!small.cut && !big.cut && !ahead.cut) {
        KREL_FUZZ_CHECK(small.bytes == big.bytes && small.error == big.error, "read size changed the content");
        KREL_FUZZ_CHECK(small.bytes == ahead.bytes && small.error == ahead.error, "helper thread changed the content");
    }
    const krel::io::Compression kind = krel::io::ByteSource("f", packed).compression();
    if (kind == krel::io::Compression::none)
        KREL_FUZZ_CHECK(big.error.empty() && big.bytes == input, "plain bytes changed");
    if (!big.error.empty() || big.cut || big.bytes.size() > kMaxContent) return 0;

    dir.write("p.xyz", big.bytes);
    const PassResult plain = passes(dir.file("p.xyz"), 1);
    for (const int threads : {1, 2}) {
        PassResult r = passes(packed, threads);
        r.console = replace_all(r.console, packed, dir.file("p.xyz"));
        r.warnings = replace_all(r.warnings, packed, dir.file("p.xyz"));
        r.error = replace_all(r.error, packed, dir.file("p.xyz"));
        KREL_FUZZ_CHECK(r.explored == plain.explored && r.loaded == plain.loaded, "counts differ");
        KREL_FUZZ_CHECK(r.console == plain.console, r.console + " / " + plain.console);
        KREL_FUZZ_CHECK(r.warnings == plain.warnings, r.warnings + " / " + plain.warnings);
        KREL_FUZZ_CHECK(r.error == plain.error, r.error + " / " + plain.error);
        KREL_FUZZ_CHECK(r.points == plain.points, "stored points differ");
    }
    return 0;
}

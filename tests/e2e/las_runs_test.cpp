// Whole runs of krel on LAS files: every shared sample gives the run that a
// text dump of its selected points gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/las_writer.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;
using krel::test::write_file;

template <class T>
T field(const std::string& b, std::size_t at) {
    T v{};
    std::memcpy(&v, b.data() + at, sizeof v);  // little-endian host
    return v;
}

template <class T>
std::string shortest(T v) {
    char buf[64];
    return {buf, std::to_chars(buf, buf + sizeof buf, v).ptr};
}

// x y z lines of the points a reader must take from the LAS bytes b: the
// promised count bounded by the whole records present, no withheld point, and
// only class `only` unless it is negative. Decoded here from the raw header
// fields and records, independently of the reader.
std::string dump_las(const std::string& b, int only) {
    const unsigned minor = static_cast<unsigned char>(b[25]);
    const auto hs = field<std::uint16_t>(b, 94);
    const auto off = field<std::uint32_t>(b, 96);
    const unsigned fmt = static_cast<unsigned char>(b[104]);
    const auto rl = field<std::uint16_t>(b, 105);
    std::uint64_t n = field<std::uint32_t>(b, 107);
    if (minor >= 4 && hs >= 255) {
        const auto n64 = field<std::uint64_t>(b, 247);
        if (n == 0 || n64 > n) n = n64;
    }
    n = std::min<std::uint64_t>(n, b.size() > off ? (b.size() - off) / rl : 0);
    double scale[3], offset[3];
    for (int k = 0; k < 3; ++k) {
        scale[k] = field<double>(b, 131 + 8 * std::size_t(k));
        offset[k] = field<double>(b, 155 + 8 * std::size_t(k));
    }
    std::string text;
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::size_t at = off + i * rl;
        const auto flags = static_cast<unsigned char>(b[at + 15]);
        unsigned cls;
        bool withheld;
        if (fmt >= 6) {
            cls = static_cast<unsigned char>(b[at + 16]);
            withheld = (flags & 0x04) != 0;
        } else if (minor == 0) {
            cls = flags;
            withheld = false;
        } else {
            cls = flags & 0x1Fu;
            withheld = (flags & 0x80) != 0;
        }
        if (withheld || (only >= 0 && cls != static_cast<unsigned>(only))) continue;
        const double x = field<std::int32_t>(b, at) * scale[0] + offset[0];
        const double y = field<std::int32_t>(b, at + 4) * scale[1] + offset[1];
        const float z = static_cast<float>(field<std::int32_t>(b, at + 8) * scale[2] + offset[2]);
        text += shortest(x) + ' ' + shortest(y) + ' ' + shortest(z) + '\n';
    }
    return text;
}

// Output lines, without those that name the input or the classes.
std::string unnamed(const std::string& text, const std::string& name) {
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.find(name) == std::string::npos && line.rfind(" >classes kept:", 0) != 0) kept += line + '\n';
    return kept;
}

std::vector<fs::path> las_samples() {
    std::vector<fs::path> out;
    const fs::path data = krel::test::shared_data();
    if (data.empty() || !fs::is_directory(data / "las")) return out;
    for (const auto& e : fs::directory_iterator(data / "las"))
        if (e.path().extension() == ".las") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(LasRuns, EverySampleRunsLikeItsTextDump) {
    const std::vector<fs::path> samples = las_samples();
    if (samples.empty()) GTEST_SKIP() << "../shared/data not found";
    for (const fs::path& sample : samples) {
        const std::string bytes = read_file(sample);
        for (int only : {-1, 2}) {
            SCOPED_TRACE(testing::Message() << sample.filename() << (only < 0 ? "" : " -k 2"));
            std::vector<std::string> args;
            if (only >= 0) args = {"-k", std::to_string(only)};
            const std::string las_name = sample.filename().string();
            const std::string txt_name = sample.stem().string() + ".xyz";
            krel::test::TempDir a, b;
            fs::create_symlink(sample, a.path() / las_name);
            const std::string text = dump_las(bytes, only);
            write_file(b.path() / txt_name, text);
            args.push_back(las_name);
            const auto la = krel::test::run_krel(a.path(), args);
            args.back() = txt_name;
            if (text.empty()) {
                // A text file without points is an error; a LAS file without
                // (selected) points is read as no points.
                EXPECT_EQ(la.status, 0);
                EXPECT_NE(la.out.find(" >Total nodes:           0\n"), std::string::npos);
                continue;
            }
            const auto lt = krel::test::run_krel(b.path(), args);
            EXPECT_EQ(la.status, lt.status);
            EXPECT_EQ(unnamed(la.out, las_name), unnamed(lt.out, txt_name));
            EXPECT_EQ(unnamed(la.err, las_name), unnamed(lt.err, txt_name));
            for (const char* out : {"out.err", "out.xyz"}) {
                SCOPED_TRACE(out);
                ASSERT_EQ(fs::exists(a.path() / out), fs::exists(b.path() / out));
                if (fs::exists(a.path() / out)) {
                    EXPECT_TRUE(read_file(a.path() / out) == read_file(b.path() / out));
                }
            }
        }
    }
}

// A file that cannot be read as LAS ends the run in the explore pass, before
// a result is written (also one that an earlier run left behind).
TEST(LasRuns, RefusedFilesEndTheRunBeforeTheResult) {
    struct Case {
        std::string what;
        krel::test::LasShape shape;
        std::string diagnostic;
    };
    krel::test::LasShape laz, v2, short_record;
    laz.format = 0x83;
    laz.record_length = 34;
    v2.major = 2;
    short_record.format = 1;
    short_record.record_length = 20;
    const Case cases[] = {
        {"LAZ", laz, "LAZ points without their compression record (variable-length record 22204)"},
        {"version 2", v2, "LAS header: version major is 2, must be 1"},
        {"record length", short_record, "LAS header: point record length is 20, format 1 needs at least 28"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        krel::test::TempDir dir;
        write_file(dir.path() / "g.xyz", "1 2 3\n4 5 6\n");
        write_file(dir.path() / "c.las", krel::test::las_file(c.shape, std::vector<krel::test::LasRec>(3)));
        write_file(dir.path() / "out.xyz", "old result\n");
        const auto o = krel::test::run_krel(dir.path(), {"g.xyz", "c.las"});
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.err, "krel: 'c.las': " + c.diagnostic + "\n");
        EXPECT_EQ(o.out.substr(o.out.rfind(" ->")), " ->exploring c.las\n");
        EXPECT_EQ(read_file(dir.path() / "out.xyz"), "old result\n");
    }
}

}  // namespace

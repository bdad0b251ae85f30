#include "io/las.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "io/fortran.hpp"
#include "io/getpoints.hpp"
#include "io/io_error.hpp"
#include "support/las_writer.hpp"
#include "support/las_reader.hpp"
#include "support/read_passes.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::io::ClassSet;
using krel::io::PassMode;
using krel::io::ReadSettings;
using krel::test::LasRec;
using krel::test::LasShape;
using krel::test::Passes;
using krel::test::both_passes;

// The text a user would get by dumping the selected points of a file the
// writer made, decoded without krel's reader.
std::string dump(const LasShape& shape, const std::vector<LasRec>& pts, const ClassSet& classes) {
    return krel::test::las_as_text(krel::test::las_file(shape, pts), [&](unsigned c) { return classes.has(c); });
}

// The console without the lines that name one of the files. The withheld
// count may continue an open progress line: only the count and its line end go.
std::string without_names(std::string text, const std::vector<std::string>& names) {
    for (const std::string& n : names) {
        const std::string count = " >withheld points left out of " + n + ":";
        for (std::size_t at; (at = text.find(count)) != std::string::npos;) text.erase(at, count.size() + 13);  // with its line end
    }
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line)) {
        bool named = false;
        for (const std::string& n : names) named = named || line.find(n) != std::string::npos;
        if (!named) kept += line + '\n';
    }
    return kept;
}

void expect_same_points(const Passes& las, const Passes& txt) {
    EXPECT_EQ(las.explored, txt.explored);
    EXPECT_EQ(las.x, txt.x);
    EXPECT_EQ(las.y, txt.y);
    EXPECT_EQ(las.z, txt.z);
    EXPECT_EQ(las.xorig, txt.xorig);
    EXPECT_EQ(las.yorig, txt.yorig);
}

ClassSet classes(std::string_view list) { return *krel::io::parse_class_list(list); }

// Reads the LAS file of pts and the text dump of its selected points with the
// same settings: the points, the counts and the console (names aside) agree.
// The withheld points of the kept classes are counted in one line after the
// explore pass's file line, and only there.
Passes expect_like_dump(const fs::path& dir, const LasShape& shape, const std::vector<LasRec>& pts, ReadSettings rs) {
    const std::string las = (dir / "p.las").string(), txt = (dir / "p.txt").string();
    const std::string bytes = krel::test::las_file(shape, pts);
    krel::test::write_file(las, bytes);
    krel::test::write_file(txt, dump(shape, pts, rs.classes));
    rs.files = {las};
    const Passes a = both_passes(rs);
    rs.files = {txt};
    const Passes b = both_passes(rs);
    expect_same_points(a, b);
    EXPECT_EQ(without_names(a.out, {las}), without_names(b.out, {txt}));
    const krel::test::ReadLas r = krel::test::read_las(bytes);
    std::int64_t withheld = 0;
    for (std::size_t i = 0; i < r.points.size(); ++i) withheld += r.withheld[i] && rs.classes.has(r.classes[i]) ? 1 : 0;
    const std::string line =
        withheld == 0 ? "" : " >withheld points left out of " + las + ":" + krel::io::format_i(withheld, 12) + "\n";
    EXPECT_TRUE(a.out.starts_with(" ->exploring " + las + "\n" + line)) << a.out;
    EXPECT_EQ(a.out.find("withheld"), withheld == 0 ? std::string::npos : a.out.rfind("withheld"));
    return a;
}

// Points with every class the tests select on (and class 130, which is 2 in
// the 5 bits of formats 0 to 5 from 1.1 on), some withheld, some with the
// synthetic flag beside it, coordinates of both signs.
std::vector<LasRec> mixed_points(int n) {
    std::vector<LasRec> pts;
    for (int i = 0; i < n; ++i) {
        LasRec r;
        const std::int64_t k = i;
        r.X = static_cast<std::int32_t>(k * 100003 % 2000000000 - 777777);
        r.Y = static_cast<std::int32_t>(5 - k * k * 31 % 1000000007);
        r.Z = static_cast<std::int32_t>(1234567 - k * 7919 % 99999989);
        r.cls = static_cast<std::uint8_t>(i % 3 == 0 ? 2 : i % 3 == 1 ? 1 : i % 11 == 4 ? 130 : 9);
        r.withheld = i % 7 == 3;
        r.synthetic = i % 5 == 1;
        pts.push_back(r);
    }
    return pts;
}

TEST(LasClassList, ParsesListsAndRefusesTheRest) {
    struct Case {
        std::string_view text;
        std::vector<unsigned> want;  // empty: refused
    };
    const Case cases[] = {
        {"2", {2}},
        {"2,9", {2, 9}},
        {"0,255", {0, 255}},     // both ends of the range
        {"9,2,2", {2, 9}},       // order and repeats do not matter
        {"+2", {2}},             // an integer field may carry a sign
        {"-0", {0}},
        {"007", {7}},
        {"256", {}},             // out of range
        {"-1", {}},
        {"2,", {}},              // empty items
        {",2", {}},
        {"2 9", {}},             // blanks are not separators here
        {" 2", {}},
        {"2;9", {}},
        {"2.0", {}},             // not an integer
        {"ground", {}},
        {"99999999999", {}},     // beyond 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "'" << c.text << "'");
        const auto got = krel::io::parse_class_list(c.text);
        if (c.want.empty()) {
            EXPECT_FALSE(got.has_value());
            continue;
        }
        ASSERT_TRUE(got.has_value());
        EXPECT_FALSE(got->all);
        std::vector<unsigned> kept;
        for (unsigned k = 0; k < 256; ++k)
            if (got->has(k)) kept.push_back(k);
        EXPECT_EQ(kept, c.want);
    }
}

TEST(LasHeader, BrokenHeadersNameTheField) {
    struct Case {
        std::string what;
        LasShape shape;
        std::size_t size;  // 0: as written; else the file is cut to this size
        std::string want;
    };
    auto with = [](auto f) {
        LasShape s;
        f(s);
        return s;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"cut inside 227 bytes", {}, 100, "the file ends inside the LAS header: 100 bytes, at least 227 needed"},
        {"version 2", with([](LasShape& s) { s.major = 2; }), 0, "LAS header: version major is 2, must be 1"},
        {"version 0", with([](LasShape& s) { s.major = 0; }), 0, "LAS header: version major is 0, must be 1"},
        {"header size 226", with([](LasShape& s) { s.header_size = 226; }), 0,
         "LAS header: header size is 226, must be at least 227"},
        {"header past the end", with([](LasShape& s) { s.header_size = 375; }), 300,
         "LAS header: header size is 375 but the file has only 300 bytes"},
        {"LAZ bit 6", with([](LasShape& s) { s.format = 0x43; s.record_length = 34; }), 0,
         "LAZ points without their compression record (variable-length record 22204)"},
        {"format 11", with([](LasShape& s) { s.format = 11; s.record_length = 80; }), 0,
         "LAS header: unknown point format 11"},
        {"record too short", with([](LasShape& s) { s.format = 3; s.record_length = 33; }), 0,
         "LAS header: point record length is 33, format 3 needs at least 34"},
        {"offset inside the header", with([](LasShape& s) { s.point_offset = 226; }), 0,
         "LAS header: offset to point data is 226, smaller than the header size 227"},
        {"x scale NaN", with([&](LasShape& s) { s.scale[0] = nan; }), 0,
         "LAS header: x scale factor is not a finite number"},
        {"z offset infinite", with([&](LasShape& s) { s.offset[2] = -inf; }), 0,
         "LAS header: z offset is not a finite number"},
    };
    krel::test::TempDir dir;
    const std::string path = (dir.path() / "b.las").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = krel::test::las_file(c.shape, mixed_points(3));
        if (c.size != 0) bytes.resize(c.size);
        krel::test::write_file(path, bytes);
        try {
            krel::io::LasFile f(path);
            ADD_FAILURE() << "accepted";
        } catch (const krel::io::IoError& e) {
            EXPECT_EQ(e.what(), "'" + path + "': " + c.want);
        }
    }
}

// Every format, at its minimum length and with extra bytes, in the versions
// that define it: the points, the counts and the console are those of a text
// dump of the selected points. One byte less than the minimum is refused.
TEST(LasPoints, EveryFormatReadsLikeItsTextDump) {
    krel::test::TempDir dir;
    const std::string las = (dir.path() / "p.las").string();
    const std::vector<LasRec> pts = mixed_points(40);
    for (std::uint8_t f = 0; f <= 10; ++f) {
        LasShape short_record;
        short_record.minor = 4;
        short_record.format = f;
        short_record.record_length = static_cast<std::uint16_t>(krel::test::kMinRecord[f] - 1);
        krel::test::write_file(las, krel::test::las_file(short_record, pts));
        EXPECT_THROW(krel::io::LasFile{las}, krel::io::IoError) << "format " << int(f);
        std::vector<std::uint8_t> minors = {4};
        if (f <= 1) minors = {0, 1, 2, 4};
        else if (f <= 3) minors = {2, 4};
        else if (f <= 5) minors = {3, 4};
        for (std::uint8_t minor : minors) {
            for (int extra : {0, 13}) {
                for (std::string_view list : {"", "2", "2,9"}) {
                    SCOPED_TRACE(testing::Message() << "format " << int(f) << ", 1." << int(minor) << ", +"
                                                    << extra << " bytes, -k '" << list << "'");
                    LasShape shape;
                    shape.minor = minor;
                    shape.format = f;
                    shape.record_length = static_cast<std::uint16_t>(krel::test::kMinRecord[f] + extra);
                    shape.scale = {0.001, 0.01, 0.0025};
                    shape.offset = {512000.5, -7.25, 100.0};
                    ReadSettings rs;
                    if (!list.empty()) rs.classes = classes(list);
                    EXPECT_EQ(expect_like_dump(dir.path(), shape, pts, rs).warn, "");
                }
            }
        }
    }
}

// A count that promises more than the file holds, or VLRs that do not fit
// before the points: one warning from the explore pass, and the points that
// are there load.
TEST(LasPoints, CountsAndVlrsThatLie) {
    struct Case {
        std::string what;
        std::function<void(LasShape&)> shape;
        std::size_t written;  // records in the file
        std::size_t cut;      // bytes cut off the end
        std::int64_t want;
        std::string warning;  // after "krel: '<file>': "
    };
    const auto counts = [](std::uint8_t minor, std::uint8_t format, std::int64_t legacy, std::int64_t count64) {
        return [=](LasShape& s) {
            s.minor = minor;
            s.format = format;
            s.legacy_count = legacy;
            s.count64 = count64;
            if (minor == 3 && count64 >= 0) s.header_size = 375;  // room where 1.4 has the count
        };
    };
    const auto vlrs = [](std::vector<std::string> v, std::int64_t count, std::int64_t length) {
        return [=](LasShape& s) {
            s.vlrs = v;
            s.vlr_count = count;
            s.vlr_length = length;
        };
    };
    const Case cases[] = {
        {"legacy count", counts(2, 3, 5, -1), 5, 0, 5, ""},
        {"1.4 legacy 0", counts(4, 6, 0, 5), 5, 0, 5, ""},
        {"1.4 64-bit larger", counts(4, 1, 3, 5), 5, 0, 5, ""},
        {"1.4 legacy larger", counts(4, 1, 5, 3), 5, 0, 5, ""},
        {"1.4 records beyond the count stay unread", counts(4, 1, 3, 3), 5, 0, 3, ""},
        {"1.3 has no 64-bit count", counts(3, 1, 3, 5), 5, 0, 3, ""},
        {"truncated last record", counts(2, 0, 5, -1), 5, 1, 4, "LAS header promises 5 points, the file holds 4; reading 4"},
        {"64-bit count of 2^40", counts(4, 6, 0, std::int64_t{1} << 40), 3, 0, 3,
         "LAS header promises 1099511627776 points, the file holds 3; reading 3"},
        {"point data past the end", [](LasShape& s) { s.legacy_count = 2; s.point_offset = 100000; }, 0, 99500, 0,
         "LAS header promises 2 points, the file holds 0; reading 0"},
        {"no points", counts(2, 0, 0, -1), 0, 0, 0, ""},
        {"sound VLRs", vlrs({"abc", std::string(300, 'v')}, -1, -1), 7, 0, 7, ""},
        {"a VLR length past the points", vlrs({"0123456789"}, -1, 60000), 7, 0, 7,
         "variable-length record 1 of 1 (60000 bytes) does not end before the point data at byte 291; the points are read from there"},
    };
    krel::test::TempDir dir;
    const std::string las = (dir.path() / "c.las").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LasShape shape;
        c.shape(shape);
        std::vector<LasRec> pts = mixed_points(static_cast<int>(c.written));
        for (LasRec& r : pts) r.withheld = false;
        krel::test::write_file(las, krel::test::las_file(shape, pts, c.cut));
        ReadSettings rs;
        rs.files = {las};
        const Passes p = both_passes(rs);
        EXPECT_EQ(p.explored, c.want);
        EXPECT_EQ(static_cast<std::int64_t>(p.z.size()), c.want);
        // Warnings come once, from the explore pass.
        EXPECT_EQ(p.warn, c.warning.empty() ? "" : "krel: '" + las + "': " + c.warning + "\n");
    }
}

// Map coordinates far from the origin and raw values at the ends of the
// 32-bit range keep every bit; a coordinate that overflows is a read error,
// as "inf" is in a text file.
TEST(LasPoints, FarAndOverflowingCoordinates) {
    krel::test::TempDir dir;
    struct Case {
        std::string what;
        std::array<double, 3> scale, offset;
        std::string errors;  // read-error lines of the explore pass
    };
    const Case cases[] = {
        {"far", {0.001, 0.001, 0.001}, {4.5e6, 5.7e6, 1000.0}, ""},
        {"very far", {1e-7, 1e-7, 0.01}, {-1.2e8, 9.9e9, -11000.5}, ""},
        // Z = 1e9 gives 1e39; the others stay finite but above the default z range.
        {"z overflows float", {0.01, 0.01, 1e30}, {0, 0, 0}, " ***error reading line            3\n"},
    };
    std::vector<LasRec> pts(4);
    pts[0] = {2147483647, -2147483647 - 1, 12, 2};
    pts[1] = {-2147483647 - 1, 2147483647, 1000000000, 2};
    pts[2] = {123456789, -987654321, -5, 2};
    pts[3] = {1, -1, 0, 2};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LasShape shape;
        shape.scale = c.scale;
        shape.offset = c.offset;
        const Passes a = expect_like_dump(dir.path(), shape, pts, ReadSettings{});
        const std::string explore = a.out.substr(0, a.out.find(">Total"));
        EXPECT_EQ(explore.substr(explore.find('\n') + 1), c.errors + "\n ");
    }
}

// Thinning and the progress line count LAS points as the lines of a text
// dump, across files of both kinds: the same points are kept at every iskip.
TEST(LasPoints, CountersRunAsForTextAcrossFiles) {
    krel::test::TempDir dir;
    const fs::path d = dir.path();
    LasShape shape;
    shape.format = 1;
    // About 118,000 points of classes 1 and 2 in all: the progress line comes
    // in the second LAS file.
    const std::vector<LasRec> a = mixed_points(90001), b = mixed_points(100001);
    const ClassSet kept = classes("1,2");
    krel::test::write_file(d / "a.las", krel::test::las_file(shape, a));
    krel::test::write_file(d / "b.las", krel::test::las_file(shape, b));
    krel::test::write_file(d / "a.txt", dump(shape, a, kept));
    krel::test::write_file(d / "b.txt", dump(shape, b, kept));
    krel::test::write_file(d / "t.xyz", "x y z\n1 2 3\n4 5 6\n");  // a title line: a read error
    const std::vector<std::string> names = {(d / "a.las").string(), (d / "b.las").string(),
                                            (d / "a.txt").string(), (d / "b.txt").string()};
    for (std::int32_t iskip : {1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << "iskip " << iskip);
        ReadSettings rs;
        rs.iskip = iskip;
        rs.classes = kept;
        rs.files = {names[0], (d / "t.xyz").string(), names[1]};
        const Passes l = both_passes(rs);
        rs.files = {names[2], (d / "t.xyz").string(), names[3]};
        const Passes t = both_passes(rs);
        expect_same_points(l, t);
        EXPECT_EQ(without_names(l.out, names), without_names(t.out, names));
        if (iskip == 1) {
            EXPECT_NE(l.out.find(">explore   0 M"), std::string::npos);  // the progress line came
        }
    }
}

TEST(LasFile, BlocksHoldWholeRecords) {
    krel::test::TempDir dir;
    const std::string las = (dir.path() / "b.las").string();
    LasShape shape;
    shape.format = 3;  // 34 bytes
    krel::test::write_file(las, krel::test::las_file(shape, mixed_points(11)));
    for (std::size_t block : {1UL, 34UL, 35UL, 100UL, 1UL << 20}) {
        SCOPED_TRACE(testing::Message() << "block of " << block << " bytes");
        krel::io::LasFile f(las, block);
        EXPECT_EQ(f.records(), 11U);
        std::span<const unsigned char> b;
        std::size_t records = 0;
        while (f.next_block(b)) {
            ASSERT_EQ(b.size() % 34, 0U);
            ASSERT_GT(b.size(), 0U);
            records += b.size() / 34;
        }
        EXPECT_EQ(records, 11U);
    }
}

TEST(LasFile, OnlyLasfAtTheStartIsLas) {
    krel::test::TempDir dir;
    struct Case { std::string content; bool las; };
    const Case cases[] = {
        {"LASF", true},
        {"LASF and more", true},
        {"LAS", false},          // too short
        {"lasf....", false},     // case matters
        {" LASF", false},
        {"", false},
    };
    const std::string path = (dir.path() / "f").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        krel::test::write_file(path, c.content);
        EXPECT_EQ(krel::io::is_las_file(path), c.las);
    }
    EXPECT_FALSE(krel::io::is_las_file((dir.path() / "missing").string()));
}

}  // namespace

// Whole runs of krel on LAS files: every shared sample gives the run that a
// text dump of its selected points gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/las_reader.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;
using krel::test::write_file;

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
            const std::string text = krel::test::las_as_text(
                bytes, [&](unsigned c) { return only < 0 || c == static_cast<unsigned>(only); });
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
            EXPECT_TRUE(la.result == lt.result && la.listing == lt.listing) << "outputs differ";
        }
    }
}

}  // namespace

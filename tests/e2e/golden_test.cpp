// Golden end-to-end cases: each folder under tests/e2e/cases holds one run of
// the built krel, compared byte for byte with what it must print and write.
//
//   args           the arguments, one per line
//   data           shared sample files (one per line, relative to the sample
//                  folder, e.g. las/simple.las) linked into the run's folder
//                  under their file names; skipped without the samples
//   stdin          standard input (absent: standard input at its end)
//   wrapper        a command to run krel under, one word per line
//   needs          "nosan": skip under the sanitizers (address-space limits)
//   in/            files copied into the run's folder first (links as links)
//   expect/status  the exit status
//   expect/stdout  standard output
//   expect/stderr  standard error (absent: must be empty)
//   expect/files/  every file the folder must hold afterwards besides in/,
//                  with its exact content (an in/ file listed here must have
//                  changed to that content)
//   ignore         output files (one per line) that must exist but whose
//                  content is checked elsewhere (too large to keep)
//
// KREL_UPDATE_GOLDEN=1 rewrites expect/ from the actual run; review the diff.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_krel.hpp"
#include "support/sanitized.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;
using krel::test::write_file;

const fs::path kCases = fs::path(KREL_SOURCE_DIR) / "tests" / "e2e" / "cases";

std::vector<std::string> lines_of(const fs::path& p) { return krel::test::split_lines(read_file(p)); }

std::set<std::string> files_under(const fs::path& dir) {
    std::set<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (!e.is_directory()) names.insert(e.path().lexically_relative(dir).string());
    return names;
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, Run) {
    const fs::path c = kCases / GetParam();
    const fs::path data = krel::test::shared_data();
    const std::string needs = fs::exists(c / "needs") ? read_file(c / "needs") : "";
    const std::vector<std::string> samples = fs::exists(c / "data") ? lines_of(c / "data") : std::vector<std::string>{};
    std::vector<std::string> linked;  // their names in the run's folder
    for (const std::string& f : samples) linked.push_back(fs::path(f).filename().string());
    if (!linked.empty() && data.empty()) GTEST_SKIP() << "../shared/data not found";
    if (needs.find("nosan") != std::string::npos && krel::test::sanitized()) GTEST_SKIP() << "not under the sanitizers";

    krel::test::TempDir tmp;
    if (fs::exists(c / "in"))
        fs::copy(c / "in", tmp.path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const std::string& f : samples) fs::create_symlink(data / f, tmp.path() / fs::path(f).filename());
    const std::vector<std::string> args = lines_of(c / "args");
    std::vector<std::string> wrapper;
    if (fs::exists(c / "wrapper")) wrapper = lines_of(c / "wrapper");
    const std::string stdin_text = fs::exists(c / "stdin") ? read_file(c / "stdin") : "";
    const auto o = krel::test::run_krel(tmp.path(), args, fs::exists(c / "stdin") ? &stdin_text : nullptr, wrapper);

    const std::set<std::string> inputs = files_under(c / "in");
    std::set<std::string> ignored(linked.begin(), linked.end());
    if (fs::exists(c / "ignore"))
        for (const std::string& f : lines_of(c / "ignore")) ignored.insert(f);
    for (const std::string& f : ignored) EXPECT_TRUE(fs::exists(tmp.path() / f)) << f;
    std::set<std::string> produced;
    for (const std::string& f : files_under(tmp.path())) {
        if (ignored.count(f) != 0) continue;
        const bool unchanged_input =
            inputs.count(f) != 0 && read_file(tmp.path() / f) == read_file(c / "in" / f);
        if (!unchanged_input) produced.insert(f);
    }
    if (std::getenv("KREL_UPDATE_GOLDEN") != nullptr) {
        fs::remove_all(c / "expect");
        fs::create_directories(c / "expect" / "files");
        write_file(c / "expect" / "status", std::to_string(o.status) + "\n");
        write_file(c / "expect" / "stdout", o.out);
        if (!o.err.empty()) write_file(c / "expect" / "stderr", o.err);
        for (const std::string& f : produced) {
            fs::create_directories((c / "expect" / "files" / f).parent_path());
            write_file(c / "expect" / "files" / f, read_file(tmp.path() / f));
        }
        return;
    }

    EXPECT_EQ(std::to_string(o.status) + "\n", read_file(c / "expect" / "status"));
    EXPECT_EQ(o.out, read_file(c / "expect" / "stdout"));
    EXPECT_EQ(o.err, fs::exists(c / "expect" / "stderr") ? read_file(c / "expect" / "stderr") : "");
    const std::set<std::string> want = files_under(c / "expect" / "files");
    EXPECT_EQ(produced, want) << "files written";
    for (const std::string& f : want) {
        if (!fs::exists(tmp.path() / f)) continue;
        EXPECT_EQ(read_file(tmp.path() / f), read_file(c / "expect" / "files" / f)) << f;
    }
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(kCases))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string>& i) {
                             std::string n = i.param;
                             std::replace_if(n.begin(), n.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
                             return n;
                         });

}  // namespace

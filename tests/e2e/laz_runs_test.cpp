// Whole runs of krel on LAZ files: each gives exactly the console, listing,
// result and exit status of its uncompressed twin, at every thread count.
// The refused early point-wise files are golden cases (laz_*_v1*).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;

TEST(ThreadedLazRuns, EverySampleRunsLikeItsTwin) {
    const fs::path data = krel::test::shared_data();
    if (data.empty() || !fs::is_directory(data / "laz")) GTEST_SKIP() << "../shared/data/laz not found";
    struct Case { const char* laz; const char* twin; };
    const Case cases[] = {
        {"laz/point10.laz", "laz/point10.las"},
        {"laz/point-time-color.laz", "laz/point-time-color.las"},
        {"laz/extra-bytes.laz", "laz/extra-bytes.las"},
        {"laz/autzen_trim.laz", "las/autzen_trim.las"},
        {"laz/1_4_w_evlr.laz", "laz/1_4_w_evlr.las"},
        {"laz/append-bug.laz", "laz/append-bug.las"},
        {"laz/1.2-with-color.copc.laz", "laz/1.2-with-color.copc.las"},
    };
    const std::vector<std::vector<std::string>> option_sets = {{"-j", "1"}, {"-k", "2", "-z", "130", "-j", "3"}};
    for (const Case& c : cases) {
        for (const auto& options : option_sets) {
            std::string shown;
            for (const std::string& o : options) shown += ' ' + o;
            SCOPED_TRACE(std::string(c.laz) + shown);
            // Both under the same name, so every line that names the file
            // is compared too.
            krel::test::TempDir a, b;
            fs::create_symlink(data / c.laz, a.path() / "p.las");
            fs::create_symlink(data / c.twin, b.path() / "p.las");
            std::vector<std::string> args = options;
            args.push_back("p.las");
            const auto la = krel::test::run_krel(a.path(), args);
            // The twin at one thread: the run does not depend on -j.
            std::vector<std::string> serial = args;
            for (std::size_t i = 0; i + 1 < serial.size(); ++i)
                if (serial[i] == "-j") serial[i + 1] = "1";
            krel::test::expect_same(la, krel::test::run_krel(b.path(), serial));
        }
    }
}

}  // namespace

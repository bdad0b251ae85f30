// LAZ input: one pass of decoding over a file of 10 million points per point
// format (built from the samples' chunks, bench/synthetic_laz.hpp), at 1 and 2
// threads; the explore pass of the point reader on the same files; and a
// whole default run on 1 million points of LAZ against its uncompressed twin.
//
// Format 7 is grown from the format 8 sample's one chunk of 37,805 points with
// the NIR and extra-byte layers taken out (a chunk size writers use); the COPC
// sample, whose octree pages hold some 16 points each and so measure chunk
// start-up more than decoding, is grown in a row of its own.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

#include "io/getpoints.hpp"
#include "io/las.hpp"
#include "run/run.hpp"
#include "synthetic_laz.hpp"

namespace {

namespace fs = std::filesystem;

class NullOut final : public krel::io::TextOut {
public:
    void put(std::string_view) override {}
};

// The built files, in a folder of their own removed at exit.
class Files {
public:
    Files() {
        std::string templ = (fs::temp_directory_path() / "krel-bench-laz-XXXXXX").string();
        if (::mkdtemp(templ.data()) != nullptr) dir_ = templ;
    }
    ~Files() {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    // The file of `points` points grown from sample (under ../shared/data/laz),
    // with its twin when asked; empty when the sample is missing.
    // as_format7: from the sample as format7_from_format8 makes it over.
    const std::string& get(const std::string& sample, std::uint64_t points, bool twin = false, bool as_format7 = false) {
        const std::string key = sample + '/' + std::to_string(points) + (twin ? "t" : "") + (as_format7 ? "7" : "");
        auto it = made_.find(key);
        if (it != made_.end()) return it->second;
        std::string src = std::string(KREL_SHARED_DATA) + "/laz/" + sample;
        if (as_format7 && !dir_.empty() && fs::exists(src)) {
            const std::string derived = (dir_ / "format7.laz").string();
            std::ofstream(derived, std::ios::binary) << krel::bench::format7_from_format8(krel::bench::slurp(src), src);
            src = derived;
        }
        std::string path;
        if (!dir_.empty() && fs::exists(src)) {
            path = (dir_ / (std::to_string(made_.size()) + ".laz")).string();
            krel::bench::grow_laz(src, points, path, twin ? path + ".las" : std::string());
        }
        return made_.emplace(key, path).first->second;
    }

private:
    fs::path dir_;
    std::map<std::string, std::string> made_;
};

Files& files() {
    static Files f;
    return f;
}

const char* sample_of(int format) {
    switch (format) {
    case 0: return "point10.laz";
    case 1: return "point-time.laz";
    case 2: return "point-color.laz";
    case 3: return "autzen_trim.laz";
    case 6: return "1_4_w_evlr.laz";
    case 7: return "append-bug.laz";  // made over as format 7
    case 77: return "1.2-with-color.copc.laz";  // format 7, octree pages
    default: return "append-bug.laz";
    }
}

// Every record of the file decoded, a block at a time: the reader's ceiling.
void BM_LazDecode(benchmark::State& state) {
    const int format = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    const std::string& path = files().get(sample_of(format), 10'000'000, false, format == 7);
    if (path.empty()) {
        state.SkipWithError("../shared/data/laz not found");
        return;
    }
    std::uint64_t records = 0;
    for (auto _ : state) {
        krel::io::LasFile f(path, krel::io::LasFile::kBlockBytes, threads);
        std::span<const unsigned char> b;
        records = 0;
        while (f.next_block(b)) {
            benchmark::DoNotOptimize(b.data());
            records += b.size() / f.header().record_length;
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(records));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_LazDecode)
    ->ArgsProduct({{0, 1, 2, 3, 6, 7, 8, 77}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// The explore pass of the point reader (decode, class and withheld tests,
// counters), LAZ against its twin.
void BM_Explore(benchmark::State& state) {
    const bool laz = state.range(0) != 0;
    const int threads = static_cast<int>(state.range(1));
    const std::string& base = files().get("autzen_trim.laz", 10'000'000, true);
    if (base.empty()) {
        state.SkipWithError("../shared/data/laz not found");
        return;
    }
    krel::io::ReadSettings rs;
    rs.files = {laz ? base : base + ".las"};
    rs.threads = threads;
    NullOut out, warn;
    std::int64_t got = 0;
    for (auto _ : state) {
        got = krel::io::getpoints(krel::io::PassMode::explore, rs, nullptr, out, warn);
        benchmark::DoNotOptimize(got);
    }
    state.SetItemsProcessed(state.iterations() * got);
}
BENCHMARK(BM_Explore)->ArgsProduct({{1, 0}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// A whole default run (every stage, result and listing written) on 1 million
// points: LAZ and its twin, at -j 1 and -j 2.
void BM_WholeRun(benchmark::State& state) {
    const bool laz = state.range(0) != 0;
    const std::string threads = std::to_string(state.range(1));
    const std::string& base = files().get("autzen_trim.laz", 1'000'000, true);
    if (base.empty()) {
        state.SkipWithError("../shared/data/laz not found");
        return;
    }
    const std::string input = laz ? base : base + ".las";
    const std::string prefix = base + (laz ? ".laz-run" : ".las-run");
    for (auto _ : state) {
        std::ostringstream out, err;
        std::istringstream in;
        const char* argv[] = {"krel", input.c_str(), "-p", prefix.c_str(), "-j", threads.c_str()};
        const krel::Exit status = krel::run(6, argv, out, err, in);
        if (status != krel::Exit{}) state.SkipWithError("the run failed");
    }
    state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_WholeRun)->ArgsProduct({{1, 0}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

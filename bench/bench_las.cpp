// The point reader on LAS files: each pass (explore, load) over the autzen
// sample and over a synthetic file of 10 million points, from page cache, with
// every class and with -k 2. BM_LasBlocks reads the records without decoding
// them: the ceiling that the file system leaves.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

#include "io/getpoints.hpp"
#include "io/las.hpp"
#include "synthetic_las.hpp"

namespace {

namespace fs = std::filesystem;
using krel::io::PassMode;

class NullOut final : public krel::io::TextOut {
public:
    void put(std::string_view) override {}
};

// The synthetic file, written once per process into a folder of its own and
// removed at exit.
class Synthetic {
public:
    static constexpr std::int64_t kPoints = 10'000'000;
    Synthetic() {
        std::string templ = (fs::temp_directory_path() / "krel-bench-XXXXXX").string();
        if (::mkdtemp(templ.data()) != nullptr) {
            dir_ = templ;
            path_ = (dir_ / "synthetic_10m.las").string();
            krel::bench::write_synthetic_las(path_, kPoints);
        }
    }
    ~Synthetic() {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    fs::path dir_;
    std::string path_;
};

const std::string& synthetic() {
    static const Synthetic file;
    return file.path();
}

std::string autzen() { return std::string(KREL_SHARED_DATA) + "/las/autzen_trim.las"; }

void pass(benchmark::State& state, const std::string& path, PassMode mode, std::string_view list) {
    if (path.empty() || !fs::exists(path)) {
        state.SkipWithError("input not found");
        return;
    }
    krel::io::ReadSettings rs;
    rs.files = {path};
    if (!list.empty()) rs.classes = *krel::io::parse_class_list(list);
    NullOut out, warn;
    const std::int64_t count = krel::io::getpoints(PassMode::explore, rs, nullptr, out, warn);
    krel::io::NodeArrays nodes;
    if (!nodes.allocate(static_cast<std::int32_t>(count > 0 ? count : 1))) {
        state.SkipWithError("no memory for the node arrays");
        return;
    }
    std::int64_t got = 0;
    for (auto _ : state) {
        got = krel::io::getpoints(mode, rs, mode == PassMode::load ? &nodes : nullptr, out, warn);
        benchmark::DoNotOptimize(got);
        benchmark::DoNotOptimize(nodes.z.get());
    }
    const std::int64_t records = static_cast<std::int64_t>(krel::io::LasFile(path).records());
    state.SetItemsProcessed(state.iterations() * records);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
    state.counters["kept"] = static_cast<double>(got);
}

void blocks(benchmark::State& state, const std::string& path) {
    if (path.empty() || !fs::exists(path)) {
        state.SkipWithError("input not found");
        return;
    }
    std::uint64_t records = 0;
    for (auto _ : state) {
        krel::io::LasFile f(path);
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

void BM_LasExplore(benchmark::State& s, bool big, const char* list) { pass(s, big ? synthetic() : autzen(), PassMode::explore, list); }
void BM_LasLoad(benchmark::State& s, bool big, const char* list) { pass(s, big ? synthetic() : autzen(), PassMode::load, list); }
void BM_LasBlocks(benchmark::State& s, bool big) { blocks(s, big ? synthetic() : autzen()); }

BENCHMARK_CAPTURE(BM_LasBlocks, autzen, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasExplore, autzen, false, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasLoad, autzen, false, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasExplore, autzen_k2, false, "2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasLoad, autzen_k2, false, "2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasBlocks, synthetic_10m, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasExplore, synthetic_10m, true, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasLoad, synthetic_10m, true, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasExplore, synthetic_10m_k2, true, "2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LasLoad, synthetic_10m_k2, true, "2")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The pathological inputs of tests/e2e/pathological_test.cpp at full size,
// each at two sizes to show how the time grows with the point count. Each run
// is the whole program (krel::run) in a child process, so that its peak
// resident memory is its own; the input file is written before the clock
// starts. Reports wall seconds, input points, kept nodes, tiles and peak
// memory.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "run/run.hpp"
#include "support/pathological.hpp"

namespace {

namespace fs = std::filesystem;
namespace patho = krel::test::patho;
using Sink = std::function<void(std::string_view)>;

struct Case {
    std::string name;
    std::int64_t points;
    std::function<void(const Sink&)> make;
    std::vector<std::string> options;
};

long long number_after(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + label.size());
}

void run_case(benchmark::State& state, const Case& c) {
    const fs::path dir = fs::temp_directory_path() / ("krel-patho-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string input = (dir / "p.xyz").string();
    {
        std::FILE* f = std::fopen(input.c_str(), "wb");
        c.make([f](std::string_view l) { std::fwrite(l.data(), 1, l.size(), f); });
        std::fclose(f);
    }
    const std::string prefix = (dir / "out").string();
    const std::string console = (dir / "console.txt").string();
    std::vector<std::string> args{"krel", input, "-p", prefix};
    args.insert(args.end(), c.options.begin(), c.options.end());

    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<const char*> argv;
            for (const std::string& a : args) argv.push_back(a.c_str());
            std::ofstream out(console);
            std::ostringstream err;
            std::istringstream in;
            const krel::Exit status = krel::run(static_cast<int>(argv.size()), argv.data(), out, err, in);
            out.close();
            std::_Exit(static_cast<int>(status));
        }
        int wstatus = 0;
        struct rusage ru {};
        ::wait4(pid, &wstatus, 0, &ru);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
        if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) state.SkipWithError("the run failed");
        state.counters["peak_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
    }
    std::ifstream f(console);
    std::stringstream text;
    text << f.rdbuf();
    state.counters["points"] = static_cast<double>(c.points);
    state.counters["kept"] = static_cast<double>(number_after(text.str(), "***KREL reduced to"));
    state.counters["tiles"] = static_cast<double>(number_after(text.str(), ">Tiles"));
    state.SetItemsProcessed(state.iterations() * c.points);
    fs::remove_all(dir);
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const std::int64_t n : {250'000LL, 1'000'000LL})
        all.push_back({"identical/" + std::to_string(n), n, [n](const Sink& s) { patho::identical(n, s); }, {}});
    for (const std::int64_t n : {250'000LL, 1'000'000LL})
        all.push_back({"line/" + std::to_string(n), n, [n](const Sink& s) { patho::line(n, s); }, {}});
    // One tile: 400 cells of 2.51 m span 1004 m.
    for (const std::int64_t side : {500LL, 1000LL})
        all.push_back({"grid_one_tile/" + std::to_string(side * side), side * side,
                       [side](const Sink& s) { patho::grid(side, 1.0, s); }, {"-r", "2.51"}});
    for (const std::int64_t n : {250'000LL, 1'000'000LL})
        all.push_back({"z_equal/" + std::to_string(n), n, [n](const Sink& s) { patho::flat(n, 0.35, 250.0, s); }, {}});
    for (const std::int64_t side : {500LL, 1000LL})
        all.push_back({"z_alternating/" + std::to_string(side * side), side * side,
                       [side](const Sink& s) { patho::checkerboard(side, 0.5, 0.0, 1000.0, s); }, {}});
    for (const std::int64_t n : {1'250'000LL, 5'000'000LL})
        all.push_back({"one_square_metre/" + std::to_string(n), n, [n](const Sink& s) { patho::square(n, s); }, {}});
    for (const std::int64_t side : {500LL, 1000LL})
        all.push_back({"near_1e7/" + std::to_string(side * side), side * side,
                       [side](const Sink& s) { patho::near_1e7(side, s); }, {}});
    for (const std::int64_t side : {200LL, 400LL})
        all.push_back({"full_tile/" + std::to_string(side * side), side * side,
                       [side](const Sink& s) { patho::full_tile(side, s); }, {"-t", "0.0025"}});
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    static const std::vector<Case> all = cases();
    for (const Case& c : all)
        benchmark::RegisterBenchmark(("BM_Pathological/" + c.name).c_str(), [&c](benchmark::State& st) { run_case(st, c); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

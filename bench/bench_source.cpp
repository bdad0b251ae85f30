// Compressed and streamed input: 10 million points of the synthetic terrain
// as plain text and compressed with each format (gzip -6, zstd -3 with its
// checksum, bzip2 -9, xz -1: xz decompresses at the same rate at every
// level and -1 compresses in seconds), from the page cache. BM_Decompress
// reads the content only; BM_Explore and BM_Load are the reader's passes;
// BM_KeepStream copies a pipe to the temporary file as the first pass does.
// The compressed files are made once and kept beside the plain one.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "io/getpoints.hpp"
#include "io/source.hpp"
#include "support/compress.hpp"
#include "terrain.hpp"

namespace {

namespace fs = std::filesystem;
using krel::io::Compression;

constexpr std::int64_t kPoints = 10'000'000;

class NullOut final : public krel::io::TextOut {
public:
    void put(std::string_view) override {}
};

std::string slurp(const std::string& path) {
    std::string s(fs::file_size(path), '\0');
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr || std::fread(s.data(), 1, s.size(), f) != s.size()) s.clear();
    if (f != nullptr) std::fclose(f);
    return s;
}

// The terrain file compressed with `c`, made on first use.
std::string compressed_file(Compression c) {
    const std::string plain = krel::gen::terrain_file(kPoints);
    if (c == Compression::none) return plain;
    const std::string path = plain + "." + std::string(krel::io::compression_name(c));
    if (fs::exists(path)) return path;
    const std::string text = slurp(plain);
    const std::string packed = c == Compression::xz ? krel::test::xz(text, 1) : krel::test::compress(c, text);
    std::FILE* f = std::fopen((path + ".part").c_str(), "wb");
    if (f == nullptr) return path;
    std::fwrite(packed.data(), 1, packed.size(), f);
    std::fclose(f);
    fs::rename(path + ".part", path);
    return path;
}

void set_rates(benchmark::State& state) {
    const auto bytes = static_cast<std::int64_t>(fs::file_size(krel::gen::terrain_file(kPoints)));
    state.SetItemsProcessed(state.iterations() * kPoints);
    state.SetBytesProcessed(state.iterations() * bytes);  // of content: the plain text
}

void BM_Decompress(benchmark::State& state) {
    const auto c = static_cast<Compression>(state.range(0));
    const std::string path = compressed_file(c);
    std::vector<char> buf(std::size_t{4} << 20);
    state.SetLabel(std::string(krel::io::compression_name(c)) + ", " +
                   std::to_string(fs::file_size(path) >> 20) + " MiB");
    for (auto _ : state) {
        krel::io::ByteSource src("bench", path);
        std::int64_t total = 0;
        for (ssize_t got; (got = src.read(buf.data(), buf.size())) > 0;) total += got;
        benchmark::DoNotOptimize(total);
    }
    set_rates(state);
}

// range(1): threads; 2 decompresses on a helper thread (the reading in
// chunks is not asked for: no plans).
void BM_Explore(benchmark::State& state) {
    const auto c = static_cast<Compression>(state.range(0));
    krel::io::ReadSettings rs;
    rs.files = {compressed_file(c)};
    rs.threads = static_cast<int>(state.range(1));
    state.SetLabel(std::string(krel::io::compression_name(c)));
    for (auto _ : state) {
        NullOut console, warnings;
        benchmark::DoNotOptimize(krel::io::getpoints(krel::io::PassMode::explore, rs, nullptr, console, warnings));
    }
    set_rates(state);
}

void BM_Load(benchmark::State& state) {
    const auto c = static_cast<Compression>(state.range(0));
    krel::io::ReadSettings rs;
    rs.files = {compressed_file(c)};
    rs.threads = static_cast<int>(state.range(1));
    state.SetLabel(std::string(krel::io::compression_name(c)));
    krel::io::NodeArrays nodes;
    if (!nodes.allocate(static_cast<std::int32_t>(kPoints))) state.SkipWithError("no memory");
    for (auto _ : state) {
        NullOut console, warnings;
        benchmark::DoNotOptimize(krel::io::getpoints(krel::io::PassMode::load, rs, &nodes, console, warnings));
    }
    set_rates(state);
}

// The plain text through a pipe, written by another thread as fast as the
// page cache gives it, copied to a temporary folder.
void BM_KeepStream(benchmark::State& state) {
    const std::string plain = krel::gen::terrain_file(kPoints);
    const std::string text = slurp(plain);
    const fs::path folder = fs::temp_directory_path() / ("krel-bench-keep-" + std::to_string(::getpid()));
    for (auto _ : state) {
        fs::create_directories(folder);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) state.SkipWithError("no pipe");
        std::thread writer([&] {
            for (std::size_t at = 0; at < text.size();) {
                const ssize_t put = ::write(fds[1], text.data() + at, text.size() - at);
                if (put <= 0) break;
                at += static_cast<std::size_t>(put);
            }
            ::close(fds[1]);
        });
        krel::io::KeptStreams kept([&] { return folder.string(); });
        benchmark::DoNotOptimize(kept.path_for("/proc/self/fd/" + std::to_string(fds[0])));
        writer.join();
        ::close(fds[0]);
        fs::remove_all(folder);
    }
    set_rates(state);
}

void formats(benchmark::internal::Benchmark* b) {
    for (const Compression c : {Compression::none, Compression::gzip, Compression::zstd, Compression::bzip2,
                                Compression::xz})
        b->Arg(static_cast<int>(c));
}

BENCHMARK(BM_Decompress)->Apply(formats)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
void formats_threads(benchmark::internal::Benchmark* b) {
    for (const Compression c : {Compression::none, Compression::gzip, Compression::zstd, Compression::bzip2,
                                Compression::xz})
        for (const int threads : {1, 2}) b->Args({static_cast<int>(c), threads});
}

// Rates by the wall clock; the CPU column is the whole process's, helper
// thread included.
BENCHMARK(BM_Explore)->Apply(formats_threads)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Load)->Apply(formats_threads)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_KeepStream)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

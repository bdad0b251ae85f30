#pragma once
// Runs krel in a folder, as the built binary in a child process or as
// krel::run in-process, and captures what it prints and writes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "run/sequence.hpp"

namespace krel::test {

struct Outcome {
    int status = -1;      // exit status; 128 + signal when killed
    std::string out;      // standard output
    std::string err;      // standard error
    std::string result;   // the folder's out.xyz and out.err afterwards ("" when absent)
    std::string listing;
};

// args do not include the program name. stdin_text nullptr: standard input at
// its end (an empty file). wrapper: a command (and its options) to run krel under,
// e.g. {"prlimit", "--as=100000000", "--"}.
Outcome run_krel(const std::filesystem::path& dir, const std::vector<std::string>& args,
                 const std::string* stdin_text = nullptr, const std::vector<std::string>& wrapper = {});

// krel::run in-process with "-p dir/out" after args, standard input empty.
// out.xyz and out.err of an earlier run in dir are removed first, so runs in
// one folder compare whole outputs.
Outcome run_in_process(const std::filesystem::path& dir, const std::vector<std::string>& args,
                       const RunHooks& hooks = {});

// krel started in the background, for tests that signal it while it runs.
class Running {
public:
    Running(const std::filesystem::path& dir, const std::vector<std::string>& args,
            const std::vector<std::string>& wrapper = {});
    ~Running();  // kills a child still running
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    void signal(int sig) const;
    [[nodiscard]] bool alive() const;
    Outcome wait();

private:
    std::filesystem::path dir_;
    int pid_ = -1;
    bool waited_ = false;
};

// Writes bytes into the FIFO at path from another thread, as a producer
// would; the destructor waits for the writer.
class FifoWriter {
public:
    FifoWriter(const std::filesystem::path& fifo, std::string bytes);
    ~FifoWriter() { thread_.join(); }
    FifoWriter(const FifoWriter&) = delete;
    FifoWriter& operator=(const FifoWriter&) = delete;

private:
    std::thread thread_;
};

// A fresh, empty temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& p);
// Expects the same exit status, console, result and listing.
void expect_same(const Outcome& a, const Outcome& b);
void write_file(const std::filesystem::path& p, const std::string& text);
// The lines of text, without their LF.
std::vector<std::string> split_lines(const std::string& text);
// Names of the files in dir whose names contain `part`.
std::vector<std::string> files_named(const std::filesystem::path& dir, const std::string& part);
// The generator's synthetic terrain as x y z lines.
std::string terrain(std::int64_t points, std::uint64_t seed = 1, double spacing = 0.35);
// That terrain written to file; returns the file's name.
std::string write_terrain(const std::filesystem::path& file, std::int64_t points, std::uint64_t seed = 1,
                          double spacing = 0.35);

// The shared sample folder, or an empty path when it is absent.
std::filesystem::path shared_data();

}  // namespace krel::test

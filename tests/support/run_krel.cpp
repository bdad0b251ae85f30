#include "support/run_krel.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "run/run.hpp"
#include "terrain.hpp"

extern char** environ;

namespace krel::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "krel-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void expect_same(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    EXPECT_TRUE(a.result == b.result) << "results differ";
    EXPECT_TRUE(a.listing == b.listing) << "listings differ";
}

void write_file(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> files_named(const fs::path& dir, const std::string& part) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(part) != std::string::npos) out.push_back(e.path().filename().string());
    return out;
}

std::string terrain(std::int64_t points, std::uint64_t seed, double spacing) {
    gen::TerrainSpec spec;
    spec.points = points;
    spec.seed = seed;
    spec.spacing = spacing;
    return gen::terrain_text(spec);
}

std::string write_terrain(const fs::path& file, std::int64_t points, std::uint64_t seed, double spacing) {
    write_file(file, terrain(points, seed, spacing));
    return file.string();
}

fs::path shared_data() {
    const fs::path p = KREL_SHARED_DATA;
    std::error_code ec;
    return fs::is_directory(p, ec) ? fs::canonical(p) : fs::path{};
}

namespace {

int spawn(const fs::path& dir, const std::vector<std::string>& args, const std::string* stdin_text,
          const std::vector<std::string>& wrapper) {
    const fs::path scratch = dir / ".krel-test-io";
    fs::create_directories(scratch);
    const fs::path in_path = scratch / "stdin";
    write_file(in_path, stdin_text != nullptr ? *stdin_text : std::string{});
    std::vector<std::string> argv_s = wrapper;
    argv_s.push_back(KREL_BINARY);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    // An empty file of our own rather than /dev/null: a /dev/null replaced by
    // a plain file (any tool run as root may do it) would feed krel its bytes.
    posix_spawn_file_actions_addopen(&fa, 0, in_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (scratch / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start " + argv_s[0]);
    return pid;
}

Outcome collect(const fs::path& dir, int pid) {
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
    }
    const fs::path scratch = dir / ".krel-test-io";
    Outcome o;
    o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    o.out = read_file(scratch / "stdout");
    o.err = read_file(scratch / "stderr");
    fs::remove_all(scratch);
    o.result = read_file(dir / "out.xyz");
    o.listing = read_file(dir / "out.err");
    return o;
}

}  // namespace

Running::Running(const fs::path& dir, const std::vector<std::string>& args, const std::vector<std::string>& wrapper)
    : dir_(dir), pid_(spawn(dir, args, nullptr, wrapper)) {}

Running::~Running() {
    if (!waited_) {
        ::kill(pid_, SIGKILL);
        (void)collect(dir_, pid_);
    }
}

void Running::signal(int sig) const { ::kill(pid_, sig); }

bool Running::alive() const {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

Outcome Running::wait() {
    waited_ = true;
    return collect(dir_, pid_);
}

FifoWriter::FifoWriter(const fs::path& fifo, std::string bytes)
    : thread_([path = fifo.string(), bytes = std::move(bytes)] {
          const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
          for (std::size_t at = 0; fd >= 0 && at < bytes.size();) {
              const ssize_t put = ::write(fd, bytes.data() + at, bytes.size() - at);
              if (put <= 0) break;
              at += static_cast<std::size_t>(put);
          }
          if (fd >= 0) ::close(fd);
      }) {}

Outcome run_krel(const fs::path& dir, const std::vector<std::string>& args, const std::string* stdin_text,
                 const std::vector<std::string>& wrapper) {
    return collect(dir, spawn(dir, args, stdin_text, wrapper));
}

Outcome run_in_process(const fs::path& dir, const std::vector<std::string>& args, const RunHooks& hooks) {
    fs::remove(dir / "out.xyz");
    fs::remove(dir / "out.err");
    std::vector<std::string> all{"krel"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"-p", (dir / "out").string()});
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream out, err;
    std::istringstream in;
    Outcome o;
    o.status = static_cast<int>(krel::run(static_cast<int>(argv.size()), argv.data(), out, err, in, hooks));
    o.out = out.str();
    o.err = err.str();
    o.result = read_file(dir / "out.xyz");
    o.listing = read_file(dir / "out.err");
    return o;
}

}  // namespace krel::test

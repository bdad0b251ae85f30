#include "support/run_krel.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

void write_file(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

fs::path shared_data() {
    const fs::path p = KREL_SHARED_DATA;
    std::error_code ec;
    return fs::is_directory(p, ec) ? fs::canonical(p) : fs::path{};
}

Outcome run_krel(const fs::path& dir, const std::vector<std::string>& args, const std::string* stdin_text,
                 const std::vector<std::string>& wrapper) {
    const fs::path scratch = dir / ".krel-test-io";
    fs::create_directories(scratch);
    const fs::path in_path = scratch / "stdin";
    const fs::path out_path = scratch / "stdout";
    const fs::path err_path = scratch / "stderr";
    write_file(in_path, stdin_text != nullptr ? *stdin_text : std::string{});

    std::vector<std::string> argv_s = wrapper;
    argv_s.push_back(KREL_BINARY);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, stdin_text != nullptr ? in_path.c_str() : "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start " + argv_s[0]);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
    }
    Outcome o;
    o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    o.out = read_file(out_path);
    o.err = read_file(err_path);
    fs::remove_all(scratch);
    return o;
}

}  // namespace krel::test

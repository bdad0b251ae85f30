#pragma once
// Shared pieces of the fuzz harnesses: the option bytes at the head of an
// input, the lines of the rest, and a private scratch folder that the run may
// write into.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <sstream>

#include "io/fields.hpp"
#include "run/run.hpp"

namespace krel::fuzz {

// A broken expectation: print it and abort, which libFuzzer reports as a crash
// with the input that caused it.
[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.c_str());
    std::abort();
}
#define KREL_FUZZ_CHECK(cond, ...) \
    do {                           \
        if (!(cond)) ::krel::fuzz::fail(#cond __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)

// Option bytes taken from the front of the input; missing bytes read as 0, so
// every input, however short, is a valid one.
class Head {
public:
    Head(const std::uint8_t* data, std::size_t size, std::size_t head_bytes)
        : data_(data), size_(size < head_bytes ? size : head_bytes), rest_(size - size_) {}

    [[nodiscard]] std::uint8_t byte(std::size_t i) const { return i < size_ ? data_[i] : 0; }
    template <class T, std::size_t N>
    [[nodiscard]] const T& pick(std::size_t i, const T (&table)[N]) const {
        return table[byte(i) % N];
    }
    // The bytes after the head.
    [[nodiscard]] std::string_view rest() const {
        return {reinterpret_cast<const char*>(data_ + size_), rest_};
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t rest_;
};

// The lines of a text held in memory, as a file would give them: split at LF,
// a CR before the LF (or ending the last line) dropped. Counts the lines it
// handed out, so a harness can see that a reader makes progress.
class MemoryLines final : public io::LineSource {
public:
    explicit MemoryLines(std::string_view text) : text_(text) {}
    bool next(std::string_view& line) override {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        const std::size_t after = end == std::string_view::npos ? text_.size() : end + 1;
        if (end == std::string_view::npos) end = text_.size();
        std::size_t stop = end;
        if (stop > pos_ && text_[stop - 1] == '\r') --stop;
        line = text_.substr(pos_, stop - pos_);
        pos_ = after;
        ++handed_;
        return true;
    }
    [[nodiscard]] std::size_t handed() const { return handed_; }
    [[nodiscard]] std::size_t total() const {
        std::size_t n = 0;
        for (std::size_t p = 0; p < text_.size();) {
            const std::size_t e = text_.find('\n', p);
            ++n;
            if (e == std::string_view::npos) break;
            p = e + 1;
        }
        return n;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t handed_ = 0;
};

// A scratch folder of this process under $TMPDIR (or /tmp), emptied before
// each input. enter() makes it the current folder until the Scope ends, so
// that a run's outputs land there and libFuzzer's own files do not.
class Scratch {
public:
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/krel-fuzz-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) fail("mkdtemp", templ);
        path_ = templ;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

    // Removes everything in the folder.
    void clear() const {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(path_, ec)) std::filesystem::remove_all(e.path(), ec);
    }

    void write(const std::string& name, std::string_view bytes) const {
        const std::string p = (path_ / name).string();
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) fail("cannot create", p);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (got <= 0) fail("cannot write", p);
            done += static_cast<std::size_t>(got);
        }
        ::close(fd);
    }

    [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }

    class Scope {
    public:
        explicit Scope(const Scratch& s) : back_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
            if (back_ < 0 || ::chdir(s.path_.c_str()) != 0) fail("cannot enter", s.path_.string());
        }
        ~Scope() {
            if (::fchdir(back_) != 0) fail("cannot leave the scratch folder");
            ::close(back_);
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        int back_;
    };
    [[nodiscard]] Scope enter() const { return Scope(*this); }

private:
    std::filesystem::path path_;
};

// One scratch folder per harness process, removed when the process ends
// normally.
inline const Scratch& scratch() {
    static const Scratch s;
    return s;
}

// Arguments a run may be given without reaching outside its folder: no slash
// that leads anywhere (a slash alone or at the end of a value is kept, it
// still ends a number field), so no absolute path and no "../".
inline std::string confined(std::string_view arg) {
    std::string a(arg);
    for (std::size_t i = 0; i + 1 < a.size(); ++i)
        if (a[i] == '/') a[i] = '_';
    return a;
}

// The whole program in-process inside the scratch folder, standard input
// empty; the status must be one krel gives, and an I/O end must say why.
inline krel::Exit run_in_scratch(const std::vector<std::string>& args, std::ostringstream& out,
                                 std::ostringstream& err) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::istringstream in;
    krel::Exit status;
    {
        const auto scope = scratch().enter();
        status = krel::run(static_cast<int>(args.size()), argv.data(), out, err, in);
    }
    const int s = static_cast<int>(status);
    KREL_FUZZ_CHECK(s >= 0 && s <= 2, std::to_string(s));
    if (status == krel::Exit::io) KREL_FUZZ_CHECK(err.str().find("krel: ") != std::string::npos);
    return status;
}

}  // namespace krel::fuzz

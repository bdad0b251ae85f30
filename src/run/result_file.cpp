#include "run/result_file.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/file.hpp"
#include "io/io_error.hpp"
#include "run/cleanup.hpp"

namespace krel {

namespace {

// The file a name finally refers to: links followed (also to a file that does
// not exist yet), relative link targets taken from the link's folder.
std::string resolve(std::string name) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
        std::string target(PATH_MAX, '\0');
        const ssize_t len = ::readlink(name.c_str(), target.data(), target.size());
        if (len < 0) return name;
        target.resize(static_cast<std::size_t>(len));
        if (target.empty() || target[0] != '/') {
            const auto slash = name.rfind('/');
            if (slash != std::string::npos) target = name.substr(0, slash + 1) + target;
        }
        name = target;
    }
    return name;
}

}  // namespace

ResultFile::~ResultFile() { discard(); }

void ResultFile::open(const std::string& name) {
    name_ = name;
    in_place_ = false;
    struct stat st {};
    // stat() follows links the way the kernel does, also through /proc's
    // (/dev/stdout), whose targets name no file.
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        target_ = name;
        in_place_ = true;
        temp_.open(name, name_);
        written_ = false;
        return;
    }
    target_ = resolve(name);
    // Fail where writing the result itself would: no name, a folder, a file
    // that may not be written.
    if (target_.empty()) throw io::io_error("open", name_, "for writing", ENOENT);
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw io::io_error("open", name_, "for writing", EISDIR);
        if (::access(target_.c_str(), W_OK) != 0) throw io::io_error("open", name_, "for writing", errno);
    }
    const auto slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string templ = folder + "." + base + ".krel-XXXXXX";
    const io::Fd fd(cleanup::create_file(templ, cleanup_));
    if (!fd.valid()) throw io::io_error("open", name_, "for writing", errno);
    // create_file makes the file private; the result gets the mode of the file it
    // replaces, or that of a new file.
    mode_t mode = 0;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    (void)::fchmod(fd.get(), mode);
    temp_name_ = templ;
    temp_.open(temp_name_, name_);
    written_ = false;
}

void ResultFile::write(std::string_view text) {
    if (text.empty()) return;
    written_ = true;
    temp_.write(text);
}

void ResultFile::commit() {
    if (!temp_.is_open()) return;
    try {
        temp_.close();
    } catch (const io::IoError&) {
        discard();
        throw;
    }
    if (in_place_) return;
    if (written_) {
        if (::rename(temp_name_.c_str(), target_.c_str()) != 0) {
            const int err = errno;
            discard();
            throw io::io_error("write", name_, "", err);
        }
        cleanup::forget(cleanup_);
        cleanup_ = -1;
        temp_name_.clear();
        return;
    }
    discard();
    // Nothing to write: an existing result keeps its content; a missing one
    // is created, as opening it would have.
    if (!io::Fd::open(target_, O_WRONLY | O_CREAT, 0666).valid())
        throw io::io_error("open", name_, "for writing", errno);
}

void ResultFile::discard() {
    if (temp_name_.empty()) return;
    try {
        temp_.close();
    } catch (const io::IoError&) {
    }
    ::unlink(temp_name_.c_str());
    cleanup::forget(cleanup_);
    cleanup_ = -1;
    temp_name_.clear();
}

}  // namespace krel

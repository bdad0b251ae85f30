#include "run/cleanup.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace krel::cleanup {

namespace {

constexpr int kSlots = 16;
constexpr std::size_t kPathBytes = 4096;

struct Slot {
    char path[kPathBytes];
    bool folder;
    std::atomic<bool> used;
};

Slot g_slots[kSlots];  // see the header: the handler's only way to know the paths

// Only system calls here: the handler may interrupt anything.
void unlink_folder_entries(const char* folder) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    alignas(8) char buf[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
        if (got <= 0) break;
        for (long pos = 0; pos < got;) {
            struct Entry {
                unsigned long long ino;
                long long off;
                unsigned short reclen;
                unsigned char type;
                char name[1];
            };
            const auto* e = reinterpret_cast<const Entry*>(buf + pos);
            if (std::strcmp(e->name, ".") != 0 && std::strcmp(e->name, "..") != 0) ::unlinkat(fd, e->name, 0);
            pos += e->reclen;
        }
    }
    ::close(fd);
}

extern "C" void on_signal(int sig) {
    for (Slot& s : g_slots) {
        if (!s.used.load()) continue;
        if (s.folder) {
            unlink_folder_entries(s.path);
            ::rmdir(s.path);
        } else {
            ::unlink(s.path);
        }
    }
    static const char kMsg[] = "krel: interrupted\n";
    (void)!::write(2, kMsg, sizeof kMsg - 1);
    ::_exit(sig == SIGINT ? 130 : 143);
}

}  // namespace

int remember(const std::string& path, bool folder) {
    if (path.size() >= kPathBytes) return -1;
    for (int i = 0; i < kSlots; ++i) {
        Slot& s = g_slots[i];
        if (s.used.load()) continue;
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.folder = folder;
        s.used.store(true);
        return i;
    }
    return -1;
}

void forget(int handle) {
    if (handle >= 0 && handle < kSlots) g_slots[handle].used.store(false);
}

namespace {

// Six name characters from the system's random source, or from the clock and
// the process id where it has none.
void random_suffix(char* out) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char r[6];
    if (::getrandom(r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long long v = static_cast<unsigned long long>(t.tv_nsec) * 6364136223846793005ULL ^
                               static_cast<unsigned long long>(::getpid()) << 32 ^ static_cast<unsigned long long>(t.tv_sec);
        for (unsigned char& c : r) {
            c = static_cast<unsigned char>(v >> 56);
            v = v * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    for (int i = 0; i < 6; ++i) out[i] = kChars[r[i] % (sizeof kChars - 1)];
}

// make(path) creates the file or folder (-1 with errno when it cannot). A name
// already taken is passed over before it is registered, so that a signal in
// the window can only remove a name of this run's making.
template <class Make>
int create(std::string& templ, bool folder, int& handle, Make make) {
    handle = -1;
    const std::size_t n = templ.size();
    if (n < 6 || templ.compare(n - 6, 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return -1;
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        random_suffix(templ.data() + n - 6);
        struct stat st {};
        if (::lstat(templ.c_str(), &st) == 0) continue;
        handle = remember(templ, folder);
        const int got = make(templ.c_str());
        if (got >= 0) return got;
        const int err = errno;
        forget(handle);
        handle = -1;
        if (err != EEXIST) {
            errno = err;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int create_file(std::string& templ, int& handle) {
    return create(templ, false, handle,
                  [](const char* path) { return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
}

int create_folder(std::string& templ, int& handle) {
    return create(templ, true, handle, [](const char* path) { return ::mkdir(path, 0700); });
}

void install_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

void remove_folder(const std::string& path) {
    unlink_folder_entries(path.c_str());
    ::rmdir(path.c_str());
}

}  // namespace krel::cleanup

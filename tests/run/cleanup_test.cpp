// Temporary files and folders made for removal on an interrupt: registered
// before they exist. With the name taken first (mkstemp) and registered after,
// an interrupt in between left the file behind; the end-to-end interrupt test
// caught it now and then under the sanitizers.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "run/cleanup.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::cleanup::create_file;
using krel::cleanup::create_folder;

TEST(TempNames, MadePrivateUniqueAndRegistered) {
    krel::test::TempDir dir;
    struct Case { bool folder; mode_t type, mode; };
    for (const Case c : {Case{false, S_IFREG, 0600}, Case{true, S_IFDIR, 0700}}) {
        SCOPED_TRACE(c.folder ? "folder" : "file");
        std::set<std::string> names;
        for (int i = 0; i < 20; ++i) {
            std::string templ = (dir.path() / "t-XXXXXX").string();
            int handle = -1;
            const int got = c.folder ? create_folder(templ, handle) : create_file(templ, handle);
            ASSERT_GE(got, 0) << std::strerror(errno);
            EXPECT_GE(handle, 0);
            if (!c.folder) ::close(got);
            EXPECT_EQ(templ.find("XXXXXX"), std::string::npos);
            struct stat st {};
            ASSERT_EQ(::stat(templ.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & S_IFMT, c.type);
            EXPECT_EQ(st.st_mode & 07777, c.mode);
            names.insert(templ);
            fs::remove(templ);
            krel::cleanup::forget(handle);
        }
        EXPECT_EQ(names.size(), 20U);
    }
    struct Bad { std::string templ; int err; };
    for (const Bad& b : {Bad{(dir.path() / "t-XXXXX").string(), EINVAL}, Bad{(dir.path() / "t").string(), EINVAL},
                         Bad{(dir.path() / "missing" / "t-XXXXXX").string(), ENOENT}}) {
        SCOPED_TRACE(b.templ);
        for (const bool folder : {false, true}) {
            std::string templ = b.templ;
            int handle = 7;
            const int got = folder ? create_folder(templ, handle) : create_file(templ, handle);
            EXPECT_EQ(got, -1);
            EXPECT_EQ(errno, b.err);
            EXPECT_EQ(handle, -1);
        }
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A child makes and removes temporary files and folders as fast as it can
// (removing before forgetting, as their owners do) until SIGINT ends it, at a
// different moment each time: nothing may be left.
TEST(TempNames, AnInterruptAtAnyMomentLeavesNothing) {
    krel::test::TempDir dir;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            krel::cleanup::install_handlers();
            (void)!::write(ready[1], "r", 1);
            const std::string base = (dir.path() / "t-XXXXXX").string();
            for (long i = 0; i < 20'000'000; ++i) {
                std::string templ = base;
                int handle = -1;
                if (i % 2 == 0) {
                    const int fd = create_file(templ, handle);
                    if (fd < 0) ::_exit(3);
                    ::close(fd);
                    ::unlink(templ.c_str());
                } else {
                    if (create_folder(templ, handle) < 0) ::_exit(3);
                    ::rmdir(templ.c_str());
                }
                krel::cleanup::forget(handle);
            }
            ::_exit(4);
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        const timespec pause{0, 200'000L + 97'000L * (round % 23)};
        ::nanosleep(&pause, nullptr);
        ::kill(child, SIGINT);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 130);
        EXPECT_TRUE(fs::is_empty(dir.path())) << fs::begin(fs::directory_iterator(dir.path()))->path();
        for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) fs::remove_all(e.path());
    }
}

}  // namespace

#include "io/outfile.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/run_krel.hpp"

namespace {

// Texts of every size class in every order: below the direct size, at it,
// around the buffer's flush point and well past it. The file holds them in
// order, whatever went through the buffer and whatever went out directly.
TEST(OutFile, WritesComeOutInOrderWhateverTheirSize) {
    const std::vector<std::size_t> sizes = {1, 100, 16383, 16384, 16385, 65535, 65536, 65537, 300000};
    const std::vector<std::vector<std::size_t>> orders = {
        {1, 100, 1, 100},
        {16384, 1, 16384, 100},
        {100, 300000, 100, 65537, 1},
        {65535, 1, 65536, 16383, 16385},
        sizes,
        {300000, 300000},
    };
    krel::test::TempDir dir;
    const std::string path = (dir.path() / "out.txt").string();
    for (const auto& order : orders) {
        std::string want;
        krel::io::OutFile f;
        f.open(path);
        char c = 'a';
        for (const std::size_t n : order) {
            const std::string text(n - 1, c);
            f.write(text + '\n');
            want += text + '\n';
            c = c == 'z' ? 'a' : static_cast<char>(c + 1);
        }
        f.close();
        EXPECT_EQ(krel::test::read_file(path), want) << "texts: " << order.size() << ", first " << order.front();
    }
}

// The old content stays until the first write, large or small.
TEST(OutFile, OldContentStaysUntilTheFirstWrite) {
    krel::test::TempDir dir;
    const std::string path = (dir.path() / "out.txt").string();
    for (const std::size_t n : {std::size_t{0}, std::size_t{10}, std::size_t{100000}}) {
        { std::ofstream(path, std::ios::binary) << std::string(50000, 'o'); }
        krel::io::OutFile f;
        f.open(path);
        EXPECT_EQ(krel::test::read_file(path).size(), 50000U);
        if (n > 0) f.write(std::string(n, 'n'));
        f.close();
        EXPECT_EQ(krel::test::read_file(path), n > 0 ? std::string(n, 'n') : std::string(50000, 'o'));
    }
}

}  // namespace

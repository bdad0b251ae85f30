#include "io/linefile.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/io_error.hpp"
#include "support/run_krel.hpp"

namespace {

std::vector<std::string> all_lines(const std::string& path, std::size_t buffer) {
    krel::io::LineFile f(path, buffer);
    std::vector<std::string> out;
    std::string_view line;
    while (f.next(line)) out.emplace_back(line);
    return out;
}

TEST(LineFile, LineEndsAndBufferBoundaries) {
    struct Case { std::string text; std::vector<std::string> want; };
    const std::string long_line(100, 'x');
    const std::string huge_line(3 * (std::size_t{2} << 20) + 5, 'x');  // the buffer grows into huge pages
    const Case cases[] = {
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},             // CR LF
        {"a\nb", {"a", "b"}},                   // last line without LF
        {"a\nb\r", {"a", "b"}},                 // CR ending the last line
        {"\n\n", {"", ""}},                     // empty lines
        {"a\rb\n", {"a\rb"}},                   // a lone CR inside a line stays
        {"", {}},                               // empty file
        {long_line + "\n" + long_line, {long_line, long_line}},  // lines longer than the buffer
        {"a\n" + huge_line + "\nb", {"a", huge_line, "b"}},
    };
    krel::test::TempDir dir;
    for (const Case& c : cases) {
        for (std::size_t buffer : {16UL, 17UL, 64UL, 4096UL}) {
            SCOPED_TRACE(testing::Message() << "buffer " << buffer << ", text of " << c.text.size());
            const std::string path = (dir.path() / "f.txt").string();
            krel::test::write_file(path, c.text);
            EXPECT_EQ(all_lines(path, buffer), c.want);
        }
    }
}

TEST(LineFile, MissingFileNamesIt) {
    try {
        krel::io::LineFile f("/nonexistent/dir/p.xyz");
        FAIL() << "opened a missing file";
    } catch (const krel::io::IoError& e) {
        EXPECT_STREQ(e.what(), "cannot open '/nonexistent/dir/p.xyz' for reading: No such file or directory");
    }
}

}  // namespace

#pragma once
// The result file, never half-written: lines go to a temporary file beside
// the result (same folder, a name no user file can have, since it is created
// exclusively), which replaces the result only when the run completes. An
// interrupted or failed run leaves the earlier result as it was. When the
// result name is a symbolic link, the file it points to is replaced. A pipe,
// FIFO or device (-o /dev/stdout) is written in place: it cannot be replaced,
// and replacing it would put a plain file where the device was.

#include <string>
#include <string_view>

#include "io/outfile.hpp"

namespace krel {

class ResultFile {
public:
    ResultFile() = default;
    ~ResultFile();  // removes the temporary file unless committed
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // Creates the temporary file for `name`; throws io::IoError.
    void open(const std::string& name);
    [[nodiscard]] bool is_open() const { return temp_.is_open(); }
    void write(std::string_view text);
    // Flushes and closes the temporary file and puts it in place of the
    // result. When nothing was written, the result keeps its old content (a
    // missing one is created empty). Does nothing when not open.
    void commit();

private:
    void discard();

    std::string name_;    // the name the run reports
    std::string target_;  // the file that is replaced (a link resolved)
    std::string temp_name_;
    io::OutFile temp_;
    bool written_ = false;
    bool in_place_ = false;  // a pipe or device, written directly
    int cleanup_ = -1;
};

}  // namespace krel

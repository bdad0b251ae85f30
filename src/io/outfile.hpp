#pragma once
// An output file that keeps its old content until the run writes to it: it is
// created when missing and not emptied on opening; the first write empties it.
// Every write, flush and close is checked (IoError naming the file).

#include <string>
#include <string_view>

#include "io/file.hpp"

namespace krel::io {

class OutFile {
public:
    OutFile() = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // Opens (creating when missing) path for writing; throws IoError. shown
    // is the name messages give (the path itself when empty).
    void open(const std::string& path, const std::string& shown = {});
    [[nodiscard]] bool is_open() const { return fd_.valid(); }
    [[nodiscard]] const std::string& name() const { return name_; }

    void write(std::string_view text);
    void flush();
    // Flushes and closes; throws IoError when anything failed. Does nothing
    // when not open.
    void close();

private:
    void write_through(std::string_view text);

    std::string name_;
    Fd fd_;
    bool written_ = false;  // the file has been emptied by a first write
    bool regular_ = true;   // a pipe or device is written as it is, never emptied
    std::string buf_;
};

}  // namespace krel::io

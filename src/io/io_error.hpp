#pragma once
// The one exception of krel: a file that cannot be opened, read or written, or
// a value that cannot be converted. The run catches it once, prints
// "krel: <what>" on stderr and ends with status 2.

#include <stdexcept>
#include <string>
#include <string_view>

namespace krel::io {

class IoError : public std::runtime_error {
public:
    explicit IoError(const std::string& what) : std::runtime_error(what) {}
};

// "cannot <action> '<file>' <purpose>: <strerror(err)>" (no purpose: none printed)
[[nodiscard]] IoError io_error(std::string_view action, std::string_view file, std::string_view purpose,
                               int err);

// "'<file>': <what>": a fault of the file as a whole (a broken header)
[[nodiscard]] IoError file_error(std::string_view file, std::string_view what);

// "'<file>' line <line>: <what>"
[[nodiscard]] IoError read_error(std::string_view file, long long line, std::string_view what);

}  // namespace krel::io

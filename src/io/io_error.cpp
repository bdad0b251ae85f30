#include "io/io_error.hpp"

#include <cstring>

namespace krel::io {

IoError io_error(std::string_view action, std::string_view file, std::string_view purpose, int err) {
    std::string what = "cannot ";
    what += action;
    what += " '";
    what += file;
    what += "'";
    if (!purpose.empty()) {
        what += ' ';
        what += purpose;
    }
    what += ": ";
    what += std::strerror(err);
    return IoError(what);
}

IoError file_error(std::string_view file, std::string_view what) {
    std::string text = "'";
    text += file;
    text += "': ";
    text += what;
    return IoError(text);
}

IoError read_error(std::string_view file, long long line, std::string_view what) {
    std::string text = "'";
    text += file;
    text += "' line ";
    text += std::to_string(line);
    text += ": ";
    text += what;
    return IoError(text);
}

}  // namespace krel::io

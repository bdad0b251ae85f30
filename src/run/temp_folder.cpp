#include "run/temp_folder.hpp"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "io/io_error.hpp"
#include "run/cleanup.hpp"

namespace krel {

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    cleanup::remove_folder(path_);
    cleanup::forget(cleanup_);
}

const std::string& TempFolder::make() {
    if (!path_.empty()) return path_;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : fallback_;
    if (base.empty()) base = ".";
    std::string templ = base + "/" + stem_ + "-XXXXXX";
    if (cleanup::create_folder(templ, cleanup_) < 0) throw io::io_error("create", templ, "for the input streams", errno);
    path_ = templ;
    return path_;
}

}  // namespace krel

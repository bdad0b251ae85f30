#pragma once
// A temporary folder of the run, made only when something needs it: in
// $TMPDIR, else in a given folder (beside the result). It is registered for
// removal on SIGINT/SIGTERM as soon as it exists, and the destructor removes
// it with its files, so it is gone after a normal end and an error end too.

#include <string>

namespace krel {

class TempFolder {
public:
    // Nothing is made yet. `stem`: the start of the folder's name ("krel-stream").
    TempFolder(std::string fallback_folder, std::string stem)
        : fallback_(std::move(fallback_folder)), stem_(std::move(stem)) {}
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, made on the first call. Throws io::IoError naming
    // the folder when it cannot be made.
    const std::string& make();

private:
    std::string fallback_;
    std::string stem_;
    std::string path_;  // empty until made
    int cleanup_ = -1;
};

}  // namespace krel

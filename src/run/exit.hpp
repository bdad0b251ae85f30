#pragma once

namespace krel {

// Exit statuses of krel.
enum class Exit : int {
    ok = 0,       // normal end, store-as-loaded end, usage text answered
    failure = 1,  // a failure the run reports: bad option, missing file, refused value
    io = 2,       // a conversion or I/O failure (diagnostic on stderr)
};

}  // namespace krel

#include "run/run.hpp"

#include <istream>
#include <new>
#include <ostream>

#include "io/io_error.hpp"
#include "run/cleanup.hpp"
#include "run/cmdline.hpp"
#include "run/console.hpp"
#include "run/sequence.hpp"

namespace krel {

Exit run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, std::istream& in,
         const RunHooks& hooks) {
    Console console(out, err, in);
    cleanup::install_handlers();
    try {
        RunSettings settings;
        if (const auto end = parse_command_line(argc, argv, settings, console)) {
            console.out().flush();
            return *end;
        }
        const Exit status = run_sequence(settings, console, hooks);
        console.out().flush();
        return status;
    } catch (const io::IoError& e) {
        console.diagnostic(e.what());
        return Exit::io;
    } catch (const std::bad_alloc&) {
        console.diagnostic("out of memory");
        return Exit::io;
    }
}

}  // namespace krel

#include "run/cmdline.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "io/fields.hpp"
#include "io/fortran.hpp"
#include "io/io_error.hpp"
#include "io/las.hpp"
#include "io/mesh_files.hpp"
#include "run/usage.hpp"

namespace krel {

std::string held_name(std::string_view arg) {
    return std::string(io::trim_right(arg.substr(0, kNameChars)));
}

namespace {

bool exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

// A conversion failure of an option value: the run ends with status 2.
struct BadValue {
    std::string what;
};

class Scanner {
public:
    Scanner(int nargs, const char* const* args) : nargs_(nargs), args_(args) {}

    [[nodiscard]] bool done() const { return i_ >= nargs_; }
    std::string_view take() { return args_[i_++]; }
    // The value of option `opt`; nullopt when it is missing.
    std::optional<std::string_view> value() {
        if (i_ >= nargs_) return std::nullopt;
        return std::string_view(args_[i_++]);
    }

private:
    int nargs_;
    const char* const* args_;
    int i_ = 0;
};

// Number values: the first field of the argument; a leading comma or slash
// leaves the setting as it is.
template <class T, class Parse>
void number(std::string_view opt, std::optional<std::string_view> arg, T& setting, Parse parse) {
    if (!arg) throw BadValue{"option " + std::string(opt) + ": value missing"};
    std::string_view field;
    switch (io::option_field(*arg, field)) {
    case io::OptionField::empty:
        throw BadValue{"option " + std::string(opt) + ": value missing"};
    case io::OptionField::unchanged:
        return;
    case io::OptionField::value:
        break;
    }
    const auto v = parse(field);
    if (!v) throw BadValue{"option " + std::string(opt) + ": not a number: '" + std::string(*arg) + "'"};
    setting = *v;
}

// Options whose value is the next argument; --help or --version there is a value.
constexpr std::string_view kValueOptions[] = {"-t", "-f", "-r", "-z", "-Z", "-o", "-p", "-s",
                                              "-a", "-c", "-h", "-j", "-m", "-k", "-w", "-e"};

// The first --help or --version among the arguments that are read as words.
std::optional<std::string_view> info_request(int nargs, const char* const* args) {
    for (int i = 0; i < nargs; ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "--version") return arg;
        for (const std::string_view opt : kValueOptions)
            if (arg == opt) ++i;
    }
    return std::nullopt;
}

void real(std::string_view opt, std::optional<std::string_view> arg, float& setting) {
    number(opt, arg, setting, io::parse_float);
}

// -c: the digits of x, y and z; a column 0 ends the run after the echo.
std::optional<Exit> columns(std::string_view opt, Scanner& args, RunSettings& s, io::TextOut& out) {
    number(opt, args.value(), s.cvalue, io::parse_int);
    const std::int32_t v = s.cvalue;
    s.ic1 = v / 100;
    const std::int32_t r = v - 100 * s.ic1;
    s.ic2 = r / 10;
    s.ic3 = r - 10 * s.ic2;
    s.icolmax = std::max(s.ic1, std::max(s.ic2, s.ic3));
    out.line(" >data column" + io::format_i(s.ic1, 2) + io::format_i(s.ic2, 2) + io::format_i(s.ic3, 2));
    if (s.ic1 == 0 || s.ic2 == 0 || s.ic3 == 0) {
        out.put(io::FreeLine{}.text("**error: column 0 in -c").str());
        return Exit::failure;
    }
    return std::nullopt;
}

// A refused option value ends the run with one line: what the option needs,
// then the value as given.
Exit refused(io::TextOut& out, std::string_view needs, std::string_view value) {
    out.put(io::FreeLine{}.text(needs).text(value).text("'").str());
    return Exit::failure;
}

// The value of -j, -m or -e: its first field, a number above 0 (not NaN).
template <class Parse>
auto positive(std::string_view value, Parse parse) -> decltype(parse(value)) {
    std::string_view field;
    if (io::option_field(value, field) != io::OptionField::value) return std::nullopt;
    const auto v = parse(field);
    if (!v || !(*v > 0)) return std::nullopt;
    return v;
}

// -j and -m: a count of threads or megabytes, a whole number from 1 up;
// anything else ends the run like a refused list.
std::optional<Exit> count(std::string_view opt, Scanner& args, RunSettings& s, io::TextOut& out) {
    const std::string_view value = args.value().value_or("");
    const std::optional<std::int32_t> v = positive(value, io::parse_int);
    if (!v)
        return refused(out,
                       opt == "-j" ? "**error: -j needs a number of threads from 1 up, not '"
                                   : "**error: -m needs a number of megabytes from 1 up, not '",
                       value);
    if (opt == "-j") {
        s.workers = *v;
    } else {
        s.budget_mb = *v;
        out.line(" >memory for points [MB] =" + io::format_i(*v, 8));
    }
    return std::nullopt;
}

// -k: a list that is refused ends the run before it is echoed.
std::optional<Exit> classes(Scanner& args, RunSettings& s, io::TextOut& out) {
    const std::string_view list = args.value().value_or("");
    const auto set = io::parse_class_list(list);
    if (!set) return refused(out, "**error: -k needs class codes 0 to 255 separated by commas, not '", list);
    s.classes = *set;
    out.line(std::string(" >classes kept: ") + std::string(list));
    return std::nullopt;
}

// -w: the kind comes from the extension; any other name ends the run.
std::optional<Exit> output(Scanner& args, RunSettings& s, io::TextOut& out) {
    const std::string name = held_name(args.value().value_or(""));
    if (!io::output_kind(name))
        return refused(out, "**error: -w needs a name ending in .ply, .obj, .2dm, .msh, .xml or .las, not '", name);
    s.outputs.push_back(name);
    return std::nullopt;
}

// -e: the longest edge of a mesh triangle, above 0.
std::optional<Exit> longest_edge(Scanner& args, RunSettings& s, io::TextOut& out) {
    const std::string_view value = args.value().value_or("");
    const std::optional<float> v = positive(value, io::parse_float);
    if (!v) return refused(out, "**error: -e needs a longest edge greater than 0 [m], not '", value);
    s.max_edge = *v;
    out.line(" >longest edge [m] =" + io::format_f(*v, 9, 2));
    return std::nullopt;
}

// -h: the hull is read at once. The listing is not open yet (its prefix may
// still change): the echo is held, and a later hull replaces it.
std::optional<Exit> hull(Scanner& args, RunSettings& s, Console& console) {
    io::TextOut& out = console.out();
    s.chull = held_name(args.value().value_or(""));
    if (!exists(s.chull)) {
        out.put(io::FreeLine{}.text(">error: hull file not found").str());
        return Exit::failure;
    }
    io::StringOut echo;
    io::read_hull(s.chull, s.hull, echo, console.tally());
    s.hull_listing = echo.take();
    s.hull_given = true;
    out.line(" >found hull with" + io::format_i(s.hull.nh, 4) + " points");
    return std::nullopt;
}

// One argument (an option with its value, or a file name). An Exit ends the
// run; a BadValue is thrown for a value that cannot be converted.
std::optional<Exit> argument(std::string_view arg, Scanner& args, RunSettings& s, Console& console) {
    io::TextOut& out = console.out();
    if (arg == "-t") {
        real(arg, args.value(), s.tol);
    } else if (arg == "-f") {
        const std::string_view w = io::trim_right(args.value().value_or(""));
        if (w == "ag") s.ifmt = 2;
        else if (w == "gen") s.ifmt = 4;
    } else if (arg == "-r") {
        real(arg, args.value(), s.dx);
    } else if (arg == "-z") {
        real(arg, args.value(), s.ztmin);
        out.line(" >min-value    =" + io::format_f(s.ztmin, 9, 2));
    } else if (arg == "-Z") {
        real(arg, args.value(), s.ztmax);
        out.line(" >max-value    =" + io::format_f(s.ztmax, 9, 2));
    } else if (arg == "-o") {
        s.result_name = held_name(args.value().value_or(""));
        s.result_named = true;
    } else if (arg == "-p") {
        s.prefix = held_name(args.value().value_or(""));
    } else if (arg == "-s") {
        s.fslope = held_name(args.value().value_or(""));
    } else if (arg == "-a") {
        real(arg, args.value(), s.area);
        out.line(" >area weighting =" + io::format_f(s.area, 5, 1));
    } else if (arg == "-c") {
        return columns(arg, args, s, out);
    } else if (arg == "-j" || arg == "-m") {
        return count(arg, args, s, out);
    } else if (arg == "-w") {
        return output(args, s, out);
    } else if (arg == "-e") {
        return longest_edge(args, s, out);
    } else if (arg == "-k") {
        return classes(args, s, out);
    } else if (arg == "-h") {
        return hull(args, s, console);
    } else if (!arg.empty() && arg[0] == '-') {
        out.put(io::FreeLine{}.text("**error: unknown option ").text(io::format_a(arg, 6)).str());
        return Exit::failure;
    } else {
        std::string name = held_name(arg);
        if (exists(name)) s.cfile.push_back(std::move(name));
    }
    return std::nullopt;
}

// After the arguments: an input file is needed, the echo of raster and
// tolerance follows, and a raster width of 0 is refused.
std::optional<Exit> check_settings(const RunSettings& s, io::TextOut& out) {
    if (s.cfile.empty()) {
        out.put(io::FreeLine{}.text(">error: file not found").str());
        return Exit::failure;
    }
    out.line(" >raster [m]    =" + io::format_f(s.dx, 6, 2));
    out.line(" >tolerance [m] =" + io::format_f(s.tol, 6, 2));
    if (s.dx == 0.0F) {
        out.put(io::FreeLine{}.text("**error: raster width must not be 0").str());
        return Exit::failure;
    }
    if (s.dx < 0.0F && !s.outputs.empty()) {
        // The outputs describe thinned nodes; the store-as-loaded mode has none.
        out.put(io::FreeLine{}.text("**error: -w needs a raster width above 0").str());
        return Exit::failure;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Exit> parse_command_line(int argc, const char* const* argv, RunSettings& s,
                                       Console& console) {
    io::TextOut& out = console.out();
    int nargs = std::min(argc - 1, kMaxArguments);
    if (const auto info = info_request(nargs, argv + 1)) {
        if (*info == "--help") full_help(console);
        else version(console);
        return Exit::ok;
    }
    nargs = argc - 1;
    out.line("");
    out.put(io::FreeLine{}.text("Program KREL v3.12").str());
    if (nargs <= 0) return help(console);
    if (nargs > kMaxArguments) {
        out.put(io::FreeLine{}.text(">>warning: arguments ignored").str());
        nargs = kMaxArguments;
    }
    Scanner args(nargs, argv + 1);
    try {
        while (!args.done())
            if (const auto end = argument(args.take(), args, s, console)) return end;
    } catch (const BadValue& bad) {
        console.diagnostic(bad.what);
        return Exit::io;
    }
    return check_settings(s, out);
}

}  // namespace krel

#include "run/sequence.hpp"

#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/fortran.hpp"
#include "io/getpoints.hpp"
#include "io/outfile.hpp"
#include "io/swrite.hpp"
#include "run/outputs.hpp"
#include "run/result_file.hpp"
#include "run/spill.hpp"
#include "run/temp_folder.hpp"
#include "run/tile_engine.hpp"
#include "tiles/gettiles.hpp"

namespace krel {

namespace {

std::string output_name(const std::string& prefix, std::string_view ext) {
    return held_name(std::string(io::trim_right(prefix.substr(0, kNameChars))) + std::string(ext));
}

// Whether writing `name` would overwrite one of the run's inputs.
bool is_input(const std::string& name, const RunSettings& s) {
    struct stat out {};
    const bool out_exists = ::stat(name.c_str(), &out) == 0;
    auto same = [&](const std::string& input) {
        if (input == name) return true;
        struct stat in {};
        return out_exists && ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
               in.st_ino == out.st_ino;
    };
    for (const std::string& f : s.cfile)
        if (same(f)) return true;
    return s.hull_given && same(s.chull);
}

// Percentage rounded to the nearest integer, halves away from zero, in float.
std::int64_t percent(std::int64_t part, std::int64_t whole) {
    if (whole == 0) return 0;
    return std::lround(static_cast<float>(part) / static_cast<float>(whole) * 100.0F);
}

int worker_count(const RunSettings& s) {
    if (s.workers > 0) return s.workers;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

// Folder of a file name ("" for the current one).
std::string folder_of(const std::string& name) {
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? std::string{} : name.substr(0, slash);
}

bool plain_allocate(io::NodeArrays& nodes, std::int32_t capacity, void*) {
    return nodes.allocate(capacity);
}

constexpr std::int64_t kBytesPerNode = 20;
// Decoded LAZ records kept from the explore pass for the load pass, which
// then decodes nothing: 256 MiB holds some 8 million records of 34 bytes.
constexpr std::size_t kKeptRecordBytes = std::size_t{256} << 20;

// The names the run writes, checked against its inputs.
struct OutputNames {
    std::string listing;
    std::string result;
    bool renamed = false;  // the result clashed with an input and goes to the .asc name
};

// The listing is written in place as the run goes, so a clash with an input
// ends the run before any file is touched; the result falls back to the .asc
// name. nullopt: the run ends (the message is printed).
std::optional<OutputNames> output_names(const RunSettings& s, io::TextOut& out) {
    OutputNames names;
    names.listing = output_name(s.prefix, ".err");
    if (is_input(names.listing, s)) {
        out.put(io::FreeLine{}.text("**error: listing name is an input file").str());
        return std::nullopt;
    }
    names.result = s.result_named ? s.result_name : output_name(s.prefix, ".xyz");
    if (is_input(names.result, s)) {
        names.result = output_name(s.prefix, ".asc");
        names.renamed = true;
        if (is_input(names.result, s)) {
            out.put(io::FreeLine{}.text("**error: no free result name").str());
            return std::nullopt;
        }
    }
    return names;
}

io::ReadSettings read_settings(const RunSettings& s, io::ChunkPlans& plans) {
    io::ReadSettings rs;
    rs.files = s.cfile;
    rs.ztmin = s.ztmin;
    rs.ztmax = s.ztmax;
    rs.ic1 = s.ic1;
    rs.ic2 = s.ic2;
    rs.ic3 = s.ic3;
    rs.icolmax = s.icolmax;
    rs.hull = s.hull.active() ? &s.hull : nullptr;
    rs.classes = s.classes;
    rs.threads = worker_count(s);
    rs.plans = &plans;
    return rs;
}

// Where the load pass puts the points: every point to disk when they exceed
// the memory budget; otherwise the node arrays, with every rs.iskip-th
// record kept when memory is short.
std::unique_ptr<Spill> prepare_storage(const RunSettings& s, std::int64_t explored, const std::string& result_name,
                                       io::ReadSettings& rs, io::NodeArrays& nodes, Console& console,
                                       const RunHooks& hooks) {
    io::TextOut& out = console.out();
    const auto max_nodes = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max() - 1);
    if (s.budget_mb > 0 && explored * kBytesPerNode > s.budget_mb * (std::int64_t{1} << 20)) {
        auto spill = std::make_unique<Spill>(folder_of(result_name));
        nodes.capacity = static_cast<std::int32_t>(std::min(explored, max_nodes));
        nodes.sink = &spill->sink();
        return spill;
    }
    const Allocate allocate = hooks.allocate != nullptr ? hooks.allocate : plain_allocate;
    for (;;) {
        const std::int32_t capacity = static_cast<std::int32_t>(std::min(explored / rs.iskip, max_nodes));
        if (allocate(nodes, capacity, hooks.context)) break;
        // Decoded records kept to spare a second decoding are the first to
        // go: a run that would find the memory without them must not read
        // fewer points because of them.
        if (rs.records != nullptr && rs.records->bytes > 0) {
            rs.records->drop();
            continue;
        }
        out.put(io::FreeLine{}.text("*** Trouble allocating data storage***").num(rs.iskip).str());
        ++rs.iskip;
    }
    if (rs.iskip > 1) {
        out.line(" >reduce data by factor" + io::format_i(rs.iskip, 2));
        console.diagnostic("memory is short: 1 point in " + std::to_string(rs.iskip) +
                           " is read; -m MEGABYTES keeps every point within that budget");
    }
    return nullptr;
}

// The store-as-loaded result: every loaded point, unprocessed.
void write_loaded(const io::NodeArrays& nodes, Spill* spill, ResultFile& result) {
    std::string text;
    if (spill != nullptr) {
        spill->each_point([&](float px, float py, float pz) {
            // One node at a time, node 1 of one-node arrays (entry 0 unused).
            const float xs[2] = {0.0F, px}, ys[2] = {0.0F, py}, zs[2] = {0.0F, pz};
            io::write_as_loaded(xs, ys, zs, 1, 1, nodes.xorig, nodes.yorig, text);
            if (text.size() >= (std::size_t{1} << 20)) {
                result.write(text);
                text.clear();
            }
        });
        result.write(text);
        return;
    }
    constexpr std::int32_t kBlock = 1 << 16;
    const std::int32_t n = nodes.n;
    for (std::int32_t first = 1; first <= n; first += kBlock) {
        const std::int32_t last = n - first < kBlock ? n : first + kBlock - 1;
        text.clear();
        io::write_as_loaded(nodes.x.get(), nodes.y.get(), nodes.z.get(), first, last, nodes.xorig, nodes.yorig,
                            text);
        result.write(text);
    }
}

// Tiles the points and runs the tile stages on them, from the node arrays
// or group by group from the spill files; emit gets every tile in order.
void run_tiles(const RunSettings& s, io::NodeArrays& nodes, Spill* spill, TileEngine& engine, io::TextOut& out,
               const std::function<void(const TileResult&)>& emit) {
    const float ts = 400.0F * s.dx;
    if (spill != nullptr) {
        const std::int64_t group_points = std::max<std::int64_t>(1, s.budget_mb * (std::int64_t{1} << 20) / kBytesPerNode);
        (void)spill->tile(ts, s.dx, group_points, out);
        TileGroup group;
        for (std::int32_t g = 0; g < spill->groups(); ++g) {
            spill->read_group(g, group);
            TileBatch batch{group.x.data(), group.y.data(), group.z.data(), group.idx.data(), &group.start,
                            group.tiles, group.first_tile, nodes.xorig, nodes.yorig};
            engine.run(batch, emit);
        }
        return;
    }
    const std::int32_t n = nodes.n;
    const std::int32_t ntiles = tiles::gettiles(n, nodes.x.get(), nodes.y.get(), ts, s.dx, nodes.itile.get(), out);
    std::vector<std::int64_t> start;
    tiles::collect_tiles(n, nodes.itile.get(), ntiles, nodes.idx.get(), start);
    TileBatch batch{nodes.x.get(), nodes.y.get(), nodes.z.get(), nodes.idx.get(), &start,
                    ntiles, 1, nodes.xorig, nodes.yorig};
    engine.run(batch, emit);
}

}  // namespace

std::string tile_line(std::int32_t it, std::int64_t npt, std::int64_t before) {
    return " >tile " + io::format_i(it, 3) + ", nodes" + io::format_i(npt, 6) + " (" +
           io::format_i(percent(npt, before), 3) + "%)  ";
}

std::string summary_line(std::int64_t total, std::int64_t n) {
    return "***KREL reduced to" + io::format_i(total, total <= 999998 ? 7 : 9) + " nodes (" +
           io::format_i(percent(total, n), 2) + "%)\n";
}

Exit run_sequence(const RunSettings& s, Console& console, const RunHooks& hooks) {
    io::TextOut& out = console.out();
    const std::optional<OutputNames> names = output_names(s, out);
    if (!names) return Exit::failure;

    RunOutputs outputs(s);
    if (const auto name = outputs.clash(names->result)) {
        out.put(io::FreeLine{}.text("**error: output would replace an input or another output: '").text(*name).text("'").str());
        return Exit::failure;
    }

    io::OutFile listing;
    listing.open(names->listing);
    listing.write(s.hull_listing);
    listing.flush();

    io::ChunkPlans plans;
    io::ReadSettings rs = read_settings(s, plans);
    // A run under a memory budget decodes its LAZ files twice rather than
    // hold their records.
    io::KeptRecords kept_records;
    kept_records.most_bytes = s.budget_mb > 0 ? 0 : kKeptRecordBytes;
    rs.records = &kept_records;
    // Inputs that cannot be read twice are copied there by the explore pass.
    TempFolder stream_folder(folder_of(names->result), "krel-stream");
    io::KeptStreams kept([&stream_folder] { return stream_folder.make(); });
    rs.streams = &kept;
    const std::int64_t explored = io::getpoints(io::PassMode::explore, rs, nullptr, out, console.warnings());

    // The tile stages' fixed arrays come before the node arrays, so that a
    // run short of memory thins its points instead of failing later.
    std::unique_ptr<TileEngine> engine;
    if (s.dx >= 0.0F) engine = std::make_unique<TileEngine>(s, worker_count(s));

    io::NodeArrays nodes;
    const std::unique_ptr<Spill> spill = prepare_storage(s, explored, names->result, rs, nodes, console, hooks);
    (void)io::getpoints(io::PassMode::load, rs, &nodes, out, console.warnings());
    const std::int32_t n = nodes.n;
    if (spill) out.put(io::FreeLine{}.text(">points kept in temporary files for the memory budget").str());
    if (names->renamed)
        out.put(io::FreeLine{}.text(">result name is an input file, writing ").text(names->result).str());

    ResultFile result;
    if (s.dx < 0.0F) {
        result.open(names->result);
        write_loaded(nodes, spill.get(), result);
        result.commit();
        out.line(" >nodes stored on: " + io::format_a(names->result, 32));
        listing.close();
        return Exit::ok;
    }

    outputs.start(names->result);
    std::int64_t total = 0;
    run_tiles(s, nodes, spill.get(), *engine, out, [&](const TileResult& r) {
        outputs.take(r);
        listing.write(r.listing);
        listing.flush();  // followed while the run goes on
        if (r.tile == 1) result.open(names->result);
        result.write(r.result);
        total += r.npt;
        out.put(r.console);
        out.iimesg(tile_line(r.tile, r.npt, r.before));
    });
    result.commit();
    if (hooks.reruns != nullptr) *hooks.reruns = engine->reruns();
    if (hooks.final_trfind != nullptr) *hooks.final_trfind = engine->trfind_seeds();
    if (hooks.final_ctrfind != nullptr) *hooks.final_ctrfind = engine->ctrfind_seeds();
    out.line("");
    out.put(summary_line(total, n));
    outputs.finish(nodes.xorig, nodes.yorig, out);
    listing.close();
    return Exit::ok;
}

}  // namespace krel

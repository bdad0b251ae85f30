#include "run/sequence.hpp"

#include <sys/stat.h>

#include <cmath>
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
#include "run/result_file.hpp"
#include "run/spill.hpp"
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

    // The listing is written in place as the run goes, so a clash with an
    // input ends the run before any file is touched.
    const std::string listing_name = output_name(s.prefix, ".err");
    if (is_input(listing_name, s)) {
        out.put(io::FreeLine{}.text("**error: listing name is an input file").str());
        return Exit::failure;
    }

    // The result must never replace an input: fall back to the .asc name.
    std::string result_name = s.result_named ? s.result_name : output_name(s.prefix, ".xyz");
    bool renamed = false;
    if (is_input(result_name, s)) {
        result_name = output_name(s.prefix, ".asc");
        renamed = true;
        if (is_input(result_name, s)) {
            out.put(io::FreeLine{}.text("**error: no free result name").str());
            return Exit::failure;
        }
    }

    io::OutFile listing;
    listing.open(listing_name);
    listing.write(s.hull_listing);
    listing.flush();

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
    io::ChunkPlans plans;
    rs.threads = worker_count(s);
    rs.plans = &plans;

    const std::int64_t explored = io::getpoints(io::PassMode::explore, rs, nullptr, out, console.warnings());

    // The tile stages' fixed arrays come before the node arrays, so that a
    // run short of memory thins its points instead of failing later.
    std::unique_ptr<TileEngine> engine;
    if (s.dx >= 0.0F) engine = std::make_unique<TileEngine>(s, worker_count(s), hooks.draw_every, hooks.check);

    // Points beyond the memory budget go to disk, all of them; otherwise the
    // node arrays hold them, thinned when memory is short.
    constexpr std::int64_t kBytesPerNode = 20;
    const std::int64_t budget = s.budget_mb * (std::int64_t{1} << 20);
    const auto max_nodes = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max() - 1);
    io::NodeArrays nodes;
    std::unique_ptr<Spill> spill;
    if (s.budget_mb > 0 && explored * kBytesPerNode > budget) {
        spill = std::make_unique<Spill>(folder_of(result_name));
        nodes.capacity = static_cast<std::int32_t>(std::min(explored, max_nodes));
        nodes.sink = &spill->sink();
    } else {
        const Allocate allocate = hooks.allocate != nullptr ? hooks.allocate : plain_allocate;
        for (;;) {
            const std::int32_t capacity = static_cast<std::int32_t>(std::min(explored / rs.iskip, max_nodes));
            if (allocate(nodes, capacity, hooks.context)) break;
            out.put(io::FreeLine{}.text("*** Trouble allocating data storage***").num(rs.iskip).str());
            ++rs.iskip;
        }
        if (rs.iskip > 1) {
            out.line(" >reduce data by factor" + io::format_i(rs.iskip, 2));
            console.diagnostic("memory is short: 1 point in " + std::to_string(rs.iskip) +
                               " is read; -m MEGABYTES keeps every point within that budget");
        }
    }

    (void)io::getpoints(io::PassMode::load, rs, &nodes, out, console.warnings());
    const std::int32_t n = nodes.n;
    if (spill) out.put(io::FreeLine{}.text(">points kept in temporary files for the memory budget").str());

    if (renamed) out.put(io::FreeLine{}.text(">result name is an input file, writing ").text(result_name).str());

    ResultFile result;
    if (s.dx < 0.0F) {
        result.open(result_name);
        std::string text;
        if (spill) {
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
        } else {
            constexpr std::int32_t kBlock = 1 << 16;
            for (std::int32_t first = 1; first <= n; first += kBlock) {
                const std::int32_t last = n - first < kBlock ? n : first + kBlock - 1;
                text.clear();
                io::write_as_loaded(nodes.x.get(), nodes.y.get(), nodes.z.get(), first, last, nodes.xorig,
                                    nodes.yorig, text);
                result.write(text);
            }
        }
        result.commit();
        out.line(" >nodes stored on: " + io::format_a(result_name, 32));
        listing.close();
        return Exit::ok;
    }

    std::int64_t total = 0;
    auto emit = [&](const TileResult& r) {
        listing.write(r.listing);
        listing.flush();  // followed while the run goes on
        if (r.tile == 1) result.open(result_name);
        result.write(r.result);
        total += r.npt;
        out.put(r.console);
        out.iimesg(tile_line(r.tile, r.npt, r.before));
    };
    const float ts = 400.0F * s.dx;
    if (spill) {
        const std::int32_t ntiles = spill->tile(ts, s.dx, std::max<std::int64_t>(1, budget / kBytesPerNode), out);
        (void)ntiles;
        TileGroup group;
        for (std::int32_t g = 0; g < spill->groups(); ++g) {
            spill->read_group(g, group);
            TileBatch batch{group.x.data(), group.y.data(), group.z.data(), group.idx.data(), &group.start,
                            group.tiles, group.first_tile, nodes.xorig, nodes.yorig};
            engine->run(batch, emit);
        }
    } else {
        const std::int32_t ntiles =
            tiles::gettiles(n, nodes.x.get(), nodes.y.get(), ts, s.dx, nodes.itile.get(), out);
        std::vector<std::int64_t> start;
        tiles::collect_tiles(n, nodes.itile.get(), ntiles, nodes.idx.get(), start);
        TileBatch batch{nodes.x.get(), nodes.y.get(), nodes.z.get(), nodes.idx.get(), &start,
                        ntiles, 1, nodes.xorig, nodes.yorig};
        engine->run(batch, emit);
    }
    result.commit();
    if (hooks.reruns != nullptr) *hooks.reruns = engine->reruns();
    if (hooks.final_trfind != nullptr) *hooks.final_trfind = engine->trfind_seeds();
    if (hooks.final_ctrfind != nullptr) *hooks.final_ctrfind = engine->ctrfind_seeds();
    out.line("");
    out.put(summary_line(total, n));
    listing.close();
    return Exit::ok;
}

}  // namespace krel

#pragma once
// The tile stages (raster filter, greedy insertion, result formatting) of a
// run of tiles, on several threads, with everything they produce handed back
// in tile order so that the output is the same for any thread count.
//
// Tiles share nothing but the two seed triples of point location, which move
// only when a walk draws a random node. Each tile runs from the seed state
// known when it starts; in tile order, a tile is accepted when it drew
// nothing (its result cannot depend on the state) or was given the true
// state, and is run again from the true state otherwise.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "run/settings.hpp"
#include "tin/jrand.hpp"

namespace krel {

// A run of consecutive tiles over one set of node arrays.
struct TileBatch {
    const float* x = nullptr;  // node arrays, 1-based
    const float* y = nullptr;
    const float* z = nullptr;
    std::int32_t* idx = nullptr;                 // tile layout, positions 1..n; rewritten per tile
    const std::vector<std::int64_t>* start = nullptr;  // tile t (1..count) is idx[start[t]+1 .. start[t+1]]
    std::int32_t count = 0;                      // tiles in the batch
    std::int32_t first_tile = 1;                 // number of the batch's first tile in the run
    double xorig = 0.0, yorig = 0.0;             // origin for the result lines
};

// What one tile produced.
struct TileResult {
    std::int32_t tile = 0;       // number in the run
    std::int64_t before = 0;     // nodes of the tile before filtering
    std::int64_t npt = 0;        // nodes kept
    std::string console;         // the triangulation's console lines
    std::string listing;         // checkpoint lines
    std::string result;          // result lines
    // With -w only: x, y (relative), z triples of the nodes kept and of the
    // points the raster filter kept (the latter when a mesh is asked for).
    std::vector<float> kept, filtered;
};

class TileEngine {
public:
    // Allocates one working set per worker (workers >= 1; 1 runs everything
    // on the calling thread; at most four per hardware thread are made).
    TileEngine(const RunSettings& settings, int workers);
    ~TileEngine();
    TileEngine(const TileEngine&) = delete;
    TileEngine& operator=(const TileEngine&) = delete;

    // Runs every tile of the batch; emit is called on the calling thread, in
    // tile order. The seed state carries over to the next batch. Rethrows a
    // worker's exception at that tile's turn.
    void run(const TileBatch& batch, const std::function<void(const TileResult&)>& emit);

    [[nodiscard]] std::int64_t reruns() const { return reruns_; }
    // The seed state after the last accepted tile.
    [[nodiscard]] const tin::SeedTriple& trfind_seeds() const { return truth_.trfind; }
    [[nodiscard]] const tin::SeedTriple& ctrfind_seeds() const { return truth_.ctrfind; }

private:
    struct Worker;
    struct Seeds {
        tin::SeedTriple trfind, ctrfind;
    };
    struct Job;
    // Filter, insertion from `seeds`, result lines. Returns whether a seed
    // triple was drawn from; seeds receives the state after the tile.
    bool process(const TileBatch& b, std::int32_t t, Worker& w, Seeds& seeds, Job& job, bool keep_filtered);
    struct Schedule;
    void work_one(Schedule& sc, Worker& w, std::unique_lock<std::mutex>& lock);
    void accept(Schedule& sc, std::int32_t t, Job& job);

    const RunSettings& s_;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool collect_kept_;      // fill TileResult::kept
    bool collect_filtered_;  // fill TileResult::filtered
    Seeds truth_;            // the state after the last accepted tile
    std::int64_t reruns_ = 0;
};

}  // namespace krel

#pragma once
// Small input files that fuzzed command lines can name: a terrain of 150
// points (enough for greedy insertion), a node list, a comma file, a hull, a
// LAS file and an empty file. Written afresh before every run, because a run
// may overwrite any file it is not reading.

#include <string>

#include "fuzz_support.hpp"
#include "support/las_writer.hpp"
#include "terrain.hpp"

namespace krel::fuzz {

inline void write_fixtures(const Scratch& dir) {
    static const std::string terrain = [] {
        gen::TerrainSpec spec;
        spec.points = 150;
        spec.x0 = 1000.0;
        spec.y0 = 2000.0;
        return gen::terrain_text(spec);
    }();
    static const std::string las = [] {
        std::vector<test::LasRec> pts;
        for (int i = 0; i < 12; ++i)
            pts.push_back({100000 + 37 * i, 200000 + 53 * (i % 5), 1000 + 7 * i, static_cast<std::uint8_t>(i % 4),
                           i == 5, i == 7});
        return test::las_file({}, pts);
    }();
    dir.write("a.xyz", terrain);
    dir.write("b.node", "3\n1 0 0 1\n2 1 0 2\n3 0 1 3\n");
    dir.write("c.xyz", "1,1000.5,2000.5,3.25\n1,1001,2001,4\n1,1002,2000,5\n");
    dir.write("h.txt", "1000 2000\n1003 2000\n1003 2003\n1000 2003\n");
    dir.write("l.las", las);
    dir.write("e.xyz", "");
}

}  // namespace krel::fuzz

#pragma once
// A synthetic LAS file for the reader benchmarks: format 3 (34-byte records,
// as airborne scans usually come), a jittered grid at map coordinates in
// centimetres, 40 % ground (class 2), the rest class 1, 1 % withheld. The same
// seed gives the same bytes everywhere. Written in chunks, never whole in
// memory.

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>

#include "support/las_writer.hpp"
#include "terrain.hpp"

namespace krel::bench {

inline void write_synthetic_las(const std::string& path, std::int64_t points, std::uint64_t seed = 1) {
    test::LasShape shape;
    shape.format = 3;
    shape.scale = {0.01, 0.01, 0.01};
    shape.offset = {612000.0, 5612000.0, 0.0};
    gen::SplitMix rng(seed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string head = test::las_head(shape, static_cast<std::uint64_t>(points));
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    const std::int64_t side = 3163;  // about sqrt(10 M): 35 cm spacing over 1.1 km
    std::string chunk;
    for (std::int64_t i = 0; i < points; ++i) {
        test::LasRec r;
        r.X = static_cast<std::int32_t>((i % side) * 35 + static_cast<std::int64_t>(rng.next() % 35));
        r.Y = static_cast<std::int32_t>((i / side) * 35 + static_cast<std::int64_t>(rng.next() % 35));
        const std::uint64_t u = rng.next();
        r.Z = static_cast<std::int32_t>(25000 + (i % side) / 4 + static_cast<std::int64_t>(u % 300));
        r.cls = (u >> 20) % 10 < 4 ? 2 : 1;
        r.withheld = (u >> 40) % 100 == 0;
        test::append_las_record(chunk, shape, r);
        if (chunk.size() >= (std::size_t{1} << 20)) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace krel::bench

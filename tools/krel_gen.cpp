// krel_gen: writes synthetic terrain points as "x y z" lines.
//   krel_gen POINTS [SEED] > file.xyz

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "terrain.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: krel_gen POINTS [SEED] > file.xyz\n");
        return 1;
    }
    krel::gen::TerrainSpec spec;
    spec.points = std::atoll(argv[1]);
    if (argc > 2) spec.seed = std::strtoull(argv[2], nullptr, 10);
    static char buf[1 << 20];
    std::setvbuf(stdout, buf, _IOFBF, sizeof buf);
    krel::gen::make_terrain(spec, [](std::string_view l) { std::fwrite(l.data(), 1, l.size(), stdout); });
    return std::fflush(stdout) == 0 ? 0 : 1;
}

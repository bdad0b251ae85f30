#include "run/fit_report.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unistd.h>
#include <vector>

#include "io/fortran.hpp"
#include "io/io_error.hpp"
#include "run/cleanup.hpp"

namespace krel {

namespace {

// A buffered binary temporary file, every call checked.
class TempFile {
public:
    TempFile(const std::string& folder, const char* stem) {
        path_ = folder + "/" + stem + "-XXXXXX";
        const int fd = cleanup::create_file(path_, cleanup_);
        if (fd < 0) throw io::io_error("create", path_, "for the fit report", errno);
        file_ = ::fdopen(fd, "w+b");
        if (file_ == nullptr) {
            const int err = errno;
            ::close(fd);
            remove();
            throw io::io_error("open", path_, "for the fit report", err);
        }
    }
    ~TempFile() {
        if (file_ != nullptr) std::fclose(file_);
        remove();
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const void* p, std::size_t n) {
        if (n != 0 && std::fwrite(p, 1, n, file_) != n) throw io::io_error("write", path_, "", errno);
    }
    void read(void* p, std::size_t n) {
        if (n != 0 && std::fread(p, 1, n, file_) != n)
            throw io::io_error("read", path_, "", std::ferror(file_) ? errno : EIO);
    }
    void rewind() {
        if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) throw io::io_error("read", path_, "", errno);
    }

private:
    void remove() {
        ::unlink(path_.c_str());
        cleanup::forget(cleanup_);
    }
    std::string path_;
    std::FILE* file_ = nullptr;
    int cleanup_ = -1;
};

struct TileHead {
    std::int32_t tile;
    std::int64_t nodes;
    std::int64_t count;
};

// Metres with four decimals, unpadded.
std::string number(double v) {
    const std::string f = io::format_f(v, 24, 4);
    return f.substr(f.find_first_not_of(' '));
}

// Rank (1-based) of the 95th percentile among n values, nearest-rank.
std::size_t nearest_rank(std::size_t n) { return (95 * n + 99) / 100; }

// A tile's vertical errors against the mesh.
struct TileErrors {
    std::vector<float> abs;  // |error| of each covered point
    double sum = 0.0;        // of the squared errors
    std::int64_t uncovered = 0;
};

void tile_errors(mesh::Mesh& mesh, const std::vector<float>& xyz, TileErrors& e) {
    e.abs.clear();
    e.sum = 0.0;
    e.uncovered = 0;
    for (std::size_t i = 0; i < xyz.size(); i += 3) {
        const auto h = mesh.height(xyz[i], xyz[i + 1]);
        if (!h) {
            ++e.uncovered;
            continue;
        }
        // Rounded to float; beyond its range (absurd coordinates) infinite.
        const double ed = static_cast<double>(xyz[i + 2]) - *h;
        const float err = std::fabs(ed) <= std::numeric_limits<float>::max() ? static_cast<float>(ed)
                          : ed > 0.0 ? std::numeric_limits<float>::infinity()
                                     : -std::numeric_limits<float>::infinity();
        e.sum += static_cast<double>(err) * static_cast<double>(err);
        e.abs.push_back(std::fabs(err));
    }
}

// Appends the tile's CSV row; reorders e.abs. run_max takes the tile's max.
void tile_row(const TileHead& head, TileErrors& e, float& run_max, std::string& text) {
    text += std::to_string(head.tile) + ',' + std::to_string(head.count) + ',' + std::to_string(head.nodes) + ',';
    if (!e.abs.empty()) {
        const std::size_t k = nearest_rank(e.abs.size()) - 1;
        std::nth_element(e.abs.begin(), e.abs.begin() + static_cast<std::ptrdiff_t>(k), e.abs.end());
        const float p95 = e.abs[k];
        const float max = *std::max_element(e.abs.begin() + static_cast<std::ptrdiff_t>(k), e.abs.end());
        run_max = std::max(run_max, max);
        text += number(std::sqrt(e.sum / static_cast<double>(e.abs.size()))) + ',' + number(max) + ',' + number(p95);
    } else {
        text += ",,";
    }
    text += ',' + std::to_string(e.uncovered) + '\n';
}

// The k-th smallest (from 1) of the count errors in `errors` as float bits,
// whose upper 16 bits `upper` counts. For non-negative floats the bit
// patterns order as the values do, so the bucket of upper bits that holds
// it is found from the counts, then its lower bits in one more pass.
float kth_error(TempFile& errors, std::int64_t count, std::int64_t k, const std::vector<std::int64_t>& upper) {
    std::uint32_t hi = 0;
    while (k > upper[hi]) k -= upper[hi++];
    std::vector<std::int64_t> lower(1 << 16, 0);
    std::vector<std::uint32_t> bits;
    errors.rewind();
    for (std::int64_t remaining = count; remaining > 0;) {
        const std::int64_t take = std::min<std::int64_t>(remaining, 1 << 16);
        bits.resize(static_cast<std::size_t>(take));
        errors.read(bits.data(), bits.size() * sizeof(std::uint32_t));
        for (std::uint32_t b : bits)
            if ((b >> 16) == hi) ++lower[b & 0xFFFF];
        remaining -= take;
    }
    std::uint32_t lo = 0;
    while (k > lower[lo]) k -= lower[lo++];
    const std::uint32_t b = hi << 16 | lo;
    float v;
    std::memcpy(&v, &b, sizeof b);
    return v;
}

}  // namespace

struct FitReport::Impl {
    std::string folder;
    std::unique_ptr<TempFile> points;
    std::int64_t tiles = 0;  // tiles written to points
};

FitReport::FitReport(const std::string& fallback_folder) : impl_(std::make_unique<Impl>()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : fallback_folder;
    if (base.empty()) base = ".";
    impl_->folder = base;
    impl_->points = std::make_unique<TempFile>(base, ".krel-fit");
}

FitReport::~FitReport() = default;

void FitReport::add_tile(std::int32_t tile, std::int64_t nodes, std::span<const float> xyz) {
    const TileHead head{tile, nodes, static_cast<std::int64_t>(xyz.size() / 3)};
    impl_->points->write(&head, sizeof head);
    impl_->points->write(xyz.data(), xyz.size() * sizeof(float));
    ++impl_->tiles;
}

FitStats FitReport::finish(mesh::Mesh& mesh, const io::ByteOut& csv) {
    TempFile& points = *impl_->points;
    points.rewind();
    // Absolute errors of the whole run, for its p95: kept on disk as float
    // bits, counted by their upper 16 bits on the way (kth_error).
    TempFile errors(impl_->folder, ".krel-fit-errors");
    std::vector<std::int64_t> upper(1 << 16, 0);
    FitStats run;
    double run_sum = 0.0;

    std::string text = "tile,filtered points,nodes,rms,max,p95,uncovered\n";
    std::vector<float> xyz;
    TileErrors e;
    std::vector<std::uint32_t> bits;
    for (std::int64_t t = 0; t < impl_->tiles; ++t) {
        TileHead head{};
        points.read(&head, sizeof head);
        xyz.resize(static_cast<std::size_t>(3 * head.count));
        points.read(xyz.data(), xyz.size() * sizeof(float));
        tile_errors(mesh, xyz, e);
        bits.resize(e.abs.size());
        for (std::size_t i = 0; i < e.abs.size(); ++i) {
            std::memcpy(&bits[i], &e.abs[i], sizeof(float));
            ++upper[bits[i] >> 16];
        }
        errors.write(bits.data(), bits.size() * sizeof(std::uint32_t));
        run_sum += e.sum;
        run.points += head.count;
        run.uncovered += e.uncovered;
        tile_row(head, e, run.max, text);
        if (text.size() >= (std::size_t{1} << 16)) {
            csv(text);
            text.clear();
        }
    }
    csv(text);

    const std::int64_t covered = run.points - run.uncovered;
    if (covered > 0) {
        run.rms = std::sqrt(run_sum / static_cast<double>(covered));
        run.p95 = kth_error(errors, covered, static_cast<std::int64_t>(nearest_rank(static_cast<std::size_t>(covered))),
                            upper);
    }
    return run;
}

std::string fit_line(std::int64_t triangles, const FitStats& run) {
    std::string s = " >mesh " + std::to_string(triangles) + " triangles; fit of " + std::to_string(run.points) +
                    " filtered points";
    if (run.points > run.uncovered)
        s += ": rms " + number(run.rms) + " m, max " + number(run.max) + " m, p95 " + number(run.p95) + " m";
    s += "; " + std::to_string(run.uncovered) + " off the mesh\n";
    return s;
}

}  // namespace krel

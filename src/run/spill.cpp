#include "run/spill.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "io/file.hpp"
#include "io/io_error.hpp"
#include "run/cleanup.hpp"
#include "tiles/gettiles.hpp"

namespace krel {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

// Fixed-size records written through a buffer, every write checked.
class Writer {
public:
    explicit Writer(std::string path) : path_(std::move(path)) {
        fd_ = io::Fd::open(path_, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (!fd_.valid()) throw io::io_error("open", path_, "for writing", errno);
        buf_.reserve(kBufferBytes);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void put(const void* data, std::size_t bytes) {
        if (buf_.size() + bytes > kBufferBytes) flush();
        buf_.insert(buf_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + bytes);
    }
    void close() {
        if (!fd_.valid()) return;
        flush();
        if (fd_.close() != 0) throw io::io_error("close", path_, "", errno);
    }

private:
    void flush() {
        io::write_all(fd_.get(), buf_.data(), buf_.size(), path_);
        buf_.clear();
    }

    std::string path_;
    io::Fd fd_;
    std::vector<char> buf_;
};

// Fixed-size records read back through a buffer.
class Reader {
public:
    Reader(std::string path, std::size_t record) : path_(std::move(path)), record_(record) {
        fd_ = io::Fd::open(path_, O_RDONLY);
        if (!fd_.valid()) throw io::io_error("open", path_, "for reading", errno);
        buf_.resize(kBufferBytes / record_ * record_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The next record, nullptr at the end.
    const char* next() {
        if (at_ + record_ > end_) {
            // Keep a partial record (a short read) and fill up behind it.
            const std::size_t rest = end_ - at_;
            std::memmove(buf_.data(), buf_.data() + at_, rest);
            at_ = 0;
            end_ = rest;
            while (end_ < record_) {
                const ssize_t got = io::read_some(fd_.get(), buf_.data() + end_, buf_.size() - end_);
                if (got < 0) throw io::io_error("read", path_, "", errno);
                if (got == 0) return nullptr;
                end_ += static_cast<std::size_t>(got);
            }
        }
        const char* r = buf_.data() + at_;
        at_ += record_;
        return r;
    }

private:
    std::string path_;
    std::size_t record_;
    io::Fd fd_;
    std::vector<char> buf_;
    std::size_t at_ = 0, end_ = 0;
};

struct PointRecord {
    float x, y, z;
};
struct GroupRecord {
    float x, y, z;
    std::int32_t tile;
};

}  // namespace

struct Spill::Impl final : io::PointSink {
    std::string points_path;
    std::unique_ptr<Writer> points;
    bool pending = false;      // the last node, held until the next one (it may be overwritten)
    std::int64_t pending_n = 0;
    PointRecord last{};
    std::int64_t n = 0;        // nodes written
    float xmin = 0, ymin = 0;  // smallest over nodes 1..n, from node 1 on

    std::vector<std::int32_t> group_of;       // tile -> group
    std::vector<std::int32_t> group_first;    // group -> first tile
    std::vector<std::int64_t> group_points;   // group -> points
    std::vector<std::string> group_paths;
    std::unique_ptr<tiles::TileNumbering> numbering;

    void write_pending() {
        if (!pending) return;
        ++n;
        if (n == 1) {
            xmin = last.x;
            ymin = last.y;
        } else {
            if (last.x < xmin) xmin = last.x;
            if (last.y < ymin) ymin = last.y;
        }
        points->put(&last, sizeof last);
        pending = false;
    }

    void store(std::int64_t node, float x, float y, float z) override {
        if (!pending || node != pending_n) write_pending();
        pending = true;
        pending_n = node;
        last = {x, y, z};
    }
};

Spill::Spill(const std::string& fallback_folder) : impl_(std::make_unique<Impl>()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : fallback_folder;
    if (base.empty()) base = ".";
    std::string templ = base + "/krel-spill-XXXXXX";
    if (cleanup::create_folder(templ, cleanup_) < 0) throw io::io_error("create", templ, "for the points", errno);
    folder_ = templ;
    impl_->points_path = folder_ + "/points";
    impl_->points = std::make_unique<Writer>(impl_->points_path);
}

Spill::~Spill() {
    impl_.reset();  // closes the files first
    cleanup::remove_folder(folder_);
    cleanup::forget(cleanup_);
}

io::PointSink& Spill::sink() { return *impl_; }

std::int32_t Spill::groups() const { return static_cast<std::int32_t>(impl_->group_first.size()); }

void Spill::each_point(const std::function<void(float, float, float)>& take) {
    Impl& m = *impl_;
    m.write_pending();
    m.points->close();
    Reader in(m.points_path, sizeof(PointRecord));
    for (const char* r; (r = in.next()) != nullptr;) {
        PointRecord p;
        std::memcpy(&p, r, sizeof p);
        take(p.x, p.y, p.z);
    }
}

std::int32_t Spill::tile(float ts, float dx, std::int64_t group_points, io::TextOut& console) {
    Impl& m = *impl_;
    m.write_pending();
    m.points->close();

    // Number the tiles in node order, counting their nodes.
    m.numbering = std::make_unique<tiles::TileNumbering>(m.n, m.xmin, m.ymin, ts, dx, console);
    std::vector<std::int64_t> count{0};
    {
        Reader in(m.points_path, sizeof(PointRecord));
        std::int64_t i = 0;
        for (const char* r; (r = in.next()) != nullptr;) {
            PointRecord p;
            std::memcpy(&p, r, sizeof p);
            const std::int32_t t = m.numbering->sweep(++i, p.x, p.y);
            if (static_cast<std::size_t>(t) >= count.size()) count.resize(static_cast<std::size_t>(t) + 1, 0);
            ++count[static_cast<std::size_t>(t)];
        }
    }
    const std::int32_t ntiles = m.numbering->finish();

    // Groups of consecutive tiles within the budget.
    m.group_of.assign(static_cast<std::size_t>(ntiles) + 1, 0);
    std::int64_t in_group = 0;
    for (std::int32_t t = 1; t <= ntiles; ++t) {
        const std::int64_t c = count[static_cast<std::size_t>(t)];
        if (m.group_first.empty() || in_group + c > group_points) {
            m.group_first.push_back(t);
            m.group_points.push_back(0);
            in_group = 0;
        }
        in_group += c;
        m.group_points.back() += c;
        m.group_of[static_cast<std::size_t>(t)] = static_cast<std::int32_t>(m.group_first.size()) - 1;
    }

    // Sort the points into the group files, a bounded number of files open
    // at a time.
    constexpr std::int32_t kOpenFiles = 64;
    const auto ngroups = static_cast<std::int32_t>(m.group_first.size());
    for (std::int32_t g = 0; g < ngroups; ++g) m.group_paths.push_back(folder_ + "/group-" + std::to_string(g));
    for (std::int32_t g0 = 0; g0 < ngroups; g0 += kOpenFiles) {
        const std::int32_t g1 = std::min(ngroups, g0 + kOpenFiles);
        std::vector<std::unique_ptr<Writer>> out;
        for (std::int32_t g = g0; g < g1; ++g)
            out.push_back(std::make_unique<Writer>(m.group_paths[static_cast<std::size_t>(g)]));
        Reader in(m.points_path, sizeof(PointRecord));
        for (const char* r; (r = in.next()) != nullptr;) {
            PointRecord p;
            std::memcpy(&p, r, sizeof p);
            const std::int32_t t = m.numbering->tile_of(p.x, p.y);
            const std::int32_t g = m.group_of[static_cast<std::size_t>(t)];
            if (g < g0 || g >= g1) continue;
            const GroupRecord q{p.x, p.y, p.z, t};
            out[static_cast<std::size_t>(g - g0)]->put(&q, sizeof q);
        }
        for (auto& w : out) w->close();
    }
    ::unlink(m.points_path.c_str());
    return ntiles;
}

void Spill::read_group(std::int32_t g, TileGroup& group) {
    Impl& m = *impl_;
    const auto gi = static_cast<std::size_t>(g);
    const auto points = static_cast<std::size_t>(m.group_points[gi]);
    group.first_tile = m.group_first[gi];
    const std::int32_t last_tile =
        gi + 1 < m.group_first.size() ? m.group_first[gi + 1] - 1 : static_cast<std::int32_t>(m.group_of.size()) - 1;
    group.tiles = last_tile - group.first_tile + 1;
    group.x.resize(points + 1);
    group.y.resize(points + 1);
    group.z.resize(points + 1);
    group.idx.resize(points + 1);
    std::vector<std::int32_t> itile(points + 1);
    {
        Reader in(m.group_paths[gi], sizeof(GroupRecord));
        std::size_t i = 0;
        for (const char* r; (r = in.next()) != nullptr;) {
            GroupRecord q;
            std::memcpy(&q, r, sizeof q);
            ++i;
            group.x[i] = q.x;
            group.y[i] = q.y;
            group.z[i] = q.z;
            itile[i] = q.tile - group.first_tile + 1;
        }
    }
    ::unlink(m.group_paths[gi].c_str());
    tiles::collect_tiles(static_cast<std::int32_t>(points), itile.data(), group.tiles, group.idx.data(), group.start);
}

}  // namespace krel

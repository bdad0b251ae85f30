// A large plain or comma file read in chunks side by side. The explore pass
// cuts the file at line starts and notes what each chunk holds; the load pass
// reads the same chunks and puts each chunk's points straight into their
// slots. Either prints and counts exactly what the reading in one piece
// would, or gives up before printing anything and leaves the file to it.

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <thread>

#include "io/file.hpp"
#include "io/linefile.hpp"
#include "io/read_pass.hpp"

namespace krel::io::detail {

namespace {

// Chunks are at least this large: smaller files are read in one piece.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kChunkBuffer = std::size_t{1} << 20;  // read buffer of each chunk

// Size of a regular file, 0 for anything else.
std::int64_t regular_size(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::int64_t>(st.st_size);
}

// Offset just after the first LF at or after `from`, or -1 when there is none.
std::int64_t line_start_after(const std::string& name, std::int64_t from, std::int64_t size) {
    const Fd fd = Fd::open(name, O_RDONLY);
    if (!fd.valid()) return -1;
    std::vector<char> buf(std::size_t{1} << 16);
    for (std::int64_t at = from; at < size;) {
        const ssize_t got = pread_full(fd.get(), buf.data(), buf.size(), at);
        if (got <= 0) return -1;
        const void* nl = std::memchr(buf.data(), '\n', static_cast<std::size_t>(got));
        if (nl != nullptr) return at + (static_cast<const char*>(nl) - buf.data()) + 1;
        at += got;
    }
    return -1;
}

}  // namespace

// One chunk of a file read side by side with the others: counts as the
// file's own reading would, relative to the chunk's start.
struct Pass::Chunk {
    std::int64_t begin = 0;      // bytes [begin, end) of the file
    std::int64_t end = 0;
    std::exception_ptr error;    // a read failure, thrown again by the reader's thread
    std::int64_t ok0 = 0;        // load: records read in the pass before the chunk
    std::int64_t n0 = 0;         // load: slots filled before the chunk
    std::int64_t attempts = 0;   // record reads, the one meeting the chunk's end included
    std::int64_t ok = 0;         // records read without error
    std::int64_t accepted = 0;   // points passing the filters
    bool partial = false;        // the chunk's end cut a record
    std::vector<std::pair<std::int64_t, std::int64_t>> errors;  // explore: (read, records before)
    std::vector<std::string> progress;                           // load: progress texts
};

bool Pass::read_chunked(const std::string& name, std::size_t index, Layout layout) {
    if (s_.threads < 2 || s_.plans == nullptr) return false;
    ChunkPlans& plans = *s_.plans;
    if (plans.files.size() < s_.files.size()) plans.files.resize(s_.files.size());
    ChunkPlan& plan = plans.files[index];
    std::int64_t total = 0;
    if (mode_ == PassMode::load) {
        // The same points in the same slots as a reading in one piece.
        if (plan.bounds.empty() || s_.iskip != 1 || nodes_->sink != nullptr) return false;
        for (const std::int64_t k : plan.accepted) total += k;
        if (n_ + total > capacity_) return false;
    }
    const std::int64_t size = regular_size(path_);
    if (size < static_cast<std::int64_t>(kChunkBytes)) return false;
    if (mode_ == PassMode::explore) {
        if (!plan_chunks(name, plan, size)) return false;
    } else if (plan.bounds.back() != size) {
        return false;  // the file changed
    }

    const std::size_t parts = plan.bounds.size() - 1;
    std::vector<Chunk> chunks(parts);
    std::int64_t ok0 = records_, n0 = n_;
    for (std::size_t c = 0; c < parts; ++c) {
        chunks[c].begin = plan.bounds[c];
        chunks[c].end = plan.bounds[c + 1];
        if (mode_ == PassMode::load) {
            chunks[c].ok0 = ok0;
            chunks[c].n0 = n0;
            ok0 += plan.ok[c];
            n0 += plan.accepted[c];
        }
    }
    if (mode_ == PassMode::load && n_ == 0 && total > 0 && !set_origin(name, layout)) return false;
    if (!parse_chunks(name, chunks, layout)) {
        if (mode_ == PassMode::explore) plan = ChunkPlan{};
        return false;
    }
    if (mode_ == PassMode::load) {
        for (std::size_t c = 0; c < parts; ++c)
            if (chunks[c].ok != plan.ok[c] || chunks[c].accepted != plan.accepted[c]) return false;
    }
    replay_chunks(chunks, plan);
    return true;
}

// Explore: cuts the file into at most `threads` chunks of at least
// kChunkBytes, each starting at the beginning of a line. false (plan
// cleared): fewer than two chunks.
bool Pass::plan_chunks(const std::string& name, ChunkPlan& plan, std::int64_t size) const {
    plan = ChunkPlan{};
    const std::int64_t parts = std::min<std::int64_t>(s_.threads, size / static_cast<std::int64_t>(kChunkBytes));
    plan.bounds.push_back(0);
    for (std::int64_t k = 1; k < parts; ++k) {
        const std::int64_t at = line_start_after(path_, size * k / parts, size);
        if (at < 0) break;
        if (at > plan.bounds.back() && at < size) plan.bounds.push_back(at);
    }
    plan.bounds.push_back(size);
    if (plan.bounds.size() >= 3) return true;
    plan = ChunkPlan{};
    return false;
}

// Parses every chunk, one thread each (a thread that cannot be had, memory
// short, leaves its chunk to this one). false: the chunks cannot stand for
// the file, which must be read in one piece: a buffer could not be had (the
// reading in one piece needs less), or a record runs over a chunk's end.
// Other read failures are thrown.
bool Pass::parse_chunks(const std::string& name, std::vector<Chunk>& chunks, Layout layout) const {
    const std::size_t parts = chunks.size();
    {
        std::vector<std::thread> threads;
        std::size_t started = 1;
        try {
            for (; started < parts; ++started)
                threads.emplace_back(
                    [this, &name, &chunks, started, layout] { parse_chunk(name, chunks[started], layout); });
        } catch (const std::system_error&) {
        }
        parse_chunk(name, chunks[0], layout);
        for (std::size_t c = started; c < parts; ++c) parse_chunk(name, chunks[c], layout);
        for (std::thread& t : threads) t.join();
    }
    for (const Chunk& c : chunks) {
        if (!c.error) continue;
        try {
            std::rethrow_exception(c.error);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    for (std::size_t c = 0; c + 1 < parts; ++c)
        if (chunks[c].partial) return false;
    return true;
}

// The record loop over one chunk, without printing: the explore pass notes
// its read errors, the load pass stores its points in their slots and notes
// its progress texts. Only reads shared state.
void Pass::parse_chunk(const std::string& name, Chunk& c, Layout layout) const {
    try {
        LineFile src(name, path_, c.begin, c.end, kChunkBuffer);
        NodeArrays* a = nodes_;
        c.partial = each_record(
            src, layout,
            [&] {
                ++c.attempts;
                return true;
            },
            [&] {
                if (mode_ == PassMode::explore) c.errors.emplace_back(c.attempts, c.ok);
            },
            [&](double x, double y, float z) {
                ++c.ok;
                if (mode_ == PassMode::load && (c.ok0 + c.ok) % kProgressRecords == 0)
                    c.progress.push_back(progress_text(c.n0 + c.accepted, c.ok0 + c.ok));
                if (!passes(x, y, z)) return true;
                ++c.accepted;
                if (mode_ == PassMode::explore) return true;
                const std::int64_t slot = c.n0 + c.accepted;
                a->x[slot] = static_cast<float>(x - a->xorig);
                a->y[slot] = static_cast<float>(y - a->yorig);
                a->z[slot] = z;
                return true;
            });
    } catch (...) {
        c.error = std::current_exception();
    }
}

// What the reading in one piece would have printed and counted; the explore
// pass completes the plan with each chunk's counts.
void Pass::replay_chunks(const std::vector<Chunk>& chunks, ChunkPlan& plan) {
    const std::size_t parts = chunks.size();
    for (std::size_t c = 0; c < parts; ++c) {
        const Chunk& ch = chunks[c];
        const std::int64_t lines0 = lines_;
        const std::int64_t records0 = records_;
        if (mode_ == PassMode::explore) {
            for (const auto& [attempt, before] : ch.errors) {
                advance_records(records0 + before);
                error_line(lines0 + attempt);
            }
            advance_records(records0 + ch.ok);
            plan.ok.push_back(ch.ok);
            plan.accepted.push_back(ch.accepted);
        } else {
            for (const std::string& text : ch.progress) console_.iimesg(text);
            records_ = records0 + ch.ok;
        }
        n_ += ch.accepted;
        // The read that met a chunk's end is the next chunk's first read.
        lines_ = lines0 + ch.attempts - (c + 1 < parts ? 1 : 0);
    }
}

// Load: the origin is the file's first accepted point when no earlier file
// gave one; the chunks need it before they start.
bool Pass::set_origin(const std::string& name, Layout layout) {
    LineFile src(std::make_unique<ByteSource>(name, path_), std::size_t{1} << 16);
    bool found = false;
    (void)each_record(
        src, layout, [] { return true; }, [] {},
        [&](double x, double y, float z) {
            if (!passes(x, y, z)) return true;
            nodes_->xorig = x;
            nodes_->yorig = y;
            found = true;
            return false;
        });
    return found;
}

// Explore: the record counter moves on to `target`, with the progress texts
// of every multiple of kProgressRecords passed on the way.
void Pass::advance_records(std::int64_t target) {
    std::int64_t next = (records_ / kProgressRecords + 1) * kProgressRecords;
    while (next <= target) {
        records_ = next;
        progress();
        next += kProgressRecords;
    }
    records_ = target;
}

}  // namespace krel::io::detail

#include "io/las.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "io/fields.hpp"
#include "io/io_error.hpp"
#include "io/laz.hpp"

namespace krel::io {

std::optional<ClassSet> parse_class_list(std::string_view text) {
    ClassSet set;
    set.all = false;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        const std::string_view item = text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos);
        const auto code = parse_int(item);
        if (!code || *code < 0 || *code > 255) return std::nullopt;
        set.keep[static_cast<std::size_t>(*code)] = true;
        if (comma == std::string_view::npos) return set;
        pos = comma + 1;
    }
}

namespace {

std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32u(const unsigned char* p) { return static_cast<std::uint32_t>(LasDecoder::le32(p)); }
std::uint64_t le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(le32u(p)) | static_cast<std::uint64_t>(le32u(p + 4)) << 32;
}
double le_double(const unsigned char* p) {
    const std::uint64_t bits = le64(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string num(std::uint64_t v) { return std::to_string(v); }

}  // namespace

LasHeader parse_las_header(std::span<const unsigned char> head, std::uint64_t file_size, std::string_view file) {
    auto broken = [&](const std::string& what) { return file_error(file, "LAS header: " + what); };
    if (file_size < kLasHeaderMin || head.size() < kLasHeaderMin)
        throw file_error(file, "the file ends inside the LAS header: " + num(file_size) + " bytes, at least " +
                                   num(kLasHeaderMin) + " needed");
    if (std::memcmp(head.data(), "LASF", 4) != 0) throw broken("the signature is not LASF");
    const unsigned char* b = head.data();
    LasHeader h;
    h.version_major = b[24];
    h.version_minor = b[25];
    h.header_size = le16(b + 94);
    h.point_offset = le32u(b + 96);
    h.vlr_count = le32u(b + 100);
    h.point_format = b[104];
    h.record_length = le16(b + 105);
    if (h.version_major != 1) throw broken("version major is " + num(h.version_major) + ", must be 1");
    if (h.header_size < kLasHeaderMin)
        throw broken("header size is " + num(h.header_size) + ", must be at least " + num(kLasHeaderMin));
    if (h.header_size > file_size)
        throw broken("header size is " + num(h.header_size) + " but the file has only " + num(file_size) + " bytes");
    // LAZ marks its compressed records with bit 7 (and older writers bit 6)
    // of the format byte; everything else in the header is as in LAS.
    h.laz = (h.point_format & 0xC0) != 0;
    h.point_format &= 0x3F;
    if (h.point_format >= kLasFormats) throw broken("unknown point format " + num(h.point_format));
    const std::uint16_t min_length = kLasMinRecord[h.point_format];
    if (h.record_length < min_length)
        throw broken("point record length is " + num(h.record_length) + ", format " + num(h.point_format) +
                     " needs at least " + num(min_length));
    if (h.point_offset < h.header_size)
        throw broken("offset to point data is " + num(h.point_offset) + ", smaller than the header size " +
                     num(h.header_size));
    static constexpr const char* kAxis[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        h.scale[k] = le_double(b + 131 + 8 * k);
        h.offset[k] = le_double(b + 155 + 8 * k);
        if (!std::isfinite(h.scale[k])) throw broken(std::string(kAxis[k]) + " scale factor is not a finite number");
        if (!std::isfinite(h.offset[k])) throw broken(std::string(kAxis[k]) + " offset is not a finite number");
    }
    h.promised = le32u(b + 107);
    // 1.4 keeps the full count in 64 bits; the legacy field is 0 (or capped)
    // when the count does not fit it or the format is one of 6 to 10.
    constexpr std::size_t kCount64At = 247;
    if (h.version_minor >= 4 && h.header_size >= kCount64At + 8) {
        const std::uint64_t count64 = le64(b + kCount64At);
        if (h.promised == 0 || count64 > h.promised) h.promised = count64;
    }
    return h;
}

LasDecoder::LasDecoder(const LasHeader& h)
    : sx(h.scale[0]), sy(h.scale[1]), sz(h.scale[2]), ox(h.offset[0]), oy(h.offset[1]), oz(h.offset[2]) {
    if (h.point_format >= 6) {
        // Formats 6 to 10: class in byte 16, flags (synthetic, key-point,
        // withheld, overlap) in the low bits of byte 15.
        class_at = 16;
        class_mask = 0xFF;
        flags_at = 15;
        withheld_mask = 0x04;
    } else if (h.version_minor == 0) {
        // 1.0 has the whole byte as the class and no flags.
        class_mask = 0xFF;
        withheld_mask = 0;
    }
}

bool is_las_file(const std::string& name) {
    const Fd fd = Fd::open(name, O_RDONLY);
    if (!fd.valid()) return false;
    struct stat st {};
    // Only regular files are looked at: reading from a pipe would take bytes
    // that the text reader needs.
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 4) return false;
    char sig[4];
    return pread_full(fd.get(), sig, sizeof sig, 0) == 4 && std::memcmp(sig, "LASF", 4) == 0;
}

LasFile::LasFile(std::string name, std::size_t block_bytes, int threads)
    : LasFile(name, name, false, block_bytes, threads) {}

LasFile::LasFile(std::string name, const std::string& path, bool ahead, std::size_t block_bytes, int threads)
    : name_(std::move(name)) {
    std::uint64_t file_size = 0;
    {
        auto src = std::make_unique<ByteSource>(name_, path, false);
        if (src->plain_regular()) {
            fd_ = Fd::open(path, O_RDONLY);
            if (!fd_.valid()) throw io_error("open", name_, "for reading", errno);
            struct stat st {};
            if (::fstat(fd_.get(), &st) != 0) throw io_error("read", name_, "", errno);
            file_size = static_cast<std::uint64_t>(st.st_size);
        } else {
            // The checks and the count bound need the size of the content,
            // which only a reading through tells.
            std::vector<unsigned char> scratch(ByteSource::kStageBytes);
            for (ssize_t got; (got = src->read(scratch.data(), scratch.size())) != 0;)
                if (got < 0) throw read_error(name_, 1, src->error());
            file_size = src->content_read();
            seq_ = std::make_unique<ByteSource>(name_, path, ahead);
        }
    }
    std::array<unsigned char, kLasHeaderRead> head{};
    const std::size_t got = read_at(head.data(), head.size(), 0);
    if (seq_) head_.assign(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(got));
    header_ = parse_las_header(std::span(head.data(), got), file_size, name_);
    const std::uint64_t rl = header_.record_length;
    const laz::ReadAt read = [this](unsigned char* dst, std::size_t n, std::uint64_t pos) {
        return read_at(dst, n, pos);
    };
    if (header_.laz) {
        // The decoder reads the chunk table and the chunks where they lie; a
        // compressed file can only be read front to back.
        if (seq_) throw file_error(name_, "LAZ points inside compressed data cannot be read; decompress the file first");
        laz_ = std::make_unique<laz::Layout>(laz::read_layout(read, header_, file_size, name_));
        present_ = laz_->points;
    } else {
        present_ = file_size > header_.point_offset ? (file_size - header_.point_offset) / rl : 0;
    }
    records_ = std::min(header_.promised, present_);
    if (header_.promised > present_)
        warnings_.push_back("LAS header promises " + num(header_.promised) + " points, the file holds " +
                            num(present_) + "; reading " + num(present_));
    check_vlrs(file_size);
    if (laz_) {
        chunks_ = std::make_unique<laz::ChunkStream>(*laz_, read, name_, records_, threads, block_bytes);
        return;
    }
    // No bigger than the records there are: a small file gets a small block.
    const std::size_t per_block = static_cast<std::size_t>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(block_bytes / rl, records_)));
    buf_.resize(per_block * rl);
}

LasFile::~LasFile() = default;

std::size_t LasFile::read_at(unsigned char* dst, std::size_t n, std::uint64_t pos, long long line) {
    if (!seq_) {
        const ssize_t got = pread_full(fd_.get(), dst, n, static_cast<std::int64_t>(pos));
        if (got < 0) throw io_error("read", name_, "", errno);
        return static_cast<std::size_t>(got);
    }
    std::size_t done = 0;
    if (pos < head_.size()) {
        done = static_cast<std::size_t>(std::min<std::uint64_t>(n, head_.size() - pos));
        std::memcpy(dst, head_.data() + pos, done);
    }
    // Callers only go forward, so nothing between is needed again.
    assert(pos + done >= seq_at_ || done == n);
    std::vector<unsigned char> skip;
    while (done < n) {
        const std::uint64_t at = pos + done;
        unsigned char* to = dst + done;
        std::size_t want = n - done;
        if (seq_at_ < at) {
            if (skip.empty()) skip.resize(ByteSource::kStageBytes);
            to = skip.data();
            want = static_cast<std::size_t>(std::min<std::uint64_t>(skip.size(), at - seq_at_));
        }
        const ssize_t got = seq_->read(to, want);
        if (got < 0) throw read_error(name_, line, seq_->error());
        if (got == 0) break;
        seq_at_ += static_cast<std::uint64_t>(got);
        if (to != skip.data()) done += static_cast<std::size_t>(got);
    }
    return done;
}

// The records are read from the offset whatever the VLRs say; this only
// tells the user that the VLRs do not add up. Each step passes at least one
// VLR header, so the walk is bounded by the bytes before the point data, and
// those are read through a small window, never by a size taken from a field.
void LasFile::check_vlrs(std::uint64_t file_size) {
    constexpr std::uint64_t kVlrHeader = 54;  // reserved, user id, record id, length, description
    constexpr std::size_t kLengthAt = 20;
    const std::uint64_t limit = std::min<std::uint64_t>(header_.point_offset, file_size);
    std::vector<unsigned char> window(std::size_t{64} << 10);
    std::uint64_t window_at = 0, window_len = 0;
    std::uint64_t pos = header_.header_size;
    const std::string there = " before the point data at byte " + num(header_.point_offset) +
                              "; the points are read from there";
    for (std::uint32_t i = 0; i < header_.vlr_count; ++i) {
        if (pos + kVlrHeader > limit) {
            warnings_.push_back("LAS header counts " + num(header_.vlr_count) +
                                " variable-length records, only " + num(i) + " fit" + there);
            return;
        }
        if (pos + kVlrHeader > window_at + window_len) {
            // The part of the next header already read is kept, so the reading
            // only goes forward (a compressed file cannot go back).
            const std::uint64_t keep = pos < window_at + window_len ? window_at + window_len - pos : 0;
            if (keep > 0) std::memmove(window.data(), window.data() + (pos - window_at), keep);
            window_at = pos;
            const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), limit - pos));
            window_len = keep + read_at(window.data() + keep, room - keep, pos + keep);
            if (window_len < kVlrHeader) return;  // the file shrank under us: nothing to say
        }
        const std::uint64_t length = le16(window.data() + (pos - window_at) + kLengthAt);
        if (pos + kVlrHeader + length > limit) {
            warnings_.push_back("variable-length record " + num(i + 1) + " of " + num(header_.vlr_count) + " (" +
                                num(length) + " bytes) does not end" + there);
            return;
        }
        pos += kVlrHeader + length;
    }
}

bool LasFile::next_block(std::span<const unsigned char>& block, long long line) {
    if (handed_ >= records_) return false;
    if (chunks_) {
        const unsigned char* data = nullptr;
        std::size_t bytes = 0;
        if (!chunks_->next(data, bytes)) return false;
        handed_ += bytes / header_.record_length;
        block = std::span<const unsigned char>(data, bytes);
        return true;
    }
    const std::uint64_t rl = header_.record_length;
    const std::uint64_t want = std::min<std::uint64_t>(records_ - handed_, buf_.size() / rl);
    const std::size_t got = read_at(buf_.data(), static_cast<std::size_t>(want * rl),
                                    header_.point_offset + handed_ * rl, line);
    const std::uint64_t whole = got / rl;
    if (whole == 0) {
        records_ = handed_;  // the file shrank since it was opened: nothing is invented
        return false;
    }
    handed_ += whole;
    block = std::span<const unsigned char>(buf_.data(), static_cast<std::size_t>(whole * rl));
    return true;
}

}  // namespace krel::io

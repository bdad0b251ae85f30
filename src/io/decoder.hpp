#pragma once
// Compressed input: the four formats krel reads (gzip, zstd, bzip2, xz), told
// apart by their magic bytes and decoded step by step through their own
// libraries. Nothing of the libraries shows outside decoder.cpp.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace krel::io {

enum class Compression { none, gzip, zstd, bzip2, xz };

// Bytes that detect_compression wants to see; fewer (a short file) still work.
constexpr std::size_t kMagicBytes = 10;

// The format whose magic begins `head`, none for anything else. bzip2 needs
// its block or end-of-stream magic too ("BZh9" alone could begin a text line).
[[nodiscard]] Compression detect_compression(std::span<const unsigned char> head);

// "gzip", "zstd", "bzip2", "xz" (and "plain" for none).
[[nodiscard]] std::string_view compression_name(Compression c);

// Decodes one compressed input from its first byte to its end. A file may hold
// several members (gzip, bzip2), frames (zstd) or streams (xz, with their
// zero padding) one after the other, as the formats' own tools write and read
// them; anything else after the last complete one is damage.
class Decoder {
public:
    virtual ~Decoder() = default;

    // Decodes from `in` into `out`; `used` and `made` say how many bytes were
    // taken and given. `last`: no input follows `in`. A step that takes and
    // gives nothing needs more input (or, when `last`, the data is at its end:
    // complete() then tells whether it ended where it may). false: the data is
    // damaged; error() says how, and the decoder must not be stepped again.
    [[nodiscard]] virtual bool step(std::span<const unsigned char> in, std::size_t& used,
                                    std::span<unsigned char> out, std::size_t& made, bool last) = 0;
    // Whether everything taken so far ends with a complete member or frame.
    [[nodiscard]] virtual bool complete() const = 0;
    [[nodiscard]] const std::string& error() const { return error_; }

protected:
    std::string error_;
};

// A decoder for `c` (not none). Throws std::bad_alloc when its library cannot
// have its state.
[[nodiscard]] std::unique_ptr<Decoder> make_decoder(Compression c);

}  // namespace krel::io

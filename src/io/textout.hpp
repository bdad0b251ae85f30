#pragma once
// Where a stage's console or listing lines go: the run hands its stdout, a
// per-tile buffer or (in tests) a string. Lines end with LF alone.

#include <array>
#include <cstdint>
#include <ostream>
#include <utility>
#include <string>
#include <string_view>

namespace krel::io {

// The turning character of the in-place progress lines for the caller's
// step count.
inline char spinner(std::int64_t step) {
    static constexpr std::array<char, 4> kSpin{'|', '\\', '|', '/'};
    return kSpin[static_cast<std::size_t>(step % 4)];
}

class TextOut {
public:
    virtual ~TextOut() = default;
    // Raw bytes, nothing added.
    virtual void put(std::string_view text) = 0;
    virtual void flush() {}

    void line(std::string_view text) {
        put(text);
        put("\n");
    }
    // The in-place progress line: carriage return, the text, no line end. The
    // next ordinary line continues (and ends) the open line.
    void iimesg(std::string_view text) {
        put("\r");
        put(text);
        flush();
    }
};

class StringOut final : public TextOut {
public:
    void put(std::string_view text) override { text_ += text; }
    [[nodiscard]] const std::string& str() const { return text_; }
    std::string take() { return std::exchange(text_, {}); }

private:
    std::string text_;
};

class StreamOut final : public TextOut {
public:
    explicit StreamOut(std::ostream& os) : os_(os) {}
    void put(std::string_view text) override { os_.write(text.data(), static_cast<std::streamsize>(text.size())); }
    void flush() override { os_.flush(); }

private:
    std::ostream& os_;
};

}  // namespace krel::io

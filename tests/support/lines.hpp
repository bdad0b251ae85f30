#pragma once
// A line source over a fixed list of lines, for reader tests.

#include <string>
#include <string_view>
#include <vector>

#include "io/fields.hpp"

namespace krel::test {

class Lines final : public io::LineSource {
public:
    explicit Lines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    bool next(std::string_view& line) override {
        if (at_ == lines_.size()) return false;
        line = lines_[at_++];
        return true;
    }

private:
    std::vector<std::string> lines_;
    std::size_t at_ = 0;
};

}  // namespace krel::test

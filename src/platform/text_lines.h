// Splitting a text held in memory into its lines. Inside the platform layer only.
#pragma once

#include <cstddef>
#include <string_view>

namespace farlink::platform {

// The lines of the text one by one, without their LF or CR LF; views into the text.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (at_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', at_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(at_, end - at_);
        at_ = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace farlink::platform

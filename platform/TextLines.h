// Splitting text into lines. A line ends at CR LF, CR or LF, whichever comes
// first; files of either convention, or a mix, read the same.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace selvo {

// One line of a text: its content without the break, and the position where
// the next line starts (text.size() after the last one).
struct TTextLine {
  std::string_view text;
  std::size_t next;
};

// The line starting at `start` (start <= text.size()).
TTextLine LineAt(std::string_view text, std::size_t start);

// Every line of the text; a break at the very end adds no empty line, and an
// empty text has none. The views point into `text`.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace selvo

#include "platform/TextLines.h"

namespace selvo {

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const TTextLine line = LineAt(text, start);
    lines.push_back(line.text);
    start = line.next;
  }
  return lines;
}

}  // namespace selvo

#include "platform/TextLines.h"

namespace selvo {

TTextLine LineAt(std::string_view text, std::size_t start) {
  std::size_t end = start;
  while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
  std::size_t next = end;
  if (next < text.size()) next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
  return {text.substr(start, end - start), next};
}

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

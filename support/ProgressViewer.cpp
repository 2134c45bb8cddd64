#include "support/ProgressViewer.h"

namespace selvo {
namespace {

std::string& TitleSlot() {
  static std::string title;
  return title;
}

}  // namespace

void SetProgressViewerTitle(const std::string& title) { TitleSlot() = title; }
const std::string& ProgressViewerTitle() { return TitleSlot(); }

}  // namespace selvo

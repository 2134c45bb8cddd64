// The progress window that the discount card editor shows while it prepares
// the goods selection. For now only its title text is kept.
#pragma once

#include <string>

namespace selvo {

void SetProgressViewerTitle(const std::string& title);
const std::string& ProgressViewerTitle();

}  // namespace selvo

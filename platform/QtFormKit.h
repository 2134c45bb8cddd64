// Building blocks shared by the module's windows: the designed fonts with
// fallbacks for machines that lack them, hints kept exactly as written, and
// labels that act on a click.
#pragma once

#include <functional>
#include <string>

class QFont;
class QLabel;
class QWidget;

namespace selvo {

// The windows' own font: "MS Sans Serif" at the given pixel height, else a
// narrow sans serif font of the machine, so that the designed layout fits.
QFont FormFont(int pixelSize = 11);
// "Courier New" at the given pixel height, else a monospaced font.
QFont CourierFont(int pixelSize);

// Gives a control its hint: the exact text (lines may be joined by CR LF) is
// kept for the operations that show it, and the tool tip shows its lines.
void SetHint(QWidget* widget, const std::string& hint);
// The hint as given to SetHint; empty when the control has none.
std::string Hint(const QWidget* widget);

// Runs `action` when the label is clicked with the left mouse button (pressed
// and released over it). The label shows a hand cursor. The action lives as
// long as the label.
void OnLabelClick(QLabel* label, std::function<void()> action);

// A label with a text, a colour (empty: the window's) and bold or not.
QLabel* MakeLabel(QWidget* parent, const std::string& text, const char* color = "", bool bold = false);

}  // namespace selvo

// Building blocks shared by the module's windows: the designed fonts with
// fallbacks for machines that lack them, hints kept exactly as written,
// labels that act on a click, and the few calls a window's layout is made of
// (named controls, grids and boxes, labelled rows, the OK/Cancel row).
#pragma once

#include <QKeySequence>
#include <QList>
#include <QMargins>
#include <QString>
#include <Qt>

#include <functional>
#include <initializer_list>
#include <string>

class QAction;
class QBoxLayout;
class QFont;
class QGridLayout;
class QLabel;
class QLayout;
class QPushButton;
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

// A control of the window's description, made on `parent` and carrying its
// name as the object name: MakeNamed<QComboBox>(this, "cbCheck").
template <class Control>
Control* MakeNamed(QWidget* parent, const char* name) {
  auto* control = new Control(parent);
  control->setObjectName(QString::fromUtf8(name));
  return control;
}

// A named control with a text (a button, a check box, a radio button, a
// group box's title) and, when given, its hint.
template <class Control>
Control* MakeNamed(QWidget* parent, const char* name, const char* text, const char* hint = nullptr) {
  auto* control = new Control(QString::fromUtf8(text), parent);
  control->setObjectName(QString::fromUtf8(name));
  if (hint) SetHint(control, hint);
  return control;
}

// An action of the window named `name` whose keys act wherever the focus is
// in the window, before the controls' own keys; it runs `handler`.
QAction* AddWindowShortcut(QWidget* window, const char* name, const QList<QKeySequence>& keys,
                           std::function<void()> handler);

// One entry of a box layout: a control or a nested layout with its stretch
// factor (and a control's alignment), a stretch or a fixed spacing.
class TBoxItem {
 public:
  TBoxItem(QWidget* widget, int stretch = 0, Qt::Alignment alignment = {})
      : widget_(widget), stretch_(stretch), alignment_(alignment) {}
  TBoxItem(QLayout* layout, int stretch = 0) : layout_(layout), stretch_(stretch) {}
  static TBoxItem Stretch(int factor = 1) { return TBoxItem(factor, -1); }
  static TBoxItem Spacing(int size) { return TBoxItem(0, size); }

  void AddTo(QBoxLayout* box) const;

 private:
  TBoxItem(int stretch, int spacing) : stretch_(stretch), spacing_(spacing) {}

  QWidget* widget_ = nullptr;
  QLayout* layout_ = nullptr;
  int stretch_ = 0;
  int spacing_ = -1;
  Qt::Alignment alignment_ = {};
};

// Adds the items to the box in their order.
void AddItems(QBoxLayout* box, std::initializer_list<TBoxItem> items);

// A box (QHBoxLayout or QVBoxLayout) with the spacing between its items
// (-1: the style's) that holds the items; nested in another layout later.
template <class Box>
Box* MakeBox(int spacing, std::initializer_list<TBoxItem> items) {
  auto* box = new Box;
  box->setSpacing(spacing);
  AddItems(box, items);
  return box;
}

// A box laid on `owner` (a window, a group box, a panel), with its margins.
template <class Box>
Box* MakeBox(QWidget* owner, const QMargins& margins, int spacing, std::initializer_list<TBoxItem> items) {
  auto* box = new Box(owner);
  box->setContentsMargins(margins);
  box->setSpacing(spacing);
  AddItems(box, items);
  return box;
}

// A grid with its spacings (-1: the style's), nested in another layout later.
QGridLayout* MakeGrid(int horizontalSpacing, int verticalSpacing);
// A grid laid on `owner`, with its margins.
QGridLayout* MakeGrid(QWidget* owner, const QMargins& margins, int horizontalSpacing, int verticalSpacing);

// A labelled row of a grid: a label with `caption` in column 0 and the field
// beside it from column 1 over `columnSpan` columns. The label belongs to
// the field's parent. Returns the label.
QLabel* AddLabelledRow(QGridLayout* grid, int row, const char* caption, QWidget* field, int columnSpan = 1,
                       Qt::Alignment fieldAlignment = {});

// The buttons that close a window: OK, which saves, and Cancel, with the
// module's shared texts and hints and the names the window's description
// gives them ("btnOk"/"btnCancel", "BitBtn3"/"BitBtn4", ...). Default and
// auto-default stay as Qt makes them; the window decides.
struct TOkCancelButtons {
  QPushButton* ok;
  QPushButton* cancel;
};
TOkCancelButtons MakeOkCancel(QWidget* parent, const char* okName, const char* cancelName);

// A window's bottom row: the `leading` items on the left, then a stretch,
// OK and Cancel on the right.
void AddOkCancelRow(QBoxLayout* row, std::initializer_list<TBoxItem> leading, const TOkCancelButtons& buttons);

}  // namespace selvo

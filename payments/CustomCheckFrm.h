// The goods receipt template of a payment type: its four parts, its file
// form, and the dialog TCustomCheckForm in which the operator edits it.
//
// A template is cliché + "#Delim1#" + header + "#Delim2#" + repeating part +
// "#Delim3#" + footer, lines joined by CR LF. Texts are UTF-8 here; the
// template files are Windows-1251.
#pragma once

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

#include "interface/SelvoPaymentsTypes.h"

class QKeyEvent;
class QLabel;
class QPushButton;
class QTextEdit;
class QTimer;

namespace selvo {

struct TCustomCheckParts {
  std::string klishe;
  std::string head;
  std::string repeat;
  std::string footer;
  bool operator==(const TCustomCheckParts&) const = default;
};

// Splits at the first "#Delim1#", the first "#Delim2#" after it and the first
// "#Delim3#" after that. Where a marker is missing, the rest of the text stays
// in the part being read and the later parts are empty (no "#Delim1#": all of
// it is the cliché), so no text of the template is ever dropped.
TCustomCheckParts SplitTemplate(const std::string& checkTemplate);
// The parts with the three markers between them, nothing added.
std::string JoinTemplate(const TCustomCheckParts& parts);

// A variable the dialog offers, with the description shown beside it.
struct TTemplateVariable {
  const char* name;  // "<#Tovar>"
  const char* description;
  const char* hint;  // empty for most
};
// Variables of the repeating part, then those of the header, totals and footer.
extern const std::vector<TTemplateVariable> kRepeatVariables;
extern const std::vector<TTemplateVariable> kHeadFooterVariables;

// Character ranges of an editor's text to highlight.
struct TTextRange {
  int start;
  int length;
  bool operator==(const TTextRange&) const = default;
};
struct TTemplateHighlights {
  std::vector<TTextRange> variables;  // "<#" to the next ">", inclusive
  std::vector<TTextRange> boldLines;  // a line from its leading "@" to its end
};
// Finds the ranges in a text whose line breaks are single characters
// ('\n', U+2028 or U+2029), as the editors hold it. A "<#" with no ">" after
// it ends the search for variables; an "@" counts only at a line start.
TTemplateHighlights FindTemplateHighlights(const QString& text);

// Raised when a template file cannot be read or written; the message names
// the file and the system's reason.
class ETemplateFileError : public Exception {
  using Exception::Exception;
};

// Reads a Windows-1251 template file as lines and joins them again with CR LF
// after every line (any of CR LF, LF, CR ends a line in the file).
std::string LoadTemplateFile(const std::string& fileName);
// Writes the text as Windows-1251 lines, each ending in CR LF, the last
// included; replaces an existing file.
void SaveTemplateFile(const std::string& fileName, const std::string& text);

// Opens the dialog modally on the template; when the operator confirms, the
// template is replaced by the joined parts and the answer is true. Otherwise
// the template is left untouched.
bool EditCustomCheck(std::string& checkTemplate, QWidget* parent = nullptr);

// The template editor dialog. Controls carry the names below as object names,
// so tests find them with findChild. Event handlers are public, as the
// toolkit would call them.
class TCustomCheckForm : public QDialog {
  Q_OBJECT

 public:
  explicit TCustomCheckForm(QWidget* parent = nullptr);
  ~TCustomCheckForm() override;

  // Puts the parts into the four editors (highlighted, nothing to undo).
  void SetParts(const TCustomCheckParts& parts);
  // The four editors' plain texts, line breaks as CR LF.
  TCustomCheckParts Parts() const;
  // The editor that last received the focus; null before the dialog is shown.
  QTextEdit* CurrentEditor() const { return currentEditor_; }

  // Event handlers.
  void FormShow();
  void btnLoadClick();
  void btnSaveClick();
  void lbHintClick(QLabel* label);
  void lbBoldLineClick();
  void lbRepeatLabelClick(QLabel* label);
  void lbVarLabelClick(QLabel* label);
  void reCheckHeadChange(QTextEdit* editor);
  void reCheckHeadEnter(QTextEdit* editor);
  // Answers whether the key was taken.
  bool reCheckKlisheKeyDown(QTextEdit* editor, QKeyEvent* key);
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QTextEdit* MakePartEditor(const char* name);
  QLabel* MakeVariableLabel(const char* name, bool repeatPart);
  std::vector<QTextEdit*> PartEditors() const;

  QTextEdit* reCheckKlishe = nullptr;
  QTextEdit* reCheckHead = nullptr;
  QTextEdit* reCheckRepeat = nullptr;
  QTextEdit* reCheckFooter = nullptr;
  QTextEdit* RichEdit2 = nullptr;
  QLabel* lbCurLine = nullptr;
  QLabel* lbCharCount = nullptr;
  QLabel* lbCurChar = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnLoad = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* btnCancel = nullptr;
  QTimer* Timer1 = nullptr;

  QTextEdit* currentEditor_ = nullptr;
  bool reloading_ = false;
};

}  // namespace selvo

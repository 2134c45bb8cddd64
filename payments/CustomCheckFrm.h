// The dialog TCustomCheckForm in which the operator edits the goods receipt
// template of a payment type. The template itself (its parts, highlights and
// files) is payments/CustomCheckTemplateU.
#pragma once

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

#include "payments/CustomCheckTemplateU.h"

class QKeyEvent;
class QLabel;
class QPushButton;
class QTextEdit;
class QTimer;

namespace selvo {

// Finds the highlights of an editor's text.
inline TTemplateHighlights FindTemplateHighlights(const QString& text) {
  return FindTemplateHighlights(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

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

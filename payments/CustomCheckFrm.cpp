#include "payments/CustomCheckFrm.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtFormKit.h"
#include "platform/QtModalFocus.h"
#include "platform/TextCodec.h"

namespace selvo {

// The operator-facing texts of the dialog, in one place.
namespace {

constexpr const char* kTitle = "Настройка произвольного чека";
constexpr const char* kKlisheCaption = "Клише (шапка чека, максимум 3 строки с текстом):";
constexpr const char* kHeadCaption = "Заголовок чека:";
constexpr const char* kRepeatCaption = "Повторяющаяся часть:";
constexpr const char* kFooterCaption = "Итоги, подвал чека, рекламный текст:";
constexpr const char* kKlisheEditorHint =
    "Заполняйте клише только в том случае,\r\n"
    "если касса не поддерживает печать клише после\r\n"
    "печати произвольного документа.";
constexpr const char* kKlisheCaptionHint =
    "Заполняйте клише только в том случае,\r\n"
    "если касса не поддерживает печать клише после\r\n"
    "печати произвольного документа.\r\n"
    "ПОМНИТЕ, что касса печатает клише следующего\r\n"
    "чека ЗАРАНЕЕ! Задайте необходимое количество\r\n"
    "пустых строк так, чтобы отрезка чека производилась\r\n"
    "в правильном месте.";
constexpr const char* kIntro =
    "Внесите строки, которые будут выводиться\r\n"
    "на ККМ в виде произвольного документа";
constexpr const char* kVariablesTitle = "Перечень допустимых переменных:";
constexpr const char* kBoldMarker = "    @    ";
constexpr const char* kBoldMarkerText = "- выделяет стоку чека жирным шрифтом";
constexpr const char* kFormatting = "При печати текста и чисел вы можете управлять форматированием.";
constexpr const char* kExamples = "Примеры:";
constexpr const char* kClickToAdd = "Для добавления к чеку щелкните мышкой на имени переменной";
constexpr const char* kRepeatGroup = "Переменные для повторяющейся части";
constexpr const char* kHeadFooterGroup = "Переменные для заголовка, итога и подвала чека";
constexpr const char* kCursor = "Курсор -";
constexpr const char* kCursorLine = "Строка:";
constexpr const char* kCursorCount = "Символов:";
constexpr const char* kCursorCountHint = "Кол-во символов в текущей строке";
constexpr const char* kCursorChar = "Текущий:";
constexpr const char* kSave = "Сохранить в файл...";
constexpr const char* kLoad = "Загрузить из файла...";
constexpr const char* kFileFilter = "Текстовый файл (*.txt)|*.txt|Все файлы (*.*)|*.*";
constexpr const char* kFileName = "CustomCheck.txt";
constexpr const char* kOpenTitle = "Выберите файл с шаблоном произвольного чека";
constexpr const char* kSaveTitle = "Введите имя файла";
constexpr const char* kSaved = "Шаблон произвольного чека сохранен в файле:\r\n\r\n";
constexpr const char* kSavedCaption = "Информация";

struct TFormatExample {
  const char* objectName;
  const char* text;
  const char* explanation;
  bool repeatPart;
};
constexpr TFormatExample kFormatExamples[] = {
    {"lbExampleTovar", "<#Tovar(20)>", "- наименование будет обрезано до 20 символов", true},
    {"lbExampleItog", "<#Itog(10.2)>", "- поле \"Итог\" будет занимать 10 знакомест", false},
    {"lbExampleCurDateTime", "<#CurDateTime(dd.mm.yy)>", "- выведет дату печати (без времени)", false},
};

constexpr const char* kVariableColor = "#0000ff";

}  // namespace

bool EditCustomCheck(std::string& checkTemplate, QWidget* parent) {
  const TOpenerFocus opener;
  TCustomCheckForm form(parent);
  form.SetParts(SplitTemplate(checkTemplate));
  if (form.exec() != QDialog::Accepted) return false;
  checkTemplate = JoinTemplate(form.Parts());
  return true;
}

// ---------------------------------------------------------------------------
// Highlighting helpers

namespace {

// The line breaks of an editor's document.
bool IsLineBreak(QChar c) {
  return c == QLatin1Char('\n') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// An editor's plain text with CR LF line breaks; unlike toPlainText it keeps
// no-break spaces as they are.
std::string EditorText(const QTextEdit* editor) {
  const QString raw = editor->document()->toRawText();
  QString text;
  text.reserve(raw.size() + raw.size() / 16);
  for (QChar c : raw) {
    if (IsLineBreak(c))
      text += QLatin1String("\r\n");
    else
      text += c;
  }
  return text.toStdString();
}

bool IsBlank(const QString& text) {
  for (QChar c : text)
    if (c.unicode() > 0x20 && !IsLineBreak(c)) return false;
  return true;
}

QTextCharFormat PlainFormat() {
  QTextCharFormat format;
  format.setForeground(QColor(Qt::black));
  format.setFontWeight(QFont::Normal);
  format.setFontItalic(false);
  format.setFontUnderline(false);
  format.setFontStrikeOut(false);
  format.setFontPointSize(10);
  return format;
}

QTextCharFormat VariableFormat() {
  QTextCharFormat format;
  format.setForeground(QColor(kVariableColor));
  format.setFontWeight(QFont::Bold);
  return format;
}

QTextCharFormat BoldLineFormat() {
  QTextCharFormat format;
  format.setFontWeight(QFont::Bold);
  format.setFontPointSize(14);
  return format;
}

void MergeFormat(QTextDocument* document, const TTextRange& range, const QTextCharFormat& format) {
  QTextCursor cursor(document);
  cursor.setPosition(range.start);
  cursor.setPosition(range.start + range.length, QTextCursor::KeepAnchor);
  cursor.mergeCharFormat(format);
}

// The formatting of a document as runs of equal character formats plus the
// formats of its empty-line positions, so that two documents with the same
// text compare equal exactly when they look the same.
struct TFormatRun {
  int start;
  int length;
  QTextCharFormat format;
  bool operator==(const TFormatRun&) const = default;
};
struct TFormatting {
  std::vector<QTextCharFormat> blockFormats;
  std::vector<TFormatRun> runs;
  bool operator==(const TFormatting&) const = default;
};

TFormatting FormattingOf(const QTextDocument* document) {
  TFormatting formatting;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    formatting.blockFormats.push_back(block.charFormat());
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      const QTextCharFormat format = fragment.charFormat();
      if (!formatting.runs.empty()) {
        TFormatRun& last = formatting.runs.back();
        if (last.start + last.length == fragment.position() && last.format == format) {
          last.length += fragment.length();
          continue;
        }
      }
      formatting.runs.push_back({fragment.position(), fragment.length(), format});
    }
  }
  return formatting;
}

// Gives the editor's document the formatting of another document with the
// same text. Joined to the edit that caused it, so that one undo takes back
// the operator's change and its highlighting together.
void ApplyFormatting(QTextDocument* document, const TFormatting& formatting) {
  QTextCursor cursor(document);
  cursor.joinPreviousEditBlock();
  QTextBlock block = document->begin();
  for (const QTextCharFormat& format : formatting.blockFormats) {
    if (!block.isValid()) break;
    cursor.setPosition(block.position());
    cursor.setBlockCharFormat(format);
    block = block.next();
  }
  for (const TFormatRun& run : formatting.runs) {
    cursor.setPosition(run.start);
    cursor.setPosition(run.start + run.length, QTextCursor::KeepAnchor);
    cursor.setCharFormat(run.format);
  }
  cursor.endEditBlock();
}

// Puts an editor's selection back when it goes out of scope.
class TSelectionKeeper {
 public:
  explicit TSelectionKeeper(QTextEdit* editor)
      : editor_(editor), anchor_(editor->textCursor().anchor()), position_(editor->textCursor().position()) {}
  ~TSelectionKeeper() {
    QTextCursor cursor = editor_->textCursor();
    if (cursor.anchor() == anchor_ && cursor.position() == position_) return;
    cursor.setPosition(anchor_);
    cursor.setPosition(position_, QTextCursor::KeepAnchor);
    editor_->setTextCursor(cursor);
  }
  TSelectionKeeper(const TSelectionKeeper&) = delete;
  TSelectionKeeper& operator=(const TSelectionKeeper&) = delete;

 private:
  QTextEdit* editor_;
  int anchor_;
  int position_;
};

// A part editor whose edits by keyboard, paste and drop each form one undo
// step, so that the highlighting that follows joins that step: otherwise an
// undo would take back only the highlighting, which the next change handler
// puts straight back, and the operator could never undo the edit itself.
class TTemplateEditor : public QTextEdit {
 public:
  using QTextEdit::QTextEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
      QTextEdit::keyPressEvent(event);
      return;
    }
    QTextCursor step(document());
    step.beginEditBlock();
    QTextEdit::keyPressEvent(event);
    step.endEditBlock();
  }
  void insertFromMimeData(const QMimeData* source) override {
    QTextCursor step(document());
    step.beginEditBlock();
    QTextEdit::insertFromMimeData(source);
    step.endEditBlock();
  }
};

// Collapses the selection to its start and inserts the text there.
void InsertAtCaret(QTextEdit* editor, const QString& text) {
  QTextCursor cursor = editor->textCursor();
  cursor.beginEditBlock();
  cursor.setPosition(cursor.selectionStart());
  cursor.insertText(text);
  cursor.endEditBlock();
  editor->setTextCursor(cursor);
}

}  // namespace

// ---------------------------------------------------------------------------
// The dialog

TCustomCheckForm::TCustomCheckForm(QWidget* parent) : QDialog(parent) {
  setObjectName("CustomCheckForm");
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFont(FormFont(11));
  BuildControls();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this, &TCustomCheckForm::Timer1Timer);
  Timer1->start();
}

TCustomCheckForm::~TCustomCheckForm() = default;

std::vector<QTextEdit*> TCustomCheckForm::PartEditors() const {
  return {reCheckKlishe, reCheckHead, reCheckRepeat, reCheckFooter};
}

QTextEdit* TCustomCheckForm::MakePartEditor(const char* name) {
  auto* editor = new TTemplateEditor(this);
  editor->setObjectName(name);
  editor->setFont(CourierFont(13));
  editor->setLineWrapMode(QTextEdit::NoWrap);
  editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  editor->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Templates are plain text: pasting keeps only the text.
  editor->setAcceptRichText(false);
  editor->setTabChangesFocus(true);
  editor->installEventFilter(this);
  connect(editor, &QTextEdit::textChanged, this, [this, editor] { reCheckHeadChange(editor); });
  return editor;
}

QLabel* TCustomCheckForm::MakeVariableLabel(const char* name, bool repeatPart) {
  QLabel* label = MakeLabel(this, name, kVariableColor, true);
  std::string objectName(name);
  objectName = "lb" + objectName.substr(2, objectName.size() - 3);
  label->setObjectName(QString::fromStdString(objectName));
  if (repeatPart)
    OnLabelClick(label, [this, label] { lbRepeatLabelClick(label); });
  else
    OnLabelClick(label, [this, label] { lbVarLabelClick(label); });
  return label;
}

void TCustomCheckForm::BuildControls() {
  reCheckKlishe = MakePartEditor("reCheckKlishe");
  SetHint(reCheckKlishe, kKlisheEditorHint);
  reCheckHead = MakePartEditor("reCheckHead");
  reCheckRepeat = MakePartEditor("reCheckRepeat");
  reCheckFooter = MakePartEditor("reCheckFooter");

  RichEdit2 = MakeNamed<QTextEdit>(this, "RichEdit2");
  RichEdit2->setFont(CourierFont(13));
  RichEdit2->setLineWrapMode(QTextEdit::NoWrap);
  RichEdit2->hide();

  // Left: the four part editors under their captions, the cursor indicator.
  auto* parts = MakeBox<QVBoxLayout>(2, {});
  auto addPart = [&](const char* caption, const char* objectName, QTextEdit* editor, int stretch) {
    QLabel* label = MakeLabel(this, caption);
    label->setObjectName(objectName);
    AddItems(parts, {label, {editor, stretch}, TBoxItem::Spacing(4)});
    return label;
  };
  QLabel* lbKlishe = addPart(kKlisheCaption, "lbCaptionKlishe", reCheckKlishe, 3);
  SetHint(lbKlishe, kKlisheCaptionHint);
  OnLabelClick(lbKlishe, [this, lbKlishe] { lbHintClick(lbKlishe); });
  QLabel* lbHead = addPart(kHeadCaption, "lbCaptionHead", reCheckHead, 4);
  OnLabelClick(lbHead, [this, lbHead] { lbHintClick(lbHead); });
  addPart(kRepeatCaption, "lbCaptionRepeat", reCheckRepeat, 3);
  addPart(kFooterCaption, "lbCaptionFooter", reCheckFooter, 6);

  auto counter = [&](const char* objectName) {
    QLabel* label = MakeLabel(this, "0", "", true);
    label->setObjectName(objectName);
    label->setMinimumWidth(28);
    return label;
  };
  lbCurLine = counter("lbCurLine");
  lbCharCount = counter("lbCharCount");
  lbCurChar = counter("lbCurChar");
  QLabel* countCaption = MakeLabel(this, kCursorCount);
  SetHint(countCaption, kCursorCountHint);
  SetHint(lbCharCount, kCursorCountHint);
  parts->addLayout(
      MakeBox<QHBoxLayout>(4, {MakeLabel(this, kCursor), MakeLabel(this, kCursorLine), lbCurLine, countCaption,
                               lbCharCount, MakeLabel(this, kCursorChar), lbCurChar, TBoxItem::Stretch()}));

  // Right: how to write a template, then the variables to click.
  auto* help = MakeBox<QVBoxLayout>(
      1, {MakeLabel(this, kIntro), TBoxItem::Spacing(3), MakeLabel(this, kVariablesTitle, "", true)});

  QLabel* lbBoldLine = MakeLabel(this, kBoldMarker, kVariableColor, true);
  lbBoldLine->setObjectName("lbBoldLine");
  OnLabelClick(lbBoldLine, [this] { lbBoldLineClick(); });
  help->addLayout(MakeBox<QHBoxLayout>(6, {lbBoldLine, MakeLabel(this, kBoldMarkerText), TBoxItem::Stretch()}));

  QLabel* formatAttention = MakeLabel(this, kAttentionText, "", true);
  auto* formatText = MakeBox<QVBoxLayout>(1, {MakeLabel(this, kFormatting), MakeLabel(this, kExamples)});
  QGridLayout* examples = MakeGrid(6, 1);
  int row = 0;
  for (const TFormatExample& example : kFormatExamples) {
    QLabel* label = MakeLabel(this, example.text, kVariableColor, true);
    label->setObjectName(example.objectName);
    if (example.repeatPart)
      OnLabelClick(label, [this, label] { lbRepeatLabelClick(label); });
    else
      OnLabelClick(label, [this, label] { lbVarLabelClick(label); });
    examples->addWidget(label, row, 0);
    examples->addWidget(MakeLabel(this, example.explanation), row, 1);
    ++row;
  }
  examples->setColumnStretch(1, 1);
  formatText->addLayout(examples);
  help->addLayout(MakeBox<QHBoxLayout>(6, {{formatAttention, 0, Qt::AlignTop}, {formatText, 1}}));
  help->addLayout(
      MakeBox<QHBoxLayout>(6, {MakeLabel(this, kAttentionText, "", true), {MakeLabel(this, kClickToAdd), 1}}));

  auto makeGroup = [&](const char* title, const char* objectName, const std::vector<TTemplateVariable>& variables,
                       bool repeatPart) {
    auto* group = MakeNamed<QGroupBox>(this, objectName, title);
    QGridLayout* grid = MakeGrid(group, QMargins(8, 2, 8, 3), 6, 0);
    int line = 0;
    for (const TTemplateVariable& variable : variables) {
      QLabel* label = MakeVariableLabel(variable.name, repeatPart);
      if (*variable.hint) SetHint(label, variable.hint);
      grid->addWidget(label, line, 0);
      grid->addWidget(MakeLabel(group, variable.description), line, 1);
      ++line;
    }
    grid->setColumnStretch(1, 1);
    return group;
  };
  AddItems(help,
           {makeGroup(kRepeatGroup, "gbRepeatVariables", kRepeatVariables, true),
            makeGroup(kHeadFooterGroup, "gbHeadFooterVariables", kHeadFooterVariables, false), TBoxItem::Stretch()});

  // Bottom bar.
  btnSave = MakeNamed<QPushButton>(this, "btnSave", kSave);
  btnLoad = MakeNamed<QPushButton>(this, "btnLoad", kLoad);
  const TOkCancelButtons buttons = MakeOkCancel(this, "BitBtn3", "btnCancel");
  BitBtn3 = buttons.ok;
  btnCancel = buttons.cancel;
  BitBtn3->setDefault(true);
  for (QPushButton* button : {btnSave, btnLoad, BitBtn3, btnCancel}) button->setMinimumHeight(25);
  BitBtn3->setMinimumWidth(90);
  btnCancel->setMinimumWidth(90);
  connect(btnSave, &QPushButton::clicked, this, &TCustomCheckForm::btnSaveClick);
  connect(btnLoad, &QPushButton::clicked, this, &TCustomCheckForm::btnLoadClick);
  connect(BitBtn3, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* bottom = new QHBoxLayout;
  AddOkCancelRow(bottom, {btnSave, btnLoad}, buttons);

  MakeBox<QVBoxLayout>(this, QMargins(8, 6, 8, 6), -1,
                       {{MakeBox<QHBoxLayout>(10, {{parts, 1}, {help, 0}}), 1}, TBoxItem::Spacing(4), bottom});

  setTabOrder(reCheckHead, reCheckRepeat);
  setTabOrder(reCheckRepeat, reCheckFooter);
  setTabOrder(reCheckFooter, reCheckKlishe);
  setTabOrder(reCheckKlishe, btnSave);
  setTabOrder(btnSave, btnLoad);
  setTabOrder(btnLoad, BitBtn3);
  setTabOrder(BitBtn3, btnCancel);

  // The designed size, unless this machine's fonts need more room.
  setFixedSize(QSize(894, 530).expandedTo(minimumSizeHint()));
}

void TCustomCheckForm::SetParts(const TCustomCheckParts& parts) {
  const std::string* texts[4] = {&parts.klishe, &parts.head, &parts.repeat, &parts.footer};
  const std::vector<QTextEdit*> editors = PartEditors();
  for (int i = 0; i < 4; ++i) {
    editors[i]->setPlainText(QString::fromStdString(*texts[i]));
    // The highlighting of the loaded text is no edit of the operator's.
    editors[i]->document()->clearUndoRedoStacks();
  }
}

TCustomCheckParts TCustomCheckForm::Parts() const {
  return {EditorText(reCheckKlishe), EditorText(reCheckHead), EditorText(reCheckRepeat), EditorText(reCheckFooter)};
}

void TCustomCheckForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TCustomCheckForm::FormShow() {
  currentEditor_ = reCheckHead;
  reCheckHead->setFocus();
  if (!parentWidget()) {
    if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  }
}

bool TCustomCheckForm::eventFilter(QObject* watched, QEvent* event) {
  auto* editor = qobject_cast<QTextEdit*>(watched);
  if (editor && editor != RichEdit2) {
    if (event->type() == QEvent::FocusIn) reCheckHeadEnter(editor);
    if (event->type() == QEvent::KeyPress && reCheckKlisheKeyDown(editor, static_cast<QKeyEvent*>(event))) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TCustomCheckForm::reCheckHeadEnter(QTextEdit* editor) { currentEditor_ = editor; }

bool TCustomCheckForm::reCheckKlisheKeyDown(QTextEdit* editor, QKeyEvent* key) {
  if (key->key() == Qt::Key_Escape) {
    btnCancel->setFocus(Qt::OtherFocusReason);
    return true;
  }
  // Shift+Enter would put a soft line break into the text, which the receipt
  // does not know: every line break is a new line.
  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier)) {
    QTextCursor cursor = editor->textCursor();
    cursor.beginEditBlock();
    cursor.insertBlock();
    cursor.endEditBlock();
    editor->setTextCursor(cursor);
    return true;
  }
  return false;
}

void TCustomCheckForm::reCheckHeadChange(QTextEdit* editor) {
  if (reloading_) return;  // our own reload below: its formatting is already right
  const QString text = editor->document()->toRawText();
  if (IsBlank(text)) return;

  // Each copy is a child of the hidden editor; the one it replaces must go.
  QPointer<QTextDocument> previous = RichEdit2->document();
  QTextDocument* copy = editor->document()->clone(RichEdit2);
  RichEdit2->setDocument(copy);
  if (previous && previous->parent() == RichEdit2) delete previous;
  QTextCursor all(copy);
  all.select(QTextCursor::Document);
  all.setCharFormat(PlainFormat());
  const TTemplateHighlights highlights = FindTemplateHighlights(text);
  for (const TTextRange& range : highlights.variables) MergeFormat(copy, range, VariableFormat());
  for (const TTextRange& range : highlights.boldLines) MergeFormat(copy, range, BoldLineFormat());

  const TFormatting wanted = FormattingOf(copy);
  if (wanted == FormattingOf(editor->document())) return;

  TSelectionKeeper keepSelection(editor);
  reloading_ = true;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{reloading_};
  ApplyFormatting(editor->document(), wanted);
}

void TCustomCheckForm::Timer1Timer() {
  if (!currentEditor_) return;
  const QTextCursor caret = currentEditor_->textCursor();
  lbCurLine->setText(QString::number(caret.blockNumber() + 1));
  lbCurChar->setText(QString::number(caret.positionInBlock() + 1));
  lbCharCount->setText(QString::number(caret.block().length() - 1));
}

void TCustomCheckForm::lbVarLabelClick(QLabel* label) {
  if (currentEditor_) InsertAtCaret(currentEditor_, label->text());
}

void TCustomCheckForm::lbRepeatLabelClick(QLabel* label) { InsertAtCaret(reCheckRepeat, label->text()); }

void TCustomCheckForm::lbBoldLineClick() {
  if (!currentEditor_) return;
  const QTextBlock line = currentEditor_->textCursor().block();
  QTextCursor lineStart(line);
  lineStart.beginEditBlock();
  if (line.text().startsWith(QLatin1Char('@')))
    lineStart.deleteChar();
  else
    lineStart.insertText(QStringLiteral("@"));
  lineStart.endEditBlock();
}

void TCustomCheckForm::lbHintClick(QLabel* label) {
  ShowMessageBox(Hint(label), kAttentionText, TMsgIcon::Information);
}

namespace {

TFileDialogRequest TemplateFileRequest(TFileDialogKind kind) {
  TFileDialogRequest request;
  request.kind = kind;
  request.title = kind == TFileDialogKind::Open ? kOpenTitle : kSaveTitle;
  request.filter = kFileFilter;
  request.defaultExt = "txt";
  request.fileName = kFileName;
  request.overwritePrompt = kind == TFileDialogKind::Save;
  request.fileMustExist = kind == TFileDialogKind::Open;
  return request;
}

}  // namespace

void TCustomCheckForm::btnSaveClick() {
  const std::optional<std::string> fileName = ChooseFile(this, TemplateFileRequest(TFileDialogKind::Save));
  if (!fileName) return;
  try {
    SaveTemplateFile(*fileName, JoinTemplate(Parts()));
  } catch (const Exception& e) {
    ShowMessageBox(e.Message(), kErrorCaption, TMsgIcon::Exclamation);
    return;
  }
  ShowMessageBox(kSaved + *fileName, kSavedCaption, TMsgIcon::Information);
}

void TCustomCheckForm::btnLoadClick() {
  const std::optional<std::string> fileName = ChooseFile(this, TemplateFileRequest(TFileDialogKind::Open));
  if (!fileName) return;
  std::string text;
  try {
    text = LoadTemplateFile(*fileName);
  } catch (const Exception& e) {
    ShowMessageBox(e.Message(), kErrorCaption, TMsgIcon::Exclamation);
    return;
  }
  SetParts(SplitTemplate(text));
}

}  // namespace selvo

// Renders each window of the module, filled with sample content, to a PNG
// file, without a display: render_windows OUTDIR [NAME...]
//
// To add a window, add one scene to Scenes(): a name (the file is NAME.png),
// a function that builds the window with its sample content, and optionally
// one that puts it into the state to show once it is on screen.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "payments/CustomCheckFrm.h"
#include "payments/SelvoPaymentListU.h"
#include "support/QtProgressViewer.h"

namespace {

struct TWindowScene {
  std::string name;
  std::function<std::unique_ptr<QWidget>()> create;
  std::function<void(QWidget*)> afterShow;
};

// The caret on the bold totals line of the footer, as while an operator edits it.
void CaretOnTotalsLine(QWidget* window) {
  auto* form = static_cast<selvo::TCustomCheckForm*>(window);
  auto* footer = form->findChild<QTextEdit*>("reCheckFooter");
  footer->setFocus();
  QTextCursor caret(footer->document()->findBlockByNumber(1));
  caret.movePosition(QTextCursor::EndOfBlock);
  footer->setTextCursor(caret);
  form->Timer1Timer();
}

// One frame of the waiting window as its thread paints it: percentage mode
// at 40 %, the main text and a second line under it.
std::unique_ptr<QWidget> ProgressViewerFrame() {
  using namespace selvo;
  TProgressViewerSettings settings;
  settings.Title = "Настройка скидок для товаров";
  TProgressLines lines;
  AddStartingLines(lines, "Загрузка данных", {}, settings);
  lines.AddLine(1, "Обработано товаров: 400 из 1000", paCenter, false, kDefaultLineColor, kDefaultFontStyle,
                kDefaultFontSize, "", {}, settings);
  TProgressPicture picture;
  const int block = picture.LayoutText(lines.Items(), 450, kButtonFaceColor);
  const TProgressGeometry g = LimitProgressSize(TProgressGeometry{}, 450, block + 70);
  picture.RebuildBackground(g.width, g.height);
  TProgressFrameState state;
  state.Width = g.width;
  state.Height = g.height;
  state.PercentMode = true;
  state.Position = 40;
  state.ElapsedText = ElapsedTimeText(settings.ElapsedFormat, 0.5, 0.5 + 83.0 / 86400, TFormatSettings::Russian());
  picture.PaintFrame(state);
  auto label = std::make_unique<QLabel>();
  label->setContentsMargins(0, 0, 0, 0);
  label->setPixmap(QPixmap::fromImage(picture.Frame()));
  label->setFixedSize(picture.Frame().size());
  return label;
}

std::vector<TWindowScene> Scenes() {
  return {
      {"CustomCheckForm",
       [] {
         auto form = std::make_unique<selvo::TCustomCheckForm>();
         form->SetParts(selvo::SplitTemplate(selvo::DefaultCustomCheck()));
         return form;
       },
       CaretOnTotalsLine},
      {"ProgressViewer", ProgressViewerFrame, nullptr},
  };
}

bool Wanted(const std::string& name, int argc, char** argv) {
  if (argc <= 2) return true;
  for (int i = 2; i < argc; ++i)
    if (name == argv[i]) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTDIR [NAME...]\n", argv[0]);
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const QDir outDir(QString::fromLocal8Bit(argv[1]));
  if (!outDir.exists() && !QDir().mkpath(outDir.path())) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }

  int failures = 0;
  for (const TWindowScene& scene : Scenes()) {
    if (!Wanted(scene.name, argc, argv)) continue;
    std::unique_ptr<QWidget> window = scene.create();
    window->show();
    QApplication::processEvents();
    if (scene.afterShow) scene.afterShow(window.get());
    QApplication::processEvents();
    const QString file = outDir.filePath(QString::fromStdString(scene.name) + ".png");
    if (window->grab().save(file, "PNG")) {
      std::printf("%s\n", file.toLocal8Bit().constData());
    } else {
      std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
      ++failures;
    }
    window->close();
  }
  return failures ? 1 : 0;
}

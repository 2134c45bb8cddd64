// Renders each window of the module, filled with sample content, to a PNG
// file, without a display: render_windows OUTDIR [NAME...]
//
// To add a window, add one scene to Scenes(): a name (the file is NAME.png),
// a function that builds the window with its sample content, and optionally
// one that puts it into the state to show once it is on screen.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "editor/EditDiscountFrm.h"
#include "editor/SelvoPaymentsFrm.h"
#include "editor/TimeThresholdFrameUnit.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/windows/GoodsSelectFrm.h"
#include "module/ModuleLifetime.h"
#include "payments/CustomCheckFrm.h"
#include "payments/EditPaymentFrm.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/QtMessageService.h"
#include "platform/QtTranslation.h"
#include "state/SelvoModuleU.h"
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

// The grid frame in a plain dialog, as the discount card editor holds it,
// with a Russian workstation's formats.
std::unique_ptr<QWidget> FrameDialog(std::uint8_t mode, const std::function<void(selvo::TTimeThresholdFrame&)>& fill) {
  selvo::SetModuleFormatSettings(selvo::TFormatSettings::Russian());
  auto dialog = std::make_unique<QDialog>();
  auto* frame = new selvo::TTimeThresholdFrame(dialog.get());
  frame->SetMode(mode);
  fill(*frame);
  auto* layout = new QVBoxLayout(dialog.get());
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(frame);
  return dialog;
}

void FillTimeDiscounts(selvo::TTimeThresholdFrame& frame) {
  using selvo::EncodeTime;
  frame.LoadTimeList({EncodeTime(8, 0, 0, 0), EncodeTime(12, 0, 0, 0), EncodeTime(18, 0, 0, 0)},
                     {EncodeTime(12, 0, 0, 0), EncodeTime(14, 0, 0, 0), EncodeTime(22, 30, 0, 0)},
                     {selvo::kUnitPercent, selvo::kUnitPercent, selvo::kUnitRouble}, {5, 7.5, 50});
  frame.AddSaleDenyRows();
}

void FillThresholds(selvo::TTimeThresholdFrame& frame) {
  frame.LoadThresholdList({1000, 3000, 10000}, {3, 5, 500},
                          {selvo::kUnitPercent, selvo::kUnitPercent, selvo::kUnitRouble});
}

void FillPeriods(selvo::TTimeThresholdFrame& frame) {
  using selvo::EncodeDate;
  using selvo::EncodeTime;
  frame.LoadPeriodList(
      {EncodeDate(2026, 1, 1), EncodeDate(2026, 6, 1), EncodeDate(2026, 12, 1) + EncodeTime(8, 0, 0, 0)},
      {EncodeDate(2026, 3, 31) + EncodeTime(23, 59, 59, 0), EncodeDate(2026, 8, 31),
       EncodeDate(2026, 12, 31) + EncodeTime(22, 0, 0, 0)},
      {true, false, true});
}

// The calculator edit open over an amount, as while an operator types.
void EditAmount(QWidget* window) {
  auto* frame = window->findChild<selvo::TTimeThresholdFrame*>();
  window->activateWindow();
  frame->sgTimeDscListGetEditText(2, 2);
}

// The sample shop in a temporary folder, loaded as the module's data, for
// the windows that show payment types. Made once, on first use.
class TSampleModule {
 public:
  TSampleModule() {
    const QString dir = QDir::temp().filePath("render_windows-XXXXXX");
    std::string pattern = dir.toStdString();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    setenv("WINDIR", dir_.c_str(), 1);
    selvo::ModuleLoad();
    selvo::host::CreateSampleShop(dir_ + "/shop.db", false);
    dataModule_ = std::make_unique<selvo::host::TShopDataModule>(dir_ + "/shop.db");
    selvo::Module().DataModule = dataModule_.get();
    selvo::FillPaymentsList();
  }
  selvo::host::TShopDataModule& DataModule() { return *dataModule_; }
  ~TSampleModule() {
    selvo::Module().DataModule = nullptr;
    dataModule_.reset();
    selvo::ModuleUnload();
    QDir(QString::fromStdString(dir_)).removeRecursively();
  }

 private:
  std::string dir_;
  std::unique_ptr<selvo::host::TShopDataModule> dataModule_;
};

TSampleModule& Sample() {
  static TSampleModule sample;
  return sample;
}

std::unique_ptr<QWidget> PaymentForm(const char* name) {
  Sample();
  selvo::TPaymentList& list = selvo::PaymentList();
  std::int32_t index = -1;
  if (*name) {
    for (std::int32_t i = 0; i < list.Count(); ++i)
      if (selvo::PaymentRecName(*list.GetItem(i)) == name) index = i;
  }
  auto form = std::make_unique<selvo::TEditPaymentForm>();
  form->Fill(selvo::OpenPaymentEdit(selvo::PaymentDataSet(), index));
  return form;
}

// The discount card dialog changing a goods card of the sample shop, given
// time discounts with a sale-ban pair, three thresholds and the holidays.
std::unique_ptr<QWidget> DiscountForm() {
  using namespace selvo;
  Sample();
  SetModuleFormatSettings(TFormatSettings::Russian());
  selvo::FillDiscountList();
  std::int32_t index = 0;
  while (index < DiscountList().Count() && DiscountList().GetItem(index)->ID != 4) ++index;
  TDiscountItem& card = *DiscountList().GetItem(index);
  card.TimeBegin = {EncodeTime(7, 0, 0, 0), EncodeTime(17, 0, 0, 0), 0, EncodeTime(23, 0, 0, 0)};
  card.TimeEnd = {EncodeTime(10, 0, 0, 0), EncodeTime(19, 0, 0, 0), EncodeTime(6, 0, 0, 0), kLastSecondOfDay};
  card.TimeValue = {10, 50, SaleBanAmount, SaleBanAmount};
  card.TimeUnit = {kUnitPercent, kUnitRouble, kUnitRouble, kUnitRouble};
  card.ThresholdSum = {300, 1000, 3000};
  card.ThresholdValue = {5, 10, 300};
  card.ThresholdUnit = {kUnitPercent, kUnitPercent, kUnitRouble};
  AddHolidayPeriods(card, 2026);
  auto form = std::make_unique<TEditDiscountForm>();
  form->Open(index);
  return form;
}

// The host's goods selection window over the sample catalogue, with a
// category chosen whole and three single articles.
std::unique_ptr<QWidget> GoodsSelectForm() {
  using namespace selvo;
  host::TShopDataModule& dm = Sample().DataModule();
  host::TShopDataSet& keyTovar = dm.DataSet("KeyTovar");
  host::TShopDataSet& goods = dm.DataSet("Goods");
  auto mark = [](host::TShopDataSet& ds, const char* key, std::int64_t id, const char* field) {
    ds.Locate(key, {TVariant(id)}, loNone);
    ds.Edit();
    ds.FieldByName(field).SetAsInteger(1);
    ds.Post();
  };
  mark(keyTovar, "ID_Category", 4, "CheckField");
  for (std::int64_t id : {201, 202, 304}) mark(goods, "ID_Goods", id, "Kolvo");
  static host::TGoodsChoice choice;
  choice.Load(keyTovar, goods, false);
  return std::make_unique<host::TGoodsSelectForm>(choice);
}

// The coffee category in view.
void CoffeeInView(QWidget* window) { window->findChild<QListWidget*>("lbCategories")->setCurrentRow(2); }

// The settings editor on the sample shop, on one of its tabs with a row
// selected.
std::unique_ptr<QWidget> EditorForm() {
  PaymentForm("");  // the sample shop, loaded once
  return std::make_unique<selvo::TSelvoPaymentsForm>();
}

void ShowEditorTab(QWidget* window, int tab, const char* list, int row) {
  window->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(tab);
  auto* view = window->findChild<QTreeWidget*>(list);
  view->setCurrentItem(view->topLevelItem(row));
}

// A question box as the module's message service builds it.
std::unique_ptr<QWidget> QuestionBox(const char* text, selvo::TMsgButtons buttons) {
  selvo::TMessage message;
  message.caption = "Подтверждение";
  message.text = text;
  message.icon = selvo::TMsgIcon::Question;
  message.buttons = buttons;
  return selvo::MakeMessageBox(message, nullptr);
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
      {"TimeThresholdFrameTime", [] { return FrameDialog(selvo::lmTimeDiscounts, FillTimeDiscounts); }, nullptr},
      {"TimeThresholdFrameThreshold", [] { return FrameDialog(selvo::lmThresholds, FillThresholds); }, nullptr},
      {"TimeThresholdFramePeriod", [] { return FrameDialog(selvo::lmPeriods, FillPeriods); }, nullptr},
      {"TimeThresholdFrameEditing", [] { return FrameDialog(selvo::lmTimeDiscounts, FillTimeDiscounts); }, EditAmount},
      {"EditPaymentForm-add", [] { return PaymentForm(""); }, nullptr},
      {"EditPaymentForm-terminal", [] { return PaymentForm("платежный терминал"); }, nullptr},
      {"EditDiscountForm", DiscountForm, nullptr},
      {"GoodsSelectForm", GoodsSelectForm, CoffeeInView},
      {"SelvoPaymentsForm-payments", EditorForm, [](QWidget* w) { ShowEditorTab(w, 0, "ListView", 6); }},
      {"SelvoPaymentsForm-discounts", EditorForm, [](QWidget* w) { ShowEditorTab(w, 1, "lvDiscounts", 2); }},
      {"QuestionBox-delete",
       [] { return QuestionBox("Вы действительно хотите удалить данную запись?", selvo::TMsgButtons::OKCancel); },
       nullptr},
      {"QuestionBox-import",
       [] {
         return QuestionBox(
             "Вид оплаты \"Бонусы\" уже есть. Хотите загрузить свойства\r\nданного вида оплаты из файла импорта?",
             selvo::TMsgButtons::YesNoCancel);
       },
       nullptr},
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
  selvo::InstallQtTranslation(app);
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

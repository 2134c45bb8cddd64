// The discount card dialog driven as an operator would, on the sample shop:
// what it shows, the messages of its checks and buttons, what it writes.
#include "editor/EditDiscountFrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include "editor/TimeThresholdFrameUnit.h"
#include "platform/DateUtils.h"
#include "tests/common/ForwardingDataSet.h"
#include "tests/common/OpenerWindow.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/editor/DiscountShop.h"

namespace selvo {
namespace {

using test::DiscountShop;

// A data module whose "ExclusionsDS" refuses every post; the rest is the shop's.
class TRefusingDataSet final : public test::TForwardingDataSet {
 public:
  using TForwardingDataSet::TForwardingDataSet;
  void Post() override {
    Wrapped().Cancel();
    throw EDatabaseError("запись отклонена");
  }
};

class TRefusingModule final : public TDataModule {
 public:
  explicit TRefusingModule(TDataModule& dm) : dm_(dm), periods_(*dm.FindComponent("ExclusionsDS")) {}
  TDataSet* FindComponent(const std::string& name) override {
    return name == "ExclusionsDS" ? &periods_ : dm_.FindComponent(name);
  }

 private:
  TDataModule& dm_;
  TRefusingDataSet periods_;
};

// The host's goods window of a test: the operator adds category 5.
std::int32_t ChooseCategoryFive() {
  TDataSet& keyTovar = KeyTovarDataSet();
  keyTovar.Locate("ID_Category", {TVariant(std::int64_t{5})}, loNone);
  keyTovar.Edit();
  keyTovar.FieldByName("CheckField").SetAsInteger(1);
  keyTovar.Post();
  return 1;
}

class EditDiscountFormTest : public ::testing::Test {
 protected:
  void Open(std::int32_t position) {
    form.Open(position);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  }
  template <class T>
  T* Find(const char* name) {
    T* found = form.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  std::string LastMessage() const { return messages.messages().empty() ? "" : messages.messages().back().text; }

  test::ModuleScope scope;
  DiscountShop shop;
  test::ScriptedMessageService messages;
  TEditDiscountForm form;
};

TEST_F(EditDiscountFormTest, TheEntryPointOpensTheDialogModallyOnTheCard) {
  EXPECT_THROW(ShowEditDiscountForm(DiscountList().Count()), EListError);
  bool operated = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TEditDiscountForm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Card().ID, 9);
    dialog->findChild<QLineEdit*>("edComment")->setText("Праздники");
    QTest::mouseClick(dialog->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    operated = true;
  });
  ShowEditDiscountForm(DiscountShop::IndexOf(9));
  EXPECT_TRUE(operated);
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").ChangeCount(), 0);
  EXPECT_EQ(DiscountShop::Card(9).DiscountName, "Новогодние праздники");
}

TEST_F(EditDiscountFormTest, ACardIsShownInItsControls) {
  Open(DiscountShop::IndexOf(8));  // Mondays to Fridays, 14:00 to 17:00
  EXPECT_EQ(form.windowTitle().toStdString(), "Настройка карты автоматических скидок [изменение]");
  EXPECT_EQ(Find<QLineEdit>("edComment")->text().toStdString(), "Счастливые часы");
  EXPECT_EQ(Find<QComboBox>("cbPayments")->currentData().toInt(), 1);
  EXPECT_FALSE(Find<QPushButton>("btnChooseTarget")->isEnabled());
  EXPECT_TRUE(Find<QRadioButton>("rbTimePeriod")->isChecked());
  EXPECT_TRUE(Find<QWidget>("dtpBeginTime")->isEnabled());
  auto* days = Find<QListWidget>("clbWeekDays");
  EXPECT_TRUE(days->isEnabled());
  EXPECT_EQ(days->item(4)->checkState(), Qt::Checked);
  EXPECT_EQ(days->item(5)->checkState(), Qt::Unchecked);
  EXPECT_EQ(Find<TTimeThresholdFrame>("TimeDscListFrame")->Cells().DataRowCount(), 1);
  EXPECT_EQ(Find<TTimeThresholdFrame>("ExclusionsFrame")->Mode(), lmPeriods);
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").FieldByName("td_ID").AsInteger(), 8);
}

TEST_F(EditDiscountFormTest, ANewCardConfirmedAtOnceLacksItsNameAndStaysOpen) {
  Open(-1);
  EXPECT_EQ(form.windowTitle().toStdString(), "Настройка карты автоматических скидок [добавление]");
  EXPECT_EQ(Find<QComboBox>("cbPayments")->currentIndex(), 0);
  Click("btnOk");
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].caption, kCheckCaption);
  EXPECT_EQ(LastMessage(), kNoCardNameFault);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").ChangeCount(), 0);
}

TEST_F(EditDiscountFormTest, AConfirmedNewCardIsWrittenAndCloses) {
  Open(-1);
  Find<QLineEdit>("edComment")->setText("Ночная");
  Click("btnOk");
  EXPECT_THAT(messages.messages(), ::testing::IsEmpty());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  host::TShopDataSet& cards = shop.DataSet("SelvoDiscountDS");
  ASSERT_TRUE(cards.Locate("td_DiscountName", {TVariant(std::string("Ночная"))}, loNone));
  EXPECT_EQ(cards.FieldByName("td_ID").AsInteger(), 11);
}

TEST_F(EditDiscountFormTest, TheSaleBanNeedsChosenGoods) {
  Open(DiscountShop::IndexOf(1));  // the receipt sum
  auto* times = Find<TTimeThresholdFrame>("TimeDscListFrame");
  Click("btnSaleDenyDsc");
  EXPECT_EQ(LastMessage(), kSaleBanOnlyForGoods);
  EXPECT_TRUE(times->Cells().RowIsBlank(1));
  form.close();
  Open(DiscountShop::IndexOf(4));  // chosen goods
  Click("btnSaleDenyDsc");
  EXPECT_EQ(times->Cells().DataRowCount(), 2);
  EXPECT_EQ(messages.messages().size(), 1u);
}

TEST_F(EditDiscountFormTest, HolidaysAreAddedOnce) {
  test::ScopedClock clock;
  clock.SetFixed(EncodeDate(2026, 12, 8) + 0.5);
  Open(DiscountShop::IndexOf(1));
  auto* periods = Find<TTimeThresholdFrame>("ExclusionsFrame");
  Click("btnAddHolidays");
  EXPECT_EQ(periods->Cells().DataRowCount(), 8);
  EXPECT_EQ(periods->Cells().Cell(0, 8), "04.11.2026");
  EXPECT_EQ(periods->Cells().Cell(4, 8), "Да");
  Click("btnAddHolidays");
  EXPECT_EQ(periods->Cells().DataRowCount(), 8);
  EXPECT_THAT(messages.messages(), ::testing::IsEmpty());
}

TEST_F(EditDiscountFormTest, ADatasetThatRefusesLeavesTheDialogOpenWithItsMessage) {
  TRefusingModule refusing(shop.Data());
  Module().DataModule = &refusing;
  Open(DiscountShop::IndexOf(1));
  Click("btnAddHolidays");
  Click("btnOk");
  EXPECT_EQ(LastMessage(), std::string(kSaveOperation) + " -> запись отклонена");
  EXPECT_EQ(messages.messages().back().caption, kErrorCaption);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").State(), TDataSetState::dsBrowse);
  Module().DataModule = &shop.Data();
}

TEST_F(EditDiscountFormTest, TheGoodsChoiceGoesThroughTheHostsWindow) {
  Open(DiscountShop::IndexOf(4));  // category 2, article 304
  EXPECT_TRUE(Find<QPushButton>("btnChooseTarget")->isEnabled());
  Module().GoodsSelectFormShow = nullptr;
  Click("btnChooseTarget");
  EXPECT_EQ(LastMessage(), std::string(kChooseTargetOperation) + " -> " + kNoGoodsSelectCallback);
  Module().GoodsSelectFormShow = &ChooseCategoryFive;
  Click("btnChooseTarget");
  EXPECT_EQ(messages.messages().size(), 1u);
  const THashedTextList& categories = form.Card().Categories;
  EXPECT_EQ(std::vector<std::string>(categories.begin(), categories.end()), (std::vector<std::string>{"2", "5"}));
  EXPECT_EQ(form.Card().Goods.Count(), 1u);
  Module().GoodsSelectFormShow = nullptr;
}

TEST_F(EditDiscountFormTest, CtrlEnterConfirmsWithTheValueStillInACellEditor) {
  Open(DiscountShop::IndexOf(1));  // thresholds 1000 -> 3 %, 5000 -> 5 %
  auto* thresholds = Find<TTimeThresholdFrame>("ThresholdDscListFrame");
  thresholds->sgTimeDscListGetEditText(1, 1);
  ASSERT_TRUE(thresholds->IsEditing());
  QWidget* editor = QApplication::focusWidget();
  QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(editor, "4");
  QTest::keyClick(editor, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_THAT(messages.messages(), ::testing::IsEmpty());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  host::TShopDataSet& cards = shop.DataSet("SelvoDiscountDS");
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{1})}, loNone));
  EXPECT_EQ(cards.FieldByName("td_Threshold").AsString().substr(0, 7), "1000=4%");
}

// Escape in a time or threshold cell editor writes the typed value into its
// cell and keeps the dialog open; OK then stores what was typed. All of it
// with key events, as an operator would.
TEST_F(EditDiscountFormTest, EscapeInACellEditorKeepsTheTypedValueForOk) {
  Open(DiscountShop::IndexOf(3));  // one time discount, 6:00 to 10:00, 15 %
  auto* times = Find<TTimeThresholdFrame>("TimeDscListFrame");
  auto* timeGrid = times->findChild<TMyStringGrid*>("sgTimeDscList");
  timeGrid->setFocus();
  timeGrid->SetCurrentCell(0, 1);
  QTest::keyClick(timeGrid, Qt::Key_Return);
  ASSERT_TRUE(times->IsEditing());
  QTest::keyClicks(QApplication::focusWidget(), "07");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(times->IsEditing());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(times->Cells().Cell(0, 1), "07:00:00");
  EXPECT_EQ(QApplication::focusWidget(), timeGrid);

  timeGrid->SetCurrentCell(2, 1);
  QTest::keyClicks(timeGrid, "2");  // typing opens the amount's calculator edit
  ASSERT_TRUE(times->IsEditing());
  QTest::keyClicks(QApplication::focusWidget(), "0");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(times->IsEditing());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(times->Cells().Cell(2, 1), "20");

  Click("btnOk");
  EXPECT_THAT(messages.messages(), ::testing::IsEmpty());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  const TDiscountItem& card = DiscountShop::Card(3);
  EXPECT_EQ(card.TimeBegin, (TDynTimeArray{EncodeTime(7, 0, 0, 0)}));
  EXPECT_EQ(card.TimeValue, (TDynDoubleArray{20}));
  host::TShopDataSet& cards = shop.DataSet("SelvoDiscountDS");
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{3})}, loNone));
  EXPECT_EQ(cards.FieldByName("td_TimeDscList").AsString(), card.EncodeTimeList());
}

TEST_F(EditDiscountFormTest, EscapeInAThresholdEditorKeepsTheTypedValueForOk) {
  Open(DiscountShop::IndexOf(1));  // thresholds 1000 -> 3 %, 5000 -> 5 %
  auto* thresholds = Find<TTimeThresholdFrame>("ThresholdDscListFrame");
  auto* grid = thresholds->findChild<TMyStringGrid*>("sgTimeDscList");
  grid->setFocus();
  grid->SetCurrentCell(0, 2);
  QTest::keyClick(grid, Qt::Key_Return);
  ASSERT_TRUE(thresholds->IsEditing());
  QTest::keyClicks(QApplication::focusWidget(), "6000");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(thresholds->IsEditing());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(thresholds->Cells().Cell(0, 2), "6000");

  Click("btnOk");
  EXPECT_THAT(messages.messages(), ::testing::IsEmpty());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(DiscountShop::Card(1).ThresholdSum, (TDynDoubleArray{1000, 6000}));
  host::TShopDataSet& cards = shop.DataSet("SelvoDiscountDS");
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{1})}, loNone));
  EXPECT_NE(cards.FieldByName("td_Threshold").AsString().find("6000="), std::string::npos)
      << cards.FieldByName("td_Threshold").AsString();
}

// The period list's editors are not waited for: Escape closes the dialog, as
// Cancel does, and nothing is written.
TEST_F(EditDiscountFormTest, EscapeWithAPeriodEditorOpenClosesTheDialog) {
  Open(DiscountShop::IndexOf(9));  // periods 1 and 2
  const TDynDateTimeArray periods = DiscountShop::Card(9).PeriodBegin;
  const std::vector<std::string> rows = shop.Rows("ExclusionsDS", 9);
  auto* exclusions = Find<TTimeThresholdFrame>("ExclusionsFrame");
  auto* grid = exclusions->findChild<TMyStringGrid*>("sgTimeDscList");
  grid->setFocus();
  grid->SetCurrentCell(0, 1);
  QTest::keyClick(grid, Qt::Key_Return);
  ASSERT_NE(exclusions->findChild<QWidget*>("dtpDateEdit"), nullptr);
  ASSERT_TRUE(exclusions->findChild<QWidget*>("dtpDateEdit")->isVisible());
  QTest::keyClicks(QApplication::focusWidget(), "05");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(DiscountShop::Card(9).PeriodBegin, periods);
  EXPECT_EQ(shop.Rows("ExclusionsDS", 9), rows);
  EXPECT_THAT(messages.messages(), ::testing::IsEmpty());
}

TEST_F(EditDiscountFormTest, EscapeWithNoEditorOpenPressesCancel) {
  Open(DiscountShop::IndexOf(3));
  const std::string name = DiscountShop::Card(3).DiscountName;
  int cancelled = 0;
  QObject::connect(Find<QPushButton>("btnCancel"), &QPushButton::clicked, [&cancelled] { ++cancelled; });
  auto* comment = Find<QLineEdit>("edComment");
  comment->setFocus();
  QTest::keyClick(comment, Qt::Key_End);
  QTest::keyClicks(comment, " 2");
  QTest::keyClick(comment, Qt::Key_Escape);
  EXPECT_EQ(cancelled, 1);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(DiscountShop::Card(3).DiscountName, name);
}

// The window that opened the card dialog (the settings editor) has the
// keyboard again once it closes.
TEST_F(EditDiscountFormTest, TheKeyboardGoesBackToTheOpener) {
  test::OpenerWindow opener;
  ASSERT_NO_FATAL_FAILURE(opener.ShowActive());
  bool closed = false;
  QTimer::singleShot(0, [&closed] {
    auto* dialog = qobject_cast<TEditDiscountForm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    closed = true;
  });
  ShowEditDiscountForm(DiscountShop::IndexOf(9));
  EXPECT_TRUE(closed);
  opener.ExpectHasTheKeyboard();
}

}  // namespace
}  // namespace selvo

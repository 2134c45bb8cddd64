// The payment type dialog driven as an operator would, through EditPayment
// on the sample shop: the dataset row, Selvo.ini and the messages shown.
#include "payments/EditPaymentFrm.h"

#include "payments/CustomCheckFrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <functional>

#include "platform/QtFormKit.h"
#include "tests/common/OpenerWindow.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/payments/PaymentShop.h"

namespace selvo {
namespace {

using test::PaymentShop;
using test::ScriptedMessageService;

class EditPaymentFormTest : public ::testing::Test {
 protected:
  // Numbers are typed with a full stop, whatever the machine's locale.
  EditPaymentFormTest() { QLocale::setDefault(QLocale::c()); }

  // Runs EditPayment and, inside its modal loop, `operate` on the dialog.
  void Edit(std::int32_t index, const std::function<void(TEditPaymentForm&)>& operate) {
    bool operated = false;
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<TEditPaymentForm*>(QApplication::activeModalWidget());
      if (!form) {
        ADD_FAILURE() << "no dialog";
        return;
      }
      EXPECT_TRUE(QTest::qWaitForWindowActive(form));
      operate(*form);
      operated = true;
      if (form->isVisible()) form->reject();  // a test that left it open
    });
    EditPayment(index);
    EXPECT_TRUE(operated);
  }
  void Edit(const std::string& name, const std::function<void(TEditPaymentForm&)>& operate) {
    Edit(PaymentShop::IndexOf(name), operate);
  }

  template <class T>
  static T* Find(TEditPaymentForm& form, const char* name) {
    T* found = form.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  static void Ok(TEditPaymentForm& form) { QTest::mouseClick(Find<QPushButton>(form, "BitBtn3"), Qt::LeftButton); }
  static void Type(QWidget* field, const QString& text) {
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
  // Chooses an item of a drop-down list with the keyboard, as its Select event needs.
  static void Choose(QComboBox* combo, int index) {
    combo->setFocus();
    if (combo->currentIndex() < 0) QTest::keyClick(combo, Qt::Key_Home);
    while (combo->currentIndex() < index) QTest::keyClick(combo, Qt::Key_Down);
    while (combo->currentIndex() > index) QTest::keyClick(combo, Qt::Key_Up);
  }

  PaymentShop shop;
  ScriptedMessageService messages;
};

TEST_F(EditPaymentFormTest, AChangeConfirmedIsStoredByTheNextReload) {
  Edit("Бонусы", [](TEditPaymentForm& form) {
    EXPECT_EQ(form.windowTitle().toStdString(), "Сведения о виде оплаты [изменение]");
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>(form, "edName"));
    Type(Find<QLineEdit>(form, "edName"), "Бонусные баллы");
    Type(Find<QDoubleSpinBox>(form, "edDiscount")->findChild<QLineEdit*>(), "7.5");
    form.findChild<TRadioGroup*>("rgType")->findChildren<QRadioButton*>()[0]->click();
    QTest::mouseClick(Find<QCheckBox>(form, "cbEnabled"), Qt::LeftButton);
    Ok(form);
  });
  EXPECT_TRUE(messages.messages().empty());
  EXPECT_EQ(shop.Payments().State(), TDataSetState::dsEdit);
  FillPaymentsList();
  const TPaymentRec& rec = *PaymentList().GetItem(6);
  EXPECT_EQ(PaymentRecName(rec), "Бонусные баллы");
  EXPECT_EQ(+rec.Discount, 7.5);
  EXPECT_EQ(+rec.Type, 0);
  EXPECT_FALSE(rec.Enabled);
  EXPECT_EQ(+rec.GsmVO, 110);
  EXPECT_EQ(shop.Payments().ChangeCount(), 1);
}

TEST_F(EditPaymentFormTest, CancelWritesNothing) {
  Edit("ЛБР", [](TEditPaymentForm& form) {
    Type(Find<QSpinBox>(form, "seTermKoshel")->findChild<QLineEdit*>(), "42");
    Find<QCheckBox>(form, "cbPrintSkidka")->click();
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn4"), Qt::LeftButton);
  });
  EXPECT_EQ(shop.Payments().State(), TDataSetState::dsBrowse);
  EXPECT_EQ(shop.Payments().ChangeCount(), 0);
  EXPECT_TRUE(test::ReadFileBytes(Module().IniFileName).empty());
}

TEST_F(EditPaymentFormTest, AFailedCheckIsShownAndTheDialogStaysOpen) {
  Edit("платежный терминал", [this](TEditPaymentForm& form) {
    Choose(Find<QComboBox>(form, "cbBaseGsmVO"), 0);  // "Наличные"
    Ok(form);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text,
              "Для вида оплаты \"платежный терминал\" ошибочно указан связанный вид оплаты ГСМ \"Наличные\"");
    EXPECT_EQ(messages.messages()[0].caption, "Ошибка!");
    EXPECT_EQ(messages.messages()[0].icon, TMsgIcon::Exclamation);
    EXPECT_TRUE(form.isVisible());
    // The group stays: the name, not the base type, decides for a built-in one.
    EXPECT_FALSE(Find<QWidget>(form, "gbTerminalProp")->isHidden());
    Choose(Find<QComboBox>(form, "cbBaseGsmVO"), 1);  // "Платежный терминал"
    Ok(form);
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(shop.Payments().State(), TDataSetState::dsEdit);
  EXPECT_EQ(PaymentShop::Ini("Terminals", "платежный терминал_Modified"), "1");
}

TEST_F(EditPaymentFormTest, ABaseTypeChosenShowsOrHidesTheTerminalGroupOfAShopType) {
  Edit("Бонусы", [](TEditPaymentForm& form) {
    auto* base = Find<QComboBox>(form, "cbBaseGsmVO");
    QWidget* group = Find<QWidget>(form, "gbTerminalProp");
    EXPECT_TRUE(group->isHidden());
    EXPECT_EQ(Hint(base), "Базовый вид оплаты: Дисконтные карты");
    Choose(base, 4);  // "ЛНР"
    EXPECT_FALSE(group->isHidden());
    EXPECT_EQ(Hint(base), "Базовый вид оплаты: ЛНР");
    Choose(base, 3);  // "Ведомость +"
    EXPECT_TRUE(group->isHidden());
  });
}

TEST_F(EditPaymentFormTest, TheEnabledBoxCaptionFollowsItsState) {
  Edit("Сертификат", [](TEditPaymentForm& form) {
    auto* enabled = Find<QCheckBox>(form, "cbEnabled");
    EXPECT_FALSE(enabled->isChecked());
    EXPECT_EQ(enabled->text().toStdString(), "Вид оплаты отключен");
    EXPECT_EQ(enabled->palette().color(QPalette::WindowText), QColor(Qt::red));
    QTest::mouseClick(enabled, Qt::LeftButton);
    EXPECT_EQ(enabled->text().toStdString(), "Вид оплаты включен");
    EXPECT_EQ(enabled->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
    EXPECT_TRUE(enabled->font().bold());
  });
}

TEST_F(EditPaymentFormTest, AddingOpensWithTheInitialStateAndStoresANewRow) {
  Edit(-1, [](TEditPaymentForm& form) {
    EXPECT_EQ(form.windowTitle().toStdString(), "Сведения о виде оплаты [добавление]");
    EXPECT_GE(form.width(), 789);
    EXPECT_GE(form.height(), 559);
    EXPECT_EQ(Find<QLineEdit>(form, "edName")->text().toStdString(), "Новый вид оплаты");
    EXPECT_EQ(Find<QComboBox>(form, "cbBaseGsmVO")->currentIndex(), -1);
    EXPECT_TRUE(Find<QWidget>(form, "GroupBox9")->isHidden());
    auto* printSumma = Find<QCheckBox>(form, "cbPrintSumma");
    EXPECT_FALSE(printSumma->isHidden());
    Choose(Find<QComboBox>(form, "cbCheck"), 1);
    EXPECT_TRUE(printSumma->isHidden());
    Choose(Find<QComboBox>(form, "cbCheck"), 2);
    EXPECT_FALSE(printSumma->isHidden());
    Ok(form);
  });
  FillPaymentsList();
  ASSERT_EQ(PaymentList().Count(), 10);
  EXPECT_EQ(PaymentRecName(*PaymentList().GetItem(9)), "Новый вид оплаты");
  EXPECT_EQ(+PaymentList().GetItem(9)->Check, 2);
  EXPECT_EQ(+PaymentList().GetItem(9)->CheckPrecLimit, 5.0);
}

TEST_F(EditPaymentFormTest, AStoredNameLongerThanTheBoxIsKeptWholeWithItsKeys) {
  const std::string longName = "Бонусы постоянных покупателей";
  const std::int32_t index = PaymentShop::IndexOf("Бонусы");
  shop.SetField(7, "Name", longName);
  PaymentShop::SetIni("SELVOVIDOPL", longName + "_PrintSumma", "0");
  Edit(index, [&](TEditPaymentForm& form) {
    EXPECT_EQ(Find<QLineEdit>(form, "edName")->text().toStdString(), longName);
    Ok(form);
  });
  EXPECT_EQ(shop.Field(7, "Name"), longName);
  EXPECT_EQ(PaymentShop::Ini("SELVOVIDOPL", longName + "_PrintSumma"), "0");
  EXPECT_EQ(PaymentShop::Ini("SELVOVIDOPL", "Бонусы постоянных по_PrintSumma"), "<none>");

  Edit(-1, [](TEditPaymentForm& form) {  // what the operator types stays limited
    auto* name = Find<QLineEdit>(form, "edName");
    Type(name, QString(25, QChar('x')));
    EXPECT_EQ(name->text(), QString(20, QChar('x')));
  });
}

TEST_F(EditPaymentFormTest, TheReceiptTemplateEditedIsStoredOnConfirmation) {
  Edit("Ведомость", [](TEditPaymentForm& form) {
    QTimer::singleShot(0, [] {
      auto* editor = qobject_cast<TCustomCheckForm*>(QApplication::activeModalWidget());
      ASSERT_NE(editor, nullptr);
      EXPECT_THAT(JoinTemplate(editor->Parts()), ::testing::HasSubstr("ПОЛУЧИЛ"));
      editor->SetParts({"K", "H", "R", "F"});
      editor->findChild<QPushButton*>("BitBtn3")->click();
    });
    Find<QPushButton>(form, "btnCustomCheck")->click();
    Ok(form);
  });
  EXPECT_EQ(shop.Field(8, "CUSTOMCHECK"), "K#Delim1#H#Delim2#R#Delim3#F");
}

// Text outside a field's range or decimals is refused as typed or pasted; the
// field keeps the value it shows.
TEST_F(EditPaymentFormTest, NumberFieldsTakeOnlyTheirRangesAndDecimals) {
  Edit("ЛБР", [](TEditPaymentForm& form) {
    struct Case {
      const char* field;
      QString typed;
      double value;
    };
    // A key that would leave the range or the decimals is refused; a text that
    // cannot become a value in range gives back the value the field had.
    const Case cases[] = {
        {"edDiscount", "150", 15},         {"edDiscount", "12.34", 12.3},
        {"edDiscount", "-5", 12.3},        {"seTermKoshel", "300", 30},
        {"seTermKoshel", "-1", 1},         {"seAddVOIndex", "150", 15},
        {"seAddVOIndex", "-3", 3},         {"edItogPrecLimit", "1000000.5", 1000000},
        {"edItogPrecLimit", "2.505", 2.5},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.field) + " " + c.typed.toStdString());
      auto* box = Find<QAbstractSpinBox>(form, c.field);
      Type(box->findChild<QLineEdit*>(), c.typed);
      QTest::keyClick(box, Qt::Key_Tab);
      const double value = qobject_cast<QSpinBox*>(box) ? qobject_cast<QSpinBox*>(box)->value()
                                                        : qobject_cast<QDoubleSpinBox*>(box)->value();
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(box->findChild<QLineEdit*>()->text().toDouble(), value) << "shown as stored";
    }
    auto* discount = Find<QDoubleSpinBox>(form, "edDiscount");
    QLineEdit* discountText = discount->findChild<QLineEdit*>();
    const auto paste = [&](const char* text) {
      discount->setFocus();
      QApplication::clipboard()->setText(text);
      discountText->selectAll();
      QTest::keyClick(discountText, Qt::Key_V, Qt::ControlModifier);
      QTest::keyClick(discount, Qt::Key_Tab);
    };
    paste("20");
    EXPECT_EQ(discount->value(), 20);
    paste("250");
    EXPECT_EQ(discount->value(), 20);
    Ok(form);
  });
  EXPECT_EQ(shop.Field(6, "Discount"), "20");
  EXPECT_EQ(shop.Field(6, "CheckPrecLimit"), "2.5");
  EXPECT_EQ(shop.Field(6, "GsmVO"), "312");
  EXPECT_EQ(PaymentShop::Ini("Terminals", "ЛБР_Koshel"), "1");
}

TEST_F(EditPaymentFormTest, FixingBonusesNeedsTheTerminalsCalculation) {
  Edit("ЛНР", [this](TEditPaymentForm& form) {
    auto* fixBonus = Find<QCheckBox>(form, "cbTermFixBonus");
    auto* calcType = form.findChild<TRadioGroup*>("rgTermCalcType");
    EXPECT_EQ(calcType->ItemIndex(), 1);
    fixBonus->click();
    EXPECT_FALSE(fixBonus->isChecked());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].caption, "Внимание!");
    EXPECT_EQ(messages.messages()[0].text, kFixBonusMessage);

    calcType->findChildren<QRadioButton*>()[0]->click();
    fixBonus->click();
    EXPECT_TRUE(fixBonus->isChecked());
    // Switching back to the program's calculation is caught on confirmation.
    calcType->findChildren<QRadioButton*>()[1]->click();
    Ok(form);
    EXPECT_EQ(messages.messages().back().text, kFixBonusMessage);
    EXPECT_EQ(messages.messages().back().caption, "Ошибка!");
    EXPECT_TRUE(form.isVisible());
  });
  EXPECT_EQ(shop.Payments().State(), TDataSetState::dsBrowse);
}

// The window that opened the dialog has the keyboard again once it closes.
TEST_F(EditPaymentFormTest, TheKeyboardGoesBackToTheOpener) {
  test::OpenerWindow opener;
  ASSERT_NO_FATAL_FAILURE(opener.ShowActive());
  Edit(-1, [](TEditPaymentForm& form) { QTest::mouseClick(Find<QPushButton>(form, "BitBtn4"), Qt::LeftButton); });
  opener.ExpectHasTheKeyboard();
}

}  // namespace
}  // namespace selvo

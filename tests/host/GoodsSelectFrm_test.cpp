// The host's goods selection window driven as an operator would: the filter
// as one types, the check boxes, the counts, OK and Cancel.
#include "host/windows/GoodsSelectFrm.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <functional>
#include <memory>

#include "host/session/HostSession.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "tests/common/OpenerWindow.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

class GoodsSelectFormTest : public ::testing::Test {
 protected:
  GoodsSelectFormTest() {
    CreateSampleShop(dir.file("shop.db"), false);
    dm = std::make_unique<TShopDataModule>(dir.file("shop.db"));
    SetCallbackDataModule(dm.get());
  }
  ~GoodsSelectFormTest() override { SetCallbackDataModule(nullptr); }

  // Runs the callback the module calls and, inside its modal loop, `operate`.
  std::int32_t Select(const std::function<void(TGoodsSelectForm&)>& operate) {
    bool operated = false;
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<TGoodsSelectForm*>(QApplication::activeModalWidget());
      if (!form) {
        ADD_FAILURE() << "no window";
        return;
      }
      EXPECT_TRUE(QTest::qWaitForWindowActive(form));
      operate(*form);
      operated = true;
      if (form->isVisible()) form->reject();
    });
    const std::int32_t result = GoodsSelectWindowCallback();
    EXPECT_TRUE(operated);
    return result;
  }
  // Types as an operator does, letter by letter (Cyrillic included).
  static void Type(QWidget* field, const QString& text) {
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
  double Mark(const char* dataSet, const char* key, std::int32_t id, const char* field) {
    TShopDataSet& ds = dm->DataSet(dataSet);
    EXPECT_TRUE(ds.Locate(key, {TVariant(std::int64_t{id})}, loNone));
    return ds.FieldByName(field).AsFloat();
  }

  test::TempDir dir;
  std::unique_ptr<TShopDataModule> dm;
};

TEST_F(GoodsSelectFormTest, AChoiceConfirmedIsWrittenIntoTheMarks) {
  EXPECT_EQ(Select([](TGoodsSelectForm& form) {
              auto* filter = form.findChild<QLineEdit*>("edFilter");
              auto* goods = form.findChild<QTableView*>("tvGoods");
              Type(filter, "пиво");
              const int beer = goods->model()->rowCount();
              EXPECT_GE(beer, 8);
              Type(filter, " тём");
              ASSERT_EQ(goods->model()->rowCount(), 1);
              goods->model()->setData(goods->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
              auto* categories = form.findChild<QListWidget*>("lbCategories");
              categories->item(5)->setCheckState(Qt::Checked);  // "Автохимия"
              EXPECT_EQ(form.findChild<QLabel*>("lbCounts")->text().toStdString(), "Выбрано категорий: 1, товаров: 1");
              QTest::mouseClick(form.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
            }),
            1);
  EXPECT_EQ(Mark("KeyTovar", "ID_Category", 5, "CheckField"), 1);
  EXPECT_EQ(Mark("Goods", "ID_Goods", 402, "Kolvo"), 1);
}

TEST_F(GoodsSelectFormTest, CancelWritesNothing) {
  EXPECT_EQ(Select([](TGoodsSelectForm& form) {
              form.findChild<QListWidget*>("lbCategories")->item(1)->setCheckState(Qt::Checked);
              QTest::mouseClick(form.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
            }),
            0);
  EXPECT_EQ(dm->DataSet("KeyTovar").ChangeCount(), 0);
  EXPECT_EQ(dm->DataSet("Goods").ChangeCount(), 0);
}

// The window that opened the goods window (the module's card dialog) has the
// keyboard again once it closes.
TEST_F(GoodsSelectFormTest, TheKeyboardGoesBackToTheOpener) {
  test::OpenerWindow opener;
  ASSERT_NO_FATAL_FAILURE(opener.ShowActive());
  EXPECT_EQ(Select([](TGoodsSelectForm& form) { form.reject(); }), 0);
  opener.ExpectHasTheKeyboard();
}

}  // namespace
}  // namespace selvo::host

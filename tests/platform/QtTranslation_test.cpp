// Qt's standard texts after the module's translation is installed: the
// buttons of the question boxes the operator answers.
#include "platform/QtTranslation.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <gmock/gmock.h>

namespace selvo {
namespace {

TEST(QtTranslation, StandardButtonsReadInRussianAndTheCatalogueIsLoadedOnce) {
  ASSERT_TRUE(InstallQtTranslation(*qApp)) << "qtbase_ru missing from Qt's translations folder";
  const auto translators = qApp->findChildren<QTranslator*>().size();
  EXPECT_TRUE(InstallQtTranslation(*qApp));
  EXPECT_EQ(qApp->findChildren<QTranslator*>().size(), translators);

  QMessageBox box(QMessageBox::Question, "Подтверждение", "Удалить?",
                  QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text().toStdString(), "Отмена");
  EXPECT_EQ(box.button(QMessageBox::Yes)->text().toStdString(), "&Да");
  EXPECT_EQ(box.button(QMessageBox::No)->text().toStdString(), "&Нет");
  EXPECT_EQ(box.button(QMessageBox::Ok)->text().toStdString(), "OK");
}

}  // namespace
}  // namespace selvo

#include "platform/QtFileDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

TEST(QtFileDialogs, FilterPairsBecomeTheChoosersFilterList) {
  EXPECT_EQ(FileDialogNameFilters("Текстовый файл (*.txt)|*.txt|Все файлы (*.*)|*.*"),
            "Текстовый файл (*.txt);;Все файлы (*)");
  EXPECT_EQ(FileDialogNameFilters("Файл экспорта|*.exp;*.bak"), "Файл экспорта (*.exp *.bak)");
  EXPECT_EQ(FileDialogNameFilters(""), "");
}

TEST(QtFileDialogs, HookAnswersInsteadOfTheChooserAndIsPutBack) {
  TFileDialogRequest seen;
  TFileDialogHook previous = SetFileDialogHook([&](const TFileDialogRequest& request) {
    seen = request;
    return std::optional<std::string>("/tmp/x.txt");
  });
  EXPECT_FALSE(previous);
  TFileDialogRequest request;
  request.title = "Введите имя файла";
  EXPECT_EQ(ChooseFile(nullptr, request), "/tmp/x.txt");
  EXPECT_EQ(seen.title, "Введите имя файла");
  EXPECT_TRUE(SetFileDialogHook(std::move(previous)));
}

// Without a hook the real chooser opens, set up from the request.
TEST(QtFileDialogs, ChooserIsSetUpFromTheRequest) {
  test::TempDir dir;
  TFileDialogRequest request;
  request.kind = TFileDialogKind::Save;
  request.title = "Введите имя файла";
  request.filter = "Текстовый файл (*.txt)|*.txt|Все файлы (*.*)|*.*";
  request.defaultExt = "txt";
  request.fileName = "CustomCheck.txt";
  request.initialDir = dir.path();
  request.overwritePrompt = true;

  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->windowTitle().toStdString(), request.title);
    EXPECT_EQ(chooser->nameFilters(), QStringList({"Текстовый файл (*.txt)", "Все файлы (*)"}));
    EXPECT_EQ(chooser->defaultSuffix(), "txt");
    EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(chooser->testOption(QFileDialog::DontConfirmOverwrite));
    chooser->selectFile(QString::fromStdString(dir.file("Шаблон")));
    static_cast<QDialog*>(chooser)->accept();  // as the Save button does
  });
  EXPECT_EQ(ChooseFile(nullptr, request), dir.file("Шаблон.txt"));

  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_EQ(ChooseFile(nullptr, request), std::nullopt);
}

}  // namespace
}  // namespace selvo

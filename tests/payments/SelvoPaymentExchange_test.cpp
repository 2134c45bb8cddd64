// Export and import of payment types through the exchange file, against a
// real SQLite shop database, with the scripted message service checking what
// the operator is told and asked.
#include "payments/SelvoPaymentExchangeU.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <tuple>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/TextCodec.h"
#include "state/SelvoModuleU.h"
#include "tests/common/FailingFiles.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kHeader = "ТИП ДАННЫХ: ВИДЫ ОПЛАТЫ";

// ---------------------------------------------------------------------------
// The file format

TEST(ExchangeFormat, AnEmptyTextAfterTheLastTabIsNoField) {
  EXPECT_THAT(SplitExchangeFields("Карта\t1\t2\t5.00\t1"), ElementsAre("Карта", "1", "2", "5.00", "1"));
  EXPECT_THAT(SplitExchangeFields("Карта\t1\t2\t5.00\t"), ElementsAre("Карта", "1", "2", "5.00"));
  EXPECT_THAT(SplitExchangeFields("Карта\t\t2\t5.00\t\t"), ElementsAre("Карта", "", "2", "5.00", ""));
  EXPECT_THAT(SplitExchangeFields("\t"), ElementsAre(""));
  EXPECT_TRUE(SplitExchangeFields("").empty());
}

TEST(ExchangeFormat, NumbersUseAFullStopAndNoGrouping) {
  EXPECT_EQ(FormatExchangeNumber(7.5), "7.50");
  EXPECT_EQ(FormatExchangeNumber(12.345), "12.35");
  EXPECT_EQ(FormatExchangeNumber(-0.0), "0.00");
  EXPECT_EQ(FormatExchangeNumber(1234.5), "1234.50");
}

TEST(ExchangeFormat, FileNumbersTakeTheModuleDecimalSeparator) {
  const TFormatSettings ru = TFormatSettings::Russian(), en = TFormatSettings::English();
  const auto convert = [](const std::string& text, const TFormatSettings& fs) {
    return ExchangeNumberToModuleText(text, fs, "Discount");
  };
  EXPECT_EQ(convert("7.50", ru), "7,50");
  EXPECT_EQ(convert("7.50", en), "7.50");
  EXPECT_EQ(convert("15", ru), "15");
  // Not numbers of the file: passed on for the dataset to refuse...
  EXPECT_EQ(convert("7x", ru), "7x");
  EXPECT_EQ(convert("7,50", en), "7,50");
  // ...except one the dataset would take under a comma.
  try {
    convert("7,50", ru);
    ADD_FAILURE() << "a comma number was taken from the file";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'7,50' не является допустимым числом с плавающей точкой для поля 'Discount'");
  }
}

// ---------------------------------------------------------------------------
// Export and import against a shop database

struct TRow {
  std::int32_t id;
  std::string name;
  std::int32_t type, check;
  double discount;
  std::int32_t enabled;
  bool operator==(const TRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TRow& r) {
  return os << "{" << r.id << ", " << r.name << ", " << r.type << ", " << r.check << ", " << r.discount << ", "
            << r.enabled << "}";
}

class PaymentExchangeTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    format_.Set(GetParam() ? TFormatSettings::Russian() : TFormatSettings::English());
    host::CreateShopDatabase(dir_.file("shop.db"), false);
    dm_ = std::make_unique<host::TShopDataModule>(dir_.file("shop.db"));
    Module().DataModule = dm_.get();
  }
  void TearDown() override {
    Module().DataModule = nullptr;
    dm_.reset();
  }

  TDataSet& Payments() { return *dm_->FindComponent("Payment"); }

  void AddRow(const TRow& r) {
    TDataSet& ds = Payments();
    ds.Append();
    ds.FieldByName("ID").SetAsInteger(r.id);
    ds.FieldByName("Name").SetAsString(r.name);
    ds.FieldByName("Type").SetAsInteger(r.type);
    ds.FieldByName("Check").SetAsInteger(r.check);
    ds.FieldByName("Discount").SetAsFloat(r.discount);
    ds.FieldByName("Enabled").SetAsInteger(r.enabled);
    ds.Post();
    if (r.id > Module().LastPaymentID) Module().LastPaymentID = r.id;
    Module().PaymentIDCounter = Module().LastPaymentID;
    FillPaymentsList();
  }

  std::vector<TRow> Rows() {
    TDataSet& ds = Payments();
    std::vector<TRow> rows;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      rows.push_back({ds.FieldByName("ID").AsInteger(), ds.FieldByName("Name").AsString(),
                      ds.FieldByName("Type").AsInteger(), ds.FieldByName("Check").AsInteger(),
                      ds.FieldByName("Discount").AsFloat(), ds.FieldByName("Enabled").AsInteger()});
    }
    return rows;
  }

  std::vector<std::string> ListNames() {
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < PaymentList().Count(); ++i) names.push_back(PaymentRecName(*PaymentList().GetItem(i)));
    return names;
  }

  // Writes an exchange file from UTF-8 lines, each ended by CR LF.
  std::string File(const std::vector<std::string>& lines, const std::string& name = "import.txt") {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    WriteFileBytes(dir_.file(name), Utf8ToCp1251(text));
    return dir_.file(name);
  }

  void Import(const std::string& path) { PaymentList().ImportFromFile(path); }

  // The last message: its text, caption, icon and buttons.
  std::tuple<std::string, std::string, TMsgIcon, TMsgButtons> Last() const {
    const TMessage& m = messages_.messages().back();
    return {m.text, m.caption, m.icon, m.buttons};
  }
  std::tuple<std::string, std::string, TMsgIcon, TMsgButtons> ImportFailed(const std::string& reason) const {
    return {"Невозможно импортировать виды оплаты. Причина ошибки: " + reason, "Ошибка!", TMsgIcon::Exclamation,
            TMsgButtons::OK};
  }
  static std::tuple<std::string, std::string, TMsgIcon, TMsgButtons> ImportDone() {
    return {"Импорт видов оплат завершен!", "Сообщение", TMsgIcon::Information, TMsgButtons::OK};
  }
  static std::string Question(const std::string& name) {
    return "Вид оплаты \"" + name + "\" уже есть. Хотите загрузить свойства\r\nданного вида оплаты из файла импорта?";
  }

  void ExpectFormatSettingsKept() {
    const TFormatSettings expected = GetParam() ? TFormatSettings::Russian() : TFormatSettings::English();
    EXPECT_EQ(ModuleFormatSettings().DecimalSeparator, expected.DecimalSeparator);
    EXPECT_EQ(ModuleFormatSettings().ThousandSeparator, expected.ThousandSeparator);
  }

  test::ModuleScope scope_;
  test::TempDir dir_;
  std::unique_ptr<host::TShopDataModule> dm_;
  test::ScopedFormatSettings format_;
  test::ScriptedMessageService messages_;
};

const TRow kCash{1, "наличные", 0, 1, 0, 1};
const TRow kCard{2, "Карта Сбер", 1, 2, 7.5, 1};
const TRow kOld{3, "Старый талон", 1, 6, 12.25, 0};

TEST_P(PaymentExchangeTest, ExportWritesHeaderAndOneCrLfLinePerTypeInTheCodePage) {
  AddRow(kCash);
  AddRow(kCard);
  AddRow(kOld);
  const std::string path = dir_.file("out.txt");
  WriteFileBytes(path, std::string(4096, 'x'));  // replaced, not appended to
  PaymentList().ExportToFile(path);

  EXPECT_EQ(ReadFileBytes(path), Utf8ToCp1251("ТИП ДАННЫХ: ВИДЫ ОПЛАТЫ\r\n"
                                              "наличные\t0\t1\t0.00\t1\r\n"
                                              "Карта Сбер\t1\t2\t7.50\t1\r\n"
                                              "Старый талон\t1\t6\t12.25\t0\r\n"));
  EXPECT_EQ(Last(), std::make_tuple("Виды оплаты сохранены в файле \"" + path + "\"", std::string("Сообщение"),
                                    TMsgIcon::Information, TMsgButtons::OK));
  ExpectFormatSettingsKept();
}

TEST_P(PaymentExchangeTest, ANameWithATabOrLineBreakStaysOneRecordOfTheFile) {
  AddRow({4, "Бонус\tкарта\r\nА", 1, 0, 1, 1});
  const std::string path = dir_.file("out.txt");
  PaymentList().ExportToFile(path);
  EXPECT_EQ(ReadFileBytes(path), Utf8ToCp1251(kHeader + "\r\nБонус карта  А\t1\t0\t1.00\t1\r\n"));
}

TEST_P(PaymentExchangeTest, ExportFailuresAreToldNotThrown) {
  const std::string empty = dir_.file("empty.txt");
  PaymentList().ExportToFile(empty);
  EXPECT_FALSE(std::filesystem::exists(empty));
  const std::string exportFailed = "Невозможно экспортировать виды оплаты. Причина ошибки: ";
  EXPECT_EQ(Last(), std::make_tuple(exportFailed + "Виды оплаты, доступные для экспорта, отсутствуют!",
                                    std::string("Ошибка!"), TMsgIcon::Exclamation, TMsgButtons::OK));

  AddRow(kCard);
  const std::string noFolder = dir_.file("missing/out.txt");
  PaymentList().ExportToFile(noFolder);
  EXPECT_THAT(std::get<0>(Last()), StartsWith(exportFailed + "Ошибка записи в файл \"" + noFolder + "\". "));
  EXPECT_EQ(std::get<1>(Last()), "Ошибка!");

  PaymentList().ExportToFile(dir_.path());  // a folder
  EXPECT_THAT(std::get<0>(Last()), StartsWith(exportFailed + "Ошибка записи в файл"));

  const std::string old = dir_.file("old.txt");
  WriteFileBytes(old, "the old export");
  {
    test::TFailingFiles full(TFileStep::Write, ENOSPC);
    PaymentList().ExportToFile(old);
  }
  EXPECT_EQ(std::get<0>(Last()), exportFailed + "Ошибка записи в файл \"" + old + "\". No space left on device");
  EXPECT_EQ(ReadFileBytes(old), "the old export") << "a refused write leaves the old file whole";

  if (std::filesystem::exists("/dev/full")) {  // a disk that refuses the write
    PaymentList().ExportToFile("/dev/full");
    EXPECT_THAT(std::get<0>(Last()), StartsWith(exportFailed + "Ошибка записи в файл \"/dev/full\". "));
  }
  EXPECT_EQ(messages_.messages().size(), 5u);
}

TEST_P(PaymentExchangeTest, RoundTripWithYesToEveryQuestionKeepsEveryRow) {
  AddRow(kCash);
  AddRow(kCard);
  AddRow(kOld);
  AddRow({7, "ЛБР", 1, 0, 100, 1});
  AddRow({8, "Штраф", 1, 0, 100, 0});
  const std::vector<TRow> before = Rows();
  const std::string path = dir_.file("round.txt");
  PaymentList().ExportToFile(path);

  for (int i = 0; i < 5; ++i) messages_.Answer(TModalResult::mrYes);
  Import(path);

  EXPECT_EQ(Rows(), before);
  ASSERT_EQ(messages_.messages().size(), 7u);  // export done, five questions, import done
  EXPECT_EQ(messages_.messages()[2].text, Question("Карта Сбер"));
  EXPECT_EQ(messages_.messages()[2].caption, "Подтверждение");
  EXPECT_EQ(messages_.messages()[2].icon, TMsgIcon::Question);
  EXPECT_EQ(messages_.messages()[2].buttons, TMsgButtons::YesNoCancel);
  EXPECT_EQ(Last(), ImportDone());
  EXPECT_THAT(ListNames(), ElementsAre("наличные", "Карта Сбер", "Старый талон", "ЛБР", "Штраф"));
  ExpectFormatSettingsKept();
}

TEST_P(PaymentExchangeTest, NewTypesGetFreshIdentifiersAndTheListFollows) {
  AddRow(kCash);
  Module().LastPaymentID = 10;
  Module().PaymentIDCounter = 10;
  Import(File({kHeader, "Талон\t1\t3\t2.50\t1", "Бонус\t1\t0\t0.00\t0"}));

  EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{11, "Талон", 1, 3, 2.5, 1}, TRow{12, "Бонус", 1, 0, 0, 0}));
  EXPECT_THAT(ListNames(), ElementsAre("наличные", "Талон", "Бонус"));
  EXPECT_EQ(messages_.messages().size(), 1u);
  EXPECT_EQ(Last(), ImportDone());
  EXPECT_EQ(Payments().State(), TDataSetState::dsBrowse);
}

TEST_P(PaymentExchangeTest, PercentageOutsideTheRangeIsNotStored) {
  AddRow(kCash);
  for (const char* discount : {"150.00", "-1.00"}) {
    Import(File({kHeader, std::string("Щедрый\t1\t3\t") + discount + "\t1"}));
    EXPECT_THAT(std::get<0>(Last()), HasSubstr("Скидка вида оплаты \"Щедрый\"")) << discount;
    EXPECT_THAT(ListNames(), ElementsAre("наличные")) << discount;
  }
}

TEST_P(PaymentExchangeTest, ANameWithANulInsideIsRefusedNotCut) {
  AddRow(kCash);
  using namespace std::string_literals;
  Import(File({kHeader, "Талон\t1\t3\t2.50\t1", "Бонус\0 и ещё\t1\t0\t0.00\t0"s}));
  EXPECT_EQ(Last(), ImportFailed("Название вида оплаты \"Бонус\" в файле содержит недопустимый символ NUL!"));
  EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{2, "Талон", 1, 3, 2.5, 1}));
}

TEST_P(PaymentExchangeTest, NoKeepsTheRowAndGoesOnYesUpdatesItUnderTheFileName) {
  AddRow(kCash);
  AddRow(kCard);
  messages_.Answer(TModalResult::mrNo);
  messages_.Answer(TModalResult::mrYes);
  Import(File({kHeader, "НАЛИЧНЫЕ\t1\t3\t9.00\t0", "карта сбер\t0\t4\t1.25\t0", "Талон\t1\t3\t2.50\t1"}));

  ASSERT_EQ(messages_.messages().size(), 3u);
  EXPECT_EQ(messages_.messages()[0].text, Question("НАЛИЧНЫЕ"));
  EXPECT_EQ(messages_.messages()[1].text, Question("карта сбер"));
  EXPECT_EQ(Last(), ImportDone());
  EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{2, "карта сбер", 0, 4, 1.25, 0}, TRow{3, "Талон", 1, 3, 2.5, 1}));
}

TEST_P(PaymentExchangeTest, CancelStopsTheImportAndKeepsTheRowsPostedBefore) {
  AddRow(kCash);
  messages_.Answer(TModalResult::mrCancel);
  Import(File({kHeader, "Талон\t1\t3\t2.50\t1", "Наличные\t1\t3\t9.00\t0", "Бонус\t1\t0\t0.00\t0"}));

  EXPECT_EQ(Last(), ImportFailed("Операция прервана на виде оплаты \"Наличные\"!"));
  EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{2, "Талон", 1, 3, 2.5, 1}));
  EXPECT_THAT(ListNames(), ElementsAre("наличные", "Талон"));
}

TEST_P(PaymentExchangeTest, UnusableLinesAreSkippedSilently) {
  AddRow(kCash);
  Import(File({kHeader, "",
               "Талон\t1\t3\t2.50",        // four fields
               "Талон\t1\t3\t2.50\t",      // the fifth one empty
               "Талон\t1\t3\t2.50\t1\t1",  // six fields
               "   \t1\t3\t2.50\t1",       // blank name
               "Бонус\t1\t0\t0.00\t0"}));
  EXPECT_EQ(messages_.messages().size(), 1u);
  EXPECT_EQ(Last(), ImportDone());
  EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{2, "Бонус", 1, 0, 0, 0}));
}

TEST_P(PaymentExchangeTest, LineBreaksOfEveryKindAreRead) {
  const std::string path = dir_.file("breaks.txt");
  WriteFileBytes(path, Utf8ToCp1251(kHeader + "\rА\t1\t1\t1.00\t1\nБ\t1\t2\t2.00\t1\r\nВ\t1\t3\t3.00\t1"));
  Import(path);
  EXPECT_EQ(Last(), ImportDone());
  EXPECT_EQ(Rows().size(), 3u);
}

TEST_P(PaymentExchangeTest, FilesThatAreNoExchangeFileChangeNothing) {
  AddRow(kCash);
  const std::vector<TRow> before = Rows();
  const std::string invalid = "\" имеет недопустимый формат для хранения видов оплаты!";

  const std::string empty = dir_.file("empty.txt");
  WriteFileBytes(empty, "");
  Import(empty);
  EXPECT_EQ(Last(), ImportFailed("Файл \"" + empty + "\" пуст!"));

  const std::string other = File({"ТИП ДАННЫХ: СКИДКИ", "Талон\t1\t3\t2.50\t1"}, "other.txt");
  Import(other);
  EXPECT_EQ(Last(), ImportFailed("Файл \"" + other + invalid));

  const std::string lower = File({"тип данных: виды оплаты", "Талон\t1\t3\t2.50\t1"}, "lower.txt");
  Import(lower);
  EXPECT_EQ(Last(), ImportFailed("Файл \"" + lower + invalid));

  const std::string padded = File({kHeader + " ", "Талон\t1\t3\t2.50\t1"}, "padded.txt");
  Import(padded);
  EXPECT_EQ(Last(), ImportFailed("Файл \"" + padded + invalid));

  const std::string utf8 = dir_.file("utf8.txt");  // the right header in another code page
  WriteFileBytes(utf8, kHeader + "\r\nТалон\t1\t3\t2.50\t1\r\n");
  Import(utf8);
  EXPECT_EQ(Last(), ImportFailed("Файл \"" + utf8 + invalid));

  const std::string binary = dir_.file("binary.bin");
  std::string bytes;
  for (int i = 0; i < 2048; ++i) bytes += static_cast<char>((i * 131 + 7) % 256);
  WriteFileBytes(binary, bytes);
  Import(binary);
  EXPECT_EQ(Last(), ImportFailed("Файл \"" + binary + invalid));

  const std::string missing = dir_.file("missing.txt");
  Import(missing);
  EXPECT_THAT(std::get<0>(Last()), StartsWith("Невозможно импортировать виды оплаты. Причина ошибки: "
                                              "Не удается открыть файл \"" +
                                              missing + "\". "));

  Import(dir_.path());  // a folder
  EXPECT_THAT(std::get<0>(Last()), StartsWith("Невозможно импортировать виды оплаты. Причина ошибки: "));

  EXPECT_EQ(messages_.messages().size(), 8u);
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Payments().ChangeCount(), 1) << "only the row the test added";
}

TEST_P(PaymentExchangeTest, AValueTheFieldCannotTakeEndsTheImportAfterCancellingItsRow) {
  AddRow(kCash);
  AddRow(kCard);
  const std::pair<const char*, const char*> cases[] = {
      {"Бонус\tx\t0\t0.00\t0", "'x' не является допустимым целым числом для поля 'Type'"},
      {"Бонус\t1\t0\t0.00\t1.0", "'1.0' не является допустимым целым числом для поля 'Enabled'"},
      {"Бонус\t1\t0\t5.0a\t0", "'5.0a' не является допустимым числом с плавающей точкой для поля 'Discount'"},
      {"Бонус\t1\t0\t5,50\t0", "'5,50' не является допустимым числом с плавающей точкой для поля 'Discount'"},
  };
  for (const auto& [bad, reason] : cases) {
    SCOPED_TRACE(bad);
    messages_.Answer(TModalResult::mrYes);
    Import(File({kHeader, "Талон\t1\t3\t2.50\t1", "карта сбер\t0\t3\t3.00\t1", bad, "Штраф\t1\t0\t0.00\t0"}));

    EXPECT_EQ(Last(), ImportFailed(reason));
    EXPECT_EQ(Payments().State(), TDataSetState::dsBrowse);
    EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{2, "карта сбер", 0, 3, 3, 1}, TRow{3, "Талон", 1, 3, 2.5, 1}))
        << "the rows before the bad one stay, nothing of it or after it";
    messages_.Answer(TModalResult::mrNo);  // the next import meets "Талон" again first
  }
  // Both names are present now and both answers No: nothing changes, the import completes.
  messages_.Answer(TModalResult::mrNo);
  Import(File({kHeader, "Талон\t1\t3\t2.50\t1", "карта сбер\t0\t3\t3.00\t1"}));
  EXPECT_EQ(Last(), ImportDone());
}

TEST_P(PaymentExchangeTest, AQuestionWithNobodyToAskEndsTheImport) {
  AddRow(kCash);
  SetMessageService(nullptr);  // the console: questions are refused
  ::testing::internal::CaptureStderr();
  Import(File({kHeader, "Талон\t1\t3\t2.50\t1", "Наличные\t1\t3\t9.00\t0"}));
  const std::string err = ::testing::internal::GetCapturedStderr();
  SetMessageService(&messages_);

  EXPECT_THAT(err, HasSubstr("Ошибка!: Невозможно импортировать виды оплаты. Причина ошибки: "));
  EXPECT_THAT(err, HasSubstr("Наличные"));
  EXPECT_THAT(Rows(), ElementsAre(kCash, TRow{2, "Талон", 1, 3, 2.5, 1}));
}

TEST_P(PaymentExchangeTest, WithoutAPaymentDatasetTheImportFailsQuietly) {
  Module().DataModule = nullptr;
  Import(File({kHeader, "Талон\t1\t3\t2.50\t1"}));
  EXPECT_EQ(Last(), ImportFailed("Виды оплаты: не удалось найти набор данных Payment в Ferin10.dll!"));
}

INSTANTIATE_TEST_SUITE_P(FormatSettings, PaymentExchangeTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& russian) {
                           return std::string(russian.param ? "Russian" : "English");
                         });

}  // namespace
}  // namespace selvo

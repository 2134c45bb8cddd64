#include "host/session/SaleJson.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/service/HttpFront.h"
#include "host/session/FastSaleReader.h"
#include "platform/DateUtils.h"

namespace selvo::host {
namespace {

// The general reader, and the service's reader that tries the fast one
// first: the same sales and the same refusals, word for word.
using TSaleParser = TSale (*)(const std::string&);
class ParseSaleBy : public ::testing::TestWithParam<TSaleParser> {
 protected:
  TSale ParseSale(const std::string& text) { return GetParam()(text); }
  std::string ErrorOf(const std::string& text) {
    try {
      ParseSale(text);
    } catch (const ESaleFormat& e) {
      return e.what();
    }
    return "(no error)";
  }
};
INSTANTIATE_TEST_SUITE_P(Readers, ParseSaleBy, ::testing::Values(&host::ParseSale, &ParseSaleFast));

TEST_P(ParseSaleBy, ReadsTheTillsSale) {
  TSale sale = ParseSale(R"({"payment": 1, "moment": "2026-12-08T10:30:00",
      "lines": [{"goods": 10, "category": 3, "zprice": 60, "price": 100, "quantity": 2},
                {"goods": 11, "category": 3, "zprice": 1.5, "price": 2.25, "quantity": 0.5}]})");
  ASSERT_TRUE(sale.paymentID.has_value());
  EXPECT_EQ(*sale.paymentID, 1);
  EXPECT_EQ(sale.moment, EncodeDate(2026, 12, 8) + EncodeTime(10, 30, 0, 0));
  ASSERT_EQ(sale.lines.size(), 2u);
  EXPECT_EQ(sale.lines[1].price, 2.25);
  EXPECT_EQ(sale.lines[1].quantity, 0.5);

  TSale byName = ParseSale(R"({"payment": "наличные", "lines": []})");
  EXPECT_EQ(byName.paymentName, "наличные");
  EXPECT_FALSE(byName.moment.has_value()) << "no moment means now";
  EXPECT_EQ(ParseSale(R"({"payment": 2, "moment": "2026-12-08 23:59:59.5", "lines": []})").moment,
            EncodeDate(2026, 12, 8) + EncodeTime(23, 59, 59, 500));
}

TEST_P(ParseSaleBy, ErrorsNameThePlace) {
  EXPECT_NE(ErrorOf("{"), "(no error)");
  EXPECT_EQ(ErrorOf("[]"), "sale: ожидается объект JSON, а не массив");
  EXPECT_EQ(ErrorOf(R"({"lines": []})"), "payment: поле не указано");
  EXPECT_EQ(ErrorOf(R"({"payment": 1})"), "lines: поле не указано");
  EXPECT_EQ(ErrorOf(R"({"payment": 1.5, "lines": []})"), "payment: ожидается целое число, а не дробное число");
  EXPECT_EQ(ErrorOf(R"({"payment": 1, "lines": {}})"), "lines: ожидается массив, а не объект");
  EXPECT_EQ(
      ErrorOf(R"({"payment": 1, "lines": [{"goods": 1, "category": 2, "zprice": 1, "price": "5", "quantity": 1}]})"),
      "lines[0].price: ожидается число, а не текст");
  EXPECT_EQ(ErrorOf(R"({"payment": 1, "lines": [{"goods": 1, "category": 2, "price": 5, "quantity": 1}]})"),
            "lines[0].zprice: поле не указано");
  EXPECT_EQ(
      ErrorOf(
          R"({"payment": 1, "lines": [{"goods": 4294967296, "category": 2, "zprice": 1, "price": 5, "quantity": 1}]})"),
      "lines[0].goods: число вне 32-битного диапазона");
  EXPECT_EQ(ErrorOf(R"({"payment": 1, "moment": "2026-02-30T10:00", "lines": []})"),
            "moment: \"2026-02-30T10:00\" — нет таких даты и времени");
  EXPECT_EQ(ErrorOf(std::string(R"({"payment": 1, "lines": []})") + '\0' + "x"),
            "продажа не в формате JSON: в тексте символ NUL");
  EXPECT_EQ(ErrorOf(R"({"payment": 1, "moment": "10:00", "lines": []})"),
            "moment: \"10:00\" не в виде ГГГГ-ММ-ДДTЧЧ:ММ[:СС[.ммм]]");
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What the fast reader takes it reads as the general one does; what the two
// could read differently it leaves to the general one.
TEST(TFastSaleReader, TakesOnlyWhatItReadsAsTheGeneralReaderDoes) {
  const std::string line = R"("lines": [{"goods": 1, "category": 2, "zprice": 0.1, "price": 1e2, "quantity": 3}])";
  const struct {
    std::string text;
    bool taken;
  } cases[] = {
      {R"({"payment": 1, )" + line + "}", true},
      {R"( {"payment": "карта", "moment": null, "extra": [1, {"x": 2}], )" + line + "} \n", true},
      {R"({"payment": 1, "moment": "2026-12-08T10:30", )" + line + "}", true},
      {R"({"payment": 1, "payment": 2, )" + line + "}", false},  // the general reader keeps the last
      {R"({"payment": "\u043a", )" + line + "}", false},
      {R"({"payment": 1, "lines": [{"goods": 1, "category": 2, "zprice": -0.0, "price": 1, "quantity": 1}]})", false},
      {R"({"payment": 18446744073709551615, )" + line + "}", false},
      {R"({"payment": 1, "moment": "2026-02-30T10:00", )" + line + "}", false},
      {R"({"payment": 1, "moment": 5, )" + line + "}", false},
      {R"({"payment": 1, "x": [[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]], )" + line + "}", false},
      {R"({"payment": 1, )" + line + "} x", false},
      {std::string(R"({"payment": "a)") + '\xff' + R"(", )" + line + "}", false},
  };
  TFastSaleReader reader;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TSale fast;
    ASSERT_EQ(reader.Read(c.text, fast), c.taken);
    if (!c.taken) continue;
    const TSale general = ParseSale(c.text);
    EXPECT_EQ(fast.paymentID, general.paymentID);
    EXPECT_EQ(fast.paymentName, general.paymentName);
    EXPECT_EQ(fast.moment, general.moment);
    ASSERT_EQ(fast.lines.size(), general.lines.size());
    for (std::size_t i = 0; i < fast.lines.size(); ++i) {
      EXPECT_EQ(fast.lines[i].goods, general.lines[i].goods);
      EXPECT_EQ(fast.lines[i].category, general.lines[i].category);
      EXPECT_TRUE(SameBits(fast.lines[i].zprice, general.lines[i].zprice));
      EXPECT_TRUE(SameBits(fast.lines[i].price, general.lines[i].price));
      EXPECT_TRUE(SameBits(fast.lines[i].quantity, general.lines[i].quantity));
    }
  }
}

// The service writes its answer without the document; the bytes are the
// document's as every other answer of it is written.
TEST(SaleAnswerText, IsTheAnswersDocumentAsJsonTextWritesIt) {
  struct TCase {
    TSaleAnswer answer;
    bool explain;
  };
  std::vector<TCase> cases(4);
  cases[0].answer.sum = 100;
  cases[1].answer = {0.1 + 0.2, 12.5, {"Пиво \"Жигули\"", std::string("a\xff\x01b")}, "", ""};
  cases[2].answer = {1e20, -0.0, {}, "строка 1\nстрока 2", "объяснение рассчитано на 5"};
  cases[2].explain = true;
  cases[3].answer = {99999999.99, 3, {"x"}, "", ""};
  cases[3].explain = true;  // asked, and empty
  for (const TCase& c : cases) {
    nlohmann::json document = {{"sum", c.answer.sum},
                               {"discount_percent", c.answer.discountPercent},
                               {"sale_bans", c.answer.saleBans},
                               {"settings_version", 18446744073709551615u},
                               {"sale_id", "ABCDEFGHJKMN"}};
    if (c.explain) document["explain"] = c.answer.explanation;
    if (!c.answer.warning.empty()) document["warning"] = c.answer.warning;
    EXPECT_EQ(SaleAnswerText(c.answer, 18446744073709551615u, "ABCDEFGHJKMN", c.explain), JsonText(document));
  }
}

TEST(TSaleRecord, SequencesInTheHostsArrayForm) {
  TSale sale = ParseSale(R"({"payment": 7, "lines": [
      {"goods": 10, "category": 3, "zprice": 60, "price": 100, "quantity": 2},
      {"goods": 12, "category": 4, "zprice": 6, "price": 10, "quantity": 1}]})");
  TSaleRecord record(sale, 7, 46364.5);
  const TDiscountInData& d = record.data();
  EXPECT_EQ(DynArrayLength(d.GoodsIDs), 2);
  EXPECT_EQ(DynArrayHeaderOf(d.Prices)->refCount, 1);
  EXPECT_EQ(d.GoodsIDs[1], 12);
  EXPECT_EQ(d.CategoryIDs[0], 3);
  EXPECT_EQ(d.Quantities[0], 2.0);
  EXPECT_EQ(d.PayID, 7);
  EXPECT_EQ(d.SaleTime, 46364.5);

  TSaleRecord empty(ParseSale(R"({"payment": 7, "lines": []})"), 7, 0);
  EXPECT_EQ(empty.data().GoodsIDs, nullptr) << "an empty sequence is a null pointer";
}

}  // namespace
}  // namespace selvo::host

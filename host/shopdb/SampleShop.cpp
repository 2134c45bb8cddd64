#include "host/shopdb/SampleShop.h"

#include <cmath>

#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopSchema.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"

namespace selvo::host {
namespace {

using Row = std::vector<TVariant>;

TVariant I(std::int64_t v) { return TVariant(v); }
TVariant R(double v) { return TVariant(v); }
TVariant T(const std::string& v) { return TVariant(v); }
const TVariant kNone;

void InsertRows(TShopConnection& db, const std::string& table, const std::vector<std::string>& columns,
                const std::vector<Row>& rows) {
  std::string names, marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    names += (i ? ", " : "") + db.Identifier(columns[i]);
    marks += (i ? ", $" : "$") + std::to_string(i + 1);
  }
  const std::string sql = "INSERT INTO " + db.Identifier(table) + " (" + names + ") VALUES (" + marks + ")";
  for (const Row& row : rows) db.Query(sql, row, nullptr);
}

// The list texts in the form the module writes them under the format
// settings in force: long time format with every "00" shortened to "0",
// amounts as shortest general numbers, each entry ended by ";".
std::string ListTime(int hour, int minute, int second) {
  const std::string text = TimeToStr(EncodeTime(hour, minute, second, 0), ModuleFormatSettings());
  std::string shortened;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "00") == 0) {
      shortened += '0';
      i += 2;
    } else {
      shortened += text[i++];
    }
  }
  return shortened;
}

std::string Amount(double value, const char* unit) { return FloatToStr(value, ModuleFormatSettings()) + unit; }

struct TTimeEntry {
  int h1, m1, s1, h2, m2, s2;
  double amount;
  const char* unit;
};
std::string TimeList(std::initializer_list<TTimeEntry> entries) {
  std::string text;
  for (const TTimeEntry& e : entries)
    text += ListTime(e.h1, e.m1, e.s1) + "-" + ListTime(e.h2, e.m2, e.s2) + "=" + Amount(e.amount, e.unit) + ";";
  return text;
}

struct TThresholdEntry {
  double sum, amount;
  const char* unit;
};
std::string ThresholdList(std::initializer_list<TThresholdEntry> entries) {
  std::string text;
  for (const TThresholdEntry& e : entries)
    text += FloatToStr(e.sum, ModuleFormatSettings()) + "=" + Amount(e.amount, e.unit) + ";";
  return text;
}

const char* kPercent = "%";
const char* kRouble = "р";
constexpr double kSaleBan = 10000000;

std::string StatementTemplate() {
  const std::string hyphens(36, '-');
  return "       <#OrgName> <#AZS>\r\n"
         "      ВЕДОМОСТЬ НА ОТПУСК ТОВАРОВ\r\n"
         "\r\n"
         "#Delim1#  ДАТА: <#DateTime>\r\n"
         "Док.: <#BNSchet(10)> Оплата: <#Payment(11)>\r\n" +
         hyphens +
         "#Delim2#<#Line( 2.0)>.<#Tovar(33)>\r\n <#Kod(13)> <#Count(5.1)>x<#Price(7.2 )><#Summa(8.2)>#Delim3#" +
         hyphens +
         "\r\n"
         "@ИТОГО:  <#Itog(10.2)>р.\r\n"
         "\r\n"
         "ПОЛУЧИЛ ____________\r\n"
         "КАССИР ____________ <#Kassir(16)>\r\n"
         "\r\n";
}

void FillPayments(TShopConnection& db) {
  InsertRows(db, "Payment",
             {"ID", "Name", "Type", "Check", "Discount", "Enabled", "CheckItogPrec", "CheckPrecLimit", "GsmVO",
              "CUSTOMCHECK", "PRINTCUSTOMCHECK"},
             {
                 // The six built-in types, linked to their fuel-side base codes.
                 {I(1), T("наличные"), I(0), I(1), R(0), I(1), I(1), R(0), I(0), kNone, I(0)},
                 {I(2), T("безналичные"), I(1), I(2), R(0), I(1), I(1), R(0), I(3), kNone, I(0)},
                 {I(3), T("ЛНР"), I(1), I(3), R(0), I(1), I(1), R(0), I(6), kNone, I(0)},
                 {I(4), T("платежный терминал"), I(1), I(2), R(0), I(1), I(1), R(0), I(1), kNone, I(0)},
                 {I(5), T("дисконтная карта"), I(1), I(2), R(3), I(1), I(1), R(0), I(10), kNone, I(0)},
                 {I(6), T("ЛБР"), I(1), I(3), R(0), I(1), I(1), R(0), I(12), kNone, I(0)},
                 // The shop's own: bonus points on the fuel side's first
                 // discount card type, a statement rounded to roubles above
                 // 1000 with its own goods receipt, and a switched-off one.
                 {I(7), T("Бонусы"), I(1), I(4), R(0), I(1), I(1), R(0), I(110), kNone, I(0)},
                 {I(8), T("Ведомость"), I(1), I(5), R(1.5), I(1), I(100), R(1000), I(4), T(StatementTemplate()), I(1)},
                 {I(9), T("Сертификат"), I(1), I(6), R(0), I(0), I(1), R(0), I(8), kNone, I(0)},
             });
}

// The rest of the catalogue, enough to make the goods selection window worth
// using: more categories, and every category filled up to a few dozen
// articles, each name a product and a variant (identifiers category * 100 +
// 21 and up; prices from a fixed rule, so that the shop is always the same).
void FillMoreGoods(TShopConnection& db) {
  struct TKind {
    int id;
    const char* name;  // empty: a category of the first seven
    std::vector<const char*> products;
    std::vector<const char*> variants;
    double basePrice;
  };
  const std::vector<TKind> kinds = {
      {1, "", {"Вода минеральная", "Морс клюквенный", "Квас", "Холодный чай"}, {"0,33 л", "0,5 л", "1 л", "1,5 л"}, 55},
      {2, "", {"Латте", "Эспрессо", "Какао", "Чай зелёный"}, {"0,2 л", "0,3 л", "0,4 л"}, 110},
      {3,
       "",
       {"Батончик шоколадный", "Печенье", "Сухарики", "Жевательная резинка", "Вафли"},
       {"классика", "с орехами", "с карамелью", "большая упаковка"},
       60},
      {4, "", {"Пиво нефильтрованное", "Пиво безалкогольное", "Сидр"}, {"0,45 л", "0,5 л", "1,35 л"}, 95},
      {5,
       "",
       {"Очиститель стёкол", "Полироль", "Шампунь автомобильный", "Очиститель салона"},
       {"250 мл", "500 мл", "1 л"},
       240},
      {6,
       "",
       {"Коврики резиновые", "Держатель телефона", "Зарядное устройство", "Кабель USB"},
       {"стандарт", "усиленный", "универсальный"},
       350},
      {7, "", {"Зажигалка", "Спички"}, {"обычная", "турбо", "подарочная"}, 40},
      {8,
       "Масла и жидкости",
       {"Масло моторное 5W-30", "Масло моторное 10W-40", "Масло трансмиссионное 75W-90", "Тормозная жидкость DOT-4",
        "Дистиллированная вода"},
       {"1 л", "4 л", "5 л", "канистра 20 л"},
       450},
      {9,
       "Аккумуляторы",
       {"Аккумулятор 55 А·ч", "Аккумулятор 60 А·ч", "Аккумулятор 75 А·ч", "Аккумулятор 90 А·ч"},
       {"прямая полярность", "обратная полярность"},
       5200},
      {10,
       "Лампы и предохранители",
       {"Лампа H1", "Лампа H4", "Лампа H7", "Лампа W5W", "Набор предохранителей"},
       {"стандарт", "+30 % света", "+100 % света", "долговечная"},
       120},
      {11,
       "Щётки и скребки",
       {"Скребок для льда", "Щётка-сметка", "Щётка зимняя", "Водосгон"},
       {"малая", "большая", "телескопическая"},
       180},
      {12,
       "Товары в дорогу",
       {"Термокружка", "Подушка дорожная", "Плед", "Фонарик"},
       {"синий", "серый", "чёрный"},
       390},
      {13,
       "Мороженое",
       {"Пломбир", "Эскимо", "Рожок", "Фруктовый лёд"},
       {"ванильный", "шоколадный", "клубничный", "фисташковый"},
       75},
      {14,
       "Выпечка",
       {"Круассан", "Пирожок", "Сосиска в тесте", "Слойка"},
       {"с вишней", "с капустой", "с мясом", "с сыром"},
       85},
      {15,
       "Готовая еда",
       {"Сэндвич", "Бургер", "Салат", "Шаурма"},
       {"с курицей", "с говядиной", "вегетарианский"},
       220},
      {16,
       "Снаряжение зимнее",
       {"Цепи противоскольжения", "Лопата складная", "Антигель", "Размораживатель замков"},
       {"малый", "средний", "большой"},
       320},
      {17,
       "Газеты и журналы",
       {"Газета", "Журнал авто", "Кроссворды", "Атлас автодорог"},
       {"текущий выпуск", "прошлый выпуск"},
       70},
      {18, "Подарки и сувениры", {"Брелок", "Магнит", "Кружка", "Открытка"}, {"с логотипом", "с видом города"}, 150},
      {19,
       "Средства гигиены",
       {"Влажные салфетки", "Бумажные платки", "Антисептик", "Зубная щётка"},
       {"малая упаковка", "большая упаковка"},
       65},
      {20,
       "Детские товары",
       {"Игрушка машинка", "Раскраска", "Сок детский", "Пюре фруктовое"},
       {"маленький", "большой", "набор"},
       95},
  };
  std::vector<Row> categories, goods;
  for (const TKind& kind : kinds) {
    if (*kind.name) categories.push_back({I(kind.id), T(kind.name), I(0)});
    std::int64_t article = kind.id * 100 + 21;
    int step = 0;
    for (const char* product : kind.products) {
      for (const char* variant : kind.variants) {
        const double price = kind.basePrice * (1 + 0.15 * (step % 7)) + 9 * (step % 3);
        goods.push_back({I(article++), I(kind.id), T(std::string(product) + " " + variant), R(price),
                         R(std::round(price * 0.62)), R(0)});
        ++step;
      }
    }
  }
  InsertRows(db, "KeyTovar", {"ID_Category", "Name", "CheckField"}, categories);
  InsertRows(db, "Goods", {"ID_Goods", "ID_Category", "Name", "Price", "ZPrice", "Kolvo"}, goods);
}

// Categories and goods: identifiers of goods start with their category's.
void FillCatalogue(TShopConnection& db) {
  InsertRows(db, "KeyTovar", {"ID_Category", "Name", "CheckField"},
             {{I(1), T("Напитки"), I(0)},
              {I(2), T("Кофе и чай"), I(0)},
              {I(3), T("Снеки и сладости"), I(0)},
              {I(4), T("Пиво"), I(0)},
              {I(5), T("Автохимия"), I(0)},
              {I(6), T("Автоаксессуары"), I(0)},
              {I(7), T("Табачные изделия"), I(0)}});
  InsertRows(db, "Goods", {"ID_Goods", "ID_Category", "Name", "Price", "ZPrice", "Kolvo"},
             {{I(101), I(1), T("Вода питьевая 0,5 л"), R(45), R(28), R(0)},
              {I(102), I(1), T("Сок яблочный 1 л"), R(120), R(84), R(0)},
              {I(103), I(1), T("Лимонад 0,5 л"), R(89), R(55), R(0)},
              {I(104), I(1), T("Энергетический напиток 0,45 л"), R(139), R(92), R(0)},
              {I(201), I(2), T("Кофе американо 0,3 л"), R(150), R(40), R(0)},
              {I(202), I(2), T("Капучино 0,3 л"), R(180), R(50), R(0)},
              {I(203), I(2), T("Чай чёрный 0,3 л"), R(90), R(15), R(0)},
              {I(301), I(3), T("Шоколад молочный 90 г"), R(110), R(72), R(0)},
              {I(302), I(3), T("Чипсы 150 г"), R(149), R(98), R(0)},
              {I(303), I(3), T("Орешки солёные 100 г"), R(130), R(80), R(0)},
              {I(304), I(3), T("Хот-дог"), R(199), R(90), R(0)},
              {I(401), I(4), T("Пиво светлое 0,5 л"), R(119), R(75), R(0)},
              {I(402), I(4), T("Пиво тёмное 0,5 л"), R(129), R(82), R(0)},
              {I(501), I(5), T("Омыватель стекла -20 °C 4 л"), R(399), R(260), R(0)},
              {I(502), I(5), T("Масло моторное 5W-40 4 л"), R(2890), R(2100), R(0)},
              {I(503), I(5), T("Антифриз G12 1 л"), R(450), R(300), R(0)},
              {I(601), I(6), T("Щётки стеклоочистителя"), R(990), R(600), R(0)},
              {I(602), I(6), T("Ароматизатор"), R(250), R(120), R(0)},
              {I(603), I(6), T("Перчатки рабочие"), R(120), R(60), R(0)},
              {I(701), I(7), T("Сигареты"), R(220), R(190), R(0)}});
  FillMoreGoods(db);
}

struct TCard {
  std::int64_t id;
  std::string name;
  std::int64_t payID;
  double bTime, eTime;
  bool allDay, enabled;
  int weekDays;
  bool allWeek;
  std::string threshold;
  int target;
  std::string timeList;
  std::vector<int> categories, goods;
};

void FillDiscounts(TShopConnection& db) {
  const double dayEnd = EncodeTime(23, 59, 59, 0);
  const double none = 0;
  const std::vector<TCard> cards = {
      {1,
       "Скидка от суммы чека",
       1,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       ThresholdList({{1000, 3, kPercent}, {5000, 5, kPercent}}),
       0,
       "",
       {},
       {}},
      {2,
       "Безналичная оплата от 3000 р.",
       2,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       ThresholdList({{3000, 150, kRouble}, {10000, 4, kPercent}}),
       0,
       "",
       {},
       {}},
      {3,
       "Утренний кофе",
       1,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       "",
       1,
       TimeList({{6, 0, 0, 10, 0, 0, 15, kPercent}}),
       {2},
       {}},
      {4,
       "Кофе и хот-дог по дисконтной карте",
       5,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       ThresholdList({{300, 10, kPercent}}),
       1,
       "",
       {2},
       {304}},
      // A time discount of exactly 10000000 р bans the sale in its hours.
      {5,
       "Запрет продажи пива ночью",
       1,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       "",
       1,
       TimeList({{23, 0, 0, 23, 59, 59, kSaleBan, kRouble}, {0, 0, 0, 7, 59, 59, kSaleBan, kRouble}}),
       {4},
       {}},
      {6,
       "Запрет продажи пива ночью (терминал)",
       4,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       "",
       1,
       TimeList({{23, 0, 0, 23, 59, 59, kSaleBan, kRouble}, {0, 0, 0, 7, 59, 59, kSaleBan, kRouble}}),
       {4},
       {}},
      // Saturday (bit 5) and Sunday (bit 6) only.
      {7,
       "Выходные: автохимия",
       4,
       none,
       dayEnd,
       true,
       true,
       32 | 64,
       false,
       ThresholdList({{500, 5, kPercent}, {2000, 10, kPercent}}),
       1,
       "",
       {5},
       {}},
      // Monday to Friday, 14:00 to 17:00.
      {8,
       "Счастливые часы",
       1,
       EncodeTime(14, 0, 0, 0),
       EncodeTime(17, 0, 0, 0),
       false,
       true,
       31,
       false,
       "",
       0,
       TimeList({{14, 0, 0, 17, 0, 0, 2, kPercent}}),
       {},
       {}},
      {9,
       "Новогодние праздники",
       1,
       none,
       dayEnd,
       true,
       true,
       0,
       true,
       ThresholdList({{200, 7, kPercent}}),
       1,
       "",
       {1, 3},
       {}},
      {10,
       "Весенняя акция на автохимию (выключена)",
       1,
       none,
       dayEnd,
       true,
       false,
       0,
       true,
       ThresholdList({{0, 20, kPercent}}),
       1,
       "",
       {},
       {501, 503}},
  };
  std::vector<Row> cardRows, goodsRows;
  std::int64_t dgID = 0;
  for (const TCard& c : cards) {
    cardRows.push_back({I(c.id), T(c.name), I(c.payID), R(c.bTime), R(c.eTime), I(c.allDay), I(c.enabled),
                        I(c.weekDays), I(c.allWeek), c.threshold.empty() ? kNone : T(c.threshold), I(c.target), I(0),
                        c.timeList.empty() ? kNone : T(c.timeList)});
    for (int category : c.categories) goodsRows.push_back({I(++dgID), I(c.id), I(1), I(category)});
    for (int article : c.goods) goodsRows.push_back({I(++dgID), I(c.id), I(0), I(article)});
  }
  InsertRows(db, "SelvoDiscountDS",
             {"td_ID", "td_DiscountName", "PayID", "td_BTime", "td_ETime", "td_AllDay", "td_Enabled", "td_WeekDays",
              "td_AllWeek", "td_Threshold", "td_DiscountTarget", "td_Rules", "td_TimeDscList"},
             cardRows);
  InsertRows(db, "DiscountGoodsDS", {"dg_ID", "td_ID", "td_IsCategory", "ID_Target"}, goodsRows);

  // Dated periods of this year: the New Year holidays and the last week of
  // December for card 9, a switched-off one for card 10.
  const int year = DecodeDate(Now()).year;
  auto at = [](int y, int m, int d, int h, int n, int s) {
    return ComposeDateTime(EncodeDate(y, m, d), EncodeTime(h, n, s, 0));
  };
  InsertRows(db, "ExclusionsDS", {"ex_ID", "td_ID", "ex_BDateTime", "ex_EDateTime", "ex_Enabled"},
             {{I(1), I(9), R(at(year, 1, 1, 0, 0, 0)), R(at(year, 1, 8, 23, 59, 59)), I(1)},
              {I(2), I(9), R(at(year, 12, 25, 0, 0, 0)), R(at(year, 12, 31, 23, 59, 59)), I(1)},
              {I(3), I(10), R(at(year, 3, 1, 0, 0, 0)), R(at(year, 3, 10, 23, 59, 59)), I(0)}});
}

}  // namespace

void CreateSampleShop(const std::string& database, bool overwrite) {
  BuildShopDatabase(database, overwrite, {}, [](TShopConnection& db) {
    FillPayments(db);
    FillCatalogue(db);
    FillDiscounts(db);
  });
}

}  // namespace selvo::host

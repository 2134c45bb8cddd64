// The sample shop of `selvo-host init`: the six built-in payment types and a
// few of the shop's own, discount cards of every kind, and a goods catalogue
// with categories.
//
// Payment types 1..6 are the built-in ones with their fuel-side base codes;
// 7..9 are the shop's own ("Бонусы", "Ведомость" with a receipt rounding and
// its own goods receipt, "Сертификат" switched off). Cards 1..10 cover
// receipt thresholds (percent and roubles), goods and category targets, time
// discounts, a sale ban at night, week days, a daily window, dated periods
// of the current year and a switched-off card. The list texts are written in
// the form the module writes them under the format settings in force.
#pragma once

#include <string>

namespace selvo::host {

// Creates the shop database (a file, or the tables on a server) and fills
// it, whole or not at all (see BuildShopDatabase). Refuses an existing one
// unless overwrite is true; EDatabaseError on failure.
void CreateSampleShop(const std::string& database, bool overwrite);

}  // namespace selvo::host

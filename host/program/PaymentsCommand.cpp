#include "host/program/PaymentsCommand.h"

#include <ostream>

#include "host/program/PaymentTable.h"
#include "host/session/HostSession.h"
#include "host/session/ModuleLoader.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/FormatSettings.h"

namespace selvo::host {
namespace {

int RunPayments(const TParsedCommand& command, const TCommandContext& context) {
  try {
    TShopDataModule dataModule(DatabaseOf(command));
    TModuleLibrary library(FindModuleFile(context.module.fileName, context.module.buildDir));
    const TModuleExports& module = library.Exports();
    TConnectedModule connection(module, dataModule);

    module.FillPaymentsList();
    TPaymentList& list = *module.GetPaymentList();
    TShopDataSet& payments = dataModule.DataSet("Payment");
    TPaymentColumns columns;
    columns.rounding = payments.FindField("CheckItogPrec") != nullptr;
    columns.gsmVO = payments.FindField("GsmVO") != nullptr;
    columns.customCheck = payments.FindField("CUSTOMCHECK") != nullptr;
    context.out << "Виды оплаты (" << list.Count() << "), база данных " << dataModule.Describe() << ":\n"
                << FormatPaymentTable(list, columns, ModuleFormatSettings());
    return 0;
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
}

}  // namespace

const THostCommand kPaymentsCommand{
    {"payments", "загрузить модуль и показать виды оплаты, прочитанные им из базы данных", {DatabaseOption()}, ""},
    &RunPayments};

}  // namespace selvo::host

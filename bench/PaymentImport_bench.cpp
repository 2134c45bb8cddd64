// Import of an exchange file of many new payment types into a shop database:
// the list is reloaded after every row, so the reload's cost is paid once per
// row and the whole import grows with the square of the file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "module/ModuleLifetime.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/MessageService.h"
#include "platform/TextCodec.h"
#include "state/SelvoModuleU.h"

namespace {

class TQuiet : public selvo::IMessageService {
 public:
  selvo::TModalResult Show(const selvo::TMessage& m) override {
    if (m.icon == selvo::TMsgIcon::Exclamation) std::abort();  // the import failed: nothing to measure
    return selvo::TModalResult::mrYes;
  }
};

void BM_ImportNewPaymentTypes(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::string dir = (std::filesystem::temp_directory_path() / "selvo-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) std::abort();
  std::string text = "ТИП ДАННЫХ: ВИДЫ ОПЛАТЫ\r\n";
  for (int i = 0; i < count; ++i) text += "Вид оплаты " + std::to_string(i) + "\t1\t0\t2.50\t1\r\n";
  const std::string file = dir + "/import.txt";
  std::ofstream(file, std::ios::binary) << selvo::Utf8ToCp1251(text);

  selvo::ModuleLoad();
  TQuiet quiet;
  selvo::SetMessageService(&quiet);
  for (auto _ : state) {
    state.PauseTiming();
    const std::string db = dir + "/shop.db";
    std::filesystem::remove(db);
    selvo::host::CreateShopDatabase(db, false);
    selvo::host::TShopDataModule dataModule(db);
    selvo::Module().DataModule = &dataModule;
    selvo::FillPaymentsList();
    state.ResumeTiming();
    selvo::PaymentList().ImportFromFile(file);
    state.PauseTiming();
    if (selvo::PaymentList().Count() != count) std::abort();
    selvo::Module().DataModule = nullptr;
    state.ResumeTiming();
  }
  selvo::SetMessageService(nullptr);
  selvo::ModuleUnload();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ImportNewPaymentTypes)->Arg(500)->Arg(2000)->Arg(8000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

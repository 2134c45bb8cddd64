// What a till or a journal hands the host: a sale's JSON text, parsed as the
// service and `calc` parse it, and the same bytes read as a sales journal as
// `replay` reads it. Neither may crash, overflow the stack or hang, whatever
// the bytes; every refusal is an ESaleFormat or a skipped line. A sale the
// service's fast reader takes is the general reader's to the bit; a
// difference stops the fuzzer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "SameSale.h"
#include "host/journal/JournalReader.h"
#include "host/session/FastSaleReader.h"
#include "host/session/SaleJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static selvo::host::TFastSaleReader fastReader;
  selvo::host::TSale fast;
  const bool taken = fastReader.Read(text, fast);
  try {
    const selvo::host::TSale sale = selvo::host::ParseSale(text);
    if (taken && !SameSale(fast, sale)) __builtin_trap();
  } catch (const selvo::host::ESaleFormat&) {
    if (taken) __builtin_trap();
  }

  const int fd = memfd_create("journal", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    selvo::host::ReadJournal(
        path, [](const selvo::host::TJournalLineRef&, nlohmann::json&) {}, [](selvo::host::TSkippedLine) {});
  }
  close(fd);
  return 0;
}

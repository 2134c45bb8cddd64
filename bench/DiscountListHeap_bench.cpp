// The heap the loaded discount list holds, counted by this program's own
// allocation functions (a program of its own, so that the counting does not
// slow the timed benchmarks).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "bench/BenchShop.h"
#include "discounts/SelvoDiscountItemsU.h"

// Heap in use, counted by the global allocation functions of this program:
// bytes the allocator handed out (as malloc_usable_size tells) and blocks.
std::atomic<std::int64_t> gHeapBytes{0};
std::atomic<std::int64_t> gHeapBlocks{0};

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  gHeapBytes += static_cast<std::int64_t>(malloc_usable_size(p));
  ++gHeapBlocks;
  return p;
}
// operator new above takes its blocks from malloc, so free is the match
// (the compiler cannot see that).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (!p) return;
  gHeapBytes -= static_cast<std::int64_t>(malloc_usable_size(p));
  --gHeapBlocks;
  std::free(p);
}
#pragma GCC diagnostic pop
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace selvo;
using selvo::bench::LoadedModule;

// The heap the loaded list holds per card (cards, their texts and sequences,
// the selection index), beside the bytes of the texts it was loaded from: the
// name, the two discount list texts and the targets' decimal identifiers.
void BM_DiscountListHeap(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  LoadedModule module(cards);
  selvo::FillDiscountList();  // opens and fills the datasets, which stay
  std::int64_t bytes = 0, blocks = 0;
  for (auto _ : state) {
    DiscountList().Clear();
    const std::int64_t bytesBefore = gHeapBytes, blocksBefore = gHeapBlocks;
    selvo::FillDiscountList();
    bytes = gHeapBytes - bytesBefore;
    blocks = gHeapBlocks - blocksBefore;
  }
  std::int64_t textBytes = 0;
  for (std::int32_t i = 0; i < DiscountList().Count(); ++i) {
    const TDiscountItem& card = *DiscountList().GetItem(i);
    textBytes += static_cast<std::int64_t>(card.DiscountName.size() + card.EncodeThresholdList().size() +
                                           card.EncodeTimeList().size());
    for (const auto& text : card.Categories) textBytes += static_cast<std::int64_t>(text.size());
    for (const auto& text : card.Goods) textBytes += static_cast<std::int64_t>(text.size());
  }
  // Each block also costs the allocator its 8-byte header.
  state.counters["heap_per_card"] = static_cast<double>(bytes + 8 * blocks) / cards;
  state.counters["blocks_per_card"] = static_cast<double>(blocks) / cards;
  state.counters["index_per_card"] = static_cast<double>(DiscountList().IndexBytes()) / cards;
  state.counters["text_per_card"] = static_cast<double>(textBytes) / cards;
}
BENCHMARK(BM_DiscountListHeap)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

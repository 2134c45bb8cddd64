// A benchmark's fixture made before its timed part: a fixture that cannot
// be made (a server that does not start) skips the benchmark with the
// reason instead of ending the run.
#pragma once

#include <benchmark/benchmark.h>

#include <exception>
#include <utility>

// Runs `prepare`; false, with the benchmark skipped, when it raised.
template <class Prepare>
bool Prepared(benchmark::State& state, Prepare&& prepare) {
  try {
    std::forward<Prepare>(prepare)();
    return true;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return false;
  }
}

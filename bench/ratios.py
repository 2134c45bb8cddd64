#!/usr/bin/env python3
"""Runs the benchmarks that have a floor and prints each against its floor.

Usage: bench/ratios.py BUILD_DIR [--repetitions N]

Every ratio is taken within one run of one program (medians of the CPU time
of N repetitions, the repetitions of its benchmarks interleaved), so that a
machine shared with other work shifts both sides alike.
"""
import argparse
import json
import subprocess
import sys


def run(program, pattern, repetitions):
    out = subprocess.run(
        [program, f"--benchmark_filter={pattern}", "--benchmark_format=json",
         f"--benchmark_repetitions={repetitions}", "--benchmark_enable_random_interleaving=true",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    found = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median" or (repetitions == 1 and b.get("run_type") == "iteration"):
            found[plain_name(b["run_name"])] = b
    return found


def plain_name(run_name):
    """The name without the settings the library appends (min_time:2.000, iterations:8, real_time)."""
    return "/".join(part for part in run_name.split("/")
                    if part not in ("real_time", "manual_time") and not part.startswith(("min_time:", "iterations:", "repeats:")))


def ms(b, clock="cpu_time"):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b[clock] * scale


def real_ms(b):
    """For work done in other processes and threads (the till service)."""
    return ms(b, "real_time")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    bench = args.build.rstrip("/") + "/bench/"

    calc = run(bench + "bench_CalcDiscount", ".", args.repetitions)
    bare, read = ms(calc["BM_BareIniRead"]), ms(calc["BM_ReadBool"])
    print(f"BM_ReadBool / BM_BareIniRead             {read / bare:6.2f}   (at most 2)")
    print(f"BM_CalcDiscount/10/50 / BM_ReadBool       {ms(calc['BM_CalcDiscount/10/50']) / read:6.2f}   (at most 1.5)")
    for name, limit in (("BM_CalcDiscount/100/1000", 0.5), ("BM_CalcDiscount/500/10000", 10.0)):
        print(f"{name:<40} {ms(calc[name]):8.3f} ms (at most {limit} ms)")
    print("growth at 500 lines:")
    for cards in (1000, 10000, 100000):
        b = calc[f"BM_CalcDiscount/500/{cards}"]
        tests = b.get("card_tests", 0)
        per = ms(b) * 1e6 / tests if tests else 0
        print(f"  {cards:>6} cards  {ms(b):9.3f} ms  {tests:>9.0f} card tests  {per:6.1f} ns per card test")

    lists = run(bench + "bench_DiscountList", "BM_FillDiscountList/|BM_BareShopScan", args.repetitions)
    fill, scan = ms(lists["BM_FillDiscountList/10000"]), ms(lists["BM_BareShopScan/10000"])
    print(f"BM_FillDiscountList / BM_BareShopScan     {fill / scan:6.2f}   (at most 2; {fill:.1f} ms / {scan:.1f} ms)")

    heap = run(bench + "bench_DiscountListHeap", ".", 1)
    h = next(iter(heap.values()))
    print(f"heap per card {h['heap_per_card']:.0f} B (index {h['index_per_card']:.0f} B), "
          f"loaded texts {h['text_per_card']:.0f} B per card (at most twice that)")

    replay(bench + "bench_Replay")
    till_service(bench + "bench_TillService", args.repetitions)
    history_cost(bench + "bench_HistoryCost", args.repetitions)
    return 0


def replay(program):
    """One run: the replay of 1,000,000 sales takes seconds a thread."""
    b = run(program, ".", 1)
    two = ms(b["BM_TwoCalculationsPerSale"])
    for arg, what in (("1", "one thread"), ("0", "all cores")):
        r = b[f"BM_Replay1000000/{arg}"]
        threads = r["threads"]
        floor = two * r["sales"] / threads
        print(f"replay of 1,000,000 sales / its floor, {what} ({threads:.0f}) {real_ms(r) / floor:6.2f}   "
              f"(at most 3; {real_ms(r):.0f} ms real / {floor:.0f} ms)")
    print(f"selvo-host replay of 1,000,000 sales, peak memory {b['BM_ReplayProcessPeakMemory']['peak_mb']:.1f} MB "
          f"(at most 100 MB)")
    general, fast = ms(b["BM_ReadJournalLine/0"]), ms(b["BM_ReadJournalLine/1"])
    print(f"a journal line read: general reader / fast reader {general / fast:6.1f}   "
          f"({general * 1e3:.2f} us / {fast * 1e3:.2f} us)")


def till_service(program, repetitions):
    trip = run(program, "BM_ServiceCalc/|BM_HttpFloor|BM_CalcProcess|BM_SixteenTills/|BM_SixteenTillsFloor",
               repetitions)
    service, floor, process = (real_ms(trip[n]) for n in ("BM_ServiceCalc", "BM_HttpFloor", "BM_CalcProcess"))
    print(f"BM_ServiceCalc / BM_HttpFloor             {service / floor:6.2f}   "
          f"(at most 1.5; {service * 1e3:.0f} us / {floor * 1e3:.0f} us)")
    busy, bare = trip["BM_SixteenTills"]["sales_per_s"], trip["BM_SixteenTillsFloor"]["sales_per_s"]
    print(f"sixteen tills, sales per second / floor    {busy / bare:6.2f}   ({busy:.0f} / {bare:.0f})")
    print(f"BM_CalcProcess / BM_ServiceCalc        {process / service:8.0f}   "
          f"(at least 500; {process:.1f} ms / {service * 1e3:.0f} us)")

    four = run(program, "BM_FourTills", repetitions)["BM_FourTills"]
    print(f"four services, sales per second of the four: PostgreSQL {four['server_sales_per_s']:.0f}, "
          f"SQLite {four['file_sales_per_s']:.0f}")

    saves = run(program, "BM_SaveToNewSettings", repetitions)
    for name, db in (("File", "SQLite"), ("Server", "PostgreSQL")):
        b = saves[f"BM_SaveToNewSettings/{name}"]
        print(f"save to the first answer with the new settings, {db:<10} "
              f"median {b['median_ms']:6.1f} ms, p99 {b['p99_ms']:6.1f} ms (within 1 s)")


def history_cost(program, repetitions):
    saves = run(program, "BM_Save/", repetitions)
    for db in ("File", "Server"):
        with_version, without = saves[f"BM_Save/{db}/WithVersion"], saves[f"BM_Save/{db}/Without"]
        print(f"one-card save with its version / without, {db:<6} real {real_ms(with_version) / real_ms(without):5.2f}, "
              f"cpu {ms(with_version) / ms(without):5.2f}   (at most 1.2; "
              f"{real_ms(with_version):.2f} ms / {real_ms(without):.2f} ms real)")
    sizes = run(program, "BM_BytesPerVersion", 1)
    for db in ("File", "Server"):
        print(f"bytes per version of a one-card change, {db:<6} {sizes[f'BM_BytesPerVersion/{db}']['bytes_per_version']:6.0f}")
    loads = run(program, "BM_LoadSettings|BM_LoadCurrentWithoutHistory", repetitions)
    current = ms(loads["BM_LoadSettings/Current"])
    for name in ("VersionOne", "BeforeACopy"):
        b = loads[f"BM_LoadSettings/{name}"]
        print(f"load of version {b['version']:.0f} of {b['versions']:.0f} / current settings {ms(b) / current:5.2f}   "
              f"(at most 2; {ms(b):.2f} ms / {current:.2f} ms)")
    print(f"current settings / the same without the history {current / ms(loads['BM_LoadCurrentWithoutHistory']):5.2f}")
    print(f"the shop of {loads['BM_LoadSettings/Current']['versions']:.0f} versions: "
          f"{loads['BM_LoadSettings/Current']['file_mb']:.1f} MB (at most 50 MB)")


if __name__ == "__main__":
    sys.exit(main())

/*
 * wk1_to_orx on a file of 200,000 cells, one in five a formula, and
 * orx_to_wk1 on its result, in cells per second, against copy_file of the
 * WK1 file (the floor: the bytes have to be read and written once).
 */
#include "bench/bench_files.h"

#include <benchmark/benchmark.h>

namespace {

void BM_CopyFile(benchmark::State &state) {
    const std::string &src = bench::wk1_cells_file();
    const std::string dst = bench::scratch("copy.wk1");
    for (auto _ : state)
        if (copy_file(src.c_str(), dst.c_str()) != 0) state.SkipWithError("copy failed");
    state.SetItemsProcessed(state.iterations() * bench::kCells);
}

void BM_Wk1ToOrx(benchmark::State &state) {
    const std::string &src = bench::wk1_cells_file();
    const std::string dst = bench::scratch("converted.orx");
    bench::quiet();
    for (auto _ : state)
        if (wk1_to_orx(src.c_str(), dst.c_str()) != 0) state.SkipWithError("conversion failed");
    state.SetItemsProcessed(state.iterations() * bench::kCells);
}

// The ORX file wk1_to_orx makes of the WK1 file, made on first use.
const std::string &orx_cells_file() {
    static std::string path;
    if (!path.empty()) return path;
    path = bench::scratch("cells.orx");
    if (wk1_to_orx(bench::wk1_cells_file().c_str(), path.c_str()) != 0) path.clear();
    return path;
}

void BM_OrxToWk1(benchmark::State &state) {
    bench::quiet();
    const std::string &src = orx_cells_file();
    const std::string dst = bench::scratch("converted.wk1");
    for (auto _ : state)
        if (orx_to_wk1(src.c_str(), dst.c_str()) != 0) state.SkipWithError("conversion failed");
    state.SetItemsProcessed(state.iterations() * bench::kCells);
}

}  // namespace

BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wk1ToOrx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrxToWk1)->Unit(benchmark::kMillisecond);

/*
 * Recalculation speed of the calculation core, in formula cells per second,
 * on the 200,000-cell WK1 file of the conversion benchmark (one cell in five
 * a formula): the sheet loaded once, then recalculated whole, with the
 * natural order kept from the pass before (as on a sheet whose formulas did
 * not change) and built afresh each time; and wks_calc_file on a copy of
 * that file, read, computed and written back whole each time, against
 * wk1_to_orx of the same file (convert_bench.cpp; target within 3x).  The
 * calculation core is internal, so this program links the static archive.
 */
#include "bench/bench_files.h"
#include "calc/recalc.h"
#include "calc/records.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace wks::calc;

Sheet &bench_sheet() {
    static Sheet sheet;
    static bool loaded = false;
    if (loaded) return sheet;
    bench::quiet();
    WKS in;
    std::memset(&in, 0, sizeof in);
    if (!wksopen_wk1(&in, bench::wk1_cells_file().c_str(), "") || load_sheet(sheet, &in, Layout::kWk1) != WKS_OK)
        std::abort();
    wksclose_wk1(&in);
    loaded = true;
    return sheet;
}

void recalc(benchmark::State &state, bool fresh_order) {
    Sheet &sheet = bench_sheet();
    const Options options;
    RecalcReport report;
    for (auto _ : state) {
        if (fresh_order) sheet.set_order_valid(false);
        if (recalculate(sheet, options, &report) != WKS_OK) state.SkipWithError("recalculation failed");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(report.formulas));
}

void BM_Recalc(benchmark::State &state) { recalc(state, false); }
void BM_RecalcNewOrder(benchmark::State &state) { recalc(state, true); }

void BM_LoadSheet(benchmark::State &state) {
    bench::quiet();
    const std::string &path = bench::wk1_cells_file();
    for (auto _ : state) {
        Sheet sheet;
        WKS in;
        std::memset(&in, 0, sizeof in);
        if (!wksopen_wk1(&in, path.c_str(), "") || load_sheet(sheet, &in, Layout::kWk1) != WKS_OK)
            state.SkipWithError("cannot load");
        wksclose_wk1(&in);
    }
    state.SetItemsProcessed(state.iterations() * bench::kCells);
}

void BM_CalcFile(benchmark::State &state) {
    bench::quiet();
    const std::string path = bench::scratch("calc.wk1");
    if (copy_file(bench::wk1_cells_file().c_str(), path.c_str()) != 0) state.SkipWithError("cannot copy");
    for (auto _ : state)
        if (wks_calc_file(path.c_str(), 0, 1, nullptr, nullptr, nullptr) != 0) state.SkipWithError("calc failed");
    state.SetItemsProcessed(state.iterations() * bench::kCells);
}

}  // namespace

BENCHMARK(BM_CalcFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Recalc);
BENCHMARK(BM_RecalcNewOrder);
BENCHMARK(BM_LoadSheet);

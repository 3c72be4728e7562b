/*
 * wks_batch_files DIR COUNT CELLS: writes COUNT WK1 files of CELLS cells
 * each (f0001.wk1, ...) into DIR, for the timing of batch conversions in
 * scripts/bench.
 */
#include "bench/bench_files.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: wks_batch_files DIR COUNT CELLS\n");
        return 2;
    }
    const int count = std::atoi(argv[2]), cells = std::atoi(argv[3]);
    char name[32];
    for (int i = 1; i <= count; ++i) {
        std::snprintf(name, sizeof name, "/f%04d.wk1", i);
        bench::write_wk1_cells(argv[1] + std::string(name), cells, bench::kSheetColumns);
    }
    return 0;
}

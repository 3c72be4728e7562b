/*
 * wks_csv_files DIR: writes the files scripts/bench times 'wks csv' and the
 * other CSV converters on: cells.wk1, the 200,000 cells of the conversion
 * benchmark, and full.wk1, a sheet of 8192 rows by 256 columns.
 */
#include "bench/bench_files.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wks_csv_files DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bench::quiet();
    bench::write_wk1_cells(dir + "/cells.wk1", bench::kCells, bench::kSheetColumns);
    bench::write_wk1_cells(dir + "/full.wk1", bench::kFullRows * bench::kFullColumns, bench::kFullColumns);
    return 0;
}

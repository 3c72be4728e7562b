/*
 * What the benchmarks share: a scratch directory, a message handler that
 * keeps the library quiet, and the files the benchmarks read (made once per
 * run through the library itself).
 */
#ifndef WKS_BENCH_FILES_H
#define WKS_BENCH_FILES_H

#include "wks.h"

#include <string>

namespace bench {

constexpr int kSmallRecords = 1000000;  // records of the stream benchmarks
constexpr int kSmallBody = 18;          // an ORX integer cell: prefix, cell fields, 2-byte value
constexpr int kCells = 200000;          // cells of the conversion benchmark
constexpr int kSheetColumns = 25;       // the conversion file is 25 columns wide
constexpr int kFormulaEvery = 5;        // one cell in five is a formula
constexpr int kFullRows = 8192;         // a sheet filled to its last row and column
constexpr int kFullColumns = 256;

// The benchmarks' scratch directory (created on first use, removed at exit).
std::string scratch(const std::string &name);
// Silences the library's messages for the whole run.
void quiet();
// Fills rec with the ORX integer cell number i (row-major over 256 columns).
void small_record(WKS_RECORD &rec, int i);
// An ORX file of kSmallRecords small records, made on first use.
const std::string &small_records_file();
// Writes a WK1 file of `cells` cells filled row by row, `columns` to a row,
// every kFormulaEvery-th a formula, the others numbers.
void write_wk1_cells(const std::string &path, int cells, int columns);
// A WK1 file of kCells cells over kSheetColumns columns, made on first use.
const std::string &wk1_cells_file();

}  // namespace bench

#endif

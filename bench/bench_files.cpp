/*
 * Test files for the benchmarks, written with the library's own create,
 * write and formula calls, in a scratch directory removed at exit.
 */
#include "bench/bench_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {
namespace {

constexpr int kValue = WKS_ORX_CELL(WKS_CELL_VALUE);
constexpr int kColumns = 256;

std::string g_dir;

void remove_scratch() {
    if (!g_dir.empty()) std::system(("rm -rf '" + g_dir + "'").c_str());
}

int32_t ignore(const char *, const char *) { return 1; }

void cell_prefix(WKS_RECORD &rec, int type, int col, int row, int value_bytes) {
    std::memset(rec.body, 0, kValue);
    rec.body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    rec.body[WKS_ORX_CELL(WKS_CELL_FORMAT)] = 0xff;
    wksni(rec.body + WKS_ORX_CELL(WKS_CELL_COLUMN), static_cast<int16_t>(col));
    wksni(rec.body + WKS_ORX_CELL(WKS_CELL_ROW), static_cast<int16_t>(row));
    wksni(rec.type, static_cast<int16_t>(type));
    wksni(rec.length, static_cast<int16_t>(kValue + value_bytes));
}

[[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "bench: %s\n", what);
    std::exit(1);
}

}  // namespace

std::string scratch(const std::string &name) {
    if (g_dir.empty()) {
        char pattern[] = "/tmp/wksbench-XXXXXX";
        if (!mkdtemp(pattern)) die("cannot create a scratch directory");
        g_dir = pattern;
        std::atexit(remove_scratch);
    }
    return g_dir + "/" + name;
}

void quiet() { wks_set_message_handler(ignore); }

void small_record(WKS_RECORD &rec, int i) {
    cell_prefix(rec, WKS_INTEGER, i % kColumns, i / kColumns, 2);
    wksni(rec.body + kValue, static_cast<int16_t>(i));
}

const std::string &small_records_file() {
    static std::string path;
    if (!path.empty()) return path;
    path = scratch("small.orx");
    unsigned char header[WKS_HEADER_SIZE] = {};
    WKS h;
    std::memset(&h, 0, sizeof h);
    set_open_for_load(1);
    if (!SetOrxHeader(header) || !wksopen(&h, "", path.c_str())) die("cannot create the record file");
    for (int i = 0; i < kSmallRecords; ++i) {
        small_record(h.rec, i);
        if (wkswrec(&h) != 0) die("cannot write the record file");
    }
    if (wksclose(&h) != 0) die("cannot close the record file");
    return path;
}

void write_wk1_cells(const std::string &path, int cells, int columns) {
    static const char *const kFormulas[] = {"A1+B1*2", "@SUM(A1..C1)*2", "$A$1/B1", "@IF(A1>0,B1,C1)"};
    WKS out, cell;
    std::memset(&out, 0, sizeof out);
    std::memset(&cell, 0, sizeof cell);
    if (!wksopen_wk1(&out, "", path.c_str())) die("cannot create the WK1 file");
    for (int i = 0; i < cells; ++i) {
        const int col = i % columns, row = i / columns;
        if (i % kFormulaEvery == kFormulaEvery - 1) {
            cell_prefix(cell.rec, WKS_FORMULA, col, row, 0);
            if (wksform(&cell, ' ', static_cast<int16_t>(col), static_cast<int16_t>(row),
                        kFormulas[(i / kFormulaEvery) % 4]) != 0)
                die("a benchmark formula does not compile");
        } else {
            cell_prefix(cell.rec, WKS_NUMBER, col, row, 8);
            wksdi(cell.rec.body + kValue, i * 0.25);
        }
        if (orx_rec_to_wk1_rec(reinterpret_cast<unsigned char *>(&cell.rec),
                               reinterpret_cast<unsigned char *>(&out.rec)) != 0 ||
            wkswrec_wk1(&out) != 0)
            die("cannot write the WK1 file");
    }
    if (wksclose_wk1(&out) != 0) die("cannot close the WK1 file");
}

const std::string &wk1_cells_file() {
    static std::string path;
    if (!path.empty()) return path;
    path = scratch("cells.wk1");
    write_wk1_cells(path, kCells, kSheetColumns);
    return path;
}

}  // namespace bench

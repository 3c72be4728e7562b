// Whole-sheet recalculation (natural order, circular references, deep
// chains, a full sheet) and sheets read from and written back to record
// streams of both layouts, with their failures.
#include "calc/recalc.h"
#include "calc/records.h"
#include "calc_support.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstring>

namespace plat = wks::plat;

using namespace calctest;
using wkstest::Bytes;

namespace {

class Recalc : public wkstest::LibraryTest {};

double value(const Sheet &s, const char *a) {
    const Value v = s.value_at(at(a).col, at(a).row);
    return v.tag == Tag::kNumber ? v.number : -999999;
}

TEST_F(Recalc, PrecedentsComeFirstWhateverOrderTheFormulasStandIn) {
    Sheet s;
    formula(s, "A1", "B1+1");
    formula(s, "B1", "@SUM(C1..C3)");
    formula(s, "C2", "D1*2");
    number(s, "C1", 1), number(s, "C3", 2), number(s, "D1", 4);
    RecalcReport report;
    ASSERT_EQ(recalculate(s, Options{}, &report), WKS_OK);
    EXPECT_EQ(value(s, "A1"), 12);
    EXPECT_EQ(report.formulas, 3u);
    EXPECT_EQ(report.circular, 0u);
    EXPECT_EQ(report.passes, 1);

    // A changed number is seen; a formula replaced by a number leaves the order.
    number(s, "D1", 5);
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    EXPECT_EQ(value(s, "A1"), 14);
    number(s, "B1", 100);
    ASSERT_EQ(recalculate(s, Options{}, &report), WKS_OK);
    EXPECT_EQ(value(s, "A1"), 101);
    EXPECT_EQ(report.formulas, 2u);
}

TEST_F(Recalc, AChainOfAQuarterMillionFormulasNeedsNoDeepCallStack) {
    constexpr int kColumnsUsed = 32;
    Sheet s;
    const std::vector<unsigned char> down = compile("A2+1", at("A1"));
    const std::vector<unsigned char> next_column = compile("B1+1", at("A8192"));
    for (int c = 0; c < kColumnsUsed; ++c)
        for (int r = 0; r < kRows; ++r) {
            const auto &code = r == kRows - 1 ? next_column : down;
            ASSERT_EQ(s.set_formula(c, r, 0, code.data(), code.size(), 0), WKS_OK);
        }
    ASSERT_EQ(s.set_number(kColumnsUsed, 0, 0, 0.5), WKS_OK);
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    EXPECT_EQ(value(s, "A1"), kColumnsUsed * kRows + 0.5);
}

TEST_F(Recalc, CircularReferencesAreReportedAndIterated) {
    const struct {
        int iterations, passes;
        double want;
    } rows[] = {{1, 1, 1.5}, {2, 2, 1.41666666666666667}, {0, 1, 1.5}, {50, 50, 1.41421356237309515}, {1000, 50, 1.41421356237309515}};
    for (const auto &row : rows) {
        Sheet s;
        formula(s, "A1", "(A1+2/A1)/2", 1.0);  // the stored value starts the iteration
        formula(s, "B1", "A1*2");
        Options o;
        o.iterations = row.iterations;
        RecalcReport report;
        ASSERT_EQ(recalculate(s, o, &report), WKS_OK);
        EXPECT_DOUBLE_EQ(value(s, "A1"), row.want) << row.iterations;
        EXPECT_DOUBLE_EQ(value(s, "B1"), 2 * row.want);
        EXPECT_EQ(report.passes, row.passes);
        ASSERT_EQ(s.circular().size(), 1u);
        EXPECT_EQ(s.formula(s.circular()[0]).col, 0);
    }

    Sheet s;  // a two-cell cycle, a cell that only depends on it, a range into it
    formula(s, "B1", "C1+1");
    formula(s, "C1", "B1+1");
    formula(s, "D1", "B1");
    formula(s, "E1", "@SUM(E2..E3)");
    formula(s, "E3", "E1");
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    std::vector<std::string> circular;
    for (std::size_t i = 0; i < s.circular().size(); ++i) {
        const Formula &f = s.formula(s.circular()[i]);
        circular.push_back(std::string(1, static_cast<char>('A' + f.col)) + std::to_string(f.row + 1));
    }
    std::sort(circular.begin(), circular.end());
    EXPECT_EQ(circular, (std::vector<std::string>{"B1", "C1", "E1", "E3"}));
    EXPECT_EQ(value(s, "D1"), value(s, "B1"));
}

// Only calculation shows which cell @@ and @CELLPOINTER read; a formula they
// read is still calculated first, whatever value the file stored for it.
TEST_F(Recalc, FormulasReadThroughAtAtOrTheCellPointerComeFirst) {
    Sheet s;
    formula(s, "A1", "@@(\"A2\")+1", 7);
    formula(s, "A2", "@@(\"A3\")+1", 7);
    formula(s, "A3", "B1*2", 7);
    formula(s, "A4", "@CELLPOINTER(\"contents\")", 7);
    formula(s, "A5", "@@(\"A5\")+1", 7);  // reads itself: circular
    number(s, "B1", 5);
    Options o;
    o.pointer_row = 2;  // A3
    RecalcReport report;
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(recalculate(s, o, &report), WKS_OK);
        EXPECT_EQ(value(s, "A1"), 12);
        EXPECT_EQ(value(s, "A2"), 11);
        EXPECT_EQ(value(s, "A4"), 10);
        ASSERT_EQ(s.circular().size(), 1u);
        EXPECT_EQ(s.formula(s.circular()[0]).row, 4);
    }
    EXPECT_EQ(report.passes, 1);  // the order found in the first run is kept
}

TEST_F(Recalc, AFullSheetTakesMemoryInProportionToItsCells) {
    Sheet s;
    const std::vector<unsigned char> sum = compile("@SUM(A1..A8191)", at("A8192"));
    for (int c = 0; c < kColumns; ++c) {
        for (int r = 0; r < kRows - 1; ++r) ASSERT_EQ(s.set_number(c, r, 0, 1), WKS_OK);
        ASSERT_EQ(s.set_formula(c, kRows - 1, 0, sum.data(), sum.size(), 0), WKS_OK);
    }
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    EXPECT_EQ(value(s, "IV8192"), kRows - 1);
    const std::size_t cells = static_cast<std::size_t>(kColumns) * kRows;
    EXPECT_LE(s.memory_bytes(), 2 * cells * sizeof(Cell) + (1u << 20));
}

// --- record streams ----------------------------------------------------------

struct FileCell {
    uint16_t type;
    const char *where;
    Bytes value;
};

Bytes f64(double v) {
    Bytes b;
    wkstest::put_double(b, v);
    return b;
}
Bytes text(const char *t) {
    Bytes b(t, t + std::strlen(t));
    b.push_back(0);
    return b;
}
Bytes formula_value(double stored, const char *source, const char *where) {
    Bytes b = f64(stored);
    const std::vector<unsigned char> code = compile(source, at(where));
    b.insert(b.end(), code.begin(), code.end());
    return b;
}

class Streams : public wkstest::LibraryTest, public ::testing::WithParamInterface<Layout> {
protected:
    Bytes cell(const FileCell &c) {
        const Addr a = at(c.where);
        const auto col = static_cast<int16_t>(a.col), row = static_cast<int16_t>(a.row);
        return wkstest::record(c.type, GetParam() == Layout::kOrx ? wkstest::orx_cell_body(0x71, col, row, c.value)
                                                                  : wkstest::wk1_cell_body(0x71, col, row, c.value));
    }
    Bytes file(const std::vector<Bytes> &records) {
        Bytes out = GetParam() == Layout::kOrx ? wkstest::header_block() : Bytes{};
        out = wkstest::concat({out, wkstest::bof()});
        for (const Bytes &r : records) out = wkstest::concat({out, r});
        return wkstest::concat({out, wkstest::eof()});
    }
    WKS *open_in(WKS &h, const std::string &path) {
        h = wkstest::blank_handle();
        return GetParam() == Layout::kOrx ? wksopen(&h, path.c_str(), "") : wksopen_wk1(&h, path.c_str(), "");
    }
    int16_t close(WKS &h) { return GetParam() == Layout::kOrx ? wksclose(&h) : wksclose_wk1(&h); }

    int16_t load(Sheet &s, const std::string &path, LoadReport *report = nullptr) {
        WKS in;
        if (!open_in(in, path)) return -1;
        const int16_t got = load_sheet(s, &in, GetParam(), report);
        close(in);
        return got;
    }
    // The file's bytes as wks_calc_file holds them, loaded into s.
    int16_t load(Sheet &s, FileImage &image, const Bytes &bytes, LoadReport *report = nullptr) {
        image.bytes.append(bytes.data(), bytes.size());
        image.records = (GetParam() == Layout::kOrx ? WKS_HEADER_SIZE : 0) + 6;
        return load_image(s, image, GetParam(), report);
    }
    // write_image to path, one write per record.
    int16_t write(const Sheet &s, const FileImage &image, const std::string &path) {
        const int32_t fd = plat::open(path.c_str(), plat::kCreateWrite, plat::kPermReadWrite);
        wks::BlockWriter out;
        out.start(fd, nullptr, 0);
        const int16_t got = write_image(s, image, GetParam(), out);
        plat::close(fd);
        return got;
    }
};

TEST_P(Streams, ComputedValuesGoBackIntoTheFormulaRecords) {
    const Bytes colw = wkstest::record(8, Bytes{1, 0, 15});
    const std::vector<FileCell> cells = {
        {WKS_NUMBER, "A1", f64(2.5)},
        {WKS_INTEGER, "A2", Bytes{3, 0}},
        {WKS_LABEL, "A3", text("'x")},
        {WKS_FORMULA, "A4", formula_value(0, "A1*A2", "A4")},
        {WKS_FORMULA, "A5", formula_value(0, "A3&\"y\"", "A5")},
        {WKS_STRING, "A5", text("old")},
        {WKS_FORMULA, "A6", formula_value(0, "@NA", "A6")},
        {WKS_FORMULA, "A7", formula_value(0, "1/0", "A7")},
        {WKS_FORMULA, "A8", formula_value(0, "@CELL(\"width\",B1)", "A8")},
        {WKS_BLANK, "B1", {}},
    };
    std::vector<Bytes> records = {colw};
    for (const FileCell &c : cells) records.push_back(cell(c));
    const std::string out_path = dir.file("out");

    Sheet s;
    FileImage image;
    LoadReport report;
    ASSERT_EQ(load(s, image, file(records), &report), WKS_OK);
    EXPECT_EQ(report.cells, 9u);  // the string record is no cell
    EXPECT_EQ(report.formulas, 5u);
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    ASSERT_EQ(write(s, image, out_path), WKS_OK);

    // The same records, each formula with its value, the string after its formula.
    const double err = stored_field(Result{Tag::kErr, 0, {0}}), na = stored_field(Result{Tag::kNa, 0, {0}});
    const double mark = stored_field(Result{Tag::kString, 0, {0}});
    const std::vector<FileCell> want = {
        cells[0], cells[1], cells[2],
        {WKS_FORMULA, "A4", formula_value(7.5, "A1*A2", "A4")},
        {WKS_FORMULA, "A5", formula_value(mark, "A3&\"y\"", "A5")},
        {WKS_STRING, "A5", text("xy")},
        {WKS_FORMULA, "A6", formula_value(na, "@NA", "A6")},
        {WKS_FORMULA, "A7", formula_value(err, "1/0", "A7")},
        {WKS_FORMULA, "A8", formula_value(15, "@CELL(\"width\",B1)", "A8")},
        cells[9],
    };
    std::vector<Bytes> want_records = {colw};
    for (const FileCell &c : want) want_records.push_back(cell(c));
    const Bytes expected = file(want_records);
    const Bytes got = wkstest::read_file(out_path);
    EXPECT_EQ(wkstest::hex(got), wkstest::hex(expected));

    // Read back, the stored values are what was computed.
    Sheet back;
    ASSERT_EQ(load(back, out_path), WKS_OK);
    for (uint32_t i = 0; i < back.formula_count(); ++i)
        EXPECT_TRUE(same_result(back, back.formula(i).stored, back.formula(i).value, 0));
    EXPECT_TRUE(is(back.value_at(0, 4), S("xy")));
    EXPECT_TRUE(is(back.value_at(0, 5), NA));
    EXPECT_TRUE(is(back.value_at(0, 6), ERR));
}

TEST_P(Streams, RecordsThatCannotBeCellsAreSkipped) {
    const std::vector<Bytes> records = {
        wkstest::record(WKS_NUMBER, GetParam() == Layout::kOrx ? Bytes(12, 0) : Bytes{0, 0}),  // no cell fields
        cell({WKS_NUMBER, "A1", Bytes{1, 2, 3}}),                        // value cut short
        cell({WKS_FORMULA, "A2", Bytes{0, 0, 0, 0, 0, 0, 0, 0, 9}}),    // no code length word
        cell({WKS_INTEGER, "A3", Bytes{5, 0}}),
        cell({WKS_FORMULA, "A4", wkstest::concat({f64(1), Bytes{2, 0, 25, 3}})}),  // malformed code: kept, ERR
    };
    wkstest::write_file(dir.file("in"), file(records));
    Sheet s;
    LoadReport report;
    ASSERT_EQ(load(s, dir.file("in"), &report), WKS_OK);
    EXPECT_EQ(report.cells, 2u);
    EXPECT_EQ(report.skipped, 3u);
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    EXPECT_TRUE(is(s.value_at(0, 3), ERR));

    EXPECT_EQ(s.set_number(256, 0, 0, 1), WKS_E_COLUMN_RANGE);
    EXPECT_EQ(s.set_label(0, 8192, 0, "x", 1), WKS_E_ROW_RANGE);
}

TEST_P(Streams, FailuresAreReportedAndLeaveNothingBehind) {
    const std::vector<Bytes> records = {cell({WKS_NUMBER, "A1", f64(2)}), cell({WKS_FORMULA, "A2", formula_value(0, "A1&\"\"", "A2")}),
                                        cell({WKS_FORMULA, "A3", formula_value(0, "@REPEAT(\"ab\",9)", "A3")})};
    const Bytes whole = file(records);
    wkstest::write_file(dir.file("in"), whole);
    wkstest::write_file(dir.file("cut"), Bytes(whole.begin(), whole.end() - 6));  // no EOF record
    Sheet cut, cut_image;
    EXPECT_EQ(load(cut, dir.file("cut")), WKS_E_READ);
    FileImage image_cut;
    EXPECT_EQ(load(cut_image, image_cut, Bytes(whole.begin(), whole.end() - 6)), WKS_E_READ);

    // Every allocation of loading and recalculating fails in turn.
    for (int n = 1;; ++n) {
        WKS in;
        ASSERT_TRUE(open_in(in, dir.file("in")));
        const long heap = plat::live_allocations();
        int16_t got;
        {
            Sheet s;
            plat::fail_nth(plat::Op::Alloc, n);
            got = load_sheet(s, &in, GetParam());
            if (got == WKS_OK) got = recalculate(s, Options{});
            plat::clear_faults();
            if (got == WKS_OK) EXPECT_TRUE(is(s.value_at(0, 2), S("ababababababababab")));
            else EXPECT_EQ(got, WKS_E_NO_FORMULA_MEMORY) << n;
        }
        EXPECT_EQ(plat::live_allocations(), heap) << n;
        close(in);
        if (got == WKS_OK) break;
        ASSERT_LT(n, 100);
    }

    Sheet s;
    FileImage image;
    ASSERT_EQ(load(s, image, whole), WKS_OK);
    ASSERT_EQ(recalculate(s, Options{}), WKS_OK);
    for (int n = 1; n <= 5; ++n) {  // the header and BOF, the first record, a formula, its string record, the EOF
        plat::fail_nth(plat::Op::Write, n);
        EXPECT_EQ(write(s, image, dir.file("out")), WKS_E_WRITE) << n;
        plat::clear_faults();
    }
    EXPECT_EQ(messages.count(), 7u);  // two read errors and five write errors
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, Streams, ::testing::Values(Layout::kWk1, Layout::kOrx),
                         [](const ::testing::TestParamInfo<Layout> &p) { return p.param == Layout::kOrx ? "Orx" : "Wk1"; });

}  // namespace

// wks_calc_file as a host calls it: the values written into a file in
// place with everything else kept, the visitor's view, checking only, and
// the failures that must leave the file and the host's state alone.
#include "support/test_support.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace wkstest;
namespace fs = std::filesystem;

namespace {

struct Visited {
    std::string cell, stored, computed;
    int32_t marks;
    bool operator==(const Visited &o) const {
        return cell == o.cell && stored == o.stored && computed == o.computed && marks == o.marks;
    }
};

std::string shown(const WKS_VALUE &v) {
    switch (v.kind) {
    case WKS_VALUE_NUMBER: return std::to_string(v.number);
    case WKS_VALUE_STRING: return std::string("\"") + v.text + "\"";
    case WKS_VALUE_NA: return "NA";
    default: return "ERR";
    }
}

extern "C" void collect(void *context, int16_t col, int16_t row, const WKS_VALUE *stored, const WKS_VALUE *computed,
                        int32_t marks) {
    static_cast<std::vector<Visited> *>(context)->push_back(
        {std::string(1, static_cast<char>('A' + col)) + std::to_string(row + 1), shown(*stored), shown(*computed), marks});
}

Bytes value_bytes(double v) {
    Bytes b;
    put_double(b, v);
    return b;
}

class CalcFile : public LibraryTest {
protected:
    // A cell record of the file's layout.
    Bytes cell(bool orx, uint16_t type, int16_t col, int16_t row, const Bytes &value) {
        return record(type, orx ? orx_cell_body(0xFF, col, row, value) : wk1_cell_body(0xFF, col, row, value));
    }
    // A formula record: its stored value, then its code compiled for the cell.
    Bytes formula(bool orx, int16_t col, int16_t row, const char *text, double stored) {
        Bytes code(512);
        EXPECT_EQ(wksfe(0, col, row, text, code.data(), static_cast<int32_t>(code.size())), 0) << text;
        code.resize(2u + (code[0] | code[1] << 8));
        return cell(orx, WKS_FORMULA, col, row, concat({value_bytes(stored), code}));
    }
    Bytes text(const char *s) { return Bytes(s, s + std::strlen(s) + 1); }
    // tail: bytes after the EOF record.
    std::string file(bool orx, const std::vector<Bytes> &records, const Bytes &tail = {}) {
        const std::string path = dir.file(orx ? "book.orx" : "book.wk1");
        Bytes all = orx ? concat({header_block(9), bof(1028)}) : bof(1028);  // not the version the name gives
        for (const Bytes &r : records) all = concat({all, r});
        write_file(path, concat({all, eof(), tail}));
        return path;
    }
};

TEST_F(CalcFile, ValuesGoIntoTheFileInPlaceAndNothingElseChanges) {
    const double err = INFINITY, na = -INFINITY, mark = NAN;  // the value fields of ERR, NA and a string
    const uint64_t other_mark_bits = 0x7FF8000000000123u;     // a string mark another program wrote
    double other_mark;
    std::memcpy(&other_mark, &other_mark_bits, sizeof other_mark);
    // An unchanged string value keeps its record and its string record byte
    // for byte (here a byte after the NUL), and so do the bytes after EOF.
    const Bytes unchanged_string = {'a', 'b', 0, 'z'}, tail = {0x55, 1, 2, 0, 0};
    for (const bool orx : {false, true}) {
        SCOPED_TRACE(orx ? "ORX" : "WK1");
        // The host's own header block, header mode and range names.
        const Bytes host_block = header_block(3);
        ASSERT_TRUE(SetOrxHeader(host_block.data()));
        ASSERT_EQ(wksir(5, "HOST", 0, 0, 0, 0), 0);
        set_open_for_load(1);
        const Bytes name = record(WKS_RANGE_NAME, range_name_body("RATE", 1, 0, 1, 0)), other = record(99, {7, 8});
        const std::string path = file(orx, {name, other, cell(orx, WKS_INTEGER, 0, 0, {4, 0}),
                                            cell(orx, WKS_NUMBER, 1, 0, value_bytes(0.5)),
                                            formula(orx, 0, 1, "A1*B1", 0), formula(orx, 1, 1, "\"x\"&\"y\"", mark),
                                            cell(orx, WKS_STRING, 1, 1, text("old")),
                                            formula(orx, 2, 1, "@@(\"rate\")*2", 0), formula(orx, 3, 1, "@NA", 0),
                                            formula(orx, 4, 1, "1/0", 0), formula(orx, 5, 1, "2+2", 4),
                                            formula(orx, 6, 1, "\"a\"&\"b\"", other_mark),
                                            cell(orx, WKS_STRING, 6, 1, unchanged_string),
                                            formula(orx, 0, 2, "@NOW", 0)},
                                       tail);
        std::vector<Visited> seen;
        WKS_CALC summary{};
        ASSERT_EQ(wks_calc_file(path.c_str(), WKS_CALC_REPRODUCIBLE, 1, collect, &seen, &summary), 0);

        const Bytes want = concat({orx ? header_block(9) : Bytes(), bof(1028), name, other,
                                   cell(orx, WKS_INTEGER, 0, 0, {4, 0}), cell(orx, WKS_NUMBER, 1, 0, value_bytes(0.5)),
                                   formula(orx, 0, 1, "A1*B1", 2), formula(orx, 1, 1, "\"x\"&\"y\"", mark),
                                   cell(orx, WKS_STRING, 1, 1, text("xy")), formula(orx, 2, 1, "@@(\"rate\")*2", 1),
                                   formula(orx, 3, 1, "@NA", na), formula(orx, 4, 1, "1/0", err),
                                   formula(orx, 5, 1, "2+2", 4), formula(orx, 6, 1, "\"a\"&\"b\"", other_mark),
                                   cell(orx, WKS_STRING, 6, 1, unchanged_string), formula(orx, 0, 2, "@NOW", 32874.5),
                                   eof(), tail});
        EXPECT_EQ(hex(read_file(path)), hex(want));
        const int32_t d = WKS_FORMULA_DIFFERS;
        EXPECT_EQ(seen, (std::vector<Visited>{{"A2", "0.000000", "2.000000", d},
                                              {"B2", "\"old\"", "\"xy\"", d},
                                              {"C2", "0.000000", "1.000000", d},
                                              {"D2", "0.000000", "NA", d},
                                              {"E2", "0.000000", "ERR", d},
                                              {"F2", "4.000000", "4.000000", 0},
                                              {"G2", "\"ab\"", "\"ab\"", 0},
                                              {"A3", "0.000000", "32874.500000", d}}));
        EXPECT_EQ(summary.formulas, 8);
        EXPECT_EQ(summary.differences, 6);
        EXPECT_EQ(summary.passes, 1);

        // The host's state as it was: its block still waiting, load mode, its
        // names alone in the table, and no prefix of the file's names.
        Bytes got(WKS_HEADER_SIZE);
        EXPECT_EQ(GetOrxHeader(got.data()), 1);
        EXPECT_EQ(got, host_block);
        WKS h = blank_handle();
        write_file(dir.file("probe.orx"), concat({header_block(1), bof(1030), eof()}));
        ASSERT_TRUE(wksopen(&h, dir.file("probe.orx").c_str(), ""));
        wksclose(&h);
        EXPECT_EQ(GetOrxHeader(got.data()), 1) << "load mode";
        WKS_NAME *first = wksgf();
        ASSERT_NE(first, nullptr);
        EXPECT_STREQ(first->name, "HOST");
        EXPECT_EQ(wksgn(), nullptr);
        EXPECT_EQ(wkslp("RA"), 0);
        EXPECT_EQ(messages.count(), 0u);
        reset_library_state();
    }
}

TEST_F(CalcFile, CheckingWritesNothingAndCircularFormulasAreMarked) {
    const std::string path = file(false, {formula(false, 0, 0, "B1+1", 0), formula(false, 1, 0, "A1", 0),
                                          formula(false, 2, 0, "A1*0", 0)});
    const Bytes before = read_file(path);
    const int32_t both = WKS_FORMULA_DIFFERS | WKS_FORMULA_CIRCULAR;
    const int32_t iterations_passes[][2] = {{0, 1}, {3, 3}, {99, 50}};
    for (const auto [iterations, passes] : iterations_passes) {
        const std::string value = std::to_string(static_cast<double>(passes));
        std::vector<Visited> seen;
        WKS_CALC summary{};
        ASSERT_EQ(wks_calc_file(path.c_str(), WKS_CALC_CHECK, iterations, collect, &seen, &summary), 0);
        EXPECT_EQ(seen, (std::vector<Visited>{{"A1", "0.000000", value, both},
                                              {"B1", "0.000000", value, both},
                                              {"C1", "0.000000", "0.000000", 0}}));
        EXPECT_EQ(summary.circular, 2);
        EXPECT_EQ(summary.passes, passes);
    }
    EXPECT_EQ(read_file(path), before);
}

TEST_F(CalcFile, FailuresLeaveTheFileAsItWas) {
    const std::string book = file(true, {formula(true, 0, 0, "1+1", 0)});
    const Bytes whole = read_file(book);
    write_file(dir.file("cut.orx"), Bytes(whole.begin(), whole.end() - 4));  // no EOF record
    write_file(dir.file("text.wk1"), {'n', 'o', 't', ' ', 'a', ' ', 's', 'h', 'e', 'e', 't', '\n'});
    write_file(dir.file("locked.orx"), whole);
    fs::permissions(dir.file("locked.orx"), fs::perms::owner_read);
    fs::create_directory(dir.file("folder.wk1"));
    const Bytes host_block = header_block(3);
    const struct {
        const char *path;
        int16_t code;
        std::size_t shown;
    } cases[] = {
        {nullptr, WKS_E_OPEN, 0},
        {"", WKS_E_OPEN, 0},
        {"missing.orx", WKS_E_OPEN, 0},
        {"text.wk1", WKS_E_OPEN, 0},
        {"folder.wk1", WKS_E_OPEN, 0},
        {"locked.orx", WKS_E_OPEN, 0},
        {"cut.orx", WKS_E_READ, 1},
    };
    for (const auto &c : cases) {
        const std::string label = c.path ? c.path : "(null)";
        const std::string path = c.path && c.path[0] ? dir.file(c.path) : "";
        const Bytes before = file_exists(path) && !fs::is_directory(path) ? read_file(path) : Bytes();
        ASSERT_TRUE(SetOrxHeader(host_block.data()));
        messages.clear();
        EXPECT_EQ(wks_calc_file(c.path ? path.c_str() : nullptr, 0, 1, nullptr, nullptr, nullptr), c.code) << label;
        EXPECT_EQ(messages.count(), c.shown) << label;
        if (!before.empty()) {
            EXPECT_EQ(read_file(path), before) << label;
        }
        Bytes got(WKS_HEADER_SIZE);
        EXPECT_EQ(GetOrxHeader(got.data()), 1) << label;
        EXPECT_EQ(got, host_block) << label;
    }
    EXPECT_EQ(wks_calc_file(dir.file("locked.orx").c_str(), WKS_CALC_CHECK, 1, nullptr, nullptr, nullptr), 0);
    fs::permissions(dir.file("locked.orx"), fs::perms::owner_all);
}

}  // namespace

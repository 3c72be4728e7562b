/*
 * Tests of the wks command-line tool: each runs the built program (its path
 * comes from the build as WKS_TOOL_PATH) on files made here, by the library
 * or byte by byte, and checks its exit status, standard output and standard
 * error.
 */
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using namespace wkstest;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string quoted(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string text_of(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class Tool : public ::testing::Test {
protected:
    TempDir dir;

    Result wks(const std::vector<std::string> &args, const std::string &input = "/dev/null") {
        std::string command = quoted(WKS_TOOL_PATH);
        for (const std::string &a : args) command += " " + quoted(a);
        const std::string out = dir.file("stdout"), err = dir.file("stderr");
        command += " <" + quoted(input) + " >" + quoted(out) + " 2>" + quoted(err);
        Result r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = text_of(out);
        r.err = text_of(err);
        return r;
    }

    // Imports csv text into a file of the given name; the import must succeed.
    std::string imported(const std::string &csv, const std::string &name) {
        write_text(dir.file("in.csv"), csv);
        const Result r = wks({"import", dir.file("in.csv"), dir.file(name)});
        EXPECT_EQ(r.status, 0) << r.err;
        return dir.file(name);
    }

    // The formula code of text for a cell, from the tool's compile.
    Bytes compiled(const std::string &cell, const std::string &text) {
        const Result r = wks({"compile", "--at", cell, text});
        EXPECT_EQ(r.status, 0) << r.err;
        Bytes code;
        for (std::size_t i = 0; i + 1 < r.out.size(); i += 2)
            code.push_back(static_cast<uint8_t>(std::stoi(r.out.substr(i, 2), nullptr, 16)));
        return code;
    }

    // An ORX file made of the given records between BOF and EOF.
    std::string orx_file(const std::string &name, const std::vector<Bytes> &records) {
        Bytes all = concat({header_block(), bof(1030)});
        for (const Bytes &r : records) all.insert(all.end(), r.begin(), r.end());
        const Bytes end = eof();
        all.insert(all.end(), end.begin(), end.end());
        write_file(dir.file(name), all);
        return dir.file(name);
    }
};

const char kSheet[] =
    "Item,Qty,Price,Total\n"
    "Apples,12,0.45,=B2*C2\n"
    "\"Figs, dried\",2,3.2,=$B$3*C3\n"
    "Sum,=@SUM(B2..B3),,=@SUM(D2..D3)\n";

Bytes number_body(double v) {
    Bytes b;
    put_double(b, v);
    return b;
}

// A formula's value area: its stored value, then its code.
Bytes formula_value(const Bytes &code, double stored = 0) {
    Bytes b = number_body(stored);
    b.insert(b.end(), code.begin(), code.end());
    return b;
}

Bytes window1(uint8_t default_format) {
    Bytes body(31, 0);
    body[4] = default_format;
    body[6] = 9;  // column width
    return record(7, body);
}

}  // namespace

TEST_F(Tool, ImportedSheetReadsBackInEveryForm) {
    struct Case {
        std::string name;
        std::size_t start;  // of the records
        const char *first;  // their first bytes: a WK1 file's BOF and RANGE (A1..D4), as its signature wants
    };
    for (const Case &c : {Case{"sheet.orx", WKS_HEADER_SIZE, "00 00 02 00 06 04 0F 00"},
                          Case{"sheet.WK1", 0, "00 00 02 00 06 04 06 00 08 00 00 00 00 00 03 00 03 00"}}) {
        const std::string &name = c.name;
        SCOPED_TRACE(name);
        const std::string file = imported(kSheet, name);
        const Bytes bytes = read_file(file);
        const std::size_t n = (std::strlen(c.first) + 1) / 3;
        ASSERT_GE(bytes.size(), c.start + n);
        EXPECT_EQ(hex(bytes.data() + c.start, n), c.first);
        const std::size_t k = c.start == 0;  // the RANGE record comes first

        Result info = wks({"info", file});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_TRUE(has(info.out, name == "sheet.orx" ? "format: ORX" : "format: WK1")) << info.out;
        EXPECT_TRUE(has(info.out, name == "sheet.orx" ? "header block: yes" : "header block: no"));
        EXPECT_TRUE(has(info.out, "BOF version: 1030"));
        EXPECT_TRUE(has(info.out, "cells: 15\nformulas: 4\n")) << info.out;
        EXPECT_TRUE(has(info.out, "used range: A1..D4"));
        EXPECT_TRUE(has(info.out, "  FORMULA (16): 4"));
        EXPECT_TRUE(has(info.out, "  INTEGER (13): 2"));
        EXPECT_EQ(info.err, "");

        // Every formula stores the value it computes to.
        const Result check = wks({"calc", "--check", file});
        EXPECT_EQ(check.status, 0) << check.err;
        EXPECT_EQ(check.out, file + ": 4 formulas, no differences\n");

        Result csv = wks({"csv", file});
        ASSERT_EQ(csv.status, 0) << csv.err;
        EXPECT_EQ(csv.out, "Item,Qty,Price,Total\n"
                           "Apples,12,0.45,=B2*C2\n"
                           "\"Figs, dried\",2,3.2,=$B$3*C3\n"
                           "Sum,=@SUM(B2..B3),,=@SUM(D2..D3)\n");

        Result dump = wks({"dump", file});
        ASSERT_EQ(dump.status, 0) << dump.err;
        const auto lines = lines_of(dump.out);
        ASSERT_EQ(lines.size(), 17u + k) << dump.out;
        EXPECT_EQ(lines[0], "0 BOF(0) len=2 version=1030");
        EXPECT_TRUE(has(lines[6 + k], "INTEGER(13)") && has(lines[6 + k], "B2 fmt=ff integer 12")) << lines[6 + k];
        EXPECT_TRUE(has(lines[7 + k], "C2 fmt=ff number 0.45")) << lines[7 + k];
        EXPECT_TRUE(has(lines[8 + k], "D2 fmt=ff formula B2*C2 value 5.4")) << lines[8 + k];  // computed
        EXPECT_TRUE(has(lines[9 + k], "label \"'Figs, dried\"")) << lines[9 + k];
        EXPECT_EQ(lines[16 + k], std::to_string(16 + k) + " EOF(1) len=0");

        Result json = wks({"dump", "--json", file});
        ASSERT_EQ(json.status, 0) << json.err;
        const auto objects = lines_of(json.out);
        ASSERT_EQ(objects.size(), 17u + k);
        EXPECT_EQ(objects[8 + k].substr(0, 1), "{");
        EXPECT_TRUE(has(objects[8 + k], "\"kind\":\"formula\",\"cell\":\"D2\",\"col\":3,\"row\":1,\"format\":255,"
                                    "\"text\":\"B2*C2\",\"value\":5.4,\"code\":\"0c0001febf008001ffbf00800b03\"}"))
            << objects[8 + k];
        EXPECT_TRUE(has(objects[0], "\"kind\":\"bof\",\"version\":1030"));
    }
}

TEST_F(Tool, ImportChoosesCellKindsFromTheText) {
    const std::string file = imported(
        "\xEF\xBB\xBF" "32767,-32768,32768,1.0,2e3,-0.5,.5\n"
        "'quoted,+A1,=,12a,-,\"two\r\nlines\"\r\n"
        ",,\"say \"\"hi\"\"\"\n",
        "kinds.orx");
    const Result json = wks({"dump", "--json", file});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto o = lines_of(json.out);
    ASSERT_EQ(o.size(), 16u) << json.out;
    EXPECT_TRUE(has(o[1], "\"kind\":\"integer\"") && has(o[1], "\"value\":32767")) << o[1];
    EXPECT_TRUE(has(o[2], "\"kind\":\"integer\"") && has(o[2], "\"value\":-32768")) << o[2];
    EXPECT_TRUE(has(o[3], "\"kind\":\"number\"") && has(o[3], "\"value\":32768")) << o[3];
    EXPECT_TRUE(has(o[4], "\"kind\":\"number\"") && has(o[4], "\"value\":1}")) << o[4];
    EXPECT_TRUE(has(o[5], "\"kind\":\"number\"") && has(o[5], "\"value\":2000")) << o[5];
    EXPECT_TRUE(has(o[6], "\"value\":-0.5")) << o[6];
    EXPECT_TRUE(has(o[7], "\"value\":0.5")) << o[7];
    EXPECT_TRUE(has(o[8], "\"kind\":\"label\"") && has(o[8], "\"value\":\"'quoted\"")) << o[8];
    EXPECT_TRUE(has(o[9], "\"kind\":\"formula\"") && has(o[9], "\"text\":\"+A1\"")) << o[9];
    EXPECT_TRUE(has(o[10], "\"kind\":\"formula\"") && has(o[10], "\"text\":\"\"")) << o[10];
    EXPECT_TRUE(has(o[11], "\"value\":\"'12a\"")) << o[11];
    EXPECT_TRUE(has(o[12], "\"value\":\"'-\"")) << o[12];
    EXPECT_TRUE(has(o[13], "\"value\":\"'two\\u000d\\u000alines\"")) << o[13];
    EXPECT_TRUE(has(o[14], "\"cell\":\"C3\"") && has(o[14], "\"value\":\"'say \\\"hi\\\"\"")) << o[14];

    // The CSV form reads back to the same cells: exact constants, labels that
    // would read as numbers or formulas protected.
    for (const std::string text : {"1,=A1*3.14159265358979+1e-300,'123,'=1+1,'+x,''q,'\n"}) {
        const Result csv = wks({"csv", imported(text, "again.wk1")});
        ASSERT_EQ(csv.status, 0) << csv.err;
        EXPECT_EQ(csv.out, text);
    }
    // ERR and NA in number cells (and a NaN, shown as ERR) as the formulas
    // that give them back.
    const std::string special = orx_file(
        "special.orx", {record(WKS_NUMBER, orx_cell_body(0xff, 0, 0, number_body(INFINITY))),
                        record(WKS_NUMBER, orx_cell_body(0xff, 1, 0, number_body(-INFINITY))),
                        record(WKS_NUMBER, orx_cell_body(0xff, 2, 0, number_body(NAN)))});
    const Result plain = wks({"csv", special});
    EXPECT_EQ(plain.out, "=@ERR,=@NA,=@ERR\n");
    EXPECT_EQ(wks({"csv", "--values", imported(plain.out, "special.wk1")}).out, "ERR,NA,ERR\n");
    const Result csv = wks({"csv", file});
    ASSERT_EQ(csv.status, 0) << csv.err;
    write_text(dir.file("again.csv"), csv.out);
    ASSERT_EQ(wks({"import", dir.file("again.csv"), dir.file("again.orx")}).status, 0);
    EXPECT_EQ(wks({"csv", dir.file("again.orx")}).out, csv.out);
}

TEST_F(Tool, ImportRefusesWhatItCannotStoreAndLeavesNoFile) {
    struct Case {
        std::string csv, out, message;
    };
    const Case cases[] = {
        {"1,=A1+\n", "bad.orx", "B1: formula 'A1+': error"},
        {"=@NOSUCH(1)\n", "bad.wk1", "A1: formula '@NOSUCH(1)': error"},
        {"1\n", "bad.txt", "must end in .orx or .wk1"},
        {"1,\"open\n", "open.orx", "quoted field not closed"},
        {std::string(256, ',') + "x\n", "wide.orx", "field 257 lies outside the sheet"},
        {std::string(3000, 'x') + "\n", "long.orx", "text of 3001 bytes is longer than"},
        {"1e999\n", "huge.orx", "out of range"},
        {std::string("1,a\0b\n", 6), "nul.wk1", "B1: the field holds a NUL byte"},
        {"x,\xCE\xA9\n", "omega.wk1", "B1: character U+03A9 has no byte"},
        {"{\"kind\":\"bof\",\"version\":1030}\n{\"kind\":\"label\",\"col\":0}\n", "bad.orx",
         "in.csv:2: \"row\" must be a whole number"},
        // JSON is told by its content; without a BOF record first (an empty
        // pipe after a failed dump) it makes nothing.
        {"{\"kind\":\"label\",\"col\":0,\"row\":0,\"format\":255,\"value\":\"x\"}\n", "nobof.wk1",
         "in.csv:1: the first record must be the BOF record"},
        {"", "empty.wk1", "in.csv: is empty; nothing written"},
        {"\xEF\xBB\xBF", "bom.orx", "in.csv: is empty; nothing written"},
        {"=1e400\n", "huge.wk1", "A1: formula '1e400': a number in it is out of range"},
        // Compiles, but nests deeper than the decoder's stack: csv could not show it.
        {"=+A6+" + std::string(70, '+') + "32\n", "deep.wk1", "A1: formula '+A6++++"},
        {"x,=A1&\"\xC3\xA9" + std::string(100, 'y') + "\"+\n", "long.wk1",
         "B1: formula 'A1&\"\xC3\xA9" + std::string(75, 'y') + "...': error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.csv.substr(0, 40));
        write_text(dir.file("in.csv"), c.csv);
        write_text(dir.file(c.out), "precious");
        std::vector<std::string> args = {"import", dir.file("in.csv"), dir.file(c.out)};
        if (c.out == "bad.orx" && c.csv[0] == '{') args.insert(args.begin() + 1, "--json");
        if (c.out == "omega.wk1") args.insert(args.begin() + 1, "--encoding=latin1");
        const Result r = wks(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(has(r.err, c.message)) << r.err;
        EXPECT_EQ(text_of(dir.file(c.out)), "precious");
    }
    write_text(dir.file("in.csv"), "1\n");
    // What cannot be read or made is named with the system's reason; a file
    // that is the input under any name is never the output.
    ASSERT_EQ(std::system(("mkdir " + quoted(dir.file("folder.wk1")) + " && ln " + quoted(dir.file("in.csv")) + " " +
                           quoted(dir.file("link.orx"))).c_str()), 0);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{dir.file("none.csv"), dir.file("x.orx")}, "none.csv: cannot open: No such file or directory"},
        {{dir.file("in.csv"), dir.file("no/dir/x.wk1")}, "cannot create a file in " + dir.file("no/dir") + ": No such"},
        {{dir.file("in.csv"), dir.file("folder.wk1")}, "folder.wk1: cannot create: is a directory"},
        {{dir.file("folder.wk1"), dir.file("x.orx")}, "folder.wk1: is a directory"},
        {{dir.file("in.csv"), dir.file("link.orx")}, "link.orx: is the file being imported"},
        {{"-", dir.file("link.orx")}, "link.orx: is the file being imported"},
    };
    for (const auto &c : refused) {
        const Result r = wks({"import", c.args[0], c.args[1]}, dir.file("in.csv"));
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_TRUE(has(r.err, c.message)) << r.err;
    }
    EXPECT_EQ(text_of(dir.file("link.orx")), text_of(dir.file("in.csv")));
}

TEST_F(Tool, ImportReadsStandardInput) {
    write_text(dir.file("in.csv"), "1,2\n");
    const Result r = wks({"import", "-", dir.file("s.orx")}, dir.file("in.csv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wks({"csv", dir.file("s.orx")}).out, "1,2\n");
}

TEST_F(Tool, ConvertsBothWaysAndKeepsTheSheet) {
    const std::string wk1 = imported(kSheet, "book.wk1");
    Result r = wks({"convert", wk1, dir.file("book.orx")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(has(wks({"info", dir.file("book.orx")}).out, "format: ORX"));
    r = wks({"convert", dir.file("book.orx"), dir.file("back.wk1")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(wks({"info", dir.file("back.wk1")}).out, "format: WK1"));
    EXPECT_EQ(read_file(dir.file("back.wk1")), read_file(wk1));
    EXPECT_EQ(wks({"csv", dir.file("book.orx")}).out, wks({"csv", wk1}).out);

    // The same bytes as the library's converters write, external references
    // rewritten both ways; onto itself the file gets version 1028.
    const std::string orx = imported("1,=@@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")+A1,=@SUM(A1..A3)*2.5\n", "x.orx");
    for (const bool to_wk1 : {true, false}) {
        const std::string from = to_wk1 ? orx : dir.file("x.wk1"), to = dir.file(to_wk1 ? "x.wk1" : "y.orx");
        ASSERT_EQ(wks({"convert", from, to}).status, 0);
        ASSERT_EQ(to_wk1 ? orx_to_wk1(from.c_str(), dir.file("lib").c_str())
                         : wk1_to_orx(from.c_str(), dir.file("lib").c_str()), 0);
        const Bytes ours = read_file(to), library = read_file(dir.file("lib"));
        EXPECT_EQ(hex(Bytes(ours.begin() + (to_wk1 ? 6 : WKS_HEADER_SIZE + 6), ours.end())),
                  hex(Bytes(library.begin() + (to_wk1 ? 6 : WKS_HEADER_SIZE + 6), library.end())));
    }
    EXPECT_TRUE(has(wks({"dump", dir.file("y.orx")}).out, "formula @@(\"<<SALES.ORX>>B2\")+A1"));
    ASSERT_EQ(wks({"convert", dir.file("x.wk1"), dir.file("./x.wk1")}).status, 0);
    EXPECT_TRUE(has(wks({"info", dir.file("x.wk1")}).out, "format: ORX\nheader block: yes\nBOF version: 1028\n"));
}

// dump --json read back by import --json gives the file again byte for
// byte: every kind of record, 8-bit text in each character set, exact
// constants and stored values (ERR, -0, a NaN's bits), ORX cell prefixes and
// the header block, range names; the tool's conversions keep all that too.
TEST_F(Tool, JsonDumpImportsBackByteForByte) {
    const Bytes sum = compiled("B1", "A1*3.14159265358979+@SUM(A1..A3)"), upper = compiled("C2", "@UPPER(\"abc\")");
    const std::string orx = orx_file(
        "all.orx", {record(WKS_RANGE_NAME, range_name_body("TOTAL", 0, 0, 0, 2)),
                    record(WKS_RANGE_NAME2, range_name_body("TO\x82", 0, 0, 0, 0)), window1(0x30),
                    record(WKS_INTEGER, orx_cell_body(0x81, 0, 0, {0xfb, 0xff})),
                    record(WKS_FORMULA, orx_cell_body(0x02, 1, 0, formula_value(sum, 12.5))),
                    record(WKS_NUMBER, orx_cell_body(0x02, 2, 0, number_body(-0.0))),
                    record(WKS_NUMBER, orx_cell_body(0xff, 3, 0, {0x23, 0x01, 0, 0, 0, 0, 0xf8, 0x7f})),
                    record(WKS_BLANK, orx_cell_body(0x72, 0, 1, {}, 7)),
                    record(WKS_LABEL, orx_cell_body(0xff, 1, 1, {'^', 'C', 'a', 'f', 0x82, 0})),
                    record(WKS_FORMULA, orx_cell_body(0xff, 2, 1, formula_value(upper, NAN))),
                    record(WKS_STRING, orx_cell_body(0xff, 2, 1, {'A', '"', '\\', 1, 0})),
                    record(WKS_FORMULA, orx_cell_body(0xff, 3, 1, formula_value(sum, INFINITY))),
                    record(WKS_NUMBER, orx_cell_body(0x02, 4, 1, {1, 2})), record(99, {1, 2, 3})});
    ASSERT_EQ(wks({"convert", orx, dir.file("all.wk1")}).status, 0);
    // Bytes no field gives (after a label's NUL, an integer's or a blank's
    // value, in a range name's filler), a second BOF record, records after
    // the EOF record and bytes that make no record: a file of version 1028
    // under a name of neither extension.
    Bytes name = range_name_body("TOT", 0, 0, 0, 2);
    name[5] = 'x';
    write_file(dir.file("odd.wks"),
               concat({bof(1028), record(WKS_LABEL, wk1_cell_body(0xff, 0, 0, {'\'', 'a', 0, 'z'})),
                       record(WKS_LABEL, wk1_cell_body(0xff, 1, 0, {'\'', 'a'})),
                       record(WKS_INTEGER, wk1_cell_body(0xff, 2, 0, {5, 0, 7})),
                       record(WKS_BLANK, wk1_cell_body(0xff, 3, 0, {1})), record(WKS_RANGE_NAME, name), bof(1030),
                       eof(), record(WKS_NUMBER, wk1_cell_body(0xff, 0, 5, number_body(2.5))), record(WKS_EOF, {1, 2}),
                       Bytes{0x1a, 0x1a, 0x1a}}));
    // Every byte above 127 in one label, and in a Symphony file's.
    Bytes high = {'\''};
    for (int b = 128; b < 256; ++b) high.push_back(static_cast<uint8_t>(b));
    high.push_back(0);
    write_file(dir.file("high.wk1"), concat({bof(1030), record(WKS_LABEL, wk1_cell_body(0x27, 0, 0, high)), eof()}));
    write_file(dir.file("high.wr1"), concat({bof(1029), record(0x66, {1}), record(WKS_LABEL, wk1_cell_body(0x27, 0, 0, high)), eof()}));
    const struct {
        std::string file, encoding, label;  // the label as the set reads it, in UTF-8
        bool by_default = false;            // the set --encoding auto chooses for the file
    } cases[] = {
        {orx, "cp437", "^Caf\xC3\xA9", true}, {orx, "cp850", "^Caf\xC3\xA9"}, {orx, "cp1252", "^Caf\xE2\x80\x9A"},
        {orx, "latin1", "^Caf\xC2\x82"}, {orx, "lics", "^Caf\xCC\x82"},
        {dir.file("all.wk1"), "cp437", "^Caf\xC3\xA9"}, {dir.file("all.wk1"), "lics", "^Caf\xCC\x82", true},
        {imported(text_of(WKS_SAMPLE_CSV), "sample.wk1"), "cp437", ""}, {dir.file("odd.wks"), "cp437", ""},
        {dir.file("high.wk1"), "cp437", ""}, {dir.file("high.wk1"), "cp850", ""}, {dir.file("high.wk1"), "cp1252", ""},
        {dir.file("high.wk1"), "latin1", ""}, {dir.file("high.wk1"), "lics", ""}, {dir.file("high.wr1"), "lics", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file + " " + c.encoding);
        const Result json = wks({"dump", "--json", "--encoding", c.encoding, c.file});
        ASSERT_EQ(json.status, 0) << json.err;
        const std::string &utf8 = c.label;
        EXPECT_TRUE(utf8.empty() || has(json.out, "\"value\":\"" + utf8 + "\"")) << json.out;
        if (c.by_default) {
            const std::string range = "TO" + utf8.substr(4);
            EXPECT_TRUE(has(wks({"dump", c.file}).out, "label \"" + utf8 + "\"")) << "dump";
            EXPECT_TRUE(has(wks({"csv", c.file}).out, utf8.substr(1) + ",")) << "csv";
            EXPECT_TRUE(has(wks({"info", c.file}).out, range + " A1\n")) << "info";
        }
        const std::string back = dir.file("back" + c.file.substr(c.file.size() - 4));
        const Result r = wks({"import", "--json", "--encoding", c.encoding, "-", back}, [&] {
            write_text(dir.file("all.json"), json.out);
            return dir.file("all.json");
        }());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(hex(read_file(back)), hex(read_file(c.file)));
    }
    // A malformed cell keeps its bytes, so it cannot change layout.
    write_text(dir.file("all.json"), wks({"dump", "--json", orx}).out);
    const Result r = wks({"import", "--json", dir.file("all.json"), dir.file("other.wk1")});
    EXPECT_TRUE(has(r.err, "a malformed cell record of a ORX file cannot go into a WK1 file")) << r.err;
    // Formulas given by their text alone are compiled, with the names before them.
    write_text(dir.file("hand.json"), "{\"kind\":\"bof\",\"version\":1030}\n{\"kind\":\"range_name\",\"range_name\":\"TOTAL\",\"c1\":0,\"r1\":0,\"c2\":0,"
                                      "\"r2\":2}\n{\"kind\":\"formula\",\"col\":1,\"row\":0,\"format\":255,"
                                      "\"text\":\"@SUM(TOTAL)*2\"}\n");
    ASSERT_EQ(wks({"import", "--json", dir.file("hand.json"), dir.file("hand.wk1")}).status, 0);
    EXPECT_EQ(wks({"csv", dir.file("hand.wk1")}).out, ",=@SUM(A1..A3)*2\n");
}

// csv --values: each cell as the sheet shows it.
TEST_F(Tool, ValuesAreShownInTheirCellsFormats) {
    const struct {
        uint8_t format;
        double value;
        const char *shown;
    } cases[] = {
        {0x02, 1234.5678, "1234.57"}, {0x00, 0.5, "1"}, {0x02, 2.675, "2.68"}, {0x0f, 0.1, "0.100000000000000"},
        {0x12, 1234.5678, "1.23E+03"}, {0x10, -0.000123, "-1E-04"}, {0x22, -1234.5, "\"($1,234.50)\""},
        {0xa2, 1234567.891, "\"$1,234,567.89\""}, {0x31, 0.256, "25.6%"}, {0x42, -0.001, "0.00"},
        {0x70, -3.7, "---"}, {0x70, 0, "."}, {0x71, 1.0 / 3, "0.333333333333333"}, {0x71, 1e20, "1E+20"},
        {0x72, 41689.75, "2014-02-19"}, {0x72, 60, "1900-02-29"}, {0x79, 61, "1900-03-01"},
        {0x72, 73051, "73051"}, {0x73, 41689, "--02-19"}, {0x74, 41689, "2014-02"}, {0x77, 0.75, "18:00:00"},
        {0x78, 41689.6042, "14:30"}, {0x76, 5, ""}, {0x75, 5, "5"}, {0xff, 0.25, "25%"},
    };
    std::vector<Bytes> records = {window1(0x30)};
    std::string want;
    int16_t row = 0;
    for (const auto &c : cases) {
        records.push_back(record(WKS_NUMBER, orx_cell_body(c.format, 0, row++, number_body(c.value))));
        want += std::string(c.shown) + "\n";
    }
    // Formulas by their stored value (a string in the record after them, ERR
    // and NA as the formats' special values), or their text in text format.
    const Bytes code = compiled("A1", "@UPPER(\"abc\")");
    records.push_back(record(WKS_FORMULA, orx_cell_body(0xff, 0, row, formula_value(code, NAN))));
    records.push_back(record(WKS_STRING, orx_cell_body(0xff, 0, row++, {'A', 'B', 'C', 0})));
    records.push_back(record(WKS_FORMULA, orx_cell_body(0x02, 0, row++, formula_value(code, INFINITY))));
    records.push_back(record(WKS_FORMULA, orx_cell_body(0x02, 0, row++, formula_value(code, -INFINITY))));
    records.push_back(record(WKS_FORMULA, orx_cell_body(0x75, 0, row++, formula_value(code, 1))));
    records.push_back(record(WKS_LABEL, orx_cell_body(0x76, 0, row++, {'^', 'x', 0})));
    records.push_back(record(WKS_LABEL, orx_cell_body(0xff, 0, row++, {'^', 'x', 0})));
    records.push_back(record(WKS_BLANK, orx_cell_body(0xff, 3, 8000, {})));  // shows nothing, widens nothing
    want += "ABC\nERR\nNA\n\"@UPPER(\"\"abc\"\")\"\n\nx\n";
    const Result r = wks({"csv", "--values", orx_file("formats.orx", records)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, want);
}

// csv writes rows as they come; cells out of row order are held until the end.
TEST_F(Tool, CsvTakesCellsInAnyOrder) {
    const Bytes code = compiled("A2", "@UPPER(\"abc\")");
    const Bytes a1 = record(WKS_INTEGER, orx_cell_body(0xff, 0, 0, {1, 0})),
                b1 = record(WKS_NUMBER, orx_cell_body(0xff, 1, 0, number_body(0.5))),
                a2 = record(WKS_FORMULA, orx_cell_body(0xff, 0, 1, formula_value(code, NAN))),
                a2_string = record(WKS_STRING, orx_cell_body(0xff, 0, 1, {'A', 'B', 'C', 0})),
                b2 = record(WKS_INTEGER, orx_cell_body(0xff, 1, 1, {3, 0})),
                b2_again = record(WKS_INTEGER, orx_cell_body(0xff, 1, 1, {4, 0}));
    // The sheet's default format counts for every cell wherever it comes.
    const std::vector<Bytes> orders[] = {{a1, b1, a2, a2_string, b2, b2_again, window1(0x02)},
                                         {window1(0x02), a1, a2, b2, b1, a2_string, b2_again}};
    for (const auto &records : orders) {
        const std::string file = orx_file("order.orx", records);
        EXPECT_EQ(wks({"csv", "--values", file}).out, "1.00,0.50\nABC,4.00\n");
        EXPECT_EQ(wks({"csv", file}).out, "1,0.5\n\"=@UPPER(\"\"abc\"\")\",4\n");
    }
    // Rows across the blocks the file is read in.
    std::string many;
    for (int row = 0; row < 8000; ++row) {
        const std::string n = std::to_string(row);
        many += n + ",x" + n + "," + n + ".5\n";
    }
    EXPECT_TRUE(wks({"csv", imported(many, "many.orx")}).out == many);
}

// calc computes a file's values in place, or with --check only compares;
// csv --values --compute shows them without writing anything.
TEST_F(Tool, CalcComputesInPlaceOrOnlyChecks) {
    const Bytes sum = compiled("C1", "A1+B1"), up = compiled("A2", "@UPPER(\"ab\")"), a = compiled("A3", "B3+1"),
                b = compiled("B3", "A3"), now = compiled("C3", "@NOW");
    const std::string file = orx_file(
        "zeros.orx", {record(WKS_INTEGER, orx_cell_body(0xff, 0, 0, {2, 0})),
                      record(WKS_NUMBER, orx_cell_body(0xff, 1, 0, number_body(0.5))),
                      record(WKS_FORMULA, orx_cell_body(0xff, 2, 0, formula_value(sum))),
                      record(WKS_FORMULA, orx_cell_body(0xff, 0, 1, formula_value(up))),
                      record(WKS_FORMULA, orx_cell_body(0xff, 0, 2, formula_value(a))),
                      record(WKS_FORMULA, orx_cell_body(0x72, 1, 2, formula_value(b))),
                      record(WKS_FORMULA, orx_cell_body(0x72, 2, 2, formula_value(now)))});
    const Bytes zeros = read_file(file);
    EXPECT_EQ(wks({"csv", "--values", file}).out, "2,0.5,0\n0,,\n0,0,0\n");
    EXPECT_EQ(wks({"csv", "--values", "--compute", file}).out.substr(0, 28), "2,0.5,2.5\nAB,,\n1,1900-01-01,");

    Result r = wks({"calc", "--check", "--reproducible", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, file + ": C1: stored 0, computed 2.5\n" + file + ": A2: stored 0, computed \"AB\"\n" + file +
                         ": A3: stored 0, computed 1\n" + file + ": B3: stored 0, computed 1\n" + file +
                         ": C3: stored 0, computed 32874.5\n" + file + ": circular references: A3, B3 (1 pass)\n" +
                         file + ": 5 of 5 formulas differ\n");
    EXPECT_EQ(read_file(file), zeros);

    r = wks({"calc", "--iterations", "3", "--reproducible", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file + ": circular references: A3, B3 (3 passes)\n" + file + ": 5 formulas, 5 values changed\n");
    EXPECT_EQ(wks({"csv", "--values", file}).out, "2,0.5,2.5\nAB,,\n3,1900-01-03,1990-01-01\n");
    // Each computation of a circular reference goes on from the values stored.
    EXPECT_EQ(wks({"calc", "--check", "--iterations=3", "--reproducible", "-"}, file).out,
              "standard input: A3: stored 3, computed 6\nstandard input: B3: stored 3, computed 6\n"
              "standard input: circular references: A3, B3 (3 passes)\nstandard input: 2 of 5 formulas differ\n");

    // What cannot be computed or written is named; the file stays as it was.
    Bytes cut = read_file(file);
    cut.resize(cut.size() - 4);
    write_file(dir.file("cut.orx"), cut);
    write_file(dir.file("locked.orx"), zeros);
    ASSERT_EQ(std::system(("chmod a-w " + quoted(dir.file("locked.orx"))).c_str()), 0);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{"calc", dir.file("cut.orx")}, "cut.orx: file ends after record 8, at byte " + std::to_string(cut.size()) +
                                            ", without an EOF record\n"},
        {{"calc", dir.file("locked.orx")}, "locked.orx: cannot be written in place: the file is read-only\n"},
        {{"calc", "-"}, "standard input cannot be written in place; use --check"},
        {{"calc", "--iterations", "51", file}, "--iterations takes a whole number from 1 to 50"},
        {{"csv", "--compute", file}, "--compute goes with --values"},
    };
    for (const auto &c : refused) {
        r = wks(c.args);
        EXPECT_NE(r.status, 0) << c.message;
        EXPECT_TRUE(has(r.err, c.message)) << r.err;
    }
    EXPECT_EQ(read_file(dir.file("cut.orx")), cut);
    EXPECT_EQ(read_file(dir.file("locked.orx")), zeros);
    EXPECT_EQ(wks({"calc", "-"}).status, 2);  // a usage error
}

// @@ reading a formula that stands after it: import stores what calc computes.
TEST_F(Tool, ImportAndCalcAgreeOnAFormulaReadThroughAtAt) {
    const std::string file = imported("\"=@@(\"\"A3\"\")*2\"\n1\n=A2+1\n", "at.wk1");
    EXPECT_EQ(wks({"calc", "--check", file}).out, file + ": 2 formulas, no differences\n");
    EXPECT_EQ(wks({"calc", file}).out, file + ": 2 formulas, 0 values changed\n");
    EXPECT_EQ(wks({"csv", "--values", file}).out, "4\n1\n2\n");
}

// Letter case beyond ASCII follows --encoding, in import and in calc.
TEST_F(Tool, LetterCaseFollowsTheEncoding) {
    const struct {
        std::string set, small, capital;
    } cases[] = {
        {"cp437", "m\xC3\xBCnchen", "M\xC3\x9CNCHEN"},
        {"cp1252", "m\xC3\xBCnchen", "M\xC3\x9CNCHEN"},
        {"auto", "\xC5\x93uvre \xC3\xBF", "\xC5\x92UVRE \xC5\xB8"},  // LICS for WK1 files: oe, y diaeresis
    };
    for (const auto &c : cases) {
        write_text(dir.file("in.csv"), c.small + "," + c.capital + ",=@UPPER(A1),\"=@IF(A1=B1,1,0)\"\n");
        const std::string file = dir.file(c.set + ".wk1");
        ASSERT_EQ(wks({"import", "--encoding", c.set, dir.file("in.csv"), file}).status, 0);
        EXPECT_EQ(wks({"csv", "--values", "--encoding", c.set, file}).out,
                  c.small + "," + c.capital + "," + c.capital + ",1\n");
        EXPECT_EQ(wks({"calc", "--check", "--encoding", c.set, file}).out, file + ": 2 formulas, no differences\n");
    }
}

// SIGINT during a long calculation stops it at once; the file keeps its
// bytes.  (A criteria formula that counts the records it selects: each of
// ten database functions costs 8000 x 8000 criteria, seconds each.)
TEST_F(Tool, AnInterruptedCalcStopsAtOnceAndLeavesTheFile) {
    std::vector<Bytes> records = {bof(1030)};
    const Bytes criterion = compiled("C2", "+A2>@DCOUNT($A$1..$A$8001,0,$C$1..$C$2)");
    records.push_back(record(WKS_FORMULA, wk1_cell_body(0xff, 2, 1, formula_value(criterion))));
    const Bytes database = compiled("D1", "@DSUM($A$1..$A$8001,0,$C$1..$C$2)");
    for (int16_t i = 0; i < 10; ++i) records.push_back(record(WKS_FORMULA, wk1_cell_body(0xff, 3, i, formula_value(database))));
    for (int16_t row = 1; row <= 8000; ++row)
        records.push_back(record(WKS_INTEGER, wk1_cell_body(0xff, 0, row, {static_cast<unsigned char>(row), 0})));
    records.push_back(eof());
    Bytes file;
    for (const Bytes &r : records) file.insert(file.end(), r.begin(), r.end());
    write_file(dir.file("slow.wk1"), file);
    const std::string script = "cd " + quoted(dir.path()) + " && (" + quoted(WKS_TOOL_PATH) +
                               " calc slow.wk1 2>/dev/null & pid=$!; sleep 0.5; kill -INT $pid; " +
                               "t=$(date +%s%N); wait $pid; echo $? $(( ($(date +%s%N) - t) / 1000000 )) >status)";
    ASSERT_EQ(std::system(script.c_str()), 0);
    int status = 0, ms = 0;
    std::istringstream(text_of(dir.file("status"))) >> status >> ms;
    EXPECT_EQ(status, 130);
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(read_file(dir.file("slow.wk1")), file);
}

// SIGINT or SIGTERM while an import waits for input: the destination keeps
// its bytes and nothing else is left beside it.
TEST_F(Tool, AnInterruptedImportLeavesTheDestination) {
    for (const char *sig : {"INT", "TERM"}) {
        write_text(dir.file("out.orx"), "precious");
        const std::string script =
            "cd " + quoted(dir.path()) + " && mkfifo in.fifo && (" + quoted(WKS_TOOL_PATH) +
            " import in.fifo out.orx 2>/dev/null & pid=$!; exec 3>in.fifo; echo 1,2 >&3; sleep 0.3; kill -" + sig +
            " $pid; wait $pid; echo $? >status; exec 3>&-) && rm in.fifo";
        ASSERT_EQ(std::system(script.c_str()), 0);
        EXPECT_EQ(text_of(dir.file("status")), std::string(sig) == "INT" ? "130\n" : "143\n");
        EXPECT_EQ(text_of(dir.file("out.orx")), "precious");
        std::remove(dir.file("status").c_str());
        ASSERT_EQ(std::system(("test \"$(ls -A " + quoted(dir.path()) + ")\" = out.orx").c_str()), 0) << sig;
    }
}

// Even SIGKILL leaves nothing in the temporary directory: the import's
// scratch file has no name.
TEST_F(Tool, AKilledImportLeavesNoScratchFile) {
    const std::string script = "cd " + quoted(dir.path()) + " && mkdir tmp && mkfifo in.fifo && (TMPDIR=" +
                               quoted(dir.file("tmp")) + " " + quoted(WKS_TOOL_PATH) +
                               " import in.fifo out.orx 2>/dev/null & pid=$!; exec 3>in.fifo; echo 1,2 >&3; "
                               "sleep 0.3; kill -KILL $pid; wait $pid; exec 3>&-) && rm in.fifo";
    ASSERT_EQ(std::system(script.c_str()), 0);
    EXPECT_EQ(std::system(("test -z \"$(ls -A " + quoted(dir.file("tmp")) + ")\"").c_str()), 0);
}

// A single large conversion draws its progress when standard error is a
// terminal, and nothing otherwise.
TEST_F(Tool, ALargeConversionShowsItsProgressOnATerminal) {
    Bytes file = bof(1030);
    for (int i = 0; i < 100000; ++i) {
        const Bytes cell = record(WKS_INTEGER, wk1_cell_body(0xff, static_cast<int16_t>(i % 256),
                                                             static_cast<int16_t>(i / 256), {1, 0}));
        file.insert(file.end(), cell.begin(), cell.end());
    }
    const Bytes end = eof();
    file.insert(file.end(), end.begin(), end.end());
    write_file(dir.file("big.wk1"), file);
    const std::string convert = quoted(WKS_TOOL_PATH) + " convert " + quoted(dir.file("big.wk1")) + " " +
                                quoted(dir.file("big.orx"));
    ASSERT_EQ(std::system(("script -qec " + quoted(convert) + " /dev/null >" + quoted(dir.file("tty"))).c_str()), 0);
    EXPECT_TRUE(has(text_of(dir.file("tty")), "] 100% " + dir.file("big.wk1"))) << text_of(dir.file("tty"));
    const Result r = wks({"convert", dir.file("big.wk1"), dir.file("big.orx")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// SIGINT while workers convert: the tool ends with it, and each result in
// the directory is whole; the rest never appear.  The signal goes once the
// first result is there (the tool's handlers are in place and its workers
// run), with most of the batch still to do.
TEST_F(Tool, AnInterruptedBatchLeavesOnlyWholeResults) {
    Bytes file = bof(1030);
    for (int i = 0; i < 100000; ++i) {
        const Bytes cell = record(WKS_INTEGER, wk1_cell_body(0xff, static_cast<int16_t>(i % 256),
                                                             static_cast<int16_t>(i / 256), {1, 0}));
        file.insert(file.end(), cell.begin(), cell.end());
    }
    write_file(dir.file("big.wk1"), concat({file, eof()}));
    ASSERT_EQ(wk1_to_orx(dir.file("big.wk1").c_str(), dir.file("whole.orx").c_str()), 0);
    const Bytes whole = read_file(dir.file("whole.orx"));
    const std::string script =
        "cd " + quoted(dir.path()) + " && mkdir in out && for i in $(seq 10 25); do cp big.wk1 in/f$i.wk1; done && (" +
        quoted(WKS_TOOL_PATH) + " convert --to orx --out out -j2 in/*.wk1 & pid=$!; " +
        "n=0; until set -- out/*.orx; [ -e \"$1\" ] || [ $n = 10000 ]; do sleep 0.002; n=$((n + 1)); done; " +
        "kill -INT $pid; wait $pid; echo $? >status)";
    ASSERT_EQ(std::system(script.c_str()), 0);
    EXPECT_EQ(text_of(dir.file("status")), "130\n");
    for (const auto &entry : std::filesystem::directory_iterator(dir.file("out"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.size() == 7 && name[0] == 'f' && has(name, ".orx")) << name;
        EXPECT_EQ(read_file(entry.path().string()), whole) << name;
    }
}

TEST_F(Tool, ConvertsSeveralFilesIntoADirectory) {
    const std::string a = imported("1,2\n", "a.wk1");
    const std::string b = imported("=A1\n", "b.WK1");
    const std::string c = imported("x\n", "c.orx");
    ASSERT_EQ(std::system(("mkdir " + quoted(dir.file("out"))).c_str()), 0);

    Result r = wks({"convert", "--to", "orx", "--out", dir.file("out"), a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress bar when standard error is not a terminal
    EXPECT_EQ(wks({"csv", dir.file("out/a.orx")}).out, "1,2\n");
    EXPECT_EQ(wks({"csv", dir.file("out/b.orx")}).out, "=A1\n");

    // One source already in the target format, one missing, one that fails
    // only at its end: the rest still converts, and the reports come in the
    // sources' order whichever worker ends first.
    Bytes cut = bof(1030);
    for (int i = 0; i < 20000; ++i) {
        const Bytes cell = record(WKS_INTEGER, orx_cell_body(0xff, static_cast<int16_t>(i % 256),
                                                             static_cast<int16_t>(i / 256), {1, 0}));
        cut.insert(cut.end(), cell.begin(), cell.end());
    }
    write_file(dir.file("cut.orx"), concat({header_block(), cut}));
    for (const char *jobs : {"-j1", "-j3"}) {
        r = wks({"convert", "--to=wk1", "--out=" + dir.file("out"), jobs, dir.file("cut.orx"), c, a,
                 dir.file("gone.orx"), dir.file("out/b.orx")});
        EXPECT_EQ(r.status, 1);
        const auto err = lines_of(r.err);
        ASSERT_EQ(err.size(), 3u) << r.err;
        EXPECT_TRUE(has(err[0], "cut.orx: file ends after record 20000")) << err[0];
        EXPECT_TRUE(has(err[1], "a.wk1: is already a WK1 file")) << err[1];
        EXPECT_TRUE(has(err[2], "gone.orx: cannot open: No such file or directory")) << err[2];
        EXPECT_EQ(wks({"csv", dir.file("out/c.wk1")}).out, "x\n");
        EXPECT_EQ(wks({"csv", dir.file("out/b.wk1")}).out, "=A1\n");
        EXPECT_FALSE(file_exists(dir.file("out/cut.wk1")));
    }

    // Every destination is decided first: one that is a source under any
    // name or link, or that two files would share, is refused before
    // anything is written; a file listed twice is taken once.
    ASSERT_EQ(std::system(("cd " + quoted(dir.path()) + " && mkdir sub h && cp a.wk1 sub/a.wk1 && cp a.wk1 keep.wk1 "
                           "&& cp c.orx a.orx && ln -s a.wk1 link.wk1 && ln a.wk1 h/a.orx").c_str()), 0);
    const struct {
        std::vector<std::string> args;
        std::string report;
    } planned[] = {
        {{"wk1", ".", "a.orx", "a.wk1"}, "a.orx: its result ./a.wk1 would replace a.wk1, a source of this batch\n"},
        {{"wk1", ".", "a.orx", "link.wk1"}, "a.orx: its result ./a.wk1 would replace link.wk1, a source of this batch\n"},
        {{"orx", "h", "a.wk1"}, "a.wk1: its result h/a.orx is the source itself\n"},
        {{"orx", "out", "a.wk1", "sub/a.wk1"}, "a.wk1: its result out/a.orx would also be that of sub/a.wk1\n"},
        {{"xlsx", "out", "a.wk1", "sub/a.wk1"}, "a.wk1: its result out/a.xlsx would also be that of sub/a.wk1\n"},
        {{"orx", "out", "b.WK1", "./b.WK1"}, "./b.WK1: warning: listed before as b.WK1; taken once\n"},
    };
    for (const auto &p : planned) {
        std::string command = "cd " + quoted(dir.path()) + " && " + quoted(WKS_TOOL_PATH) + " convert -j2 --to " +
                              p.args[0] + " --out " + p.args[1];
        for (std::size_t i = 2; i < p.args.size(); ++i) command += " " + quoted(p.args[i]);
        const int status = std::system((command + " 2>" + quoted(dir.file("err"))).c_str());
        EXPECT_EQ(WEXITSTATUS(status), p.report.find("warning") == std::string::npos ? 1 : 0) << p.report;
        EXPECT_TRUE(has(text_of(dir.file("err")), p.report)) << text_of(dir.file("err"));
        EXPECT_EQ(read_file(a), read_file(dir.file("keep.wk1")));
    }
    EXPECT_FALSE(file_exists(dir.file("out/a.orx")) && read_file(dir.file("out/a.orx")) == read_file(a));

    EXPECT_EQ(wks({"convert", "--to", "xls", "--out", dir.file("out"), a}).status, 2);
    EXPECT_EQ(wks({"convert", "--to", "orx", a}).status, 2);
    r = wks({"convert", "--to", "orx", "--out", dir.file("nodir"), a});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "--out " + dir.file("nodir") + ": No such file or directory")) << r.err;
    r = wks({"convert", "--to", "orx", "--out", a, a});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "--out " + a + ": not a directory")) << r.err;
}

// Each conversion says which formulas the rewriting changed: a count and
// the first five on standard error, or every one in --report's CSV file,
// in the sources' order from any number of workers.
TEST_F(Tool, ConvertSaysWhichFormulasItRewrote) {
    std::string csv = "1,\"=@IF(A1,\"\"x:y\"\",\"\"Note:Bob\"\")\"\n";  // nothing to rewrite
    for (int i = 2; i <= 8; ++i) csv += std::to_string(i) + ",\"=+\"\"see A:B" + std::to_string(i) + "\"\"\"\n";
    const std::string a = imported(csv, "a.wk1");
    const std::string b = imported("=@@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")*2\n", "b.wk1");
    ASSERT_EQ(std::system(("mkdir " + quoted(dir.file("out"))).c_str()), 0);

    Result r = wks({"convert", a, dir.file("a.orx")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto err = lines_of(r.err);
    ASSERT_EQ(err.size(), 12u) << r.err;
    EXPECT_TRUE(has(err[0], "a.wk1 -> " + dir.file("a.orx") + ": warning: 7 formulas rewritten:")) << err[0];
    EXPECT_EQ(err[1], "  B2  +\"see A:B2\"");
    EXPECT_EQ(err[2], "      -> +\"see B2\"");
    EXPECT_EQ(err[11], "  ... and 2 more (--report FILE lists every one)");
    // In place: the source's formulas are kept before it is replaced.
    r = wks({"convert", b, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "1 formula rewritten:\n  A1  @@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")*2\n"
                           "      -> @@(\"<<SALES.ORX>>B2\")*2\n")) << r.err;

    // The report: a JSON object a line.
    const auto rewritten = [](const std::string &src, const std::string &dst, const std::string &rest) {
        return R"({"kind":"rewritten","source":")" + src + R"(","destination":")" + dst + "\"," + rest + "}";
    };
    const std::string b_line =
        rewritten(b, dir.file("out/b.wk1"),
                  R"x("cell":"A1","formula":"@@(\"<<SALES.ORX>>B2\")*2","rewritten":"@@(\"<<SALES.WK1>>B2\")*2")x") +
        "\n";
    for (const char *jobs : {"-j1", "-j3"}) {
        // a.orx rewrites nothing on its way back, b.wk1 (ORX since) one formula.
        r = wks({"convert", "--to=wk1", "--out=" + dir.file("out"), jobs, "--report", dir.file("r.jsonl"),
                 dir.file("a.orx"), b});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(text_of(dir.file("r.jsonl")), b_line);
        EXPECT_TRUE(has(r.err, "b.wk1 -> " + dir.file("out/b.wk1") + ": warning: 1 formula rewritten, listed in " +
                                   dir.file("r.jsonl"))) << r.err;
    }
    r = wks({"convert", "--report", dir.file("s.jsonl"), a, dir.file("c.orx")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto report = lines_of(text_of(dir.file("s.jsonl")));
    ASSERT_EQ(report.size(), 7u);
    EXPECT_EQ(report[6], rewritten(a, dir.file("c.orx"), R"x("cell":"B8","formula":"+\"see A:B8\"","rewritten":"+\"see B8\"")x"));
    // The report never takes the place of a source or a destination.
    const std::string before = text_of(a);
    r = wks({"convert", "--report", a, a, dir.file("d.orx")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "the report would replace")) << r.err;
    EXPECT_EQ(text_of(a), before);
    EXPECT_FALSE(file_exists(dir.file("d.orx")));
}

TEST_F(Tool, ConvertReportsTheConvertersResults) {
    write_text(dir.file("text.orx"), "not a worksheet\n");
    Result r = wks({"convert", dir.file("text.orx"), dir.file("x.wk1")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "text.orx: not an ORX or WK1 file")) << r.err;

    r = wks({"convert", dir.file("missing.wk1"), dir.file("x.orx")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "missing.wk1: cannot open: No such file or directory")) << r.err;

    const std::string wk1 = imported("1\n", "one.wk1");
    r = wks({"convert", wk1, dir.file("no/dir/x.orx")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "x.orx: cannot create a file in " + dir.file("no/dir") + ": No such file or directory"))
        << r.err;
    // A destination named for the source's own format, or standard output,
    // is refused.
    r = wks({"convert", wk1, dir.file("two.WK1")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "two.WK1: its extension names a WK1 file, but the result is an ORX file")) << r.err;
    EXPECT_FALSE(file_exists(dir.file("two.WK1")));
    EXPECT_EQ(wks({"convert", "-", "-"}, wk1).status, 2);
    EXPECT_FALSE(file_exists("-"));

    // A WK1 file cut off before its EOF record: nothing is written, an
    // existing destination keeps its bytes.
    Bytes cut = read_file(wk1);
    cut.resize(cut.size() - 4);
    write_file(dir.file("cut.wk1"), cut);
    write_text(dir.file("cut.orx"), "precious");
    r = wks({"convert", dir.file("cut.wk1"), dir.file("cut.orx")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "cut.wk1: file ends after record 2, at byte 29, without an EOF record; nothing written"))
        << r.err;
    EXPECT_EQ(text_of(dir.file("cut.orx")), "precious");

    // A formula text of 256 characters or more is kept whole in a WK1 file,
    // with a warning.
    std::string sum = "=1";
    while (sum.size() < 257) sum += "+1";
    r = wks({"convert", imported(sum + "\n", "long.orx"), dir.file("long.wk1")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "warning: converted, but a formula text is too long for a WK1 file")) << r.err;

    // A disk that fills up (a file size limit of 64 blocks): one error, and the
    // destination as it was.
    Bytes big = bof(1030);
    for (int i = 0; i < 10000; ++i) {
        const Bytes cell = record(WKS_INTEGER, wk1_cell_body(0xff, static_cast<int16_t>(i % 256),
                                                             static_cast<int16_t>(i / 256), {1, 0}));
        big.insert(big.end(), cell.begin(), cell.end());
    }
    write_file(dir.file("big.wk1"), concat({big, eof()}));
    const std::string full = "ulimit -f 64 && " + quoted(WKS_TOOL_PATH) + " convert " + quoted(dir.file("big.wk1")) +
                             " " + quoted(dir.file("cut.orx")) + " 2>" + quoted(dir.file("err"));
    EXPECT_NE(std::system(full.c_str()), 0);
    const auto err = lines_of(text_of(dir.file("err")));
    ASSERT_EQ(err.size(), 1u) << text_of(dir.file("err"));
    EXPECT_EQ(err[0], "wks: " + dir.file("cut.orx") + ": writing the new file failed: File too large; nothing written");
    EXPECT_EQ(text_of(dir.file("cut.orx")), "precious");

    // Repeated library messages come once, with a count: 40 formulas whose
    // code does not decode, each refused by the rewriting.
    std::vector<Bytes> bad;
    for (int16_t row = 0; row < 40; ++row)
        bad.push_back(record(WKS_FORMULA, orx_cell_body(0xff, 0, row, formula_value({0x01, 0x00, 0xee}))));
    r = wks({"convert", orx_file("bad.orx", bad), dir.file("bad.wk1")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "converted with errors\n")) << r.err;
    EXPECT_TRUE(has(r.err, "library: ... and 39 more like it\n")) << r.err;
    EXPECT_EQ(lines_of(r.err).size(), 3u) << r.err;
}

// Every variant of the record family is named; those whose records are
// WK1's read as WK1 files do, their text in the variant's character set.
TEST_F(Tool, EveryVariantIsNamedAndTheFamilysOwnAreRead) {
    const Bytes sum = compiled("B1", "@SUM(A1..A1)");
    auto sheet = [&](uint16_t version, std::initializer_list<Bytes> extra, uint8_t high) {
        Bytes b = bof(version);
        for (const Bytes &e : extra) b.insert(b.end(), e.begin(), e.end());
        return concat({b, record(WKS_LABEL, wk1_cell_body(0x27, 0, 0, {'\'', 'C', 'a', 'f', high, 0})),
                       record(WKS_FORMULA, wk1_cell_body(0xff, 1, 0, formula_value(sum))), eof()});
    };
    auto long_bof = [](uint16_t version) {
        Bytes body(26, 0);
        body[0] = static_cast<uint8_t>(version), body[1] = static_cast<uint8_t>(version >> 8);
        return concat({record(WKS_BOF, body), eof()});
    };
    const struct {
        const char *name;
        Bytes bytes;
        const char *variant, *encoding;  // encoding: the set auto chooses; "" for a variant not read
    } cases[] = {
        {"a.wks", sheet(1028, {}, 0x82), "a 1-2-3 Release 1A worksheet (.wks)\nregistry: PRONOM x-fmt/117", "cp437"},
        {"a.wk1", sheet(1030, {}, 0xE9), "a 1-2-3 Release 2 worksheet (.wk1)\nregistry: PRONOM x-fmt/114", "lics"},
        {"a.wr1", sheet(1029, {record(0x66, {1, 2})}, 0xE9), "a Symphony worksheet (.wrk or .wr1)", "lics"},
        {"works.wks", sheet(1028, {record(0x5402, {1, 2})}, 0x82), "a Works for DOS spreadsheet (.wks)", "cp437"},
        {"lics.wks", sheet(1028, {record(0x5402, {}), record(0x5425, {})}, 0xE9),
         "a Works for DOS spreadsheet (.wks)", "lics"},
        {"win.wks", {0xFF, 0, 0, 0, 0}, "a Works for Windows spreadsheet (.wks); not read", ""},
        {"a.wq1", sheet(0x5120, {}, 0xE9), "a Quattro Pro for DOS worksheet (.wq1); not read", ""},
        {"a.wq2", sheet(0x5121, {}, 0xE9), "a Quattro Pro for DOS worksheet (.wq2); not read", ""},
        {"a.wk3", long_bof(0x1000), "a 1-2-3 Release 3 worksheet (.wk3); not read", ""},
        {"a.wk4", long_bof(0x1002), "a 1-2-3 Release 4 worksheet (.wk4); not read", ""},
        {"a.123", long_bof(0x1005), "a 1-2-3 97 or Millennium worksheet (.123); not read", ""},
        {"empty.wks", {}, "empty", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file(c.name);
        write_file(file, c.bytes);
        const Result info = wks({"info", file});
        EXPECT_TRUE(has(info.out, std::string("\nvariant: ") + c.variant)) << info.out;
        if (!*c.encoding) {
            EXPECT_EQ(info.status, 1);
            for (const char *command : {"dump", "csv", "calc"})
                EXPECT_TRUE(has(wks({command, file}).err, std::string(c.variant).substr(0, 20))) << command;
            continue;
        }
        EXPECT_TRUE(has(info.out, std::string("\nencoding: ") + c.encoding + " (the variant's)\n")) << info.out;
        const Result csv = wks({"csv", file});
        EXPECT_EQ(csv.out, "Caf\xC3\xA9,=@SUM(A1..A1)\n") << csv.err;
        EXPECT_TRUE(has(csv.err, std::string("text read as ") + c.encoding)) << csv.err;
        EXPECT_EQ(wks({"calc", "--check", file}).out, file + ": 1 formula, no differences\n");
        const Result dump = wks({"dump", file});
        EXPECT_EQ(dump.status, 0) << dump.err;
        if (c.bytes[4] == 0x05) {
            EXPECT_TRUE(has(dump.out, "\n1 type(102) len=2 0102\n")) << dump.out;
        }
    }
}

TEST_F(Tool, DumpShowsRangeNamesOtherRecordsAndMalformedCells) {
    const Bytes code = compiled("B1", "@SUM(A1..A3)+A1");
    Bytes long_code = formula_value({0x20, 0x00, 0x03});  // code length 32, 1 byte given
    const std::string file = orx_file(
        "names.orx", {record(WKS_RANGE_NAME, range_name_body("TOTAL", 0, 0, 0, 2)),
                      record(WKS_RANGE_NAME2, range_name_body("FIRST", 0, 0, 0, 0)),
                      record(WKS_FORMULA, orx_cell_body(0xff, 1, 0, formula_value(code))),
                      record(99, {1, 2, 3}),
                      record(WKS_NUMBER, orx_cell_body(0x02, 2, 0, {1, 2})),
                      record(WKS_FORMULA, orx_cell_body(0xff, 3, 0, long_code)),
                      record(WKS_RANGE_NAME, {'X', 0}),
                      record(WKS_INTEGER, {1, 2, 3})});
    const Result dump = wks({"dump", file});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const auto l = lines_of(dump.out);
    ASSERT_EQ(l.size(), 10u) << dump.out;
    EXPECT_EQ(l[1], "1 NAME(11) len=24 name \"TOTAL\" A1..A3");
    EXPECT_EQ(l[2], "2 NNAME(71) len=24 name \"FIRST\" A1..A1");
    EXPECT_EQ(l[3], "3 FORMULA(16) len=" + std::to_string(16 + 8 + code.size()) +
                        " B1 fmt=ff formula @SUM(TOTAL)+FIRST value 0");
    EXPECT_EQ(l[4], "4 type(99) len=3 010203");
    EXPECT_EQ(l[5], "5 NUMBER(14) len=18 C1 fmt=02 malformed: cell value needs 8 bytes, record has 2");
    EXPECT_TRUE(has(l[6], "D1 fmt=ff malformed: cell value needs 42 bytes")) << l[6];
    EXPECT_EQ(l[7], "7 NAME(11) len=2 malformed: range-name record shorter than 24 bytes");
    EXPECT_EQ(l[8], "8 INTEGER(13) len=3 malformed: cell record shorter than its cell fields");

    const Result info = wks({"info", file});
    EXPECT_TRUE(has(info.out, "malformed records: 4")) << info.out;
    EXPECT_TRUE(has(info.out, "range names: 2\n  TOTAL A1..A3\n  FIRST A1\n")) << info.out;

    const Result csv = wks({"csv", file});
    EXPECT_EQ(csv.status, 1);
    EXPECT_EQ(csv.out, ",=@SUM(A1..A3)+A1\n");  // CSV has no place for the names
    EXPECT_TRUE(has(csv.err, "record 5: cell value needs 8 bytes")) << csv.err;
}

TEST_F(Tool, DamagedFilesAreShownUpToTheDamage) {
    // A formula whose code does not decode, a cell far outside the sheet:
    // shown as such, and csv fails on them after writing the rest.
    const std::string bad_code = orx_file(
        "badcode.orx", {record(WKS_FORMULA, orx_cell_body(0xff, 0, 0, formula_value({0x01, 0x00, 0xee})))});
    Result r = wks({"dump", bad_code});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, "malformed: formula code does not decode: error 15")) << r.out;
    r = wks({"csv", bad_code});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");  // the formula holds nothing to make room for

    const std::string far = orx_file("far.orx", {record(WKS_INTEGER, orx_cell_body(0xff, -1, 5, {1, 0}))});
    r = wks({"csv", far});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "cell (-1,5) lies outside the sheet")) << r.err;

    // Files that break off: what comes before the break is shown, then the
    // break is named by record and byte.  The sheet's records: BOF at 2652,
    // 1 at 2658, 2 at 2680, EOF at 2702.
    const Bytes whole = read_file(imported("1,2\n", "whole.orx"));
    auto cut_at = [&](std::size_t size) { return Bytes(whole.begin(), whole.begin() + static_cast<long>(size)); };
    Bytes too_long = cut_at(2680);
    too_long.insert(too_long.end(), {WKS_LABEL, 0, 0x2b, 0x08});  // a body of 2091 bytes
    const struct {
        Bytes file;
        int rows;  // of the sheet shown before the break
        std::string message;
    } cases[] = {
        {cut_at(2698), 1, "file ends inside record 2 at byte 2680 (its header gives 18 body bytes, 14 are there)"},
        {cut_at(2702), 2, "file ends after record 2, at byte 2702, without an EOF record"},
        {cut_at(2703), 2, "file ends inside the header of record 3 at byte 2702"},
        {too_long, 1, "record 2 at byte 2680 gives its body as 2091 bytes, more than a record can hold (2074)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        write_file(dir.file("cut.orx"), c.file);
        for (const char *command : {"info", "dump", "csv", "html"}) {
            r = wks({command, dir.file("cut.orx")});
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_EQ(r.err, "wks: " + dir.file("cut.orx") + ": " + c.message + "\n") << command;
        }
        EXPECT_EQ(wks({"csv", dir.file("cut.orx")}).out, c.rows == 2 ? "1,2\n" : "1\n");
        EXPECT_EQ(lines_of(wks({"dump", dir.file("cut.orx")}).out).size(), 1u + c.rows);
        EXPECT_TRUE(has(wks({"info", dir.file("cut.orx")}).out, "cells: " + std::to_string(c.rows) + "\n"));
    }
}

TEST_F(Tool, ReadersNameTheFileTheyCannotRead) {
    write_text(dir.file("notes.txt"), "hello\n");
    write_text(dir.file("empty.wk1"), "");
    const struct {
        std::string file, message;
    } cases[] = {
        {dir.file("missing.orx"), "missing.orx: cannot open: No such file or directory"},
        {dir.file("notes.txt"), "notes.txt: not an ORX or WK1 file"},
        {dir.file("empty.wk1"), "empty.wk1: is empty"},
        {dir.path(), ": is a directory"},
        {"/dev/null", "/dev/null: is a character device, not a file"},
        {dir.file(std::string(5000, 'x')), ": cannot open: File name too long"},
    };
    for (const char *command : {"info", "dump", "csv", "html", "convert"}) {
        for (const auto &c : cases) {
            std::vector<std::string> args = {command, c.file};
            if (std::string(command) == "convert") args.push_back(dir.file("out.orx"));
            const Result r = wks(args);
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_TRUE(has(r.err, c.message)) << command << ": " << r.err;
        }
    }
    EXPECT_FALSE(file_exists(dir.file("out.orx")));
    // Several files at once, standard input among them.
    const std::string a = imported("1\n", "a.wk1");
    const Result info = wks({"info", a, dir.file("notes.txt"), "-"}, a);
    EXPECT_EQ(info.status, 1);
    EXPECT_TRUE(has(info.out, "file: " + a + "\nformat: WK1\n")) << info.out;
    EXPECT_TRUE(has(info.out, "\n\nfile: " + dir.file("notes.txt") + "\nformat: neither\n\nfile: standard input\n"))
        << info.out;
    EXPECT_EQ(wks({"csv", "-"}, a).out, "1\n");
    // Output that is lost fails the command.
    for (const char *command : {"info", "dump", "csv", "html", "--help"}) {
        const std::string run = quoted(WKS_TOOL_PATH) + " " + command + " " + quoted(a) + " >/dev/full 2>" +
                                quoted(dir.file("err"));
        const int raw = std::system(run.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1) << command;
        EXPECT_TRUE(has(text_of(dir.file("err")), "wks: standard output: cannot write: No space left on device"))
            << text_of(dir.file("err"));
    }
}

TEST_F(Tool, CompileAndDecodeRoundTrip) {
    Result c = wks({"compile", "--at", "C3", "A1+B1*2"});
    ASSERT_EQ(c.status, 0) << c.err;
    ASSERT_EQ(c.out.size(), 2 * 18 + 1u) << c.out;  // length word and 16 code bytes
    EXPECT_EQ(c.out.substr(0, 4), "1000");
    const std::string code = c.out.substr(0, c.out.size() - 1);

    Result d = wks({"decode", "--at", "C3", code});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.out, "A1+B1*2\n");
    // Relative references move with the cell.
    EXPECT_EQ(wks({"decode", "--at=D5", code}).out, "B3+C3*2\n");
    // Spaces between the digits are allowed.
    EXPECT_EQ(wks({"decode", "--at", "c3", code.substr(0, 6) + " " + code.substr(6)}).out, "A1+B1*2\n");

    c = wks({"compile", "--", "-$A$1"});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(wks({"decode", c.out.substr(0, c.out.size() - 1)}).out, "-$A$1\n");
    c = wks({"compile", "-A1"});  // a leading minus is formula text, not an option
    EXPECT_EQ(c.status, 0) << c.err;
}

TEST_F(Tool, CompileAndDecodeReportTheLibrarysErrors) {
    Result r = wks({"compile", "A1+"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "formula 'A1+': error 14 - Syntax error")) << r.err;
    EXPECT_EQ(r.out, "");
    r = wks({"compile", "@SUM("});
    EXPECT_EQ(r.status, 1);

    struct Case {
        std::string hex, message;
    };
    const Case cases[] = {
        {"01000x", "not a hexadecimal byte string"},
        {"010", "not a hexadecimal byte string"},
        {"01", "shorter than its 2-byte length"},
        {"0500030303", "its length word says 5 bytes of code, 3 are given"},
        {"010003ff", "its length word says 1 bytes of code, 2 are given"},
        {"0100ee", "error 15 - "},
    };
    for (const Case &c : cases) {
        r = wks({"decode", c.hex});
        EXPECT_EQ(r.status, 1) << c.hex;
        EXPECT_TRUE(has(r.err, "code '" + c.hex + "': " + c.message)) << r.err;
    }
    EXPECT_EQ(wks({"decode", "--at", "J0", "010003"}).status, 2);
    EXPECT_EQ(wks({"compile", "--at", "IW1", "1"}).status, 2);
    EXPECT_EQ(wks({"compile", "--at", "A8193", "1"}).status, 2);
    EXPECT_EQ(wks({"compile", "--at", "IV8192", "1"}).status, 0);
}

TEST_F(Tool, EveryCommandHasHelpAndRejectsBadUsage) {
    for (const char *command : {"info", "dump", "csv", "html", "convert", "compile", "decode", "import", "calc"}) {
        SCOPED_TRACE(command);
        Result r = wks({command, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.substr(0, 11 + std::string(command).size()), "usage: wks " + std::string(command));
        EXPECT_EQ(wks({command, "-h"}).out, r.out);
        r = wks({command, "--bogus", "x"});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(has(r.err, "unknown option '--bogus'")) << r.err;
        EXPECT_EQ(wks({command}).status, 2);
    }
    EXPECT_EQ(wks({"frobnicate"}).status, 2);
    EXPECT_EQ(wks({}).status, 2);
    const Result help = wks({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(has(help.out, "import"));
    EXPECT_EQ(wks({"--version"}).out, "wks " WKS_VERSION " (libwks " WKS_VERSION ")\n");
}

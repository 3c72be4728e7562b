/*
 * Writes the fuzz targets' seed corpora: formula texts, the code the library
 * compiles them to, and ORX and WK1 files the library itself writes.  Every
 * seed starts with the parameter bytes its target reads first (see each
 * target's comment).  Run by scripts/fuzz --seeds; the output is committed
 * under fuzz/corpus/<target>/.
 *
 *   fuzz_seeds <directory>
 */
#include "fuzz_support.h"

#include "tools/record_form.h"
#include "tools/sheet.h"
#include "wks/bytes.h"
#include "wks/header.h"
#include "wks/layout.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

using namespace wksfuzz;
namespace fs = std::filesystem;

namespace {

const char *const kFormulas[] = {
    "1",
    "-5",
    "2.5",
    "1E+300",
    "A1+B1*2",
    "-(A1)",
    "@SUM(A1..B2,3)",
    "@ROUND(@SUM(A1..A9)/3,2)",
    "$A$1>0#AND##NOT#B2<>3",
    "$A1+A$1-IV8192",
    "@IF(A1>=2,\"yes\",\"no\"\"\")&\"\"",
    "@PI()*@CHOOSE(1,2,3)+@NOW",
    "@DATE(99,12,31)-@TODAY",
    "(((1+2)))^3^2",
    "@VLOOKUP(C3,TOTAL,2)+@@(\"B1\")",
    "TOTAL+$TOTAL+ONE",
    "A1.B2+!C3",
    "@MAX(A1..A2,B1..B2,7,-8,+9)",
    "@STRING(@LENGTH(\"abc\"),0)<=@MOD(7,3)",
    "#NOT#(1=2)#OR#(3>4)",
};

constexpr int16_t kCol = 2, kRow = 2;
constexpr int32_t kFile = 7;

// A parameter byte, then text.
Bytes concat_text(uint8_t flags, const char *text) {
    Bytes b = {flags};
    b.insert(b.end(), text, text + std::strlen(text));
    return b;
}

void put(const fs::path &dir, const std::string &name, const Bytes &bytes) {
    fs::create_directories(dir);
    write_file((dir / name).string(), bytes.data(), bytes.size());
}

Bytes head(uint16_t col, uint16_t row, uint16_t size, uint8_t flags) {
    return {static_cast<uint8_t>(col), static_cast<uint8_t>(col >> 8), static_cast<uint8_t>(row),
            static_cast<uint8_t>(row >> 8), static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), flags};
}

void define_names() {
    wksir(kFile, "TOTAL", 0, 0, 3, 9);
    wksir(kFile, "ONE", 1, 1, 1, 1);
}

void formula_seeds(const fs::path &out) {
    int i = 0;
    for (const char *text : kFormulas) {
        define_names();
        Bytes t = head(kCol, kRow, 2048, 1);
        t.insert(t.end(), text, text + std::strlen(text));
        put(out / "formula_text", "text" + std::to_string(i), t);

        unsigned char code[2048];
        if (wksfe(kFile, kCol, kRow, text, code, sizeof code) == 0) {
            Bytes c = head(kCol, kRow, 2048, 1);
            c.insert(c.end(), code + wks::kCodeLengthSize, code + wks::kCodeLengthSize + wks::get_u16(code));
            put(out / "formula_code", "code" + std::to_string(i), c);
        }
        wkscs();
        ++i;
    }
}

Bytes record(uint16_t type, const Bytes &body) {
    Bytes r = {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(body.size()),
               static_cast<uint8_t>(body.size() >> 8)};
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

Bytes range_name(const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    Bytes b(WKS_NAME_RECORD_SIZE, 0);
    std::memcpy(b.data(), name, std::strlen(name));
    unsigned char *c = &b[WKS_NAME_COORDINATES];
    for (int16_t v : {c1, r1, c2, r2}) {
        wks::put_u16(c, static_cast<uint16_t>(v));
        c += 2;
    }
    return b;
}

// An ORX cell body: the prefix, format, column, row, value.
Bytes orx_cell(int16_t col, int16_t row, const Bytes &value) {
    Bytes b(WKS_ORX_CELL_PREFIX, 0);
    b[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    b.push_back(0xFF);
    b.push_back(static_cast<uint8_t>(col));
    b.push_back(static_cast<uint8_t>(col >> 8));
    b.push_back(static_cast<uint8_t>(row));
    b.push_back(static_cast<uint8_t>(row >> 8));
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

// An ORX file written through the library: header block, BOF, a few cells
// of every kind, a range name, formulas, EOF.
Bytes written_orx(const std::string &file, int formulas) {
    unsigned char header[WKS_HEADER_SIZE] = {};
    for (int i = 0; i < WKS_HEADER_SIZE - 4; ++i) header[i] = static_cast<unsigned char>(i * 7);
    wks::put_u16(header + wks::header::kMagicOffset1, wks::header::kMagic1);
    wks::put_u16(header + wks::header::kMagicOffset2, wks::header::kMagic2);
    SetOrxHeader(header);
    WKS h;
    std::memset(&h, 0, sizeof h);
    if (!wksopen(&h, "", file.c_str())) fail("seed: create failed");
    auto write = [&h](const Bytes &rec) {
        std::memcpy(&h.rec, rec.data(), rec.size());
        wkswrec(&h);
    };
    write(record(WKS_RANGE_NAME, range_name("TOTAL", 0, 0, 1, 1)));
    write(record(WKS_INTEGER, orx_cell(0, 0, {42, 0})));
    write(record(WKS_NUMBER, orx_cell(1, 0, {0, 0, 0, 0, 0, 0, 0x04, 0x40})));
    write(record(WKS_LABEL, orx_cell(0, 1, {'\'', 'a', 'b', 0})));
    for (int i = 0; i < formulas; ++i) {
        if (wksform(&h, static_cast<char>(0xFF), 2, static_cast<int16_t>(1 + i), kFormulas[4 + i]) == 0)
            wkswrec(&h);
    }
    write(record(WKS_BLANK, orx_cell(3, 3, {})));
    wksclose(&h);
    wkscs();
    return read_file(file);
}

void orx_seeds(const fs::path &out, const std::string &scratch) {
    for (int formulas = 0; formulas <= 6; formulas += 3) {
        const Bytes file = written_orx(scratch, formulas);
        for (uint8_t flags = 0; flags < 4; ++flags) {
            Bytes seed = {flags};
            seed.insert(seed.end(), file.begin(), file.end());
            put(out / "orx_file", "orx" + std::to_string(formulas) + "-" + std::to_string(flags), seed);
            put(out / "calc_file", "orx" + std::to_string(formulas) + "-" + std::to_string(flags), seed);
        }
    }
}

// WK1 files: the ORX files converted by the library, one also as a
// Symphony file.
void wk1_seeds(const fs::path &out, const std::string &orx, const std::string &wk1) {
    for (int formulas = 0; formulas <= 6; formulas += 3) {
        written_orx(orx, formulas);
        if (orx_to_wk1(orx.c_str(), wk1.c_str()) != 0) fail("seed: orx_to_wk1 failed");
        const Bytes file = read_file(wk1);
        for (uint8_t flags = 0; flags < 2; ++flags) {
            Bytes seed = {flags};
            seed.insert(seed.end(), file.begin(), file.end());
            put(out / "wk1_file", "wk1-" + std::to_string(formulas) + "-" + std::to_string(flags), seed);
            put(out / "calc_file", "wk1-" + std::to_string(formulas) + "-" + std::to_string(flags), seed);
            if (formulas != 3) continue;
            // The same sheet as a Symphony file: its BOF version, a record of its own.
            Bytes symphony = {flags, 0, 0, 2, 0, 0x05, 0x04, 0x66, 0, 2, 0, 1, 2};
            symphony.insert(symphony.end(), file.begin() + 6, file.end());
            put(out / "calc_file", "symphony-" + std::to_string(flags), symphony);
        }
        wks_cleanup();
    }
}

// Formula records: the code of formulas with and without external
// references, from body offset 24 on, for both directions.
void record_seeds(const fs::path &out) {
    const char *const texts[] = {
        "@@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")+A1",
        "@@(\"<<C:\\X\\BOOK.ORX>>$A$1..B2\")*2",
        "@IF(A1,\"x:y\",\"<<a.wk1>>C3\")",
        "3.14159265*@SUM(A1..B9)",
    };
    int i = 0;
    for (const char *text : texts) {
        unsigned char code[2048];
        if (wksfe(0, kCol, kRow, text, code, sizeof code) != 0) fail("seed: formula does not compile", text);
        for (uint8_t flags = 0; flags < 2; ++flags) {
            Bytes seed = {flags, 0xFF, static_cast<uint8_t>(kCol), 0, static_cast<uint8_t>(kRow), 0};
            seed.insert(seed.end(), code, code + 2 + wks::get_u16(code));
            put(out / "formula_records", "rec" + std::to_string(i) + "-" + std::to_string(flags), seed);
        }
        ++i;
    }
}

// The tool's readers: CSV text, the JSON form of the ORX and WK1 seed
// files, and the files themselves, one with records and bytes after its
// EOF record, and a Symphony and a Works file.
void tool_seeds(const fs::path &out, const std::string &orx, const std::string &wk1) {
    const char *const csv[] = {
        "Item,Qty,Price,Total\nApples,12,0.45,=B2*C2\n\"Figs, dried\",2,3.2,=$B$3*C3\nSum,=@SUM(B2..B3),,=@SUM(D2..D3)\n",
        ("\xEF\xBB\xBF" "32767,-32768,32768,1.0,2e3,-0.5\r\n'quoted,+A1,=,12a,\"two\r\nlines\"\r\n,,\"say \"\"hi\"\"\"\n"),
        "Caf\xC3\xA9,=@UPPER(\"abc\")&\"x\",=@ERR,=@NA,=1e300*10\n",
    };
    int i = 0;
    for (const char *text : csv) put(out / "tool_csv", "csv" + std::to_string(i++), concat_text(0, text));
    written_orx(orx, 3);
    if (orx_to_wk1(orx.c_str(), wk1.c_str()) != 0) fail("seed: orx_to_wk1 failed");
    wks_cleanup();
    Bytes odd = read_file(wk1);
    const Bytes tail = {0x0e, 0, 0x0d, 0, 0xff, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f, 1, 0, 0, 0, 0x1a, 0x1a};
    odd.insert(odd.end(), tail.begin(), tail.end());
    write_file(path("odd.wk1"), odd.data(), odd.size());
    // A Symphony file with a record of its own, a Works file with its LICS
    // marker: the family's variants the readers take.
    const Bytes label = {0x0f, 0, 9, 0, 0x27, 0, 0, 0, 0, '\'', 'C', 0xE9, 0};
    const Bytes end = {1, 0, 0, 0};
    const Bytes symphony = {0, 0, 2, 0, 0x05, 0x04, 0x66, 0, 2, 0, 1, 2};
    const Bytes works = {0, 0, 2, 0, 0x04, 0x04, 0x02, 0x54, 0, 0, 0x25, 0x54, 0, 0};
    for (const auto &[name, first] : {std::pair{"symphony.wr1", symphony}, std::pair{"works.wks", works}}) {
        Bytes file = first;
        file.insert(file.end(), label.begin(), label.end());
        file.insert(file.end(), end.begin(), end.end());
        write_file(path(name), file.data(), file.size());
    }
    for (const std::string &file : {orx, wk1, path("odd.wk1"), path("symphony.wr1"), path("works.wks")}) {
        const std::string name = fs::path(file).filename().string();
        const Bytes bytes = read_file(file);
        Bytes seed = {0};
        seed.insert(seed.end(), bytes.begin(), bytes.end());
        put(out / "tool_dump", name, seed);
        tool::Sheet sheet;
        if (!sheet.open(file) || !sheet.load_names()) fail("seed: the tool cannot read", file);
        sheet.read_past_end(true);
        tool::JsonRecords check(tool::Charset::kCp437);
        check.set_source(sheet.format());
        check.set_target(sheet.format());
        std::string lines;
        tool::Record r;
        while (sheet.next(r) == 1) lines += tool::record_json(r, sheet.format(), sheet.header_block(),
                                                               tool::Charset::kCp437, check) + "\n";
        for (uint8_t flags = 0; flags < 2; ++flags)
            put(out / "tool_json", name + "-" + std::to_string(flags), concat_text(flags, lines.c_str()));
        tool::take_messages();
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <directory>\n");
        return 2;
    }
    init_once();
    begin_input();
    const fs::path out = argv[1];
    formula_seeds(out);
    orx_seeds(out, path("seed.orx"));
    wk1_seeds(out, path("seed.orx"), path("seed.wk1"));
    record_seeds(out);
    tool_seeds(out, path("seed.orx"), path("seed.wk1"));
    end_input();
    return 0;
}

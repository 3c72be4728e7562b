// Rewriting the external references of formula records, alone and inside
// the converters: what changes, what must stay byte for byte, and every
// way a formula is refused with its record left as it was.
#include "support/test_support.h"

#include <cstring>
#include <filesystem>
#include <random>
#include <set>

using namespace wkstest;

namespace {

// Body offsets of an ORX formula record; the code items follow their length word.
constexpr int kFormat = WKS_ORX_CELL(WKS_CELL_FORMAT), kValue = WKS_ORX_CELL(WKS_CELL_VALUE);
constexpr int kCodeLength = WKS_ORX_CELL(WKS_CELL_FORMULA_CODE), kCode = kCodeLength + 2;

uint16_t u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

Bytes record_bytes(const WKS &h) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&h.rec);
    return Bytes(p, p + 4 + u16(h.rec.length));
}

// The file number the library registers a handle's names under.
int32_t file_of(const WKS *h) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)));
}

class FormulaRewrite : public LibraryTest {
protected:
    WKS h = blank_handle();
    std::string path(const std::string &name) { return dir.file(name); }

    // A formula record in h (ORX layout) for the cell at (col, row).
    void formula(const std::string &text, int16_t col = 2, int16_t row = 2) {
        std::memset(h.rec.body, 0, WKS_ORX_CELL_PREFIX - 1);
        h.rec.body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
        ASSERT_EQ(wksform(&h, ' ', col, row, text.c_str()), 0) << text;
    }
    // A formula record in h with hand-made code items (foreign code).
    void formula_code(const Bytes &items, int16_t col = 2, int16_t row = 2) {
        Bytes body = orx_cell_body(0xFF, col, row, Bytes(8, 0));
        put16(body, static_cast<uint16_t>(items.size()));
        body.insert(body.end(), items.begin(), items.end());
        const Bytes r = record(WKS_FORMULA, body);
        std::memcpy(&h.rec, r.data(), r.size());
    }
    std::string text_of(const WKS &w) {
        char out[2048];
        const int16_t col = static_cast<int16_t>(u16(w.rec.body + WKS_ORX_CELL(WKS_CELL_COLUMN)));
        const int16_t row = static_cast<int16_t>(u16(w.rec.body + WKS_ORX_CELL(WKS_CELL_ROW)));
        if (wksfr(file_of(&w), col, row, w.rec.body + kCodeLength, out, sizeof out) != 0) return "<undecodable>";
        return out;
    }
    Bytes code_of(const WKS &w) {
        const uint8_t *code = w.rec.body + kCode;
        return Bytes(code, code + u16(w.rec.body + kCodeLength));
    }
};

TEST_F(FormulaRewrite, ReferencesAreRewrittenInBothDirections) {
    formula("@@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")+@IF(A1,\"see A:B2\",\"z\")");
    ASSERT_EQ(modify_formula_wk12orx(&h), 0);
    EXPECT_EQ(text_of(h), "@@(\"<<SALES.ORX>>B2\")+@IF(A1,\"see B2\",\"z\")");
    ASSERT_EQ(modify_formula_orx2wk1(&h), 0);
    EXPECT_EQ(text_of(h), "@@(\"<<SALES.WK1>>B2\")+@IF(A1,\"see B2\",\"z\")");
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(FormulaRewrite, AFormulaThatNeedsNoRewritingStaysByteForByte) {
    for (const char *text : {"A1+B1*2", "3.14159265*@SUM(A1..B9)", "@UPPER(\"a:b\")", "-2.5E-07+1E+300",
                             "@@(\"<<SALES.ORX>>B2\")", "\"a\"&\"Note:Bob\"", "@IF(A1,\"x:y\",\"z\")"}) {
        formula(text);
        h.rec.body[kFormat] = ' ';  // a blank format byte, which compiling would turn into 255
        wksdi(h.rec.body + kValue, 7.25);
        const Bytes before = record_bytes(h);
        EXPECT_EQ(modify_formula_wk12orx(&h), 0) << text;
        EXPECT_EQ(hex(record_bytes(h)), hex(before)) << text;
        if (std::string(text).find("ORX") != std::string::npos) continue;  // that one the other way rewrites
        EXPECT_EQ(modify_formula_orx2wk1(&h), 0) << text;
        EXPECT_EQ(hex(record_bytes(h)), hex(before)) << text;
    }
}

TEST_F(FormulaRewrite, ARewrittenFormulaKeepsItsRealsItsFormatAndItsPrefix) {
    formula("@IF(A1,\"A:B2\",3.14159265358979+4.0+1E-300+7)");
    for (int i = 0; i < WKS_ORX_CELL_PREFIX; ++i) h.rec.body[i] = static_cast<uint8_t>(0xA0 + i);
    h.rec.body[kFormat] = ' ';
    wksdi(h.rec.body + kValue, 99.0);
    ASSERT_EQ(modify_formula_wk12orx(&h), 0);
    EXPECT_EQ(text_of(h), "@IF(A1,\"B2\",3.14159+4+1e-300+7)");
    for (int i = 0; i < WKS_ORX_CELL_PREFIX; ++i) EXPECT_EQ(h.rec.body[i], 0xA0 + i);
    EXPECT_EQ(h.rec.body[kFormat], ' ');
    EXPECT_EQ(wksid(h.rec.body + kValue), 0.0);
    // The code as compiled from the text written with the exact reals.
    WKS want = blank_handle();
    std::memset(want.rec.body, 0, WKS_ORX_CELL_PREFIX);
    ASSERT_EQ(wksform(&want, ' ', 2, 2, "@IF(A1,\"B2\",3.14159265358979+4.0+1E-300+7)"), 0);
    EXPECT_EQ(hex(code_of(h)), hex(code_of(want)));
    EXPECT_EQ(u16(h.rec.length), kCode + code_of(want).size());
}

// Foreign code may hold negative constants, which text writes as negations.
TEST_F(FormulaRewrite, NegativeConstantsComeBackAsNegations) {
    const Bytes link = {6, '<', '<', 'f', '.', 'w', 'k', '1', '>', '>', 'A', '1', 0, 115};  // @@("<<f.wk1>>A1")
    formula_code(concat({link, {5, 0xFB, 0xFF, 11, 3}}), 2, 3);                            // *-5
    ASSERT_EQ(modify_formula_wk12orx(&h), 0);
    EXPECT_EQ(text_of(h), "@@(\"<<F.ORX>>A1\")*-5");
    const Bytes code = code_of(h), tail = {115, 5, 5, 0, 8, 11, 3};  // @@, 5, negation, "*", end
    EXPECT_EQ(hex(Bytes(code.end() - 7, code.end())), hex(tail));
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(FormulaRewrite, RefusedFormulasKeepTheirRecords) {
    const Bytes a_colon_b = {1, 0xFE, 0xBF, 0xFE, 0xBF, 6, 'A', ':', 'B', '2', 0};  // A1, "A:B2": a rewrite is due
    const Bytes negative_real = [] {
        Bytes b = {0};
        put_double(b, -2.5);
        return b;
    }();
    Bytes deep = {6, 'A', ':', 'B', '2', 0, 5, 0xFB, 0xFF};  // "A:B2"&(((...(-5)...))), 63 levels deep
    deep.insert(deep.end(), 63, 4);
    deep.insert(deep.end(), {24, 3});
    const struct {
        const char *what;
        Bytes items;
        int16_t code;
        int16_t col = 2, row = 2;
    } cases[] = {
        {"-2.5^2, which text regroups as -(2.5^2)", concat({a_colon_b, negative_real, {5, 2, 0, 13, 59, 3}}),
         WKS_E_UNIMPLEMENTED},
        {"a negation more nests the code too deeply to decode", deep, WKS_E_DECODE_DEPTH},
        {"a cell off the sheet", concat({a_colon_b, {20, 3}}), WKS_E_BAD_FUNCTION, 15420, -6},
        {"an invalid opcode", Bytes{25, 3}, WKS_E_BAD_FUNCTION},
        {"code without an end item", Bytes{5, 1, 0}, WKS_E_BAD_FUNCTION},
    };
    for (const auto &c : cases) {
        formula_code(c.items, c.col, c.row);
        const Bytes before = record_bytes(h);
        messages.clear();
        EXPECT_EQ(modify_formula_wk12orx(&h), c.code) << c.what;
        EXPECT_EQ(hex(record_bytes(h)), hex(before)) << c.what;
        EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(c.code)}) << c.what;
    }
    // A record too short for its code length, or no formula at all.
    formula("A1");
    h.rec.length[0] = static_cast<uint8_t>(h.rec.length[0] - 1);
    EXPECT_EQ(modify_formula_wk12orx(&h), WKS_E_BAD_FUNCTION);
    h.rec.type[0] = WKS_LABEL;
    EXPECT_EQ(modify_formula_orx2wk1(&h), WKS_E_BAD_FUNCTION);
    // A rewritten text that does not compile: the compiler's code, also in the handle.
    formula("+\"<<a>>A1\"");
    Bytes before = record_bytes(h);
    messages.clear();
    EXPECT_EQ(modify_formula_wk12orx(&h), WKS_E_SYNTAX);
    EXPECT_EQ(+h.error, WKS_E_SYNTAX);
    EXPECT_EQ(hex(record_bytes(h)), hex(before));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_SYNTAX)});
}

TEST_F(FormulaRewrite, ARewrittenTextTooLongForItsBufferIsRefused) {
    std::string text = "\"<<>>A1\"";
    for (int i = 0; i < 225; ++i) text += "&\"<<>>A1\"";
    formula(text);
    const Bytes before = record_bytes(h);
    EXPECT_EQ(modify_formula_wk12orx(&h), WKS_E_OUTPUT_EXHAUSTED);
    EXPECT_EQ(hex(record_bytes(h)), hex(before));
}

TEST_F(FormulaRewrite, TheWk1LengthGuardKeepsTheFormulaAndRaisesTheFlag) {
    // "<<x.orx>>A1" becomes "<<X.WK1>>A1": the text keeps its length.
    auto text_of_length = [](std::size_t n) {
        const std::string head = "\"<<x.orx>>A1\"&\"";
        return head + std::string(n - head.size() - 1, 'a') + "\"";
    };
    formula(text_of_length(255));
    ASSERT_EQ(modify_formula_orx2wk1(&h), 0);
    EXPECT_EQ(text_of(h).substr(0, 13), "\"<<X.WK1>>A1\"");
    formula(text_of_length(256));
    const Bytes before = record_bytes(h);
    EXPECT_EQ(modify_formula_orx2wk1(&h), WKS_E_FORMULA_SIZE);
    EXPECT_EQ(hex(record_bytes(h)), hex(before));
    EXPECT_EQ(messages.count(), 0u);
    // A long text with nothing to rewrite is kept too, and raises the flag as well.
    formula("\"" + std::string(300, 'b') + "\"");
    const Bytes plain = record_bytes(h);
    EXPECT_EQ(modify_formula_orx2wk1(&h), 0);
    EXPECT_EQ(hex(record_bytes(h)), hex(plain));

    // The flag is reported by the next wk1_to_orx, once.
    write_file(path("a.wk1"), concat({bof(1030), eof()}));
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.orx").c_str()), WKS_CONVERT_TEXT_CUT);
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.orx").c_str()), 0);
}

TEST_F(FormulaRewrite, AReadingHandleNeverGrowsItsRecordOverTheReadAhead) {
    formula("@@(\"<<a>>A1\")");  // "<<a>>" becomes "<<A.WK1>>": the code grows
    const Bytes f = record_bytes(h);
    write_file(path("in.orx"), concat({header_block(), bof(1030), f, record(WKS_LABEL, orx_cell_body('\'', 0, 9, {'z', 0})),
                                       eof()}));
    WKS r = blank_handle();
    ASSERT_TRUE(wksopen(&r, path("in.orx").c_str(), ""));
    ASSERT_EQ(wksnextr(&r), 0);
    EXPECT_EQ(modify_formula_orx2wk1(&r), WKS_E_CODE_SPACE);
    EXPECT_EQ(hex(record_bytes(r)), hex(f));
    ASSERT_EQ(wksnextr(&r), 0);
    EXPECT_EQ(u16(r.rec.type), WKS_LABEL);
    wksclose(&r);

    // The converter rebuilds the formula in a copy and reads on undisturbed.
    ASSERT_EQ(orx_to_wk1(path("in.orx").c_str(), path("out.wk1").c_str()), 0);
    WKS w = blank_handle();
    ASSERT_TRUE(wksopen_wk1(&w, path("out.wk1").c_str(), ""));
    ASSERT_EQ(wksnextr_wk1(&w), 0);
    WKS orx = blank_handle();
    ASSERT_EQ(wk1_rec_to_orx_rec(reinterpret_cast<uint8_t *>(&w.rec), reinterpret_cast<uint8_t *>(&orx.rec)), 0);
    EXPECT_EQ(text_of(orx), "@@(\"<<A.WK1>>A1\")");
    ASSERT_EQ(wksnextr_wk1(&w), 0);
    EXPECT_EQ(u16(w.rec.type), WKS_LABEL);
    EXPECT_EQ(wksnextr_wk1(&w), -1);
    wksclose_wk1(&w);
}

// --- through the converters ---------------------------------------------------

Bytes wk1_formula(WKS &scratch, const std::string &text, int16_t col, int16_t row) {
    std::memset(scratch.rec.body, 0, WKS_ORX_CELL_PREFIX);
    EXPECT_EQ(wksform(&scratch, ' ', col, row, text.c_str()), 0) << text;
    WKS out = blank_handle();
    orx_rec_to_wk1_rec(reinterpret_cast<uint8_t *>(&scratch.rec), reinterpret_cast<uint8_t *>(&out.rec));
    return record_bytes(out);
}

TEST_F(FormulaRewrite, ConvertersRewriteFormulasAndKeepTheRestByteForByte) {
    WKS scratch = blank_handle();
    Bytes plain = wk1_formula(scratch, "3.14159265358979*$A$1+@SUM(B1..C4)", 3, 3);
    uint8_t *cell = plain.data() + 4;  // after the record header
    cell[WKS_CELL_FORMAT] = ' ';       // a blank format byte
    wksdi(cell + WKS_CELL_VALUE, 12.5);  // and a value
    const Bytes linked = wk1_formula(scratch, "@@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")*2", 0, 5);
    write_file(path("a.wk1"), concat({bof(1030), plain, linked, eof()}));

    ASSERT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("b.orx").c_str()), 0);
    WKS r = blank_handle();
    ASSERT_TRUE(wksopen(&r, path("b.orx").c_str(), ""));
    ASSERT_EQ(wksnextr(&r), 0);
    Bytes want_plain = plain;
    want_plain[2] = static_cast<uint8_t>(want_plain[2] + WKS_ORX_CELL_PREFIX);
    want_plain.insert(want_plain.begin() + 4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, WKS_ORX_PREFIX_MARK});
    EXPECT_EQ(hex(record_bytes(r)), hex(want_plain));
    ASSERT_EQ(wksnextr(&r), 0);
    EXPECT_EQ(text_of(r), "@@(\"<<SALES.ORX>>B2\")*2");
    EXPECT_EQ(wksnextr(&r), -1);
    wksclose(&r);

    ASSERT_EQ(orx_to_wk1(path("b.orx").c_str(), path("c.wk1").c_str()), 0);
    WKS w = blank_handle();
    ASSERT_TRUE(wksopen_wk1(&w, path("c.wk1").c_str(), ""));
    ASSERT_EQ(wksnextr_wk1(&w), 0);
    EXPECT_EQ(hex(record_bytes(w)), hex(plain));
    wksclose_wk1(&w);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(FormulaRewrite, OrxToWk1ReportsItsOwnCutFormulas) {
    formula("\"<<x.orx>>A1\"&\"" + std::string(300, 'a') + "\"");
    const Bytes f = record_bytes(h);
    write_file(path("long.orx"), concat({header_block(), bof(1030), f, eof()}));
    EXPECT_EQ(orx_to_wk1(path("long.orx").c_str(), path("long.wk1").c_str()), WKS_CONVERT_TEXT_CUT);
    // The formula is in the result unchanged, and the flag waits for wk1_to_orx.
    WKS w = blank_handle();
    ASSERT_TRUE(wksopen_wk1(&w, path("long.wk1").c_str(), ""));
    ASSERT_EQ(wksnextr_wk1(&w), 0);
    WKS orx = blank_handle();
    ASSERT_EQ(wk1_rec_to_orx_rec(reinterpret_cast<uint8_t *>(&w.rec), reinterpret_cast<uint8_t *>(&orx.rec)), 0);
    EXPECT_EQ(hex(record_bytes(orx)), hex(f));
    wksclose_wk1(&w);
    EXPECT_EQ(wk1_to_orx(path("long.wk1").c_str(), path("again.orx").c_str()), WKS_CONVERT_TEXT_CUT);
    EXPECT_EQ(wk1_to_orx(path("long.wk1").c_str(), path("again.orx").c_str()), 0);
}

TEST_F(FormulaRewrite, RandomFormulaCodeNeverCrashesAConverter) {
    std::mt19937 rng(777);
    const std::set<int32_t> results = {WKS_CONVERTED, WKS_CONVERT_TEXT_CUT, WKS_CONVERT_SOURCE_DAMAGED};
    for (int i = 0; i < 300; ++i) {
        Bytes items(std::uniform_int_distribution<std::size_t>(0, 60)(rng));
        for (uint8_t &b : items) b = static_cast<uint8_t>(rng() % 40);  // mostly operand and operator opcodes
        if (i % 3) items.push_back(3);
        Bytes body = wk1_cell_body(0xFF, static_cast<int16_t>(rng() % 256), static_cast<int16_t>(rng() % 100),
                                   Bytes(8, 0));
        put16(body, static_cast<uint16_t>(i % 5 ? items.size() : rng()));
        body.insert(body.end(), items.begin(), items.end());
        const Bytes input = concat({bof(1030), record(WKS_FORMULA, body), eof()});
        write_file(path("r.wk1"), input);
        EXPECT_TRUE(results.count(wk1_to_orx(path("r.wk1").c_str(), path("r.orx").c_str()))) << hex(input);
        EXPECT_TRUE(results.count(orx_to_wk1(path("r.orx").c_str(), path("r.orx").c_str()))) << hex(input);
    }
}

}  // namespace

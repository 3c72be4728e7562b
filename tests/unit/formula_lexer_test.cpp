// The formula lexer on its own: the tokens and token values it delivers for
// formula texts, its reader's push-back, and the failures it reports.
#define WKS_FORMULA_INTERNALS  // the lexer, parser and decoder pieces of wks.h
#include "formula/grammar.hpp"
#include "formula/lexer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

using namespace wks::formula;

namespace {

// One token as the tests spell it: "INT 7", "CELL BFFE BFFC", "ERR 5", ...
std::string describe(int32_t token) {
    const Value &v = token_value();
    char buf[64];
    switch (token) {
    case kEndOfText: return "END";
    case TOK_LEXERROR: return "ERR " + std::to_string(pending_error());
    case TOK_AND: return "AND";
    case TOK_OR: return "OR";
    case TOK_NOT: return "NOT";
    case TOK_EQ: return "=";
    case TOK_NE: return "<>";
    case TOK_LE: return "<=";
    case TOK_GE: return ">=";
    case TOK_GT: return ">";
    case TOK_LT: return "<";
    case TOK_PLUS: return "+";
    case TOK_MINUS: return "-";
    case TOK_CONCAT: return "&";
    case TOK_TIMES: return "*";
    case TOK_DIVIDE: return "/";
    case TOK_POWER: return "^";
    case TOK_LPAREN: return "(";
    case TOK_RPAREN: return ")";
    case TOK_COMMA: return ",";
    case TOK_INTEGER: return "INT " + std::to_string(v.integer);
    case TOK_REAL: std::snprintf(buf, sizeof buf, "REAL %g", v.real); return buf;
    case TOK_STRING: return "STR [" + std::string(v.string) + "]";
    case TOK_CELL: std::snprintf(buf, sizeof buf, "CELL %04X %04X", v.words[0], v.words[1]); return buf;
    case TOK_RANGE:
        std::snprintf(buf, sizeof buf, "RANGE %04X %04X %04X %04X", v.words[0], v.words[1], v.words[2], v.words[3]);
        return buf;
    case TOK_FUNCTION:
        std::snprintf(buf, sizeof buf, "FN %u/%u", v.call.opcode, v.call.declared);
        return buf;
    default: return "?" + std::to_string(token);
    }
}

// Every token up to the end of the text or the first failure.
std::string lex(const char *text, int16_t col = 0, int16_t row = 0) {
    set_formula_position(col, row);
    resetlex(text);
    std::string out;
    for (int i = 0; i < 64; ++i) {
        int32_t t = yylex();
        if (!out.empty()) out += " | ";
        out += describe(t);
        if (t == kEndOfText || t == TOK_LEXERROR) break;
    }
    return out;
}

struct LexCase {
    const char *text;
    const char *tokens;
};

class LexerTest : public ::testing::Test {
protected:
    void TearDown() override { detach_text(); }
};

void expect_tokens(const std::vector<LexCase> &cases, int16_t col = 0, int16_t row = 0) {
    for (const LexCase &c : cases) EXPECT_EQ(lex(c.text, col, row), c.tokens) << "text: " << c.text;
}

}  // namespace

TEST_F(LexerTest, OperatorsAndPunctuation) {
    expect_tokens({
        {"", "END"},
        {"+-*/^&=,()", "+ | - | * | / | ^ | & | = | , | ( | ) | END"},
        {"<><=>=<>", "<> | <= | >= | <> | END"},
        {"=<", "= | < | END"},
        {"><", "> | < | END"},
        {"#AND##OR##NOT#", "AND | OR | NOT | END"},
        {"-5", "- | INT 5 | END"},
    });
}

TEST_F(LexerTest, EndOfTextRepeats) {
    resetlex("");
    EXPECT_EQ(yylex(), kEndOfText);
    EXPECT_EQ(yylex(), kEndOfText);
    resetlex("1");
    EXPECT_EQ(yylex(), TOK_INTEGER);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(yylex(), kEndOfText);
}

TEST_F(LexerTest, Numbers) {
    expect_tokens({
        {"32767", "INT 32767 | END"},
        {"32768", "REAL 32768 | END"},
        {"65536", "REAL 65536 | END"},
        {"98304", "REAL 98304 | END"},  // wraps to -32768 in 16 bits
        {"007", "INT 7 | END"},
        {"0", "INT 0 | END"},
        {"2.0", "REAL 2 | END"},
        {"2.", "REAL 2 | END"},
        {"2E3", "REAL 2000 | END"},
        {".5", "REAL 0.5 | END"},
        {"1+2", "INT 1 | + | INT 2 | END"},
        {"1E+2", "REAL 100 | END"},
        {"1.5E+3-2", "REAL 1500 | - | INT 2 | END"},
        {"40000-1", "REAL 40000 | - | INT 1 | END"},
        {"1E", "REAL 1 | ERR 6"},   // the E is read as a column without a row
        {"1e-", "REAL 1 | ERR 6"},
        {"1..2", "REAL 1 | REAL 0.2 | END"},
        {"1E400", "REAL inf | END"},
        {"1E-400", "REAL 0 | END"},
        {"0.000001E-320", "REAL 0 | END"},
        {"4.9E-324", "REAL 4.94066e-324 | END"},
    });
}

TEST_F(LexerTest, LonePoint) {
    expect_tokens({
        {".", "ERR 12"},
        {".A", "ERR 12"},
    });
    // Nothing converts: every character goes back, and the same token comes again.
    for (const char *text : {"..", ".E", ".+", ".-"}) {
        resetlex(text);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(yylex(), TOK_REAL) << text;
            EXPECT_EQ(token_value().real, 0.0) << text;
        }
    }
}

TEST_F(LexerTest, NumberTextLimit) {
    std::string digits(1023, '1');
    EXPECT_EQ(lex(digits.c_str()), "REAL inf | END");
    digits += '1';
    EXPECT_EQ(lex(digits.c_str()), "ERR 12");
    std::string real = "1." + std::string(1021, '0');
    EXPECT_EQ(lex(real.c_str()), "REAL 1 | END");
    real += '0';
    EXPECT_EQ(lex(real.c_str()), "ERR 12");
}

TEST_F(LexerTest, RealsIgnoreTheLocaleDecimalPoint) {
    const char *before = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = before ? before : "C";
    // Any locale with a comma as decimal point will do; skip when none exists.
    bool found = false;
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de-DE", "German"})
        if (!found && std::setlocale(LC_NUMERIC, name)) found = true;
    if (!found) GTEST_SKIP() << "no locale with a decimal comma installed";
    resetlex("1.5");
    int32_t token = yylex();
    double value = token_value().real;
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(token, TOK_REAL);
    EXPECT_EQ(value, 1.5);
}

TEST_F(LexerTest, Strings) {
    expect_tokens({
        {"\"ab\"", "STR [ab] | END"},
        {"\"\"", "STR [] | END"},
        {"\"a\"\"b\"", "STR [a\"b] | END"},
        {"\"a\"\"\"b", "STR [a\"] | ERR 6"},  // three quotes: one quote, then the end
        {"\"open", "STR [open] | END"},
        {"\"a b,(#@)\"", "STR [a b,(#@)] | END"},
        {"\"tab\there\"", "STR [tab] | ERR 4"},
        {"\"x\xff\"", "STR [x] | ERR 4"},
        {"\"\x80M\xDCNCHEN\xFE\"", "STR [\x80M\xDCNCHEN\xFE] | END"},
        {"\"x\x7f\"", "STR [x] | ERR 4"},
    });
    std::string s = "\"" + std::string(1023, 'x') + "\"";
    EXPECT_EQ(lex(s.c_str()), "STR [" + std::string(1023, 'x') + "] | END");
    s = "\"" + std::string(1024, 'x') + "\"";
    EXPECT_EQ(lex(s.c_str()), "ERR 11");
}

TEST_F(LexerTest, FunctionNames) {
    expect_tokens({
        {"@SUM", "FN 80/255 | END"},
        {"@sum", "FN 80/255 | END"},
        {"@SuM(", "FN 80/255 | ( | END"},
        {"@PI", "FN 38/0 | END"},
        {"@@", "FN 115/1 | END"},
        {"@ATAN2(", "FN 42/2 | ( | END"},
        {"@IF", "FN 59/3 | END"},
        {"@DDB", "FN 121/4 | END"},
        {"@SUMX", "ERR 15"},
        {"@", "ERR 15"},
        {"@ SUM", "ERR 15"},
    });
    std::string longname = "@" + std::string(1022, 'A');
    EXPECT_EQ(lex(longname.c_str()), "ERR 15");
    longname += 'A';
    EXPECT_EQ(lex(longname.c_str()), "ERR 15");
}

TEST_F(LexerTest, LogicalOperatorsNeedTheirExactSpelling) {
    expect_tokens({
        {"#and#", "ERR 5"},
        {"#ANDY", "ERR 5"},
        {"#OR", "ERR 5"},
        {"#", "ERR 5"},
        {"#N", "ERR 5"},
        {"1#OR#0", "INT 1 | OR | INT 0 | END"},
    });
}

TEST_F(LexerTest, CellsAndRanges) {
    expect_tokens({
        {"A1", "CELL 8000 8000 | END"},
        {"a1", "CELL 8000 8000 | END"},
        {"$A$1", "CELL 0000 0000 | END"},
        {"A$1", "CELL 8000 0000 | END"},
        {"$A1", "CELL 0000 8000 | END"},
        {"IV8192", "CELL 80FF 9FFF | END"},
        {"$IV$8192", "CELL 00FF 1FFF | END"},
        {"AA1", "CELL 801A 8000 | END"},
        {"IW1", "ERR 5"},
        {"A0", "ERR 6"},
        {"A8193", "ERR 6"},
        {"A65537", "ERR 6"},
        {"A000001", "CELL 8000 8000 | END"},
        {"AB", "ERR 6"},
        {"ABC1", "ERR 6"},
        {"$", "ERR 5"},
        {"A$", "ERR 6"},
        {"A1..B2", "RANGE 8000 8000 8001 8001 | END"},
        {"A1.B2", "RANGE 8000 8000 8001 8001 | END"},
        {"A1...B2", "ERR 5"},
        {"B2..A1", "RANGE 8001 8001 8000 8000 | END"},
        {"A1..B", "ERR 6"},
        {"$A$1..$B$2", "RANGE 0000 0000 0001 0001 | END"},
        {"!B3", "RANGE 8001 8002 8001 8002 | END"},
        {"!", "ERR 5"},
        {"!B", "ERR 6"},
        {" ", "ERR 5"},
        {"1 2", "INT 1 | ERR 5"},
        {"%", "ERR 5"},
        {"\t", "ERR 4"},
        {"\n", "ERR 4"},
        {"\x7f", "ERR 4"},
        {"\xff", "ERR 4"},
    });
}

TEST_F(LexerTest, ReferencesAreRelativeToTheFormulaPosition) {
    // The cell C5 (column 2, row 4).
    expect_tokens({
        {"B3", "CELL BFFF BFFE | END"},
        {"C5", "CELL 8000 8000 | END"},
        {"A1", "CELL BFFE BFFC | END"},
        {"IV8192", "CELL 80FD 9FFB | END"},
    }, 2, 4);
    EXPECT_EQ(lex("@IF(A1>=$B$2,\"yes\",-1.5E2)", 2, 4),
              "FN 59/3 | ( | CELL BFFE BFFC | >= | CELL 0001 0001 | , | STR [yes] | , | - | REAL 150 | ) | END");
    // The last cell of the sheet as the base.
    EXPECT_EQ(lex("A1", 255, 8191), "CELL BF01 A001 | END");
}

TEST(MakeRel, EncodesOffsetsAsFourteenBitWords) {
    EXPECT_EQ(makerel(5, 5), 0x8000);
    EXPECT_EQ(makerel(6, 5), 0x8001);
    EXPECT_EQ(makerel(10, 5), 0x8005);
    EXPECT_EQ(makerel(4, 5), 0xBFFF);
    EXPECT_EQ(makerel(3, 5), 0xBFFE);
    EXPECT_EQ(makerel(0, 5), 0xBFFB);
    EXPECT_EQ(makerel(8191, 0), 0x9FFF);
    EXPECT_EQ(makerel(0, 8191), 0xA001);
    EXPECT_EQ(makerel(0, 8192), 0xA000);  // -8192: the most negative offset
}

TEST_F(LexerTest, ReaderPushBack) {
    EXPECT_EQ(resetlex("ab"), 'a');
    EXPECT_EQ(gc(), 'b');
    EXPECT_EQ(gc(), -1);
    EXPECT_EQ(gc(), -1);
    EXPECT_EQ(gc(), -1);
    EXPECT_EQ(backc(), 'b');  // one push-back after any number of reads past the end
    EXPECT_EQ(gc(), -1);
    EXPECT_EQ(backc(), 'b');
    EXPECT_EQ(backc(), 'a');
    EXPECT_EQ(backc(), 'a');  // never before the first character
    EXPECT_EQ(gc(), 'b');

    // Before any text and after a compilation the reader is at an empty text.
    detach_text();
    EXPECT_EQ(backc(), -1);
    EXPECT_EQ(gc(), -1);
    EXPECT_EQ(yylex(), kEndOfText);
    EXPECT_EQ(resetlex(nullptr), -1);
}

TEST_F(LexerTest, ColumnAndRowReaders) {
    uint16_t w = 0;
    set_formula_position(0, 0);
    resetlex("$B");
    EXPECT_EQ(getcol(&w), 1);
    EXPECT_EQ(w, 1);
    resetlex("IW");
    EXPECT_EQ(getcol(&w), 0);
    resetlex("12x");
    EXPECT_EQ(getrow(&w), 1);
    EXPECT_EQ(w, 0x800B);
    EXPECT_EQ(gc(), -1);  // the x was current; getrow stopped in front of it
    resetlex("99999999999999999999");
    EXPECT_EQ(getrow(&w), 0);
    resetlex("A");
    EXPECT_EQ(getcol(nullptr), 1);  // no word to store: harmless
}

TEST_F(LexerTest, StringCopiesNobodyTakesAreFreed) {
    // Run under the sanitizer build: a leak would be reported at exit.
    resetlex("\"one\"\"\"\"two\"");
    EXPECT_EQ(yylex(), TOK_STRING);
    resetlex("\"a\"1\"b\"");
    EXPECT_EQ(yylex(), TOK_STRING);
    EXPECT_EQ(yylex(), TOK_INTEGER);
    EXPECT_EQ(yylex(), TOK_STRING);
    EXPECT_STREQ(token_value().string, "b");
}

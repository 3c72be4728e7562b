// The formula compiler through the C interface: formula text in, formula
// code out, byte for byte; precedence and association; the failures and the
// code each one returns; the fixed parser stack; the parser pieces called
// outside a compilation.
#define WKS_FORMULA_INTERNALS  // the lexer, parser and decoder pieces of wks.h
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using wkstest::Bytes;
using wkstest::hex;

namespace {

struct Compiled {
    int16_t code;
    Bytes bytes;  // the length word and the code it counts (only the length word after a failure)
};

Compiled compile(const std::string &text, int16_t col = 0, int16_t row = 0, int32_t size = 2048) {
    Bytes out(static_cast<std::size_t>(size) + 8, 0xEE);
    int16_t code = wksfe(7, col, row, text.c_str(), out.data(), size);
    std::size_t length = static_cast<std::size_t>(out[0] | (out[1] << 8));
    std::size_t used = code == 0 ? length + 2 : 2;
    return {code, Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(used))};
}

// "05 01 00" -> bytes
Bytes parse_hex(const std::string &s) {
    Bytes b;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        b.push_back(static_cast<uint8_t>(std::strtoul(s.substr(i, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return b;
}

struct CodeCase {
    const char *text;
    const char *code;  // hex, length word included
    int16_t col = 0;
    int16_t row = 0;
};

void expect_code(const std::vector<CodeCase> &cases) {
    for (const CodeCase &c : cases) {
        Compiled got = compile(c.text, c.col, c.row);
        EXPECT_EQ(got.code, 0) << "text: " << c.text;
        EXPECT_EQ(hex(got.bytes), hex(parse_hex(c.code))) << "text: " << c.text;
    }
}

struct FailCase {
    const char *text;
    int16_t code;
};

void expect_failure(const std::vector<FailCase> &cases) {
    for (const FailCase &c : cases) {
        Compiled got = compile(c.text);
        EXPECT_EQ(got.code, c.code) << "text: " << c.text;
        EXPECT_EQ(hex(got.bytes), "00 00") << "text: " << c.text;  // the length word stays 0
    }
}

std::string repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

TEST(FormulaCompile, WorkedExamples) {
    expect_code({
        {"", "01 00 03"},
        {"1+2*3", "0C 00 05 01 00 05 02 00 05 03 00 0B 09 03"},
        {"-2^2", "09 00 05 02 00 05 02 00 0D 08 03"},
        {"(A1)", "07 00 01 FF BF FF BF 04 03", 1, 1},
        {"@SUM(A1..A3)", "0C 00 02 00 80 00 80 00 80 02 80 50 01 03"},
        {"\"ab\"", "05 00 06 61 62 00 03"},
        {"@IF(A1>=$B$2,\"yes\",-1.5E2)",
         "1C 00 01 FE BF FC BF 01 01 00 01 00 11 06 79 65 73 00 00 00 00 00 00 00 C0 62 40 08 3B 03", 2, 4},
        {"A1+B1*2", "10 00 01 FE BF FE BF 01 FF BF FE BF 05 02 00 0B 09 03", 2, 2},
        {"$A$1", "06 00 01 00 00 00 00 03", 9, 9},
        {"C3", "06 00 01 00 80 00 80 03", 2, 2},
        {"!B3", "0A 00 02 01 80 02 80 01 80 02 80 03"},
        {"32767", "04 00 05 FF 7F 03"},
        {"32768", "0A 00 00 00 00 00 00 00 00 E0 40 03"},
        {"\"a\"\"b\"", "06 00 06 61 22 62 00 03"},
        {"\"\"", "03 00 06 00 03"},
        {"\"M\xDCNCHEN\"=\"\x80\xFE\"", "0F 00 06 4D DC 4E 43 48 45 4E 00 06 80 FE 00 0E 03"},
    });
}

TEST(FormulaCompile, FunctionCalls) {
    expect_code({
        {"@PI", "02 00 26 03"},
        {"@PI()", "02 00 26 03"},
        {"@SUM", "03 00 50 00 03"},
        {"@SUM()", "03 00 50 00 03"},
        {"@ABS(1)", "05 00 05 01 00 21 03"},
        {"@SUM(1,2,3)", "0C 00 05 01 00 05 02 00 05 03 00 50 03 03"},
        {"@IF(1,2,3)", "0B 00 05 01 00 05 02 00 05 03 00 3B 03"},
        {"@ROUND(@SUM(A1..A9)/3,2)",
         "14 00 02 00 80 00 80 00 80 08 80 50 01 05 03 00 0C 05 02 00 3F 03"},
        {"@DDB(1,2,3,4)", "0E 00 05 01 00 05 02 00 05 03 00 05 04 00 79 03"},
        {"@@(A1)", "07 00 01 00 80 00 80 73 03"},
        {"@sum(@pi,@pi())", "05 00 26 26 50 02 03"},
        {"@CHOOSE(1,\"a\")", "09 00 05 01 00 06 61 00 30 02 03"},
    });
    expect_failure({
        {"@PI(1)", WKS_E_ARGUMENT_COUNT},
        {"@ABS", WKS_E_ARGUMENT_COUNT},
        {"@ABS()", WKS_E_ARGUMENT_COUNT},
        {"@ABS(1,2)", WKS_E_ARGUMENT_COUNT},
        {"@IF(1,2)", WKS_E_ARGUMENT_COUNT},
        {"@SUM(1,)", WKS_E_SYNTAX},
        {"@SUM(,1)", WKS_E_SYNTAX},
        {"@SUM(1,,2)", WKS_E_SYNTAX},
        {"@SUM(", WKS_E_SYNTAX},
        {"@SUM(1", WKS_E_SYNTAX},
        {"@SUM)", WKS_E_SYNTAX},
        {"@ABS!", WKS_E_ARGUMENT_COUNT},       // the call is reduced before the bad character is reported
        {"@ABS\"x\"", WKS_E_ARGUMENT_COUNT},   // ... and before the string that cannot follow
        {"@PI!", WKS_E_BAD_COLUMN},
        {"@NOSUCH(1)", WKS_E_BAD_FUNCTION},
    });
}

TEST(FormulaCompile, PrecedenceAndAssociation) {
    expect_code({
        {"2^3^2", "0C 00 05 02 00 05 03 00 05 02 00 0D 0D 03"},
        {"8/4/2", "0C 00 05 08 00 05 04 00 0C 05 02 00 0C 03"},
        {"8-4-2", "0C 00 05 08 00 05 04 00 0A 05 02 00 0A 03"},
        {"-2*3", "09 00 05 02 00 08 05 03 00 0B 03"},
        {"2^-1", "09 00 05 02 00 05 01 00 08 0D 03"},
        {"1--2", "09 00 05 01 00 05 02 00 08 0A 03"},
        {"+1", "05 00 05 01 00 17 03"},
        {"--1", "06 00 05 01 00 08 08 03"},
        {"1#OR#0#AND#0", "0C 00 05 01 00 05 00 00 15 05 00 00 14 03"},
        {"#NOT#1=2", "09 00 05 01 00 05 02 00 0E 16 03"},
        {"#NOT#1#AND#2", "09 00 05 01 00 16 05 02 00 14 03"},
        {"1=#NOT#2=3", "0D 00 05 01 00 05 02 00 05 03 00 0E 16 0E 03"},
        {"1&2+3", "0C 00 05 01 00 05 02 00 18 05 03 00 09 03"},
        {"1+2&3", "0C 00 05 01 00 05 02 00 09 05 03 00 18 03"},
        {"1+2*3^4", "10 00 05 01 00 05 02 00 05 03 00 05 04 00 0D 0B 09 03"},
        {"1*2+3", "0C 00 05 01 00 05 02 00 0B 05 03 00 09 03"},
        {"1+2=3", "0C 00 05 01 00 05 02 00 09 05 03 00 0E 03"},
        {"1=2#OR#3", "0C 00 05 01 00 05 02 00 0E 05 03 00 15 03"},
        {"(1=2)=3", "0D 00 05 01 00 05 02 00 0E 04 05 03 00 0E 03"},
        {"1=2#AND#2=3", "10 00 05 01 00 05 02 00 0E 05 02 00 05 03 00 0E 14 03"},
        {"((1))", "06 00 05 01 00 04 04 03"},
    });
    // One opcode per comparison.
    const char *ops[] = {"=", "<>", "<=", ">=", "<", ">"};
    for (int i = 0; i < 6; ++i) {
        Compiled got = compile(std::string("1") + ops[i] + "2");
        ASSERT_EQ(got.code, 0) << ops[i];
        EXPECT_EQ(got.bytes[got.bytes.size() - 2], 14 + i) << ops[i];
    }
}

TEST(FormulaCompile, SyntaxErrors) {
    expect_failure({
        {"1=2=3", WKS_E_SYNTAX},
        {"1<2<>3", WKS_E_SYNTAX},
        {"(1", WKS_E_SYNTAX},
        {"1)", WKS_E_SYNTAX},
        {"()", WKS_E_SYNTAX},
        {"1+", WKS_E_SYNTAX},
        {"*1", WKS_E_SYNTAX},
        {"1\"a\"", WKS_E_SYNTAX},
        {"A1 B1", WKS_E_BAD_COLUMN},
        {"1 2", WKS_E_BAD_COLUMN},
        {"1,2", WKS_E_SYNTAX},
        {"#NOT#", WKS_E_SYNTAX},
        {"1#AND#", WKS_E_SYNTAX},
        {"..", WKS_E_SYNTAX},
        {"1E", WKS_E_BAD_ROW},
        {"IW1", WKS_E_BAD_COLUMN},
        {"A0", WKS_E_BAD_ROW},
        {"\t1", WKS_E_BAD_CHARACTER},
        {"\"x\ty\"", WKS_E_BAD_CHARACTER},
        {"\"x\x7Fy\"", WKS_E_BAD_CHARACTER},
        {"1+\xDC", WKS_E_BAD_CHARACTER},
        {".", WKS_E_BAD_REAL},
        {"@FOO", WKS_E_BAD_FUNCTION},
    });
    // Strings and names at the length limit of the token text.
    EXPECT_EQ(compile("\"" + std::string(1023, 'x') + "\"").code, 0);
    EXPECT_EQ(compile("\"" + std::string(1024, 'x') + "\"").code, WKS_E_STRING_TOO_LONG);
    EXPECT_EQ(compile(std::string(2000, '9')).code, WKS_E_BAD_REAL);
}

TEST(FormulaCompile, OutputSpace) {
    EXPECT_EQ(compile("", 0, 0, 3).code, 0);
    EXPECT_EQ(compile("", 0, 0, 2).code, WKS_E_CODE_SPACE);
    EXPECT_EQ(compile("1", 0, 0, 6).code, 0);
    EXPECT_EQ(compile("1", 0, 0, 5).code, WKS_E_CODE_SPACE);
    EXPECT_EQ(compile("\"abc\"", 0, 0, 5).code, WKS_E_CODE_SPACE);  // full in the middle of the string
    // A lexical failure wins over a full buffer met by the reductions before it.
    EXPECT_EQ(compile("1+2 ", 0, 0, 8).code, WKS_E_BAD_COLUMN);

    // Too small for the length word itself: nothing is written.
    unsigned char one[2] = {0xAB, 0xCD};
    EXPECT_EQ(wksfe(0, 0, 0, "1", one, 1), WKS_E_CODE_SPACE);
    EXPECT_EQ(one[0], 0xAB);
    EXPECT_EQ(wksfe(0, 0, 0, "1", nullptr, 100), WKS_E_CODE_SPACE);
    EXPECT_EQ(wksfe(0, 0, 0, "1", one, -5), WKS_E_CODE_SPACE);
}

TEST(FormulaCompile, CodeLengthFitsItsSignedWord) {
    // 8192 integers and 8191 additions: 8192*3 + 8191 + 1 = 32768 bytes,
    // one more than the length word can count.
    std::string text = "1" + repeat("+1", 8191);
    EXPECT_EQ(compile(text, 0, 0, 40000).code, WKS_E_CODE_SPACE);
    std::string longest = "-1" + repeat("+1", 8190) + "+@PI";  // 32767 bytes
    Compiled ok = compile(longest, 0, 0, 40000);
    ASSERT_EQ(ok.code, 0);
    EXPECT_EQ(ok.bytes[0] | (ok.bytes[1] << 8), 32767);
}

TEST(FormulaCompile, ParserStackDepth) {
    auto parens = [](int n) { return repeat("(", n) + "1" + repeat(")", n); };
    EXPECT_EQ(compile(parens(147)).code, 0);
    EXPECT_EQ(compile(parens(148)).code, WKS_E_SYNTAX);
    auto minus = [](int n) { return repeat("-", n) + "1"; };
    EXPECT_EQ(compile(minus(148)).code, 0);
    EXPECT_EQ(compile(minus(149)).code, WKS_E_SYNTAX);
    auto powers = [](int n) { return "2" + repeat("^2", n); };
    EXPECT_EQ(compile(powers(74)).code, 0);
    EXPECT_EQ(compile(powers(75)).code, WKS_E_SYNTAX);
    // A left-associative chain never grows the stack.
    EXPECT_EQ(compile("1" + repeat("+1", 500)).code, 0);
    // Nested calls: each level holds a function, "(", and an argument list.
    auto calls = [](int n) { return repeat("@ABS(", n) + "1" + repeat(")", n); };
    EXPECT_EQ(compile(calls(73)).code, 0);
    EXPECT_EQ(compile(calls(74)).code, WKS_E_SYNTAX);
}

TEST(FormulaCompile, VariableArgumentCountsUpTo255) {
    std::string args = "1" + repeat(",1", 254);  // 255 arguments
    Compiled ok = compile("@SUM(" + args + ")");
    ASSERT_EQ(ok.code, 0);
    EXPECT_EQ(hex(Bytes(ok.bytes.end() - 3, ok.bytes.end())), "50 FF 03");
    EXPECT_EQ(compile("@SUM(" + args + ",1)").code, WKS_E_ARGUMENT_COUNT);
    EXPECT_EQ(compile("@CHOOSE(" + args + ",1,1)").code, WKS_E_ARGUMENT_COUNT);
    EXPECT_EQ(compile("@ABS(" + args + ",1)").code, WKS_E_ARGUMENT_COUNT);
}

TEST(FormulaCompile, PartsOfTheCompilerOutsideACompilationDoNothing) {
    EXPECT_NE(yyparse(), 0);
    yyerror("syntax error");
    emit(3);
    emitint(1234);
    emitlong(-1);
    // The lexer still works on its own, and a compilation afterwards is unaffected.
    resetlex("1+\"x\"");
    EXPECT_NE(yyparse(), 0);
    Compiled got = compile("1");
    EXPECT_EQ(got.code, 0);
    EXPECT_EQ(hex(got.bytes), "04 00 05 01 00 03");
    EXPECT_NE(yyparse(), 0);
}

TEST(FormulaCompile, NullTextFails) {
    unsigned char out[16] = {0xFF, 0xFF};
    EXPECT_EQ(wksfe(0, 0, 0, nullptr, out, sizeof out), WKS_E_SYNTAX);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST(FormulaCompile, NoTextMakesItCrash) {
    // Random texts over an alphabet rich in formula characters, and random
    // bytes: every result is a known code, and a success has a sound length.
    const std::string alphabet = "0123456789.eE+-*/^&=<>,()@#!$\" ANDORTSUMPIabcxyz\t\x01\x7f\xff";
    std::mt19937 rng(12345);
    const std::vector<int16_t> known = {0, WKS_E_BAD_CHARACTER, WKS_E_BAD_COLUMN, WKS_E_BAD_ROW,
                                        WKS_E_NO_STRING_MEMORY, WKS_E_STRING_TOO_LONG, WKS_E_BAD_REAL,
                                        WKS_E_SYNTAX, WKS_E_BAD_FUNCTION, WKS_E_CODE_SPACE, WKS_E_ARGUMENT_COUNT};
    for (int i = 0; i < 20000; ++i) {
        std::size_t n = rng() % 40;
        std::string text;
        for (std::size_t k = 0; k < n; ++k) {
            if (i % 2) text += alphabet[rng() % alphabet.size()];
            else text += static_cast<char>(1 + rng() % 255);
        }
        int32_t size = 2 + static_cast<int32_t>(rng() % 64);
        Bytes out(static_cast<std::size_t>(size), 0);
        int16_t code = wksfe(1, static_cast<int16_t>(rng() % 256), static_cast<int16_t>(rng() % 8192),
                             text.c_str(), out.data(), size);
        ASSERT_NE(std::find(known.begin(), known.end(), code), known.end()) << "text: " << hex(Bytes(text.begin(), text.end()));
        int length = out[0] | (out[1] << 8);
        if (code == 0) {
            ASSERT_GE(length, 1);
            ASSERT_LE(length, size - 2);
            ASSERT_EQ(out[static_cast<std::size_t>(length) + 1], 3) << "the code ends with the end item";
        } else {
            ASSERT_EQ(length, 0);
        }
    }
}

// Thousands of generated formulas: a random expression is written as formula
// text in normal form (parentheses only where the precedence needs them or
// where the generator chose to add them) together with the code it must
// compile to.  This checks precedence, association and every kind of operand
// against an independent encoder, over every function with its argument
// counts, strings with quotes, every form of reference and range names; and
// the round trip: the code decodes to the same text, which compiles to the
// same bytes.
#include "formula/code_tables.h"
#include "support/test_support.h"
#include "wks/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using wkstest::Bytes;
using wkstest::hex;
namespace code = wks::formula;

namespace {

constexpr int32_t kFile = 99;
constexpr int kNoPrefix = 100;  // spine level of a text that ends in no prefix operator
constexpr std::size_t kMaxCode = wks::kFormulaCodeBuffer - wks::kCodeLengthSize;
constexpr std::size_t kMaxText = 2047;

enum Assoc { kLeft, kRight, kNone };

struct BinaryOp {
    const char *text;
    uint8_t opcode;
    int level;
    Assoc assoc;
};

const BinaryOp kBinary[] = {
    {"#AND#", code::kAnd, 1, kLeft},     {"#OR#", code::kOr, 1, kLeft},
    {"=", code::kEqual, 3, kNone},       {"<>", code::kNotEqual, 3, kNone},
    {"<=", code::kLessEqual, 3, kNone},  {">=", code::kGreaterEqual, 3, kNone},
    {"<", code::kLess, 3, kNone},        {">", code::kGreater, 3, kNone},
    {"+", code::kAdd, 4, kLeft},         {"-", code::kSubtract, 4, kLeft},
    {"&", code::kConcat, 4, kLeft},      {"*", code::kMultiply, 5, kLeft},
    {"/", code::kDivide, 5, kLeft},      {"^", code::kPower, 7, kRight},
};

struct PrefixOp {
    const char *text;
    uint8_t opcode;
    int level;
};

const PrefixOp kPrefix[] = {{"#NOT#", code::kNot, 2}, {"-", code::kNegate, 6}, {"+", code::kUnaryPlus, 6}};

// A range name of the generated file, and where it points.
struct Name {
    const char *name;
    int16_t c1, r1, c2, r2;
};

// No generated cell text can begin with one of these names.
const Name kNames[] = {
    {"TOTAL", 3, 5, 7, 9},
    {"PRICE", 11, 12, 11, 12},
    {"X_Y", 0, 8191, 255, 8191},
    {"ZZ9", 254, 0, 255, 1},
};

// A piece of formula: its text, its code, and what the printer must know to
// put parentheses where the parser needs them.
struct Piece {
    std::string text;
    Bytes code;
    bool binary = false;
    int level = 0;
    Assoc assoc = kNone;
    // Lowest level of a prefix operator that ends the text without
    // parentheses: an operator that binds tighter than it, written after
    // the text, would be taken into that prefix operator's operand.
    int spine = kNoPrefix;
};

void put_word(Bytes &b, uint16_t w) {
    b.push_back(static_cast<uint8_t>(w & 0xFF));
    b.push_back(static_cast<uint8_t>(w >> 8));
}

uint16_t relative(int target, int base) {
    auto d = static_cast<uint16_t>(target - base);
    return static_cast<uint16_t>(static_cast<int16_t>(d) >= 0 ? (d | 0x8000) : (d & 0xBFFF));
}

std::string column_text(int col) {
    std::string s;
    if (col >= 26) s += static_cast<char>('A' + col / 26 - 1);
    s += static_cast<char>('A' + col % 26);
    return s;
}

Piece parens(Piece p) {
    Piece out;
    out.text = "(" + p.text + ")";
    out.code = p.code;
    out.code.push_back(code::kParens);
    return out;
}

class Generator {
public:
    Generator(unsigned seed, int16_t col, int16_t row) : rng_(seed), col_(col), row_(row) {}

    Piece expr(int depth) {
        int pick = depth <= 0 ? 0 : static_cast<int>(rng_() % 10);
        Piece p;
        if (pick < 4) p = operand();
        else if (pick < 7) p = binary(depth);
        else if (pick < 8) p = prefix(depth);
        else p = call(depth);
        if (rng_() % 12 == 0) p = parens(p);
        return p;
    }

    Piece call_of(uint8_t opcode, int argc, int depth) {
        const code::CallText &f = code::function_by_opcode(opcode);
        Piece p;
        p.text = f.open;
        for (int i = 0; i < argc; ++i) {
            Piece a = expr(depth - 1);
            p.text += (i ? "," : "") + a.text;
            p.code.insert(p.code.end(), a.code.begin(), a.code.end());
        }
        p.text += ")";
        p.code.push_back(opcode);
        if (f.argc == code::kVariableArgs) p.code.push_back(static_cast<uint8_t>(argc));
        return p;
    }

    int below(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

private:
    Piece operand() {
        switch (below(7)) {
        case 0: return integer();
        case 1: return real();
        case 2: return string();
        case 3: case 4: return cell();
        case 5: return range();
        default: return name();
        }
    }

    Piece integer() {
        int v = below(3) == 0 ? below(10) : below(32768);
        Piece p;
        p.text = std::to_string(v);
        p.code = {code::kInteger};
        put_word(p.code, static_cast<uint16_t>(v));
        return p;
    }

    // A real whose "%lg" text converts back to itself and is not read as
    // an integer.
    Piece real() {
        for (;;) {
            double v = (1 + below(999999)) * std::pow(10.0, below(21) - 10);
            char text[32];
            std::snprintf(text, sizeof text, "%lg", v);
            double back = std::strtod(text, nullptr);
            char again[32];
            std::snprintf(again, sizeof again, "%lg", back);
            bool integral = std::string(text).find_first_of(".e") == std::string::npos && back <= 32767;
            if (std::string(again) != text || integral) continue;
            Piece p;
            p.text = text;
            p.code = {code::kReal};
            uint8_t raw[8];
            wksdi(raw, back);
            p.code.insert(p.code.end(), raw, raw + 8);
            return p;
        }
    }

    Piece string() {
        Piece p;
        p.text = "\"";
        p.code = {code::kString};
        for (int n = below(8); n > 0; --n) {
            auto c = static_cast<char>(below(4) == 0 ? '"' : 32 + below(95));
            p.text += c;
            if (c == '"') p.text += c;
            p.code.push_back(static_cast<uint8_t>(c));
        }
        p.text += "\"";
        p.code.push_back(0);
        return p;
    }

    bool named(int c1, int r1, int c2, int r2) const {
        for (const Name &n : kNames)
            if (n.c1 == c1 && n.r1 == r1 && n.c2 == c2 && n.r2 == r2) return true;
        return false;
    }

    // One corner: its text and its two words.
    void corner(int c, int r, std::string &text, Bytes &code) {
        bool abs_col = below(3) == 0, abs_row = below(3) == 0;
        text += (abs_col ? "$" : "") + column_text(c) + (abs_row ? "$" : "") + std::to_string(r + 1);
        put_word(code, abs_col ? static_cast<uint16_t>(c) : relative(c, col_));
        put_word(code, abs_row ? static_cast<uint16_t>(r) : relative(r, row_));
    }

    int random_col() { return below(4) == 0 ? below(256) : std::clamp(col_ + below(11) - 5, 0, 255); }
    int random_row() { return below(4) == 0 ? below(8192) : std::clamp(row_ + below(11) - 5, 0, 8191); }

    Piece cell() {
        int c, r;
        do {
            c = random_col();
            r = random_row();
        } while (named(c, r, c, r));
        Piece p;
        p.code = {code::kCell};
        corner(c, r, p.text, p.code);
        return p;
    }

    Piece range() {
        int c1, r1, c2, r2;
        do {
            c1 = random_col();
            r1 = random_row();
            c2 = random_col();
            r2 = random_row();
        } while (named(c1, r1, c2, r2));
        Piece p;
        p.code = {code::kRange};
        corner(c1, r1, p.text, p.code);
        p.text += "..";
        corner(c2, r2, p.text, p.code);
        return p;
    }

    Piece name() {
        const Name &n = kNames[below(4)];
        Piece p;
        p.text = n.name;
        p.code = {code::kRange};
        put_word(p.code, relative(n.c1, col_));
        put_word(p.code, relative(n.r1, row_));
        put_word(p.code, relative(n.c2, col_));
        put_word(p.code, relative(n.r2, row_));
        return p;
    }

    Piece binary(int depth) {
        const BinaryOp &op = kBinary[below(14)];
        Piece a = expr(depth - 1), b = expr(depth - 1);
        if ((a.binary && (a.level < op.level || (a.level == op.level && op.assoc != kLeft))) || a.spine < op.level)
            a = parens(a);
        if (b.binary && (b.level < op.level || (b.level == op.level && op.assoc != kRight))) b = parens(b);
        Piece p;
        p.text = a.text + op.text + b.text;
        p.code = a.code;
        p.code.insert(p.code.end(), b.code.begin(), b.code.end());
        p.code.push_back(op.opcode);
        p.binary = true;
        p.level = op.level;
        p.assoc = op.assoc;
        p.spine = b.spine;
        return p;
    }

    Piece prefix(int depth) {
        const PrefixOp &op = kPrefix[below(3)];
        Piece a = expr(depth - 1);
        if (a.binary && a.level < op.level) a = parens(a);
        Piece p;
        p.text = op.text + a.text;
        p.code = a.code;
        p.code.push_back(op.opcode);
        p.spine = std::min(op.level, a.spine);
        return p;
    }

    Piece call(int depth) {
        const uint8_t opcode = code::kOpcodesByName[below(code::kFunctionCount)];
        const uint8_t declared = code::function_by_opcode(opcode).argc;
        int argc = declared == code::kVariableArgs ? below(5) : declared;
        return call_of(opcode, argc, depth);
    }

    std::mt19937 rng_;
    int16_t col_, row_;
};

class GeneratedFormulaTest : public wkstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        for (const Name &n : kNames) ASSERT_EQ(wksir(kFile, n.name, n.c1, n.r1, n.c2, n.r2), 0);
    }

    // Compiles text and checks the code against the expected bytes; then
    // decodes the code, which must give the text back, and compiles that
    // text again, which must give the same bytes.
    void check(const std::string &text, const Bytes &expected, int16_t col, int16_t row) {
        SCOPED_TRACE("text: " + text + " at " + std::to_string(col) + "," + std::to_string(row));
        Bytes out(2048);
        ASSERT_EQ(wksfe(kFile, col, row, text.c_str(), out.data(), static_cast<int32_t>(out.size())), 0);
        Bytes want;
        put_word(want, static_cast<uint16_t>(expected.size() + 1));
        want.insert(want.end(), expected.begin(), expected.end());
        want.push_back(code::kEnd);
        ASSERT_EQ(hex(out.data(), want.size()), hex(want));

        std::vector<char> decoded(2048);
        ASSERT_EQ(wksfr(kFile, col, row, out.data(), decoded.data(), static_cast<int32_t>(decoded.size())), 0);
        ASSERT_EQ(std::string(decoded.data()), text);
        Bytes again(2048);
        ASSERT_EQ(wksfe(kFile, col, row, decoded.data(), again.data(), static_cast<int32_t>(again.size())), 0);
        ASSERT_EQ(hex(again.data(), want.size()), hex(want));
    }
};

}  // namespace

TEST_F(GeneratedFormulaTest, RandomFormulasCompileAndDecodeBack) {
    std::mt19937 positions(2024);
    int checked = 0;
    for (unsigned seed = 1; checked < 5000; ++seed) {
        auto col = static_cast<int16_t>(positions() % 256);
        auto row = static_cast<int16_t>(positions() % 8192);
        Generator g(seed, col, row);
        Piece p = g.expr(1 + static_cast<int>(seed % 6));
        if (p.code.size() + 1 > kMaxCode || p.text.size() > kMaxText) continue;
        check(p.text, p.code, col, row);
        if (HasFatalFailure()) return;
        ++checked;
    }
}

TEST_F(GeneratedFormulaTest, EveryFunctionWithItsArgumentCounts) {
    for (const uint8_t opcode : code::kOpcodesByName) {
        const uint8_t declared = code::function_by_opcode(opcode).argc;
        std::vector<int> counts = {declared};
        if (declared == code::kVariableArgs) counts = {0, 1, 2, 3, 7, 255};
        for (int argc : counts) {
            Generator g(static_cast<unsigned>(opcode * 1000 + argc), 10, 20);
            Piece p = g.call_of(opcode, argc, 2);
            if (p.code.size() + 1 > kMaxCode) p = g.call_of(opcode, argc, 0);
            check(p.text, p.code, 10, 20);
        }
    }
}

TEST_F(GeneratedFormulaTest, OtherSpellingsComeBackInNormalForm) {
    const std::pair<const char *, const char *> cases[] = {
        {"@pi", "@PI()"},          {"@Sum", "@SUM()"},      {"a1.b$2", "A1..B$2"},
        {"!B3", "B3..B3"},         {"007+1.50", "7+1.5"},   {"1E+6", "1e+06"},
        {"$IV$8192", "$IV$8192"},  {"@@(A1)", "@@(A1)"},    {"#NOT#1#OR#2", "#NOT#1#OR#2"},
    };
    for (const auto &[text, normal] : cases) {
        SCOPED_TRACE(text);
        Bytes first(64), again(64);
        std::vector<char> decoded(64);
        ASSERT_EQ(wksfe(kFile, 5, 5, text, first.data(), 64), 0);
        ASSERT_EQ(wksfr(kFile, 5, 5, first.data(), decoded.data(), 64), 0);
        EXPECT_STREQ(decoded.data(), normal);
        ASSERT_EQ(wksfe(kFile, 5, 5, decoded.data(), again.data(), 64), 0);
        EXPECT_EQ(hex(again), hex(first));
    }
}

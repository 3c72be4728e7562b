/*
 * Formula code to text through wksfr and the exported decoder helpers.
 * Codes are built by hand with FormulaCode; decodes run on exact-size copies
 * of the code so that the sanitizer build catches any read past it, and the
 * output buffer carries a guard zone that must stay untouched.
 */
#define WKS_FORMULA_INTERNALS  // the lexer, parser and decoder pieces of wks.h
#include "support/test_support.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>

using namespace wkstest;

namespace {

constexpr int32_t kFile = 4711;
constexpr int16_t kC3Col = 2, kC3Row = 2;  // the formula's own cell in the worked examples

// Reference words.
uint16_t abs_word(int coordinate) { return static_cast<uint16_t>(coordinate); }
uint16_t rel_word(int offset) {
    uint16_t word = static_cast<uint16_t>(offset);
    return offset >= 0 ? static_cast<uint16_t>(word | 0x8000) : static_cast<uint16_t>(word & ~0x4000);
}

// Formula code items; bytes() adds the length prefix and, unless told not
// to, the end item.
class FormulaCode {
public:
    FormulaCode &op(uint8_t opcode) { return raw({opcode}); }
    FormulaCode &ops(uint8_t opcode, int times) {
        for (int i = 0; i < times; ++i) op(opcode);
        return *this;
    }
    FormulaCode &call(uint8_t opcode, uint8_t count) { return raw({opcode, count}); }
    FormulaCode &real(double v) {
        op(0);
        put_double(items_, v);
        return *this;
    }
    FormulaCode &cell(uint16_t col, uint16_t row) {
        op(1);
        put16(items_, col);
        put16(items_, row);
        return *this;
    }
    FormulaCode &range(uint16_t c1, uint16_t r1, uint16_t c2, uint16_t r2) {
        op(2);
        for (uint16_t w : {c1, r1, c2, r2}) put16(items_, w);
        return *this;
    }
    FormulaCode &integer(int16_t v) {
        op(5);
        put16(items_, static_cast<uint16_t>(v));
        return *this;
    }
    FormulaCode &string(const std::string &s) {
        op(6);
        items_.insert(items_.end(), s.begin(), s.end());
        items_.push_back(0);
        return *this;
    }
    FormulaCode &raw(const Bytes &b) {
        items_.insert(items_.end(), b.begin(), b.end());
        return *this;
    }
    FormulaCode &append(const FormulaCode &other) { return raw(other.items_); }
    Bytes bytes(bool with_end = true) const {
        Bytes all = items_;
        if (with_end) all.push_back(3);
        Bytes code;
        put16(code, static_cast<uint16_t>(all.size()));
        code.insert(code.end(), all.begin(), all.end());
        return code;
    }

private:
    Bytes items_;
};

struct Decoded {
    int16_t code;
    std::string text;  // up to the NUL, or everything written on failure
};

constexpr std::size_t kGuard = 16;
constexpr char kGuardByte = '\x7f';

// wksfr on an exact-size heap copy of the code, into a buffer of `size`
// characters followed by a guard zone.
Decoded decode(const Bytes &code, int32_t size = 2048, int16_t col = kC3Col, int16_t row = kC3Row,
               int32_t file = kFile) {
    auto copy = std::make_unique<unsigned char[]>(code.size());
    std::memcpy(copy.get(), code.data(), code.size());
    std::size_t capacity = size > 0 ? static_cast<std::size_t>(size) : 0;
    std::string out(capacity + kGuard, kGuardByte);
    int16_t rc = wksfr(file, col, row, copy.get(), out.data(), size);
    for (std::size_t i = capacity; i < out.size(); ++i)
        EXPECT_EQ(out[i], kGuardByte) << "written past the output size at " << i << " for " << hex(code);
    std::size_t nul = out.find('\0');
    if (rc == 0) {
        EXPECT_LT(nul, capacity) << hex(code);
        return {rc, out.substr(0, nul)};
    }
    std::size_t written = out.find(kGuardByte);
    return {rc, out.substr(0, written == std::string::npos ? out.size() : written)};
}

std::string text_of(const Bytes &code, int16_t col = kC3Col, int16_t row = kC3Row) {
    Decoded d = decode(code, 2048, col, row);
    EXPECT_EQ(d.code, 0) << hex(code);
    return d.text;
}

class Decoder : public LibraryTest {};

// --- worked examples and normal form ---------------------------------------

TEST_F(Decoder, WorkedExamples) {
    // A1+B1*2 in C3: both A1 offsets -2, B1 column -1.
    Bytes sum_code = FormulaCode()
                         .cell(rel_word(-2), rel_word(-2))
                         .cell(rel_word(-1), rel_word(-2))
                         .integer(2)
                         .op(11)
                         .op(9)
                         .bytes();
    EXPECT_EQ(hex(sum_code), "10 00 01 FE BF FE BF 01 FF BF FE BF 05 02 00 0B 09 03");
    EXPECT_EQ(text_of(sum_code), "A1+B1*2");

    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(-2), rel_word(-2)).op(4).op(8).bytes()), "-(A1)");

    Bytes block = FormulaCode().range(rel_word(-2), rel_word(-2), rel_word(-1), rel_word(-1)).integer(3).call(80, 2).bytes();
    EXPECT_EQ(text_of(block), "@SUM(A1..B2,3)");

    Bytes round = FormulaCode()
                      .range(abs_word(0), abs_word(0), abs_word(0), abs_word(8))
                      .call(80, 1)
                      .integer(3)
                      .op(12)
                      .integer(2)
                      .op(63)
                      .bytes();
    EXPECT_EQ(text_of(round), "@ROUND(@SUM($A$1..$A$9)/3,2)");
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(Decoder, OperatorsPrintTheirOwnTextsOnly) {
    struct Case {
        FormulaCode code;
        const char *text;
    } cases[] = {
        {FormulaCode().integer(1).integer(2).op(9).integer(3).op(11), "1+2*3"},  // no opcode 4, no parentheses
        {FormulaCode().integer(1).integer(2).op(9).op(4).integer(3).op(11), "(1+2)*3"},
        {FormulaCode().integer(1).integer(2).op(13).op(8), "-1^2"},
        {FormulaCode().integer(1).op(22).integer(0).op(20).integer(1).op(21), "#NOT#1#AND#0#OR#1"},
        {FormulaCode().integer(1).op(23).integer(2).op(15).integer(3).op(16), "+1<>2<=3"},
        {FormulaCode().integer(1).integer(2).op(17).integer(3).op(18).integer(4).op(19).integer(5).op(14),
         "1>=2<3>4=5"},
        {FormulaCode().string("a").string("b").op(24).integer(1).op(10), "\"a\"&\"b\"-1"},
    };
    for (auto &c : cases) EXPECT_EQ(text_of(c.code.bytes()), c.text);
    // Nested calls: the innermost first argument gets all the opening texts.
    Bytes nested = FormulaCode()
                       .integer(1)
                       .integer(2)
                       .integer(3)
                       .op(59)  // @IF(1,2,3)
                       .integer(4)
                       .op(42)  // @ATAN2(.., 4)
                       .integer(5)
                       .integer(6)
                       .integer(7)
                       .integer(8)
                       .op(106)  // @REPLACE(5,6,7,8)
                       .call(48, 2)  // @CHOOSE
                       .op(4)
                       .bytes();
    EXPECT_EQ(text_of(nested), "(@CHOOSE(@ATAN2(@IF(1,2,3),4),@REPLACE(5,6,7,8)))");
}

TEST_F(Decoder, FunctionsWithoutValuesAreOperands) {
    EXPECT_EQ(text_of(FormulaCode().op(38).bytes()), "@PI()");
    EXPECT_EQ(text_of(FormulaCode().call(80, 0).bytes()), "@SUM()");
    EXPECT_EQ(text_of(FormulaCode().op(52).op(31).op(9).bytes()), "@TRUE()+@NA()");
    EXPECT_EQ(text_of(FormulaCode().op(32).call(82, 0).op(33).call(81, 2).bytes()), "@AVG(@ERR(),@ABS(@COUNT()))");
    EXPECT_EQ(text_of(FormulaCode().string("x").op(115).bytes()), "@@(\"x\")");
}

TEST_F(Decoder, CountBytesAreUnsigned) {
    FormulaCode code;
    std::string expected = "@MAX(";
    for (int i = 0; i < 200; ++i) {
        code.integer(static_cast<int16_t>(i));
        expected += (i ? "," : "") + std::to_string(i);
    }
    code.call(84, 200);
    EXPECT_EQ(text_of(code.bytes()), expected + ")");
}

TEST_F(Decoder, Constants) {
    struct {
        double value;
        const char *text;
    } reals[] = {{2.5, "2.5"},         {3.14159265, "3.14159"}, {1234567, "1.23457e+06"}, {0.00001, "1e-05"},
                 {0.0001, "0.0001"},   {1000000, "1e+06"},      {100000, "100000"},       {0, "0"},
                 {1e300, "1e+300"},    {-0.5, "-0.5"},          {123456.5, "123456"},     {1e-300, "1e-300"}};
    for (auto &r : reals) EXPECT_EQ(text_of(FormulaCode().real(r.value).bytes()), r.text) << r.value;

    EXPECT_EQ(text_of(FormulaCode().integer(-5).bytes()), "-5");
    EXPECT_EQ(text_of(FormulaCode().integer(32767).bytes()), "32767");
    EXPECT_EQ(text_of(FormulaCode().integer(-32768).bytes()), "-32768");

    EXPECT_EQ(text_of(FormulaCode().string("abc").bytes()), "\"abc\"");
    EXPECT_EQ(text_of(FormulaCode().string("").bytes()), "\"\"");
    EXPECT_EQ(text_of(FormulaCode().string("\"").bytes()), "\"\"\"\"");
    EXPECT_EQ(text_of(FormulaCode().string("say \"hi\"").bytes()), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(text_of(FormulaCode().string("\xE9\x01").bytes()), "\"\xE9\x01\"");
}

// --- references -------------------------------------------------------------

TEST_F(Decoder, CellTextLettersRowsAndDollars) {
    struct {
        int col, row;
        const char *text;
    } cells[] = {{0, 0, "$A$1"}, {25, 9, "$Z$10"}, {26, 0, "$AA$1"}, {51, 0, "$AZ$1"},
                 {52, 0, "$BA$1"}, {255, 8191, "$IV$8192"}};
    for (auto &c : cells) EXPECT_EQ(text_of(FormulaCode().cell(abs_word(c.col), abs_word(c.row)).bytes()), c.text);

    EXPECT_EQ(text_of(FormulaCode().cell(abs_word(0), rel_word(-2)).bytes()), "$A1");
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(-2), abs_word(0)).bytes()), "A$1");
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(0), rel_word(0)).bytes()), "C3");
    EXPECT_EQ(text_of(FormulaCode().range(abs_word(0), rel_word(0), rel_word(3), abs_word(99)).bytes()), "$A3..F$100");
}

TEST_F(Decoder, RelativeReferencesFollowTheBase) {
    Bytes sum = FormulaCode().range(rel_word(-2), rel_word(-2), rel_word(-1), rel_word(-1)).call(80, 1).bytes();
    EXPECT_EQ(text_of(sum, 2, 2), "@SUM(A1..B2)");
    EXPECT_EQ(text_of(sum, 3, 3), "@SUM(B2..C3)");

    Bytes fixed = FormulaCode().range(abs_word(0), abs_word(0), abs_word(1), abs_word(1)).call(80, 1).bytes();
    EXPECT_EQ(text_of(fixed, 2, 2), text_of(fixed, 200, 5000));
}

TEST_F(Decoder, RelativeReferencesWrapAroundTheSheet) {
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(-1), rel_word(0)).bytes(), 0, 0), "IV1");
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(0), rel_word(1)).bytes(), 0, 8191), "A1");
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(255), rel_word(8191)).bytes(), 255, 8191), "IU8191");
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(-255), rel_word(-8191)).bytes(), 0, 0), "B2");
}

TEST_F(Decoder, ReferencesOutsideTheSheetFail) {
    for (Bytes code : {FormulaCode().cell(abs_word(256), abs_word(0)).bytes(),
                       FormulaCode().cell(abs_word(0), abs_word(8192)).bytes(),
                       FormulaCode().cell(abs_word(0x4000), abs_word(0)).bytes(),
                       FormulaCode().range(abs_word(0), abs_word(0), abs_word(700), abs_word(0)).bytes()})
        EXPECT_EQ(decode(code).code, WKS_E_BAD_FUNCTION) << hex(code);
    // A base outside the sheet puts a relative reference outside it too.
    EXPECT_EQ(decode(FormulaCode().cell(rel_word(-8192), rel_word(0)).bytes(), 2048, 0, 0).code, WKS_E_BAD_FUNCTION);
    EXPECT_EQ(decode(FormulaCode().cell(rel_word(0), rel_word(0)).bytes(), 2048, 300, -20000).code, WKS_E_BAD_FUNCTION);
}

TEST_F(Decoder, RangeNamesReplaceExactCoordinates) {
    ASSERT_EQ(wksir(kFile, "BLOCK", 0, 0, 1, 1), 0);
    ASSERT_EQ(wksir(kFile, "Rate", 4, 9, 4, 9), 0);
    ASSERT_EQ(wksir(kFile + 1, "OTHER", 0, 0, 0, 0), 0);

    Bytes block = FormulaCode().range(rel_word(-2), rel_word(-2), rel_word(-1), rel_word(-1)).integer(3).call(80, 2).bytes();
    EXPECT_EQ(text_of(block), "@SUM(BLOCK,3)");
    EXPECT_EQ(text_of(block, 3, 3), "@SUM(B2..C3,3)");  // other coordinates, no name

    // A one-cell name, whatever the words' absolute or relative state.
    EXPECT_EQ(text_of(FormulaCode().cell(rel_word(2), rel_word(7)).bytes()), "Rate");
    EXPECT_EQ(text_of(FormulaCode().cell(abs_word(4), rel_word(7)).integer(2).op(11).bytes()), "Rate*2");
    EXPECT_EQ(text_of(FormulaCode().range(abs_word(4), abs_word(9), abs_word(4), abs_word(9)).bytes()), "Rate");
    // A range whose corners are named cells is not itself named.
    EXPECT_EQ(text_of(FormulaCode().range(abs_word(4), abs_word(9), abs_word(4), abs_word(10)).bytes()), "$E$10..$E$11");
    // Names of another file number are not used.
    EXPECT_EQ(text_of(FormulaCode().cell(abs_word(0), abs_word(0)).bytes()), "$A$1");
    EXPECT_EQ(decode(FormulaCode().cell(abs_word(0), abs_word(0)).bytes(), 2048, 0, 0, kFile + 1).text, "OTHER");
    // A name counts against the output budget like any text.
    EXPECT_EQ(decode(FormulaCode().cell(rel_word(2), rel_word(7)).bytes(), 4).code, WKS_E_DECODE_SPACE);
}

// A name stands in for its coordinates only where it reads back as itself.
TEST_F(Decoder, RangeNamesThatWouldNotReadBackPrintTheirCoordinates) {
    const struct {
        const char *name;
        bool shown;
    } cases[] = {
        {"B01", false}, {"iv08192", false}, {"A1X", true},   {"IW1", true},    {"A8193", true},
        {"T,U", false}, {"P\"Q", false},   {"P+Q", false},  {"MY NAME", false}, {"X$", false},
        {"Q:R", false}, {"X.Y", false},     {"@X", false},   {"x_y%~", true},  {"FIFTEENCHARSXYZ", true},
        {"SIXTEENCHARSXYZW", false},
    };
    int16_t col = 0;
    for (const auto &c : cases) {
        ASSERT_EQ(wksir(kFile, c.name, col, 50, col, 51), 0) << c.name;
        const std::string corner = "$" + std::string(1, static_cast<char>('A' + col));
        EXPECT_EQ(text_of(FormulaCode().range(abs_word(col), abs_word(50), abs_word(col), abs_word(51)).bytes()),
                  c.shown ? std::string(c.name) : corner + "$51.." + corner + "$52");
        ++col;
    }
    // Of two names of one cell, the one that reads back, though it iterates second.
    ASSERT_EQ(wksir(kFile, "%M", 0, 60, 0, 60), 0);
    ASSERT_EQ(wksir(kFile, "A1", 0, 60, 0, 60), 0);  // the same bucket, and newer
    EXPECT_STREQ(wksgr(kFile, 0, 60, 0, 60)->name, "A1");
    EXPECT_EQ(text_of(FormulaCode().cell(abs_word(0), abs_word(60)).bytes()), "%M");
}

TEST_F(Decoder, TheFileNumberStaysCurrent) {
    ASSERT_EQ(wksir(kFile, "KEEP", 0, 0, 0, 0), 0);
    ASSERT_EQ(wksir(1, "ELSEWHERE", 0, 0, 0, 0), 0);
    ASSERT_NE(wkslr(1, "ELSEWHERE"), nullptr);  // the current file is now 1
    EXPECT_EQ(text_of(FormulaCode().integer(1).bytes()), "1");
    EXPECT_NE(wkslrxx("KEEP"), nullptr);
    EXPECT_EQ(wkslrxx("ELSEWHERE"), nullptr);
}

TEST(ReferenceHelpers, DecodeWords) {
    unsigned char w[2];
    auto word = [&](uint16_t v) {
        w[0] = static_cast<unsigned char>(v);
        w[1] = static_cast<unsigned char>(v >> 8);
        return w;
    };
    EXPECT_EQ(makecabs(word(0x0007), 100), 7);          // absolute: the word itself
    EXPECT_EQ(makecabs(word(rel_word(-1)), 0), 255);
    EXPECT_EQ(makecabs(word(rel_word(5)), 254), 3);
    EXPECT_EQ(makecabs(word(0x8105), 10), 15);          // positive column offsets use bits 7..0
    EXPECT_EQ(makecabs(word(0xC001), 10), 11);          // bit 14 ignored
    EXPECT_EQ(makerabs(word(rel_word(1)), 8191), 0);
    EXPECT_EQ(makerabs(word(rel_word(-3)), 1), 8190);
    EXPECT_EQ(makerabs(word(rel_word(4000)), 5000), 808);
    EXPECT_EQ(makerabs(word(0x1234), -7), 0x1234);
    EXPECT_EQ(makeabs(word(rel_word(1)), 8191), 8192);   // no wrapping
    EXPECT_EQ(makeabs(word(rel_word(-1)), 0), 0xFFFF);   // cut to 16 bits
    EXPECT_EQ(makeabs(word(0x7FFF), 3), 0x7FFF);
    // Unaligned words are read byte by byte.
    unsigned char odd[3] = {0, 0xFF, 0xBF};
    EXPECT_EQ(makerabs(odd + 1, 0), 8191);
}

// --- errors and the output budget -------------------------------------------

TEST_F(Decoder, InvalidOpcodesFail) {
    for (uint8_t bad : {7, 25, 30, 122, 255}) {
        messages.clear();
        EXPECT_EQ(decode(FormulaCode().op(bad).bytes()).code, WKS_E_BAD_FUNCTION) << int(bad);
        EXPECT_EQ(messages.last(), error_message(WKS_E_BAD_FUNCTION));
        // Met by the look-ahead of an earlier operand, or reached as an operand.
        EXPECT_EQ(decode(FormulaCode().integer(1).op(bad).bytes()).code, WKS_E_BAD_FUNCTION) << int(bad);
        EXPECT_EQ(decode(FormulaCode().integer(1).op(bad).op(9).bytes()).code, WKS_E_BAD_FUNCTION) << int(bad);
    }
}

TEST_F(Decoder, TheCodeLengthBoundsEveryRead) {
    auto with_length = [](Bytes code, uint16_t length) {
        code[0] = static_cast<uint8_t>(length);
        code[1] = static_cast<uint8_t>(length >> 8);
        return code;
    };
    Bytes a1 = FormulaCode().cell(0, 0).bytes();  // length 6
    EXPECT_EQ(decode(with_length(a1, 5)).code, WKS_E_BAD_FUNCTION);       // end item outside the length
    EXPECT_EQ(decode(with_length(a1, 3)).code, WKS_E_BAD_FUNCTION);       // cell words cross it
    EXPECT_EQ(decode(with_length(a1, 0)).code, WKS_E_BAD_FUNCTION);
    EXPECT_EQ(decode(with_length(a1, 0xFFFF)).code, WKS_E_BAD_FUNCTION);  // negative
    EXPECT_EQ(decode(FormulaCode().cell(0, 0).bytes(false)).code, WKS_E_BAD_FUNCTION);

    EXPECT_EQ(decode(with_length(FormulaCode().string("abc").bytes(), 4)).code, WKS_E_BAD_FUNCTION);  // no NUL inside
    EXPECT_EQ(decode(with_length(FormulaCode().call(80, 0).bytes(), 1)).code, WKS_E_BAD_FUNCTION);  // count byte out
    // Look-ahead too: the integer after A1 crosses the length.
    EXPECT_EQ(decode(with_length(FormulaCode().cell(0, 0).integer(1).op(9).bytes(), 7)).code, WKS_E_BAD_FUNCTION);
    // Bytes after the end item inside the length are never reached.
    EXPECT_EQ(text_of(FormulaCode().cell(0, 0).op(3).op(200).bytes(false)), "$A$1");
}

TEST_F(Decoder, CodeLongerThanARecordBodyDecodes) {
    // wksfe writes into buffers of any size; what it compiles must decode.
    FormulaCode sum;
    sum.integer(1);
    std::string expected = "1";
    for (int i = 0; i < 1000; ++i) {
        sum.integer(1).op(9);
        expected += "+1";
    }
    Bytes code = sum.bytes();
    ASSERT_GT(code.size(), 4000u);
    Decoded d = decode(code, 4096);
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.text, expected);
}

TEST_F(Decoder, CodeThatDoesNotLeaveOneValueFails) {
    EXPECT_EQ(decode(FormulaCode().op(9).bytes()).code, WKS_E_BAD_FUNCTION);
    EXPECT_EQ(decode(FormulaCode().integer(1).op(9).bytes()).code, WKS_E_BAD_FUNCTION);
    EXPECT_EQ(decode(FormulaCode().integer(1).integer(2).bytes()).code, WKS_E_BAD_FUNCTION);
    EXPECT_EQ(decode(FormulaCode().integer(1).integer(2).op(106).bytes()).code, WKS_E_BAD_FUNCTION);  // @REPLACE: 4
    EXPECT_EQ(decode(FormulaCode().integer(1).call(80, 2).bytes()).code, WKS_E_BAD_FUNCTION);
    EXPECT_EQ(decode(FormulaCode().op(4).bytes()).code, WKS_E_BAD_FUNCTION);
}

TEST_F(Decoder, EmptyFormulaAndOutputBudget) {
    Bytes empty = FormulaCode().bytes();
    EXPECT_EQ(hex(empty), "01 00 03");
    Decoded d = decode(empty, 1);
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(decode(empty, 0).code, WKS_E_DECODE_SPACE);
    EXPECT_EQ(decode(empty, -5).code, WKS_E_DECODE_SPACE);
    EXPECT_EQ(wksfr(kFile, 0, 0, empty.data(), nullptr, 100), WKS_E_DECODE_SPACE);
    EXPECT_EQ(messages.last(), error_message(WKS_E_DECODE_SPACE));

    Bytes code = FormulaCode().range(0, 0, 1, 1).integer(3).call(80, 2).bytes();
    const std::string text = "@SUM($A$1..$B$2,3)";
    const int32_t n = static_cast<int32_t>(text.size()) + 1;
    EXPECT_EQ(decode(code, n).text, text);
    Decoded cut = decode(code, n - 1);  // everything but the NUL fits
    EXPECT_EQ(cut.code, WKS_E_DECODE_SPACE);
    EXPECT_EQ(cut.text, text);
    for (int32_t size = 0; size < n - 1; ++size) {
        Decoded part = decode(code, size);
        EXPECT_EQ(part.code, WKS_E_DECODE_SPACE) << size;
        EXPECT_EQ(part.text, text.substr(0, static_cast<std::size_t>(size)));
    }
}

TEST_F(Decoder, PendingTextStackHoldsSixtyFour) {
    EXPECT_EQ(text_of(FormulaCode().integer(1).ops(4, 64).bytes()), std::string(64, '(') + "1" + std::string(64, ')'));
    EXPECT_EQ(decode(FormulaCode().integer(1).ops(4, 65).bytes()).code, WKS_E_DECODE_DEPTH);
    EXPECT_EQ(messages.last(), error_message(WKS_E_DECODE_DEPTH));
    // Even an empty text is refused by a full stack.
    EXPECT_EQ(decode(FormulaCode().integer(1).ops(4, 64).integer(2).op(9).bytes()).code, WKS_E_DECODE_DEPTH);
    EXPECT_EQ(text_of(FormulaCode().integer(1).ops(4, 63).integer(2).op(9).bytes()),
              std::string(63, '(') + "1" + std::string(63, ')') + "+2");
    // The separator counts too.
    EXPECT_EQ(decode(FormulaCode().integer(2).integer(1).ops(4, 64).op(9).bytes()).code, WKS_E_DECODE_DEPTH);
    EXPECT_EQ(text_of(FormulaCode().integer(2).integer(1).ops(4, 63).op(9).bytes()),
              "2+" + std::string(63, '(') + "1" + std::string(63, ')'));
}

TEST_F(Decoder, OutputHelpersOutsideADecodeDoNothing) {
    Bytes code = FormulaCode().cell(0, 0).bytes();
    char out[16];
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(wksfr(kFile, 0, 0, code.data(), out, sizeof out), 0);
    dc('x');
    ds("text");
    ds(nullptr);
    dx(0xAB);
    dcell(code.data() + 3, 0, 0);
    dcell(nullptr, 0, 0);
    const unsigned char seven[2] = {7, 0};
    EXPECT_EQ(di("%d", seven), 7);
    EXPECT_EQ(di(nullptr, nullptr), 0);
    EXPECT_STREQ(out, "$A$1");
    EXPECT_EQ(std::string(out + 5, sizeof out - 5), std::string(sizeof out - 5, '#'));
    EXPECT_EQ(wksfr(kFile, 0, 0, nullptr, out, sizeof out), WKS_E_BAD_FUNCTION);
}

// --- random codes -------------------------------------------------------------

struct FunctionRow {
    uint8_t opcode;
    const char *name;
    int argc;  // -1: variable
};
constexpr FunctionRow kSomeFunctions[] = {
    {31, "@NA", 0},     {38, "@PI", 0},      {33, "@ABS", 1},       {115, "@@", 1},    {42, "@ATAN2", 2},
    {63, "@ROUND", 2},  {59, "@IF", 3},      {79, "@CELLPOINTER", 1}, {106, "@REPLACE", 4}, {121, "@DDB", 4},
    {80, "@SUM", -1},   {48, "@CHOOSE", -1}, {88, "@STD", -1},
};

// Random well-formed formulas with their text, printed the plain recursive
// way the decoder must agree with.
class RandomFormula {
public:
    explicit RandomFormula(uint32_t seed) : rng_(seed) {}
    int16_t base_col = 0, base_row = 0;

    void make(FormulaCode &code, std::string &text) {
        base_col = static_cast<int16_t>(pick(0, 255));
        base_row = static_cast<int16_t>(pick(0, 8191));
        expr(code, text, 0);
    }

private:
    std::mt19937 rng_;
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    static std::string column_text(int c) {
        std::string s;
        if (c >= 26) s += static_cast<char>('@' + c / 26);
        s += static_cast<char>('A' + c % 26);
        return s;
    }
    // One reference word with its text part; `col` picks the axis.
    uint16_t word(bool col, std::string &text) {
        int size = col ? 256 : 8192;
        int base = col ? base_col : base_row;
        int coordinate;
        uint16_t w;
        bool absolute = pick(0, 1);
        if (absolute) {
            coordinate = pick(0, size - 1);
            w = abs_word(coordinate);
        } else {
            int offset = pick(-(size - 1), size - 1);
            coordinate = ((base + offset) % size + size) % size;
            w = rel_word(offset);
        }
        text += absolute ? "$" : "";
        text += col ? column_text(coordinate) : std::to_string(coordinate + 1);
        return w;
    }

    void operand(FormulaCode &code, std::string &text) {
        switch (pick(0, 5)) {
        case 0: {
            int16_t v = static_cast<int16_t>(pick(-32768, 32767));
            code.integer(v);
            text += std::to_string(v);
            break;
        }
        case 1: {
            double v = std::ldexp(pick(1, 1 << 20), pick(-40, 40)) / 7.0;
            char buf[40];
            std::snprintf(buf, sizeof buf, "%g", v);
            code.real(v);
            text += buf;
            break;
        }
        case 2: {
            std::string s;
            for (int n = pick(0, 6); n > 0; --n) s += "ab\" ,.()"[pick(0, 7)];
            code.string(s);
            text += '"';
            for (char c : s) text += c == '"' ? std::string("\"\"") : std::string(1, c);
            text += '"';
            break;
        }
        case 3: {
            std::string t;
            uint16_t c = word(true, t), r = word(false, t);
            code.cell(c, r);
            text += t;
            break;
        }
        case 4: {
            std::string t;
            uint16_t c1 = word(true, t), r1 = word(false, t);
            t += "..";
            uint16_t c2 = word(true, t), r2 = word(false, t);
            code.range(c1, r1, c2, r2);
            text += t;
            break;
        }
        default: {
            const FunctionRow &f = kSomeFunctions[pick(0, 1)];
            code.op(f.opcode);
            text += std::string(f.name) + "()";
        }
        }
    }

    void expr(FormulaCode &code, std::string &text, int depth) {
        int kind = depth >= 6 ? 0 : pick(0, 3);
        if (kind == 0) return operand(code, text);
        if (kind == 1) {  // unary
            static const struct { uint8_t op; const char *pre, *post; } unary[] = {
                {4, "(", ")"}, {8, "-", ""}, {22, "#NOT#", ""}, {23, "+", ""}};
            auto &u = unary[pick(0, 3)];
            text += u.pre;
            expr(code, text, depth + 1);
            text += u.post;
            code.op(u.op);
            return;
        }
        if (kind == 2) {  // binary
            static const struct { uint8_t op; const char *in; } binary[] = {
                {9, "+"},   {10, "-"},  {11, "*"},  {12, "/"},     {13, "^"},    {14, "="},  {15, "<>"},
                {16, "<="}, {17, ">="}, {18, "<"},  {19, ">"},     {20, "#AND#"}, {21, "#OR#"}, {24, "&"}};
            auto &b = binary[pick(0, 13)];
            expr(code, text, depth + 1);
            text += b.in;
            expr(code, text, depth + 1);
            code.op(b.op);
            return;
        }
        const FunctionRow &f = kSomeFunctions[pick(2, 12)];
        int argc = f.argc < 0 ? pick(1, 4) : f.argc;
        text += std::string(f.name) + "(";
        for (int i = 0; i < argc; ++i) {
            if (i) text += ",";
            expr(code, text, depth + 1);
        }
        text += ")";
        if (f.argc < 0) code.call(f.opcode, static_cast<uint8_t>(argc));
        else code.op(f.opcode);
    }
};

TEST_F(Decoder, RandomFormulasDecodeToTheirText) {
    for (uint32_t seed = 1; seed <= 3000; ++seed) {
        RandomFormula gen(seed);
        FormulaCode code;
        std::string text;
        gen.make(code, text);
        Bytes bytes = code.bytes();
        Decoded d = decode(bytes, 2048, gen.base_col, gen.base_row);
        ASSERT_EQ(d.code, 0) << "seed " << seed << " " << hex(bytes);
        ASSERT_EQ(d.text, text) << "seed " << seed << " " << hex(bytes);
        // N - 1 characters fit in N, not in N - 1.
        int32_t n = static_cast<int32_t>(text.size()) + 1;
        ASSERT_EQ(decode(bytes, n, gen.base_col, gen.base_row).code, 0) << seed;
        ASSERT_EQ(decode(bytes, n - 1, gen.base_col, gen.base_row).code, WKS_E_DECODE_SPACE) << seed;
    }
    EXPECT_EQ(messages.count(), 3000u);  // one per 18
}

TEST_F(Decoder, DamagedCodesNeverCrash) {
    std::mt19937 rng(12345);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int results[20] = {};
    std::size_t failures = 0;
    for (uint32_t seed = 1; seed <= 4000; ++seed) {
        RandomFormula gen(seed);
        FormulaCode code;
        std::string text;
        gen.make(code, text);
        Bytes bytes = code.bytes();
        switch (seed % 4) {
        case 0:  // flip bytes
            for (int n = pick(1, 4); n > 0; --n) bytes[static_cast<std::size_t>(pick(2, int(bytes.size()) - 1))] = static_cast<uint8_t>(pick(0, 255));
            break;
        case 1:  // cut the code (and its length) short
            bytes.resize(static_cast<std::size_t>(pick(2, int(bytes.size()) - 1)));
            bytes[0] = static_cast<uint8_t>(bytes.size() - 2);
            bytes[1] = static_cast<uint8_t>((bytes.size() - 2) >> 8);
            break;
        case 2:  // a shorter length over the whole code
            bytes[0] = static_cast<uint8_t>(pick(0, int(bytes.size()) - 2));
            bytes[1] = 0;
            break;
        default: {  // random bytes
            Bytes junk(static_cast<std::size_t>(pick(1, 40)));
            for (auto &b : junk) b = static_cast<uint8_t>(pick(0, 255));
            bytes = FormulaCode().raw(junk).bytes(pick(0, 1));
        }
        }
        int32_t size = pick(0, 1) ? 2048 : pick(0, 40);
        Decoded d = decode(bytes, size, static_cast<int16_t>(pick(-300, 300)), static_cast<int16_t>(pick(-9000, 9000)));
        ASSERT_TRUE(d.code == 0 || d.code == WKS_E_BAD_FUNCTION || d.code == WKS_E_DECODE_SPACE ||
                    d.code == WKS_E_DECODE_DEPTH)
            << d.code << " " << hex(bytes);
        ++results[d.code];
        if (d.code) ++failures;
    }
    EXPECT_EQ(messages.count(), failures);
    EXPECT_GT(results[0], 0);
    EXPECT_GT(results[WKS_E_BAD_FUNCTION], 0);
    EXPECT_GT(results[WKS_E_DECODE_SPACE], 0);
}

}  // namespace

// Range names in formula text: a name compiles to the range it stands for,
// relative to the formula's cell unless written with "$"; the longest name
// wins; names are scoped by the file number given to the compiler, which
// for formula cells is the handle's own.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using wkstest::Bytes;
using wkstest::hex;

namespace {

constexpr int32_t kFile = 4711;

class FormulaNamesTest : public wkstest::LibraryTest {
protected:
    // The code after the length word, or failure(code).
    std::string compile(const char *text, int16_t col = 0, int16_t row = 0, int32_t file = kFile) {
        unsigned char out[256];
        int16_t code = wksfe(file, col, row, text, out, sizeof out);
        if (code != 0) return failure(code);
        return hex(out + 2, static_cast<std::size_t>(out[0] | (out[1] << 8)));
    }
    static std::string failure(int code) { return "error " + std::to_string(code); }
};

}  // namespace

TEST_F(FormulaNamesTest, ANameIsItsRange) {
    ASSERT_EQ(wksir(kFile, "TOTAL", 1, 2, 3, 4), 0);
    // From C5 (column 2, row 4): offsets -1, -2, +1, 0.
    EXPECT_EQ(compile("TOTAL", 2, 4), "02 FF BF FE BF 01 80 00 80 03");
    EXPECT_EQ(compile("$TOTAL", 2, 4), "02 01 00 02 00 03 00 04 00 03");
    EXPECT_EQ(compile("@SUM(TOTAL)*2"), "02 01 80 02 80 03 80 04 80 50 01 05 02 00 0B 03");
    EXPECT_EQ(compile("TOTALS"), failure(WKS_E_BAD_ROW)) << "the S is left over and read as a column";
    EXPECT_EQ(compile("total"), failure(WKS_E_BAD_COLUMN)) << "names are case-sensitive";
    EXPECT_EQ(compile("TOTAL", 0, 0, kFile + 1), failure(WKS_E_BAD_COLUMN)) << "another file's names are not seen";
}

TEST_F(FormulaNamesTest, TheLongestNameWinsOverCellsAndShorterNames) {
    ASSERT_EQ(wksir(kFile, "A1X", 0, 0, 0, 0), 0);
    EXPECT_EQ(compile("$A1X"), "02 00 00 00 00 00 00 00 00 03");
    EXPECT_EQ(compile("A1"), "01 00 80 00 80 03") << "the candidate A1 is not a name";
    EXPECT_EQ(compile("A1X+A1"), "02 00 80 00 80 00 80 00 80 01 00 80 00 80 09 03");

    ASSERT_EQ(wksir(kFile, "AB", 5, 5, 5, 5), 0);
    ASSERT_EQ(wksir(kFile, "ABC", 6, 6, 6, 6), 0);
    EXPECT_EQ(compile("$ABC"), "02 06 00 06 00 06 00 06 00 03");
    EXPECT_EQ(compile("$AB"), "02 05 00 05 00 05 00 05 00 03");
    EXPECT_EQ(compile("AB1"), failure(WKS_E_SYNTAX)) << "the name AB, then the integer 1";
}

TEST_F(FormulaNamesTest, AOneCharacterNameShadowsItsColumn) {
    ASSERT_EQ(wksir(kFile, "A", 7, 7, 7, 7), 0);
    EXPECT_EQ(compile("$A"), "02 07 00 07 00 07 00 07 00 03");
    EXPECT_EQ(compile("A1"), failure(WKS_E_SYNTAX));
    EXPECT_EQ(compile("B1"), "01 01 80 00 80 03");
    // E shares A's bit in the prefix filter; the lookup still says no.
    EXPECT_EQ(compile("E1"), "01 04 80 00 80 03");
}

TEST_F(FormulaNamesTest, NamesOfUnusualCharacters) {
    ASSERT_EQ(wksir(kFile, "#ANDY", 1, 1, 1, 1), 0);
    ASSERT_EQ(wksir(kFile, "MY NAME", 2, 2, 2, 2), 0);
    ASSERT_EQ(wksir(kFile, "%", 3, 3, 3, 3), 0);
    EXPECT_EQ(compile("$#ANDY"), "02 01 00 01 00 01 00 01 00 03");
    EXPECT_EQ(compile("1#AND#$#ANDY"), "05 01 00 02 01 00 01 00 01 00 01 00 14 03");
    EXPECT_EQ(compile("$MY NAME"), "02 02 00 02 00 02 00 02 00 03");
    EXPECT_EQ(compile("$%*2"), "02 03 00 03 00 03 00 03 00 05 02 00 0B 03");
    EXPECT_EQ(compile("MY"), failure(WKS_E_BAD_COLUMN));
}

TEST_F(FormulaNamesTest, NamesUpToFifteenCharacters) {
    ASSERT_EQ(wksir(kFile, "FIFTEENCHARSXYZ", 1, 1, 1, 1), 0);
    ASSERT_EQ(wksir(kFile, "SIXTEENCHARSWXYZ", 2, 2, 2, 2), 0);
    EXPECT_EQ(compile("$FIFTEENCHARSXYZ"), "02 01 00 01 00 01 00 01 00 03");
    EXPECT_EQ(compile("$SIXTEENCHARSWXYZ"), failure(WKS_E_BAD_COLUMN));
}

TEST_F(FormulaNamesTest, TheCompilerLeavesItsFileNumberCurrent) {
    ASSERT_EQ(wksir(kFile, "X", 0, 0, 0, 0), 0);
    EXPECT_EQ(compile("1", 0, 0, kFile), "05 01 00 03");
    EXPECT_NE(wkslrxx("X"), nullptr);
    EXPECT_EQ(compile("1+", 0, 0, kFile + 1), failure(WKS_E_SYNTAX));
    EXPECT_EQ(wkslrxx("X"), nullptr);
    unsigned char tiny[1];
    EXPECT_EQ(wksfe(kFile, 0, 0, "1", tiny, 1), WKS_E_CODE_SPACE);
    EXPECT_NE(wkslrxx("X"), nullptr) << "also when the buffer is refused";
}

TEST_F(FormulaNamesTest, AFormulaCellSeesTheNamesOfItsHandle) {
    WKS h = wkstest::blank_handle();
    WKS other = wkstest::blank_handle();
    int32_t file = static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&h)));
    ASSERT_EQ(wksir(file, "TOTAL", 0, 0, 1, 1), 0);
    ASSERT_EQ(wksform(&h, 'A', 0, 0, "@SUM($TOTAL)"), 0);
    EXPECT_EQ(hex(h.rec.body + WKS_ORX_CELL(WKS_CELL_FORMULA_CODE), 14), "0C 00 02 00 00 00 00 01 00 01 00 50 01 03");
    EXPECT_NE(wkslrxx("TOTAL"), nullptr) << "the handle's file number stays current";
    EXPECT_EQ(wksform(&other, 'A', 0, 0, "@SUM($TOTAL)"), WKS_E_BAD_COLUMN);
    EXPECT_EQ(messages.last(), wkstest::error_message(WKS_E_BAD_COLUMN));
}

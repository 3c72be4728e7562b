// Formula cell records: wksform lays compiled formula text out as an ORX
// formula record in the handle's record buffer, and leaves the buffer alone
// when the text does not compile.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using wkstest::Bytes;
using wkstest::hex;

namespace {

class FormulaCellTest : public wkstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        h = wkstest::blank_handle();
        // Whatever the caller left in the buffer, the ORX cell prefix included.
        for (int i = 0; i < WKS_BODY_SIZE; ++i) h.rec.body[i] = static_cast<unsigned char>(0x40 + i % 7);
    }

    // Where the code's length word and items stand in the ORX formula record.
    static constexpr std::size_t kCodeLength = WKS_ORX_CELL(WKS_CELL_FORMULA_CODE), kCode = kCodeLength + 2;

    uint16_t u16(const unsigned char *p) const { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
    uint16_t length() const { return u16(h.rec.length); }
    Bytes body(std::size_t from, std::size_t n) const { return Bytes(h.rec.body + from, h.rec.body + from + n); }

    WKS h;
};

}  // namespace

TEST_F(FormulaCellTest, LaysOutTheRecord) {
    WKS before = h;
    ASSERT_EQ(wksform(&h, 'A', 2, 2, "A1+B1*2"), 0);
    EXPECT_EQ(u16(h.rec.type), WKS_FORMULA);
    EXPECT_EQ(length(), kCode + 16);
    EXPECT_EQ(hex(body(0, WKS_ORX_CELL_PREFIX)), hex(before.rec.body, WKS_ORX_CELL_PREFIX))
        << "the ORX cell prefix is not touched";
    EXPECT_EQ(h.rec.body[WKS_ORX_CELL(WKS_CELL_FORMAT)], 'A');
    EXPECT_EQ(u16(h.rec.body + WKS_ORX_CELL(WKS_CELL_COLUMN)), 2);
    EXPECT_EQ(u16(h.rec.body + WKS_ORX_CELL(WKS_CELL_ROW)), 2);
    EXPECT_EQ(hex(body(WKS_ORX_CELL(WKS_CELL_VALUE), 8)), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(body(kCodeLength, 18)), "10 00 01 FE BF FE BF 01 FF BF FE BF 05 02 00 0B 09 03");
    EXPECT_EQ(hex(body(length(), 4)), hex(before.rec.body + length(), 4)) << "nothing after the code";
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(FormulaCellTest, EmptyTextAndFormatBytes) {
    ASSERT_EQ(wksform(&h, ' ', 0, 0, ""), 0);
    EXPECT_EQ(length(), kCode + 1);
    EXPECT_EQ(hex(body(kCodeLength, 3)), "01 00 03");
    EXPECT_EQ(h.rec.body[WKS_ORX_CELL(WKS_CELL_FORMAT)], 255) << "a blank format is stored as 255";
    ASSERT_EQ(wksform(&h, static_cast<char>(255), 0, 0, "1"), 0);
    EXPECT_EQ(h.rec.body[WKS_ORX_CELL(WKS_CELL_FORMAT)], 255);
    ASSERT_EQ(wksform(&h, static_cast<char>(0), 0, 0, "1"), 0);
    EXPECT_EQ(h.rec.body[WKS_ORX_CELL(WKS_CELL_FORMAT)], 0);
}

TEST_F(FormulaCellTest, NegativeCoordinatesAreStoredAsGiven) {
    ASSERT_EQ(wksform(&h, 'x', -1, 8191, "1"), 0);
    EXPECT_EQ(hex(body(WKS_ORX_CELL(WKS_CELL_COLUMN), 4)), "FF FF FF 1F");
}

TEST_F(FormulaCellTest, SuccessLeavesTheHandlesErrorCode) {
    h.error = 99;
    ASSERT_EQ(wksform(&h, 'A', 0, 0, "1"), 0);
    EXPECT_EQ(int{h.error}, 99);
}

TEST_F(FormulaCellTest, AFailedCompileChangesNothingButTheErrorCode) {
    struct Case {
        std::string text;
        int16_t code;
    };
    // The longest code that fits is 2046 bytes: 682 integers make 2046,
    // with the additions and the end item far more.
    std::string too_long = "1";
    for (int i = 0; i < 600; ++i) too_long += "+1";
    for (const Case &c : {Case{"1+", WKS_E_SYNTAX}, Case{"@ABS(1,2)", WKS_E_ARGUMENT_COUNT}, Case{"A0", WKS_E_BAD_ROW},
                          Case{too_long, WKS_E_CODE_SPACE}}) {
        SCOPED_TRACE(c.text);
        WKS before = h;
        messages.clear();
        EXPECT_EQ(wksform(&h, 'A', 0, 0, c.text.c_str()), c.code);
        EXPECT_EQ(int{h.error}, c.code);
        EXPECT_EQ(std::memcmp(&before.rec, &h.rec, sizeof h.rec), 0) << "the record buffer is unchanged";
        ASSERT_EQ(messages.count(), 1u);
        EXPECT_EQ(messages.last(), wkstest::error_message(c.code));
    }
}

TEST_F(FormulaCellTest, TheLongestCodeFitsTheRecord) {
    // 511 additions of "1": 512*3 + 511 + 1 = 2048 bytes is too many; with
    // 510 additions and one @PI the code takes exactly 2046 bytes.
    std::string text = "1";
    for (int i = 0; i < 510; ++i) text += "+1";
    text += "+@PI";  // 511*3 + 1 + 511 + 1 = 2046
    ASSERT_EQ(wksform(&h, 'A', 0, 0, text.c_str()), 0);
    EXPECT_EQ(length(), kCode + 2046);
    EXPECT_EQ(u16(h.rec.body + kCodeLength), 2046);
    EXPECT_EQ(h.rec.body[kCode + 2045], 3);
    text = "-" + text;  // one byte more
    EXPECT_EQ(wksform(&h, 'A', 0, 0, text.c_str()), WKS_E_CODE_SPACE);
}

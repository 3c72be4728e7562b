// The formula compiler when memory runs out, and the string copies on every
// way out of a compilation.  Leaks show up in the sanitizer build, which
// runs LeakSanitizer at exit.
#include "formula/lexer.h"
#include "platform/fault.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace plat = wks::plat;

namespace {

class CompileFaultTest : public wkstest::LibraryTest {
protected:
    void TearDown() override {
        plat::clear_faults();
        LibraryTest::TearDown();
    }

    int16_t compile(const char *text, int32_t size = 64) {
        std::vector<unsigned char> out(static_cast<std::size_t>(size));
        return wksfe(3, 0, 0, text, out.data(), size);
    }
};

}  // namespace

TEST_F(CompileFaultTest, StringCopyFailsWithTen) {
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(compile("\"abc\""), 10);
    plat::fail_nth(plat::Op::Alloc, 2);  // the second string of the formula
    EXPECT_EQ(compile("\"a\"&\"b\""), 10);
    EXPECT_EQ(compile("\"a\"&\"b\""), 0);
}

TEST_F(CompileFaultTest, EveryAllocationOfAFormulaMayFail) {
    const char *text = "@IF(\"a\"=\"b\",\"c\"&\"d\",@CHOOSE(1,\"e\",\"f\"))";
    ASSERT_EQ(compile(text, 256), 0);
    for (int n = 1; n <= 6; ++n) {
        plat::fail_nth(plat::Op::Alloc, n);
        EXPECT_EQ(compile(text, 256), 10) << "allocation " << n;
    }
    plat::clear_faults();
    EXPECT_EQ(compile(text, 256), 0);
}

TEST_F(CompileFaultTest, StringCopiesAreFreedOnEveryFailure) {
    struct Case {
        const char *text;
        int32_t size;
        int16_t code;
    };
    const Case cases[] = {
        {"1\"a\"", 64, WKS_E_SYNTAX},               // a string that cannot follow: never shifted
        {"\"abcdef\"", 6, WKS_E_CODE_SPACE},        // output full in the middle of the string
        {"@ABS\"x\"", 64, WKS_E_ARGUMENT_COUNT},    // a failing call reduced in front of the string
        {"\"x\"\"y\"\t", 64, WKS_E_BAD_CHARACTER},  // a lexical failure after the string
        {"(((\"q\"", 64, WKS_E_SYNTAX},             // the end of text while the string waits
        {"\"x\"", 64, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(compile(c.text, c.size), c.code) << c.text;
}

TEST_F(CompileFaultTest, ScratchBufferFailureIsShownAs42) {
    WKS h = wkstest::blank_handle();
    h.error = 5;
    WKS before = h;
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(wksform(&h, 'A', 0, 0, "1"), WKS_E_NO_FORMULA_MEMORY);
    EXPECT_EQ(int{h.error}, 5) << "the handle is not touched";
    EXPECT_EQ(std::memcmp(&before, &h, sizeof h), 0);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), "\n*** ORX error 42 - invalid error value\n");
}

TEST_F(CompileFaultTest, StringFailureInsideAFormulaCell) {
    WKS h = wkstest::blank_handle();
    plat::fail_nth(plat::Op::Alloc, 2);  // the scratch buffer, then the string
    EXPECT_EQ(wksform(&h, 'A', 0, 0, "\"text\""), WKS_E_NO_STRING_MEMORY);
    EXPECT_EQ(int{h.error}, WKS_E_NO_STRING_MEMORY);
    EXPECT_EQ(messages.last(), wkstest::error_message(WKS_E_NO_STRING_MEMORY));
}

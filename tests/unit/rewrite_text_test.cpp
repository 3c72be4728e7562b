// The two whole-text rewrites of external references, and their bounds.
#include "convert/rewrite_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace wks::convert;

namespace {

struct Example {
    const char *text;
    const char *rewritten;  // null: unchanged
};

std::string wk1_to_orx(const std::string &text, std::size_t size = 4096) {
    std::vector<char> out(size ? size : 1, '#');  // exact, so that the sanitizer sees any overrun
    const int32_t n = rewrite_wk1_to_orx(text.c_str(), out.data(), size);
    if (n < 0) return "<overflow>";
    EXPECT_EQ(out[static_cast<std::size_t>(n)], '\0') << text;
    return std::string(out.data(), static_cast<std::size_t>(n));
}

std::string orx_to_wk1(const std::string &text, std::size_t size = 4096) {
    std::vector<char> out(size ? size : 1, '#');  // exact, so that the sanitizer sees any overrun
    const int32_t n = rewrite_orx_to_wk1(text.c_str(), out.data(), size);
    if (n < 0) return "<overflow>";
    EXPECT_EQ(out[static_cast<std::size_t>(n)], '\0') << text;
    return std::string(out.data(), static_cast<std::size_t>(n));
}

TEST(RewriteWk1ToOrx, Examples) {
    const Example examples[] = {
        {"+A:B2*2", "+B2*2"},
        {"+$A:$B$2+A:C3", "+$B$2+C3"},
        {"@SUM(A:A1..A:B5)", "@SUM(A1..B5)"},
        {"+<<D:\\BOOKS\\sales.wk1>>B2", "+@@(\"<<SALES.ORX>>B2\")"},
        {"+<<sales.wk1>>A:B2..C5*2", "+@@(\"<<SALES.ORX>>B2..C5\")*2"},
        {"@@(\"<<D:\\BOOKS\\sales.wk1>>B2\")", "@@(\"<<SALES.ORX>>B2\")"},
        {"@SUM(<<f.wk1>>A1..B2)", "@SUM(@@(\"<<F.ORX>>A1..B2\"))"},
        {"A1<<<f.wk1>>B2", "A1<@@(\"<<F.ORX>>B2\")"},
        {"+<<a>>A1..XY", "+@@(\"<<A.ORX>>A1..XY\")"},
        {"+<<a>>A1..5", "+@@(\"<<A.ORX>>A1..\")5"},
        {"+<<sales.wk1>>TOTAL", nullptr},
        {"@@(\"<<sales.wk1>>TOTAL\")", nullptr},
        {"+<<sales.wk1", nullptr},
        {"@UPPER(\"a:b\")", nullptr},
        {"@IF(A1,\"x:y\",\"z\")", nullptr},  // "x:" is followed by no cell id
    };
    for (const Example &e : examples) EXPECT_EQ(wk1_to_orx(e.text), e.rewritten ? e.rewritten : e.text) << e.text;
}

TEST(RewriteWk1ToOrx, EdgeCases) {
    const Example cases[] = {
        // A reference at the very start is wrapped: fewer than four characters precede it.
        {"<<f>>C3", "@@(\"<<F.ORX>>C3\")"},
        {"", ""},
        {"@@(<<f>>C3)", "@@(@@(\"<<F.ORX>>C3\"))"},
        // Both separators and a drive; the last dot of the file name starts the extension.
        {"+<<C:/a\\b/x.y.wk1>>$A$1", "+@@(\"<<X.Y.ORX>>$A$1\")"},
        {"+<<>>A1", "+@@(\"<<.ORX>>A1\")"},
        // The sheet prefix of a cell id inside a reference is dropped; "$A:$B" too.
        {"+<<f>>$A:$B$7", "+@@(\"<<F.ORX>>$B$7\")"},
        // A colon without a letter on both sides is no prefix.
        {"+A:1+A:", nullptr},
        {"+1:B", nullptr},
        // A prefix is dropped only where it starts a word and a cell id follows it,
        // in string constants too.
        {"+\"$A:$B$2\"", "+\"$B$2\""},
        {"+\"see A:B2\"&\"(A:C3..A:D4)\"", "+\"see B2\"&\"(C3..D4)\""},
        {"\"a\"&\"Note:Bob\"", nullptr},
        {"+\"Re:B2\"&\"x:y\"&\"a:b:c\"", nullptr},
        {"+\"1A:B2 x$A:B2 A:B2C A:B\"", nullptr},
        // An unclosed string after "(" leaves the rest to the scan.
        {"@UPPER(\"a A:B2", "@UPPER(\"a B2"},
        // A "<<" that is not followed by a reference stays; the rest is scanned as usual.
        {"+<<A:B2", "+<<B2"},
        {"+<<f>>", nullptr},
        {"+<<f>>$", nullptr},
        {"+<<f>>A$", nullptr},
        // "@@(" written before a string that is no reference: copied verbatim.
        {"@@(\"A:B1\")", nullptr},
    };
    for (const Example &e : cases) EXPECT_EQ(wk1_to_orx(e.text), e.rewritten ? e.rewritten : e.text) << e.text;
}

TEST(RewriteOrxToWk1, Examples) {
    const Example examples[] = {
        {"@@(\"<<SALES.ORX>>B2\")", "@@(\"<<SALES.WK1>>B2\")"},
        {"+<<D:\\BOOKS\\sales.orx>>B2", "+<<SALES.WK1>>B2"},
        {"+<<a\\b.x.orx>>A1", "+<<B.X.WK1>>A1"},
        {"+<<>>A1", "+<<.WK1>>A1"},
        {"\"x<<y\"", nullptr},
        {"<<a>b>>d", nullptr},
        // Every complete pair, wherever it stands; no sheet prefixes in this direction.
        {"<<a>b<<c>>d+\"<<e.orx>>A:B1\"", "<<a>b<<C.WK1>>d+\"<<E.WK1>>A:B1\""},
        {"+<<a", nullptr},
        {"", ""},
    };
    for (const Example &e : examples) EXPECT_EQ(orx_to_wk1(e.text), e.rewritten ? e.rewritten : e.text) << e.text;
}

TEST(RewriteBounds, AResultThatDoesNotFitIsReportedNotWritten) {
    // "<<a>>A1+" grows to "@@(\"<<A.ORX>>A1\")+": 8 characters become 18.
    std::string text;
    for (int i = 0; i < 255; ++i) text += "<<a>>A1+";
    text += "1";
    ASSERT_EQ(text.size(), 2041u);
    const std::string grown = wk1_to_orx(text, 8192);
    ASSERT_EQ(grown.size(), 255u * 18 + 1);
    EXPECT_EQ(wk1_to_orx(text), "<overflow>");                      // 4591 > 4096
    EXPECT_EQ(wk1_to_orx(text, grown.size() + 1), grown);           // exactly fits with its NUL
    EXPECT_EQ(wk1_to_orx(text, grown.size()), "<overflow>");        // one short
    EXPECT_EQ(orx_to_wk1("+<<x.orx>>A1", 13), "+<<X.WK1>>A1");
    EXPECT_EQ(orx_to_wk1("+<<x.orx>>A1", 12), "<overflow>");
    EXPECT_EQ(wk1_to_orx("", 0), "<overflow>");
}

TEST(RewriteBounds, PathsOfAnyLengthAreHandled) {
    const std::string dir(5000, 'd');
    EXPECT_EQ(wk1_to_orx("+<<" + dir + "\\name.wk1>>A1", 8192), "+@@(\"<<NAME.ORX>>A1\")");
    EXPECT_EQ(orx_to_wk1("+<<" + dir + "/" + dir + ".orx>>A1", 8192), "+<<" + std::string(5000, 'D') + ".WK1>>A1");
    EXPECT_EQ(orx_to_wk1("+<<" + dir + "/" + dir + ".orx>>A1"), "<overflow>");
}

}  // namespace

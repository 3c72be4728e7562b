// The exported rewrite helpers, called on a host's own texts.
#define WKS_FORMULA_INTERNALS  // the lexer, parser and decoder pieces of wks.h
#include "support/test_support.h"

#include <string>

using namespace wkstest;

namespace {

using Helper = int32_t (*)(char **, char **);

struct Call {
    int32_t result;
    std::string written;  // destination from its start to the cursor
    std::string rest;     // source from the cursor on
};

Call call(Helper helper, const std::string &text) {
    std::string src = text;
    std::string dst(text.size() + 32, '#');
    char *s = &src[0];
    char *d = &dst[0];
    Call c;
    c.result = helper(&s, &d);
    c.written.assign(&dst[0], d);
    c.rest = s;
    return c;
}

void expect(Helper helper, const char *name, const std::string &text, int32_t result, const std::string &written,
            const std::string &rest) {
    const Call c = call(helper, text);
    EXPECT_EQ(c.result, result) << name << " on " << text;
    EXPECT_EQ(c.written, written) << name << " on " << text;
    EXPECT_EQ(c.rest, rest) << name << " on " << text;
}

TEST(RewriteHelpers, DropAcolonSkipsOnlyASheetPrefix) {
    expect(drop_Acolon, "drop_Acolon", "A:B2", 1, "", "B2");
    expect(drop_Acolon, "drop_Acolon", "$A:$B$2", 1, "", "$B$2");
    expect(drop_Acolon, "drop_Acolon", "a:$b", 1, "", "$b");
    expect(drop_Acolon, "drop_Acolon", "A:1", -1, "", "A:1");
    expect(drop_Acolon, "drop_Acolon", "A:$", -1, "", "A:$");
    expect(drop_Acolon, "drop_Acolon", "AB:C", -1, "", "AB:C");
    expect(drop_Acolon, "drop_Acolon", "$:A", -1, "", "$:A");
    // At the end a NUL is written and neither cursor moves.
    std::string dst = "xyz";
    char src[] = "";
    char *s = src, *d = &dst[0];
    EXPECT_EQ(drop_Acolon(&s, &d), 0);
    EXPECT_EQ(d, &dst[0]);
    EXPECT_EQ(dst[0], '\0');
}

TEST(RewriteHelpers, DropDollarChangesNothing) { expect(drop_dollar, "drop_dollar", "$A$1", -1, "", "$A$1"); }

TEST(RewriteHelpers, DropPathKeepsTheUpperCasedBaseName) {
    expect(drop_path, "drop_path", "<<D:\\BOOKS\\sales.wk1>>B2", 1, "<<SALES.ORX>>", "B2");
    expect(drop_path, "drop_path", "<<x/y/z>>", 1, "<<Z.ORX>>", "");
    expect(drop_path, "drop_path", "<<no end", 0, "<<", "no end");
    expect(drop_path, "drop_path", "<", 0, "<", "");  // never steps past the end
}

TEST(RewriteHelpers, CellIdsAndRanges) {
    expect(legal_cellID, "legal_cellID", "$A$1+", 1, "$A$1", "+");
    expect(legal_cellID, "legal_cellID", "A:IV8192", 1, "IV8192", "");
    expect(legal_cellID, "legal_cellID", "TOTAL", 0, "TO", "TAL");  // what matched stays copied
    expect(legal_cellID, "legal_cellID", "5", 0, "", "5");
    expect(legal_range, "legal_range", "A1..B2)", 1, "A1..B2", ")");
    expect(legal_range, "legal_range", "A1..X", 0, "A1..X", "");
    expect(legal_range, "legal_range", "A1+B2", 0, "A1", "+B2");
}

TEST(RewriteHelpers, AddAtatWrapsOneReference) {
    expect(add_atat, "add_atat", "<<f.wk1>>A1..B2*3", 1, "@@(\"<<F.ORX>>A1..B2\")", "*3");
    expect(add_atat, "add_atat", "<<f.wk1>>NAME", 0, "<<", "f.wk1>>NAME");
    expect(add_atat, "add_atat", "<<f.wk1", 0, "<<", "f.wk1");
    expect(add_atat_Jr, "add_atat_Jr", "<<f.wk1>>A1..B2*3", 1, "<<F.ORX>>A1..B2", "*3");
    expect(add_atat_Jr, "add_atat_Jr", "<<f.wk1>>NAME", 0, "<<F.ORX>>NA", "ME");
    expect(add_atat_Jr, "add_atat_Jr", "<<f.wk1", 0, "<<", "f.wk1");
}

TEST(RewriteHelpers, CopyDoubleQuotesCarriesAStringOver) {
    expect(copy_double_quotes, "copy_double_quotes", "(\"a:b\"\")\"),1", 1, "(\"a:b\"\"", ")\"),1");
    expect(copy_double_quotes, "copy_double_quotes", "(\"open", 0, "(\"", "open");
    // Called on a host's own text nothing before the cursor is looked at, so
    // even a string behind "@@" is copied whole.
    expect(copy_double_quotes, "copy_double_quotes", "(\"<<f>>A1\")", 1, "(\"<<f>>A1\"", ")");
}

TEST(RewriteHelpers, NullCursorsAreRefused) {
    char text[] = "A:B1";
    char *s = text;
    char *none = nullptr;
    EXPECT_EQ(drop_Acolon(&s, &none), -1);
    EXPECT_EQ(add_atat(nullptr, &s), 0);
    EXPECT_EQ(legal_cellID(&none, &s), 0);
    EXPECT_EQ(s, text);
}

}  // namespace

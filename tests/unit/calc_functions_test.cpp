// Every function of the table and every operator, against hand-checked
// values on one sheet, evaluated in reproducible mode at Z100.
#include "calc/recalc.h"
#include "calc_support.h"
#include "support/test_support.h"

#include <functional>
#include <optional>

using namespace calctest;

namespace {

constexpr int32_t kFile = 77;

class Functions : public wkstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        number(s, "A1", 10, 0x02);  // fixed, 2 decimals
        number(s, "A2", 20, 0xF1);  // protected, general
        ASSERT_EQ(s.set_blank(0, 2, 0x71), WKS_OK);  // A3
        label(s, "A4", "'abc");
        number(s, "A5", 30);
        formula(s, "B1", "@ERR");
        const char *table[][3] = {{"1", "'one", "100"}, {"2", "'two", "200"}, {"5", "'five", "500"}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const std::string a = std::string(1, static_cast<char>('D' + c)) + std::to_string(r + 1);
                if (table[r][c][0] == '\'') label(s, a.c_str(), table[r][c]);
                else number(s, a.c_str(), std::atof(table[r][c]));
            }
        number(s, "D5", 1), number(s, "E5", 2), number(s, "F5", 3);
        label(s, "D6", "'a"), label(s, "E6", "'b"), label(s, "F6", "'c");
        label(s, "H1", "'NAME"), label(s, "I1", "'AMOUNT");
        label(s, "H2", "'apple"), number(s, "I2", 10);
        label(s, "H3", "'pear"), number(s, "I3", 20);
        label(s, "H4", "'apricot"), number(s, "I4", 30);
        label(s, "K1", "'name"), label(s, "K2", "'ap*");
        label(s, "M1", "'AMOUNT"), formula(s, "M2", "+I2>15");
        label(s, "N1", "'NAME"), label(s, "N2", "'~pear");
        label(s, "O1", "'AMOUNT"), number(s, "O2", 20);
        label(s, "Q1", "'NOSUCH"), label(s, "Q2", "'x");
        number(s, "P1", 110), number(s, "P2", 121);
        number(s, "R1", -100), number(s, "R2", 0), number(s, "R3", 121);
        number(s, "IV1", 7);
        label(s, "W1", "'CITY"), label(s, "X1", "'N"), label(s, "Y1", "'city");  // cp437: u umlaut 0x81, capital 0x9A
        label(s, "W2", "'m\x81nchen"), number(s, "X2", 5), label(s, "Y2", "'M\x9ANCHEN");
        number(s, "T1", -1000), number(s, "T2", 300), number(s, "T3", 400), number(s, "T4", 500);
        number(s, "U1", NAN), number(s, "U2", INFINITY);  // no finite number: ERR wherever read
        label(s, "G9", ("'" + std::string(1100, 'x')).c_str());  // longer than a string result may be
        ASSERT_EQ(wksir(kFile, "TOTAL", 0, 4, 0, 4), 0);  // for the compiler
        ASSERT_EQ(wksir(kFile, "BLOCK", 0, 0, 0, 1), 0);
        ASSERT_EQ(s.add_name("TOTAL", 0, 4, 0, 4), WKS_OK);  // for @@
        ASSERT_EQ(s.add_name("BLOCK", 0, 0, 0, 1), WKS_OK);
        options.reproducible = true;
        ASSERT_EQ(recalculate(s, options), WKS_OK);
    }

    // Strings in the result may point into the code: it lives until the next call.
    Value eval(const char *text, const char *where = "Z100") {
        code = compile(text, at(where), kFile);
        ev.emplace(s, options);
        return ev->evaluate(code.data(), code.size(), at(where).col, at(where).row);
    }

    Sheet s;
    Options options;
    std::vector<unsigned char> code;
    std::optional<Evaluator> ev;
};

struct Case {
    const char *formula;
    Want want;
};

void check(const Case *cases, std::size_t n, const std::function<Value(const char *)> &eval) {
    for (std::size_t i = 0; i < n; ++i) EXPECT_TRUE(is(eval(cases[i].formula), cases[i].want)) << cases[i].formula;
}

#define CHECK_ALL(cases) check(cases, sizeof cases / sizeof cases[0], [&](const char *f) { return eval(f); })

TEST_F(Functions, OperatorsFollowTheCodesGroupingAndTheLanguagesValues) {
    const Case cases[] = {
        {"-2^2", N(-4)},          {"2^3^2", N(512)},       {"(-2)^2", N(4)},        {"8/4/2", N(1)},
        {"1-2-4", N(-5)},         {"2^-1", N(0.5)},        {"1--2", N(3)},          {"+A1", N(10)},
        {"1/0", ERR},             {"(-8)^(1/3)", ERR},     {"0^-1", ERR},           {"@NA+@ERR", ERR},
        {"@NA*2", NA},            {"-@NA", NA},            {"A4+1", N(1)},          {"A3+1", N(1)},
        {"\"abc\"*2", N(0)},      {"A1..A2+1", ERR},       {"TOTAL+1", N(31)},      {"BLOCK+1", ERR},
        {"#NOT#0", N(1)},         {"#NOT#A1=10", N(0)},    {"1#OR#0#AND#0", N(0)},  {"2#AND#-1", N(1)},
        {"\"abc\"=\"ABC\"", N(1)}, {"\"abc\"<\"abd\"", N(1)}, {"\"b\">\"A\"", N(1)}, {"A4=0", N(1)},
        {"\"\"<>A4", N(1)},       {"A3=0", N(1)},          {"1<=1", N(1)},          {"2>=3", N(0)},
        {"\"ab\"&\"cd\"", S("abcd")}, {"A4&\"!\"", S("abc!")}, {"\"ab\"&1", ERR},   {"A3&\"x\"", ERR},
        {"\"x\"&@NA", NA},        {"\"\"&\"\"", S("")},    {"1e308*10", ERR},       {"-(2)", N(-2)},
        {"G9", ERR},              {"@LENGTH(G9)", N(1100)},
        {"U1+1", ERR},            {"@ROUND(0.001,U1)", ERR}, {"@CHAR(U1)", ERR},   {"@SUM(U1..U2)", ERR},
        {"U1=U1", ERR},           {"@IF(U1,1,2)", ERR},    {"@COUNT(U1..U2)", ERR}, {"1E-300*1E-300", N(0)},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, ReferencesResolveAgainstTheFormulasOwnCell) {
    EXPECT_TRUE(is(eval("A1", "IA1"), N(10)));      // a column offset of -234
    EXPECT_TRUE(is(eval("A5", "A8000"), N(30)));    // a row offset of -7995
    EXPECT_TRUE(is(eval("IV1", "A1"), N(7)));
    // A hand-made word: column offset -1 from column A wraps to IV.
    const unsigned char wrapping[] = {6, 0, 1, 0xFF, 0xBF, 0x00, 0x80, 3};
    Evaluator direct(s, options);
    EXPECT_TRUE(is(direct.evaluate(wrapping, sizeof wrapping, 0, 0), N(7)));
}

TEST_F(Functions, CodeTheDecoderRefusesIsErr) {
    const std::vector<std::vector<unsigned char>> bad = {
        {2, 0, 25, 3},                       // opcode 25
        {2, 0, 122, 3},                      // opcode 122
        {1, 0, 7},                           // error constant, no end
        {4, 0, 5, 1, 0},                     // no end item
        {2, 0, 9, 3},                        // an operator without operands
        {7, 0, 5, 1, 0, 5, 2, 0, 3},         // two values left
        {4, 0, 6, 'a', 'b', 3},              // a string without its NUL
        {6, 0, 1, 0x2C, 0x01, 0, 0, 3},      // absolute column 300
        {6, 0, 1, 0, 0, 0x00, 0x20, 3},      // absolute row 8192
        {9, 0, 5, 1, 0, 5, 2, 0, 9, 3},      // length word beyond the bytes
        {0, 0},                              // length 0
        {2, 0, 0x50, 3},                     // @SUM without its count byte
    };
    Evaluator direct(s, options);
    for (const auto &b : bad) EXPECT_TRUE(is(direct.evaluate(b.data(), b.size(), 0, 0), ERR)) << wkstest::hex(b);
    const unsigned char empty[] = {1, 0, 3};
    EXPECT_TRUE(is(direct.evaluate(empty, sizeof empty, 0, 0), N(0)));
}

TEST_F(Functions, Arithmetic) {
    const Case cases[] = {
        {"@ABS(-3)", N(3)},            {"@INT(-2.7)", N(-2)},          {"@INT(2.7)", N(2)},
        {"@SQRT(16)", N(4)},           {"@SQRT(-1)", ERR},             {"@LOG(1000)", N(3)},
        {"@LOG(0)", ERR},              {"@LN(1)", N(0)},               {"@LN(-1)", ERR},
        {"@EXP(0)", N(1)},             {"@EXP(1000)", ERR},            {"@PI", N(3.14159265358979324)},
        {"@SIN(0)", N(0)},             {"@COS(0)", N(1)},              {"@TAN(0)", N(0)},
        {"@ATAN(1)*4", N(3.14159265358979324)}, {"@ATAN2(1,1)", N(0.785398163397448310)},
        {"@ATAN2(-1,0)", N(3.14159265358979324)}, {"@ATAN2(0,0)", ERR}, {"@ASIN(2)", ERR},
        {"@ACOS(1)", N(0)},            {"@ASIN(1)", N(1.57079632679489662)},
        {"@MOD(7,3)", N(1)},           {"@MOD(-7,3)", N(-1)},          {"@MOD(7,-3)", N(1)},
        {"@MOD(5.5,2)", N(1.5)},       {"@MOD(1,0)", ERR},             {"@ABS(\"x\")", N(0)},
        {"@ROUND(2.5,0)", N(3)},       {"@ROUND(-2.5,0)", N(-3)},      {"@ROUND(1.005,2)", N(1.01)},
        {"@ROUND(0.125,2)", N(0.13)},  {"@ROUND(1234.5678,-2)", N(1200)}, {"@ROUND(2.675,2)", N(2.68)},
        {"@ROUND(1,16)", ERR},         {"@ROUND(4.4,-1)", N(0)},       {"@ROUND(123,1.9)", N(123)},
        {"@ABS(B1)", ERR},             {"@ABS(A1..A2)", ERR},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, LogicChoiceAndTypeTests) {
    const Case cases[] = {
        {"@TRUE", N(1)},               {"@FALSE", N(0)},               {"@NA", NA},
        {"@ERR", ERR},                 {"@RAND", N(0.5)},              {"@IF(1,\"yes\",\"no\")", S("yes")},
        {"@IF(0,1,@ERR)", ERR},        {"@IF(1,1,@ERR)", N(1)},        {"@IF(@NA,1,2)", NA},
        {"@IF(\"abc\",1,2)", N(2)},    {"@IF(A3,1,2)", N(2)},          {"@IF(1,A3,2)", N(0)},
        {"@CHOOSE(0,\"a\",\"b\")", S("a")}, {"@CHOOSE(1.9,\"a\",\"b\")", S("b")}, {"@CHOOSE(2,\"a\",\"b\")", ERR},
        {"@CHOOSE(-1,1,2)", ERR},      {"@CHOOSE(1,@ERR,5)", N(5)},    {"@CHOOSE(@NA,1)", NA},
        {"@ISERR(1/0)", N(1)},         {"@ISERR(@NA)", N(0)},          {"@ISNA(@NA)", N(1)},
        {"@ISNA(B1)", N(0)},           {"@ISERR(B1)", N(1)},           {"@ISNUMBER(\"a\")", N(0)},
        {"@ISNUMBER(A3)", N(1)},       {"@ISNUMBER(@ERR)", N(1)},      {"@ISNUMBER(A1)", N(1)},
        {"@ISSTRING(A4)", N(1)},       {"@ISSTRING(A3)", N(0)},        {"@ISSTRING(@ERR)", N(0)},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, DatesAndTimes) {
    const Case cases[] = {
        {"@DATE(0,1,1)", N(1)},        {"@DATE(0,2,28)", N(59)},       {"@DATE(0,2,29)", N(60)},
        {"@DATE(0,3,1)", N(61)},       {"@DATE(1,2,29)", ERR},         {"@DATE(99,12,31)", N(36525)},
        {"@DATE(100,1,1)", N(36526)},  {"@DATE(100,2,29)", N(36585)},  {"@DATE(199,12,31)", N(73050)},
        {"@DATE(200,1,1)", ERR},       {"@DATE(-1,1,1)", ERR},         {"@DATE(90,13,1)", ERR},
        {"@DATE(90,4,31)", ERR},       {"@DATE(90.9,1.5,1.2)", N(32874)},
        {"@DAY(60)", N(29)},           {"@MONTH(60)", N(2)},           {"@YEAR(60)", N(0)},
        {"@DAY(61)", N(1)},            {"@MONTH(61)", N(3)},           {"@DAY(59.9)", N(28)},
        {"@YEAR(36526)", N(100)},      {"@YEAR(73050)", N(199)},       {"@DAY(0)", ERR},
        {"@DAY(73051)", ERR},          {"@MONTH(@DATE(96,2,29))", N(2)},
        {"@TIME(12,0,0)", N(0.5)},     {"@TIME(6,30,0)", N(0.270833333333333333)}, {"@TIME(24,0,0)", ERR},
        {"@TIME(0,60,0)", ERR},        {"@TIME(0,0,-1)", ERR},         {"@HOUR(0.75)", N(18)},
        {"@MINUTE(@TIME(6,30,0))", N(30)}, {"@SECOND(@TIME(1,2,3))", N(3)}, {"@HOUR(32874.5)", N(12)},
        {"@HOUR(-1)", ERR},            {"@SECOND(0.99999999)", N(0)},  {"@NOW", N(32874.5)},
        {"@DATEVALUE(\"01-Jan-90\")", N(32874)}, {"@DATEVALUE(\"29-FEB-1900\")", N(60)},
        {"@DATEVALUE(\"Mar-00\")", N(61)}, {"@DATEVALUE(\"12/31/99\")", N(36525)},
        {"@DATEVALUE(\"15-Jun\")", N(33039)}, {"@DATEVALUE(\"6/15\")", N(33039)},
        {"@DATEVALUE(\"31-Feb-90\")", ERR}, {"@DATEVALUE(\"1-Jan-190\")", ERR}, {"@DATEVALUE(\"x\")", ERR},
        {"@DATEVALUE(5)", ERR},        {"@TIMEVALUE(\"12:00:00\")", N(0.5)},
        {"@TIMEVALUE(\"6:30 PM\")", N(0.770833333333333333)}, {"@TIMEVALUE(\"12:00 AM\")", N(0)},
        {"@TIMEVALUE(\"12:30 pm\")", N(0.520833333333333333)}, {"@TIMEVALUE(\"25:00\")", ERR},
        {"@TIMEVALUE(\"13:00 PM\")", ERR}, {"@TIMEVALUE(\"1:2:3:4\")", ERR},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, Financial) {
    const Case cases[] = {
        {"@PMT(1000,0.1,2)", N(576.190476190476190)}, {"@PMT(1000,0,4)", N(250)}, {"@PMT(1000,-1,2)", ERR},
        {"@PMT(1000,0.1,0)", ERR},     {"@PV(100,0.1,2)", N(173.553719008264463)}, {"@PV(100,0,3)", N(300)},
        {"@FV(100,0.1,2)", N(210)},    {"@FV(100,0,3)", N(300)},        {"@RATE(121,100,2)", N(0.1)},
        {"@RATE(121,-100,2)", ERR},    {"@RATE(1,1,0)", ERR},           {"@TERM(100,0.1,210)", N(2)},
        {"@TERM(100,0,300)", N(3)},    {"@TERM(0,0.1,1)", ERR},         {"@CTERM(0.1,121,100)", N(2)},
        {"@CTERM(0,2,1)", ERR},        {"@SLN(1000,100,9)", N(100)},    {"@SLN(1,1,0)", ERR},
        {"@SYD(1000,100,5,1)", N(300)}, {"@SYD(1000,100,5,5)", N(60)},  {"@SYD(1000,100,5,6)", ERR},
        {"@DDB(1000,100,5,1)", N(400)}, {"@DDB(1000,100,5,3)", N(144)}, {"@DDB(1000,100,5,5)", N(29.6)},
        {"@DDB(1000,100,5,0)", ERR},   {"@DDB(100,1000,5,1)", ERR},     {"@NPV(0.1,P1..P2)", N(200)},
        {"@NPV(0.1,A1..B2)", ERR},     {"@NPV(0.1,5)", ERR},            {"@NPV(-1,P1..P2)", ERR},
        {"@NPV(0.1,A1..B1)", ERR},     {"@IRR(0.05,R1..R3)", N(0.1)},   {"@IRR(0.1,P1..P2)", ERR},
        {"@ROUND(@IRR(0.9,T1..T4),6)", N(0.088963)},  // Newton's first step from 0.9 falls below -1
        {"@DDB(1000,0,2000000000,2000000000)", N(1.353352832366127e-07)},  // one step, not two billion
        {"@DDB(1000,0,3000000000,3000000000)", N(9.022352215774183e-08)},
        {"@DDB(1000,100,1.5,1)", N(900)}, {"@DDB(1000,0,2,2)", N(0)},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, ListsPassOverBlanksAndCountLabelsAsZero) {
    const Case cases[] = {
        {"@SUM(A1..A5)", N(60)},       {"@COUNT(A1..A5)", N(4)},        {"@AVG(A1..A5)", N(15)},
        {"@MIN(A1..A5)", N(0)},        {"@MAX(A1..A5)", N(30)},         {"@VAR(A1..A5)", N(125)},
        {"@STD(A1..A5)", N(11.1803398874989485)}, {"@COUNT(A3)", N(1)}, {"@COUNT(A3..A3)", N(0)},
        {"@SUM(A5..A1)", N(60)},       {"@SUM(A1,5,\"x\")", N(15)},     {"@AVG(A1,\"x\")", N(5)},
        {"@AVG", ERR},                 {"@MAX()", N(0)},                {"@SUM(A1..B1)", ERR},
        {"@SUM(A1..A2,@NA)", NA},      {"@COUNT(Z1..Z9)", N(0)},        {"@AVG(Z1..Z9)", ERR},
        {"@SUM(A1..IV8192)", ERR},     {"@SUM(A1..A2,A1..A2)", N(60)},  {"@MIN(A1,-2,A2)", N(-2)},
        {"@SUM(TOTAL)", N(30)},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, LookupAndDatabase) {
    const Case cases[] = {
        {"@VLOOKUP(2,D1..F3,2)", N(200)},   {"@VLOOKUP(4,D1..F3,1)", S("two")}, {"@VLOOKUP(0,D1..F3,1)", ERR},
        {"@VLOOKUP(9,D1..F3,2)", N(500)},   {"@VLOOKUP(1,D1..F3,3)", ERR},      {"@VLOOKUP(1,D1..F3,-1)", ERR},
        {"@VLOOKUP(\"TWO\",E1..F3,1)", N(200)}, {"@VLOOKUP(\"six\",E1..F3,1)", ERR}, {"@VLOOKUP(@NA,D1..F3,1)", NA},
        {"@HLOOKUP(2.5,D5..F6,1)", S("b")}, {"@HLOOKUP(3,D5..F6,0)", N(3)},      {"@HLOOKUP(1,D5..F6,2)", ERR},
        {"@INDEX(D1..F3,2,1)", N(200)},     {"@INDEX(D1..F3,3,0)", ERR},         {"@INDEX(D1..F3,0,-1)", ERR},
        {"@INDEX(A1..A5,0,2)", N(0)},       {"@COLS(D1..F3)", N(3)},             {"@ROWS(D1..F6)", N(6)},
        {"@COLS(A1)", N(1)},                {"@ROWS(5)", ERR},
        {"@DSUM(H1..I4,1,K1..K2)", N(40)},  {"@DCOUNT(H1..I4,1,K1..K2)", N(2)},  {"@DAVG(H1..I4,1,K1..K2)", N(20)},
        {"@DMIN(H1..I4,1,K1..K2)", N(10)},  {"@DMAX(H1..I4,1,K1..K2)", N(30)},   {"@DVAR(H1..I4,1,K1..K2)", N(100)},
        {"@DSTD(H1..I4,1,K1..K2)", N(10)},  {"@DSUM(H1..I4,1,M1..M2)", N(50)},   {"@DSUM(H1..I4,1,N1..N2)", N(40)},
        {"@DSUM(H1..I4,1,O1..O2)", N(20)},  {"@DSUM(H1..I4,1,K1..K1)", N(60)},   {"@DSUM(H1..I4,1,Q1..Q2)", N(0)},
        {"@DSUM(H1..I4,2,K1..K2)", ERR},    {"@DCOUNT(H1..I4,0,K1..O2)", N(0)},  {"@DSUM(H1..I4,1,5)", ERR},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, StringsCountPositionsFromZero) {
    const Case cases[] = {
        {"@LENGTH(\"abc\")", N(3)},      {"@LENGTH(A1)", ERR},            {"@LENGTH(A3)", ERR},
        {"@LENGTH(A4)", N(3)},           {"@VALUE(\"12.5\")", N(12.5)},   {"@VALUE(\" -3e2 \")", N(-300)},
        {"@VALUE(\"50%\")", N(0.5)},     {"@VALUE(\"abc\")", ERR},        {"@VALUE(\"\")", N(0)},
        {"@VALUE(\"1-2\")", ERR},        {"@STRING(1.005,2)", S("1.01")}, {"@STRING(-0.4,0)", S("0")},
        {"@STRING(2.5,0)", S("3")},      {"@STRING(1234.5,1)", S("1234.5")}, {"@STRING(-1.25,3)", S("-1.250")},
        {"@STRING(1,16)", ERR},          {"@STRING(123.456,15)", S("123.456000000000000")},
        {"@STRING(1e20,2)", S("100000000000000000000.00")}, {"@STRING(0.1+0.2,15)", S("0.300000000000000")},
        {"@VALUE(\"1e-400\")", N(0)}, {"@VALUE(\"1e400\")", ERR}, {"@VALUE(\"0.01e-322\")", N(0)},          {"@STRING(\"a\",1)", S("0.0")},  {"@MID(\"abcdef\",2,3)", S("cde")},
        {"@MID(\"abc\",5,2)", S("")},    {"@MID(\"abc\",-1,2)", ERR},     {"@MID(\"abc\",1,10)", S("bc")},
        {"@MID(\"abc\",1,-1)", ERR},     {"@CHAR(65)", S("A")},           {"@CHAR(0)", ERR},
        {"@CHAR(256)", ERR},             {"@CODE(\"Abc\")", N(65)},       {"@CODE(\"\")", ERR},
        {"@FIND(\"b\",\"abcb\",0)", N(1)}, {"@FIND(\"b\",\"abcb\",2)", N(3)}, {"@FIND(\"x\",\"abc\",0)", ERR},
        {"@FIND(\"a\",\"abc\",4)", ERR}, {"@FIND(\"\",\"abc\",3)", N(3)}, {"@FIND(\"B\",\"abc\",0)", ERR},
        {"@REPEAT(\"ab\",3)", S("ababab")}, {"@REPEAT(\"ab\",-1)", ERR},  {"@REPEAT(\"ab\",0)", S("")},
        {"@REPEAT(\"ab\",600)", ERR},    {"@UPPER(\"aBc1\")", S("ABC1")}, {"@LOWER(\"AbC\")", S("abc")},
        {"@PROPER(\"hello wORLD-x\")", S("Hello World-X")}, {"@LEFT(\"abc\",2)", S("ab")},
        {"@LEFT(\"abc\",5)", S("abc")},  {"@RIGHT(\"abc\",2)", S("bc")},  {"@RIGHT(\"abc\",-1)", ERR},
        {"@REPLACE(\"abcdef\",1,2,\"XY\")", S("aXYdef")}, {"@REPLACE(\"abc\",5,0,\"Z\")", S("abcZ")},
        {"@REPLACE(\"abc\",0,3,\"\")", S("")}, {"@REPLACE(\"abc\",-1,1,\"x\")", ERR},
        {"@TRIM(\"  a   b  \")", S("a b")}, {"@CLEAN(\"a\"&@CHAR(7)&\"b\")", S("ab")},
        {"@S(A4)", S("abc")},            {"@S(A1)", S("")},               {"@S(A1..A2)", S("")},
        {"@S(B1)", ERR},                 {"@S(\"x\")", S("x")},           {"@N(A1..A2)", N(10)},
        {"@N(A4)", N(0)},                {"@N(\"x\")", N(0)},             {"@N(A3)", N(0)},
        {"@EXACT(\"a\",\"A\")", N(0)},   {"@EXACT(\"a\",\"a\")", N(1)},   {"@EXACT(1,1)", ERR},
    };
    CHECK_ALL(cases);
}

TEST_F(Functions, LetterCaseIsTheCharacterSets) {
    const struct {
        int charset;  // Options::charset: cp437, cp850, cp1252, latin1
        const char *formula;
        Want want;
    } cases[] = {
        {0, "@UPPER(W2)", S("M\x9ANCHEN")},       {0, "@LOWER(Y2)", S("m\x81nchen")},
        {0, "@PROPER(Y2&\" \"&@CHAR(225)&\"X\")", S("M\x81nchen \xE1x")},  // sharp s is a letter
        {0, "+W2=Y2", N(1)},                      {0, "@VLOOKUP(Y2,W2..X2,1)", N(5)},
        {0, "@DSUM(W1..X2,1,Y1..Y2)", N(5)},      {0, "@LOWER(@CHAR(228))", S("\xE5")},  // Greek sigma
        {0, "@UPPER(@CHAR(252))", S("\xFC")},    {2, "@UPPER(@CHAR(252))", S("\xDC")},
        {1, "@LOWER(@CHAR(232))", S("\xE7")},    {1, "@UPPER(@CHAR(213))", S("\xD5")},  // thorn; dotless i stays
        {2, "@LOWER(@CHAR(159))", S("\xFF")},    {2, "@UPPER(@CHAR(154))", S("\x8A")},
        {3, "@UPPER(@CHAR(255))", S("\xFF")},    {3, "+W2=Y2", N(0)},
    };
    for (const auto &c : cases) {
        options.charset = c.charset;
        EXPECT_TRUE(is(eval(c.formula), c.want)) << c.charset << " " << c.formula;
    }
}

TEST_F(Functions, CellsAndRangesDescribeThemselves) {
    options.file_name = "book.wk1";
    const Case cases[] = {
        {"@CELL(\"address\",AB20)", S("$AB$20")}, {"@CELL(\"ROW\",A5)", N(5)},   {"@CELL(\"col\",D1..F3)", N(4)},
        {"@CELL(\"contents\",A4)", S("abc")},     {"@CELL(\"contents\",A3)", N(0)}, {"@CELL(\"type\",A4)", S("l")},
        {"@CELL(\"type\",A1)", S("v")},           {"@CELL(\"type\",B1)", S("v")},   {"@CELL(\"type\",Z1)", S("b")},
        {"@CELL(\"prefix\",A4)", S("'")},         {"@CELL(\"prefix\",A1)", S("")},  {"@CELL(\"width\",A1)", N(9)},
        {"@CELL(\"format\",A1)", S("F2")},        {"@CELL(\"format\",A2)", S("G")}, {"@CELL(\"protect\",A2)", N(1)},
        {"@CELL(\"protect\",A1)", N(0)},          {"@CELL(\"filename\",A1)", S("book.wk1")},
        {"@CELL(\"bogus\",A1)", ERR},             {"@CELL(1,A1)", ERR},             {"@CELLPOINTER(\"address\")", S("$A$1")},
        {"@CELLPOINTER(\"contents\")", N(10)},    {"@APP(\"x\")", N(0)},            {"@APP(1)", ERR},
        {"@@(\"A1\")", N(10)},                    {"@@(\"$a$2\")", N(20)},          {"@@(\"TOTAL\")", N(30)},
        {"@@(\"total\")", N(30)},                 {"@@(\"BLOCK\")", ERR},           {"@@(\"IW1\")", ERR},
        {"@@(\"A0\")", ERR},                      {"@@(\"A4\")", S("abc")},         {"@@(5)", ERR},
        {"@@(A4)", ERR},
    };
    CHECK_ALL(cases);
    options.reproducible = false;
    options.pointer_col = 4, options.pointer_row = 1;
    EXPECT_TRUE(is(eval("@CELLPOINTER(\"address\")"), S("$E$2")));
    EXPECT_TRUE(is(eval("@RAND>=0#AND#@RAND<1"), N(1)));
    EXPECT_TRUE(is(eval("@NOW>@DATE(120,1,1)"), N(1)));
}

}  // namespace

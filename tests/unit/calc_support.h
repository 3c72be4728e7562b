/*
 * Helpers for the calculation core's tests: cells by address, formulas
 * compiled from text with the library's compiler, and expected values.
 */
#ifndef WKS_TEST_CALC_SUPPORT_H
#define WKS_TEST_CALC_SUPPORT_H

#include "calc/evaluator.h"
#include "calc/sheet.h"
#include "wks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace calctest {

using namespace wks::calc;

struct Addr {
    int col, row;
};

inline Addr at(const char *a) {
    int col = 0;
    while (*a >= 'A' && *a <= 'Z') col = col * 26 + (*a++ - 'A' + 1);
    return Addr{col - 1, std::atoi(a) - 1};
}

// Formula code (length word first) of text compiled for the cell `where`.
inline std::vector<unsigned char> compile(const char *text, Addr where, int32_t file = 0) {
    std::vector<unsigned char> code(2048);
    const int16_t got = wksfe(file, static_cast<int16_t>(where.col), static_cast<int16_t>(where.row), text,
                              code.data(), static_cast<int32_t>(code.size()));
    EXPECT_EQ(got, 0) << text;
    code.resize(2 + (code[0] | code[1] << 8));
    return code;
}

inline void number(Sheet &s, const char *a, double v, uint8_t format = 0x71) {
    ASSERT_EQ(s.set_number(at(a).col, at(a).row, format, v), WKS_OK);
}
inline void label(Sheet &s, const char *a, const char *text) {
    ASSERT_EQ(s.set_label(at(a).col, at(a).row, 0x71, text, std::strlen(text)), WKS_OK);
}
inline void formula(Sheet &s, const char *a, const char *text, double stored = 0) {
    const std::vector<unsigned char> code = compile(text, at(a));
    ASSERT_EQ(s.set_formula(at(a).col, at(a).row, 0x71, code.data(), code.size(), stored), WKS_OK);
}

struct Want {
    Tag tag;
    double number;
    const char *text;
};
inline Want N(double v) { return Want{Tag::kNumber, v, nullptr}; }
inline Want S(const char *t) { return Want{Tag::kString, 0, t}; }
const Want ERR{Tag::kErr, 0, nullptr};
const Want NA{Tag::kNa, 0, nullptr};

inline std::string show(const Value &v) {
    switch (v.tag) {
    case Tag::kNumber: {
        char b[40];
        std::snprintf(b, sizeof b, "%.17g", v.number);
        return b;
    }
    case Tag::kString: return "\"" + std::string(v.text, v.length) + "\"";
    case Tag::kErr: return "ERR";
    case Tag::kNa: return "NA";
    case Tag::kBlank: return "blank";
    default: return "range";
    }
}

inline ::testing::AssertionResult is(const Value &got, const Want &want) {
    bool same = got.tag == want.tag;
    if (same && want.tag == Tag::kNumber)
        same = got.number == want.number ||
               std::fabs(got.number - want.number) <= 1e-12 * std::fmax(1.0, std::fabs(want.number));
    if (same && want.tag == Tag::kString) same = std::string(got.text, got.length) == want.text;
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << show(got);
}

}  // namespace calctest

#endif

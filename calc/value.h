/*
 * The values of the formula language as the evaluator moves them: numbers
 * (IEEE doubles), strings, ERR and NA, the value of a blank cell, and
 * references to cells and ranges, which stay references until an operator
 * or function asks for a value.  A string is a view: it points into the
 * formula code, the sheet's text, or the evaluator's scratch arena, and
 * lives as long as the evaluation that made it.
 */
#ifndef WKS_CALC_VALUE_H
#define WKS_CALC_VALUE_H

#include "formula/code_tables.h"

#include <cstdint>

namespace wks::calc {

using formula::kColumns;
using formula::kRows;
// The longest string a formula may produce; a longer result is ERR.  It
// keeps every string result within one record of either file layout.
constexpr uint32_t kMaxText = 1023;

enum class Tag : uint8_t { kNumber, kString, kErr, kNa, kBlank, kRange };

struct Range {
    uint8_t c1, c2;   // c1 <= c2
    uint16_t r1, r2;  // r1 <= r2
    int columns() const { return c2 - c1 + 1; }
    int rows() const { return r2 - r1 + 1; }
    bool single() const { return c1 == c2 && r1 == r2; }
};

struct Value {
    Tag tag = Tag::kNumber;
    bool cell = false;   // a range written as a cell reference
    Range range{};       // kRange
    uint32_t length = 0; // kString
    union {
        double number;   // kNumber
        const char *text;  // kString: `length` bytes, not NUL-terminated
    };

    Value() : number(0) {}
    static Value of(double v) {
        Value x;
        x.number = v;
        return x;
    }
    static Value string(const char *text, uint32_t length) {
        Value x;
        x.tag = Tag::kString;
        x.text = text;
        x.length = length;
        return x;
    }
    static Value error() { return tagged(Tag::kErr); }
    static Value na() { return tagged(Tag::kNa); }
    static Value blank() { return tagged(Tag::kBlank); }
    static Value reference(Range r, bool cell) {
        Value x = tagged(Tag::kRange);
        x.range = r;
        x.cell = cell;
        return x;
    }
    static Value tagged(Tag t) {
        Value x;
        x.tag = t;
        return x;
    }

    bool is_error() const { return tag == Tag::kErr || tag == Tag::kNa; }
};

}  // namespace wks::calc

#endif

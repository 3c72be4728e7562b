/*
 * Internal side of the formula lexer, for the grammar and for wksfe: token
 * numbers, the token value, the formula position, the pending error code and
 * the ownership of string copies.  The exported pieces (init_lex, resetlex,
 * gc, backc, makerel, getcol, getrow, yylex) are declared in wks.h.
 */
#ifndef WKS_FORMULA_LEXER_H
#define WKS_FORMULA_LEXER_H

#include <cstdint>

namespace wks::formula {

// Token numbers returned by yylex.  The grammar declares the same numbers
// and checks at compile time that they agree.
enum TokenNumber : int32_t {
    kEndOfText = -1,
    kLexError = 254,
    kAndToken = 257,
    kOrToken = 258,
    kNotToken = 259,
    kEqToken = 260,
    kNeToken = 261,
    kLeToken = 262,
    kGeToken = 263,
    kGtToken = 264,
    kLtToken = 265,
    kPlusToken = 266,
    kMinusToken = 267,
    kConcatToken = 268,
    kTimesToken = 269,
    kDivideToken = 270,
    kPowerToken = 273,
    kIntegerToken = 274,
    kRealToken = 275,
    kStringToken = 276,
    kRangeToken = 277,
    kCellToken = 278,
    kFunctionToken = 279,
    kLparenToken = 280,
    kRparenToken = 281,
    kCommaToken = 282,
};

// A function call: the lexer fills opcode and declared count (255 for a
// variable count) and leaves actual at 0; the grammar counts the arguments.
struct CallValue {
    uint16_t opcode;
    uint16_t declared;
    uint16_t actual;
};

// The value of a token, and of the grammar symbols built from tokens.
union Value {
    int16_t integer;     // INTEGER: 0..32767
    double real;         // REAL
    char *string;        // STRING: heap copy, see release_string()
    uint16_t words[4];   // CELL: column, row; RANGE: c1, r1, c2, r2
    CallValue call;      // FUNCTION, and the grammar's call
    uint16_t count;      // the grammar's argument list
};

// The value of the last token that carried one.
const Value &token_value();

// yylex itself, callable from code in which the grammar's renaming macros
// hide the exported name.
int32_t next_token();

// Base of relative references: the cell that will hold the formula.
void set_formula_position(int16_t col, int16_t row);

// 0, or the code of the failure that ends the compilation.
int16_t pending_error();
void set_pending_error(int16_t code);

// Frees the copy handed out with the last STRING token, if it is still
// alive.  The lexer frees a forgotten copy itself at the next STRING token
// and at the next resetlex, so at most one copy is ever alive.
void release_string();

// True when the range name, printed in decoded text, reads back as itself
// and as one item: at most 15 characters (no longer name is ever matched),
// none that ends a name or begins another token, no digit first, and not a
// cell address such as "A1", which would read as that cell wherever the
// name is not defined.  Whether another name in the table begins with this
// one and a character that follows a name in text is not considered.
bool reads_back_as_name(const char *name);

// Points the reader at an empty text (end latch set) and frees a live string
// copy, so that nothing keeps a pointer into the caller's text after wksfe.
void detach_text();

}  // namespace wks::formula

#endif

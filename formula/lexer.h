/*
 * Internal side of the formula lexer, for the grammar and for wksfe: the
 * token value, the formula position, the pending error code and
 * the ownership of string copies.  The exported pieces (init_lex, resetlex,
 * gc, backc, makerel, getcol, getrow, yylex) are declared in wks.h, for
 * hosts that define WKS_FORMULA_INTERNALS; the library itself calls these.
 */
#ifndef WKS_FORMULA_LEXER_H
#define WKS_FORMULA_LEXER_H

#include <cstdint>

namespace wks::formula {

// What yylex returns at the end of the text.  The token numbers are the
// grammar's (its generated header, "formula/grammar.hpp": TOK_PLUS ...).
constexpr int32_t kEndOfText = -1;

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

// What yylex does: reads the next token and returns its number.
int32_t next_token();

// What resetlex does: points the reader at text (null: an empty text), frees
// a live string copy, clears the pending error, and returns the first
// character.
int32_t attach_text(const char *text);

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

// detach_text, and the token value, formula position and pending error
// cleared: the state at load (the reset seam).
void reset_lexer();

}  // namespace wks::formula

#endif

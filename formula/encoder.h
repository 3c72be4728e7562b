/*
 * Internal side of the formula compiler's output, for the grammar's actions:
 * the emitters that append code bytes, the abort point and the parser entry.
 * The state itself (output cursor, space left, whether a compilation runs)
 * belongs to compiler.cpp.
 *
 * A failure inside a compilation leaves through the abort point: an Abort
 * thrown here and caught by wksfe, never further.  Nothing outside a
 * compilation throws.
 */
#ifndef WKS_FORMULA_ENCODER_H
#define WKS_FORMULA_ENCODER_H

#include <cstdint>

namespace wks::formula {

// What the abort point carries to wksfe: 14 from a syntax error or a full
// parser stack, 16 from a full output buffer.
struct Abort {
    int16_t code;
};

// Leaves the running compilation through the abort point.
[[noreturn]] void abort_compilation(int16_t code);

// True between wksfe's set-up and its return.
bool compiling();

// Append to the output of the running compilation; a byte that does not fit
// aborts with 16.  Only the grammar calls these, always inside wksfe.
void emit_byte(uint8_t byte);
void emit_word(uint16_t word);          // low byte first
void emit_real(double value);           // 8 bytes, IEEE-754, low byte first
void emit_text(const char *text);       // the bytes, then a NUL

// The generated LALR(1) parser (grammar.y): 0 accepted, 1 the argument
// count check failed; every other failure leaves through the abort point.
int parse();

}  // namespace wks::formula

#endif

/*
 * The formula compiler's entry and output: wksfe sets up the lexer, the
 * output buffer and the abort point, runs the parser and fills in the length
 * word; the emitters append code bytes straight into the caller's buffer.
 * Owns the encoder state: output cursor, space left and the flag that says
 * a compilation is running.
 *
 * Invariants: outside wksfe the output cursor is null and nothing is
 * written; the exported yyparse, yyerror and emitters are then harmless
 * no-ops.  Inside, every failure leaves through an Abort exception caught in
 * wksfe, so no exception crosses the C interface, and wksfe frees any string
 * copy the lexer still holds on every path.
 */
#define WKS_FORMULA_INTERNALS
#include "formula/encoder.h"

#include "formula/code_tables.h"
#include "formula/lexer.h"
#include "names/names.h"
#include "wks.h"
#include "wks/bytes.h"
#include "wks/layout.h"

#include <cstring>

namespace wks::formula {
namespace {

// The length word is a signed 16-bit count, so no code may be longer.
constexpr int32_t kMaxCodeLength = 32767;
// What the exported yyparse returns outside a compilation: not accepted.
constexpr int32_t kNotCompiling = 1;

unsigned char *g_out = nullptr;  // next code byte
int32_t g_space = 0;             // code bytes that may still be written
bool g_compiling = false;

// The code a failed compilation returns: a pending lexer or argument-count
// code wins over the abort's own.
int16_t failure_code(int16_t abort_code) {
    int16_t pending = pending_error();
    return pending != 0 ? pending : abort_code;
}

}  // namespace

void abort_compilation(int16_t code) { throw Abort{code}; }

bool compiling() { return g_compiling; }

void emit_byte(uint8_t byte) {
    if (g_space <= 0) abort_compilation(WKS_E_CODE_SPACE);
    --g_space;
    *g_out++ = byte;
}

void emit_word(uint16_t word) {
    emit_byte(static_cast<uint8_t>(word & 0xFF));
    emit_byte(static_cast<uint8_t>(word >> 8));
}

void emit_real(double value) {
    unsigned char bytes[8];
    put_f64(bytes, value);
    for (unsigned char b : bytes) emit_byte(b);
}

void emit_text(const char *text) {
    for (const char *p = text; *p; ++p) emit_byte(static_cast<uint8_t>(*p));
    emit_byte(0);
}

}  // namespace wks::formula

using namespace wks;
using namespace wks::formula;

extern "C" {

int16_t wksfe(int32_t file, int16_t col, int16_t row, const char *text, unsigned char *out, int32_t size) {
    set_pending_error(0);
    wks::names::set_current_file(file);
    set_formula_position(col, row);
    if (!out || size < kCodeLengthSize) return WKS_E_CODE_SPACE;  // not even room for the length word
    wks::put_u16(out, 0);
    if (!text) return WKS_E_SYNTAX;

    unsigned char *code = out + kCodeLengthSize;
    g_out = code;
    g_space = size - kCodeLengthSize < kMaxCodeLength ? size - kCodeLengthSize : kMaxCodeLength;
    g_compiling = true;
    attach_text(text);

    int16_t result;
    try {
        result = parse() == 0 ? 0 : failure_code(WKS_E_SYNTAX);
    } catch (const Abort &a) {
        result = failure_code(a.code);
    } catch (...) {
        result = failure_code(WKS_E_SYNTAX);  // nothing else throws; never let it escape
    }

    auto length = static_cast<uint16_t>(g_out - code);
    g_compiling = false;
    g_out = nullptr;
    g_space = 0;
    detach_text();  // frees a string copy the failure left behind
    if (result == 0) wks::put_u16(out, length);
    return result;
}

int32_t yyparse(void) {
    if (!g_compiling) return kNotCompiling;
    return parse();
}

void yyerror(const char *) {
    if (g_compiling) abort_compilation(WKS_E_SYNTAX);
}

void emit(unsigned char byte) {
    if (g_compiling) emit_byte(byte);
}

void emitint(int16_t value) {
    if (g_compiling) emit_word(static_cast<uint16_t>(value));
}

void emitlong(int32_t value) {
    if (!g_compiling) return;
    auto v = static_cast<uint32_t>(value);
    emit_word(static_cast<uint16_t>(v & 0xFFFF));
    emit_word(static_cast<uint16_t>(v >> 16));
}

}  // extern "C"

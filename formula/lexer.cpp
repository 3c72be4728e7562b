/*
 * The formula lexer: turns the characters of one formula text into tokens
 * for the grammar, one token per yylex call.  Owns the text reader (cursor,
 * current and previous character, end latch), the token text buffer, the
 * token value, the formula position, the pending error code and the one
 * live string copy.
 *
 * Everything that depends on context is settled here, so the grammar copies
 * token values unchanged: references arrive encoded against the formula
 * position, range names arrive as their four coordinates, functions as
 * their opcode and declared argument count.
 *
 * Invariants: the reader only reads the text, never before its first byte;
 * once the NUL is read the end latch holds the cursor just past it, so one
 * backc after any number of reads past the end returns to the last
 * character.  Every character is classified by one table lookup.  The only
 * allocation is the copy of a string.
 */
#define WKS_FORMULA_INTERNALS
#include "formula/lexer.h"

#include "formula/code_tables.h"
#include "formula/grammar.hpp"
#include "formula/real_text.h"
#include "names/names.h"
#include "platform/platform.h"
#include "wks.h"

#include <array>
#include <cstring>

namespace wks::formula {
namespace {

// --- character tables -------------------------------------------------------

// How a token is read, by its first character.  Characters that are a token
// on their own carry that token's number instead (all >= kFirstTokenNumber).
enum CharClass : uint16_t {
    kBadClass,
    kEndClass,       // byte 255, which is also the class of the end marker
    kNumberClass,    // 0-9
    kPointClass,     // .
    kNameClass,      // letters and the remaining printable characters
    kFunctionClass,  // @
    kStringClass,    // "
    kLogicalClass,   // #
    kBangClass,      // ! (a one-cell range)
    kLessClass,      // <
    kGreaterClass,   // >
};
constexpr uint16_t kFirstTokenNumber = 256;

enum CharFlag : uint8_t {
    kDigit = 1,        // 0-9
    kNumberChar = 2,   // may continue a real number: 0-9 . E e + -
    kStringChar = 4,   // 32..126, and 128..254: the file's own characters
    kNameChar = 8,     // may continue a function name: letters, digits, @
};

constexpr int kFirstPrintable = 32;
constexpr int kLastPrintable = 126;
constexpr int kFirstHighByte = 128;  // bytes from here up are characters of the file's set
constexpr int kEndByte = 255;

constexpr bool is_upper(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(int c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_letter(int c) { return is_upper(c) || is_lower(c); }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr int to_upper(int c) { return is_lower(c) ? c - 'a' + 'A' : c; }

constexpr uint16_t class_of(int c) {
    switch (c) {
    case '+': return TOK_PLUS;
    case '-': return TOK_MINUS;
    case '*': return TOK_TIMES;
    case '/': return TOK_DIVIDE;
    case '^': return TOK_POWER;
    case '&': return TOK_CONCAT;
    case '=': return TOK_EQ;
    case ',': return TOK_COMMA;
    case '(': return TOK_LPAREN;
    case ')': return TOK_RPAREN;
    case '.': return kPointClass;
    case '@': return kFunctionClass;
    case '"': return kStringClass;
    case '#': return kLogicalClass;
    case '!': return kBangClass;
    case '<': return kLessClass;
    case '>': return kGreaterClass;
    default: break;
    }
    if (c == kEndByte) return kEndClass;
    if (c < kFirstPrintable || c > kLastPrintable) return kBadClass;
    if (is_digit(c)) return kNumberClass;
    return kNameClass;
}

constexpr uint8_t flags_of(int c) {
    uint8_t f = 0;
    if ((c >= kFirstPrintable && c <= kLastPrintable) || (c >= kFirstHighByte && c < kEndByte)) f |= kStringChar;
    if (is_digit(c)) f |= kDigit | kNumberChar | kNameChar;
    if (c == '.' || c == 'E' || c == 'e' || c == '+' || c == '-') f |= kNumberChar;
    if (is_letter(c) || c == '@') f |= kNameChar;
    return f;
}

template <typename T, typename F>
constexpr std::array<T, 256> make_table(F f) {
    std::array<T, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = f(c);
    return t;
}

constexpr auto kClass = make_table<uint16_t>(class_of);
constexpr auto kFlags = make_table<uint8_t>(flags_of);

static_assert(kClass[kEndByte] == kEndClass && kClass[' '] == kNameClass && kClass['$'] == kNameClass);
static_assert(kFlags['E'] == (kStringChar | kNumberChar | kNameChar));

// The end marker (-1) shares byte 255's entries: no flags, class end.
inline uint16_t char_class(int c) { return kClass[c & 0xFF]; }
inline bool has_flag(int c, CharFlag f) { return (kFlags[c & 0xFF] & f) != 0; }

// --- process-wide lexer state ------------------------------------------------

constexpr int kEndMarker = -1;
constexpr int kTokenTextSize = 1024;                       // NUL included
constexpr int kMaxNameCandidate = WKS_NAME_TEXT_SIZE - 1;  // longest range name matched in text
constexpr int kNameLongerThanOne = 2;                      // wkslp: a longer name may start so
constexpr int kOneCharacterName = 1;                       // wkslp: the one-character name may exist
constexpr int kFirstRowNumber = 1;                         // rows as written: 1..8192
constexpr int kLastColumn = kColumns - 1;                  // IV

const char kEmptyText[] = "";

struct Reader {
    const unsigned char *start = reinterpret_cast<const unsigned char *>(kEmptyText);
    const unsigned char *cursor = start + 1;  // after the current character
    int current = kEndMarker;
    int previous = kEndMarker;
    bool end_latch = true;
};

Reader g_reader;
char g_text[kTokenTextSize];
int g_text_length = 0;
Value g_value;
int16_t g_formula_col = 0;
int16_t g_formula_row = 0;
int16_t g_pending = 0;
char *g_live_string = nullptr;

int32_t fail(int16_t code) {
    g_pending = code;
    return TOK_LEXERROR;
}

// --- the reader ---------------------------------------------------------------

// Makes the next character current and returns it; kEndMarker from the NUL on.
int read_char() {
    Reader &r = g_reader;
    r.previous = r.current;
    if (r.end_latch) {
        r.current = kEndMarker;
    } else {
        int c = *r.cursor++;
        if (c == '\0') {
            r.current = kEndMarker;
            r.end_latch = true;
        } else {
            r.current = c;
        }
    }
    return r.current;
}

// Makes the character before the current one current again; never goes
// before the first character.
int unread_char() {
    Reader &r = g_reader;
    if (r.cursor - 1 <= r.start) return r.current;  // already at the first character
    r.end_latch = false;
    --r.cursor;
    r.current = r.cursor[-1];
    r.previous = r.cursor - 2 >= r.start ? r.cursor[-2] : kEndMarker;
    return r.current;
}

// --- token text -----------------------------------------------------------

void start_text(int c) {
    g_text[0] = static_cast<char>(c);
    g_text[1] = '\0';
    g_text_length = 1;
}

void clear_text() {
    g_text[0] = '\0';
    g_text_length = 0;
}

// False when the text would reach kTokenTextSize characters.
bool append(int c) {
    if (g_text_length >= kTokenTextSize - 1) return false;
    g_text[g_text_length++] = static_cast<char>(c);
    g_text[g_text_length] = '\0';
    return true;
}

// Pushes back until the character before `mark` is current again.
void rewind_to(const unsigned char *mark) {
    while (g_reader.cursor > mark) unread_char();
}

// --- numbers ----------------------------------------------------------------

int32_t read_real() {
    while (has_flag(g_reader.current, kNumberChar)) {
        if (!append(g_reader.current)) return fail(WKS_E_BAD_REAL);
        read_char();
    }
    const char *end = g_text;
    double v = convert_real(g_text, &end);
    // Give back what did not convert, so reading resumes after the number.
    for (int n = g_text_length - static_cast<int>(end - g_text); n > 0; --n) unread_char();
    g_value.real = end == g_text ? 0.0 : v;
    return TOK_REAL;
}

int32_t read_number(int first) {
    start_text(first);
    uint16_t wrapped = static_cast<uint16_t>(first - '0');  // modulo 65536
    double exact = first - '0';
    while (has_flag(g_reader.current, kDigit)) {
        int d = g_reader.current - '0';
        wrapped = static_cast<uint16_t>(wrapped * 10 + d);
        exact = exact * 10 + d;
        if (!append(g_reader.current)) return fail(WKS_E_BAD_REAL);
        read_char();
    }
    int c = g_reader.current;
    if (c == '.' || c == 'E' || c == 'e') return read_real();
    // Equal only when the value is at most 32767.
    if (exact == static_cast<int16_t>(wrapped)) {
        g_value.integer = static_cast<int16_t>(wrapped);
        return TOK_INTEGER;
    }
    return read_real();
}

int32_t read_point() {
    if (!has_flag(g_reader.current, kNumberChar)) return fail(WKS_E_BAD_REAL);
    start_text('.');
    return read_real();
}

// --- strings ----------------------------------------------------------------

int32_t read_string() {
    clear_text();
    while (has_flag(g_reader.current, kStringChar)) {
        if (g_reader.current == '"') {
            read_char();
            if (g_reader.current != '"') break;  // the closing quote
        }
        if (!append(g_reader.current)) return fail(WKS_E_STRING_TOO_LONG);
        read_char();
    }
    auto *copy = static_cast<char *>(plat::alloc(static_cast<std::size_t>(g_text_length) + 1));
    if (!copy) return fail(WKS_E_NO_STRING_MEMORY);
    std::memcpy(copy, g_text, static_cast<std::size_t>(g_text_length) + 1);
    release_string();  // a copy nobody took (yylex called outside a compilation)
    g_live_string = copy;
    g_value.string = copy;
    return TOK_STRING;
}

// --- functions and logical operators ------------------------------------------

int32_t read_function() {
    start_text('@');
    while (has_flag(g_reader.current, kNameChar)) {
        if (!append(to_upper(g_reader.current))) return fail(WKS_E_BAD_FUNCTION);
        read_char();
    }
    const int opcode = find_function(g_text);
    if (opcode < 0) return fail(WKS_E_BAD_FUNCTION);
    g_value.call = CallValue{static_cast<uint16_t>(opcode), function_by_opcode(opcode).argc, 0};
    return TOK_FUNCTION;
}

int32_t read_name_or_reference(int c0);

int32_t read_logical() {
    int c = g_reader.current;
    int wanted = (c == 'A' || c == 'N') ? 4 : (c == 'O' ? 3 : 0);
    clear_text();
    int read = 0;
    for (; read < wanted && g_reader.current != kEndMarker; ++read) {
        append(g_reader.current);
        read_char();
    }
    if (std::strcmp(g_text, "AND#") == 0) return TOK_AND;
    if (std::strcmp(g_text, "NOT#") == 0) return TOK_NOT;
    if (std::strcmp(g_text, "OR#") == 0) return TOK_OR;
    for (; read > 0; --read) unread_char();
    return read_name_or_reference('#');
}

// --- range names and references -------------------------------------------

// The longest range name the text begins with, c0 already consumed.  On
// success its characters are consumed; otherwise only c0 is.
const WKS_NAME *match_name(int c0) {
    char candidate[kMaxNameCandidate + 1] = {static_cast<char>(c0), '\0'};
    char probe[3] = {static_cast<char>(c0), '\0', '\0'};
    if (g_reader.current != kEndMarker) probe[1] = static_cast<char>(g_reader.current);

    switch (names::prefix_of(probe)) {
    case kNameLongerThanOne: {
        int length = 1;
        while (length < kMaxNameCandidate && g_reader.current != kEndMarker) {
            candidate[length++] = static_cast<char>(g_reader.current);
            read_char();
        }
        // Shorten from the end down to two characters; a one-character name
        // is not tried on this path.
        for (; length >= 2; --length) {
            candidate[length] = '\0';
            if (const WKS_NAME *node = names::lookup(names::current_file(), candidate)) return node;
            unread_char();
        }
        return nullptr;
    }
    case kOneCharacterName:
        return names::lookup(names::current_file(), candidate);
    default:
        return nullptr;
    }
}

// The reference word of target from base: relative, bit 15 set and a 14-bit
// two's-complement offset.
uint16_t relative_word(int16_t target, int16_t base) {
    auto d = static_cast<uint16_t>(target - base);
    if (static_cast<int16_t>(d) >= 0) return static_cast<uint16_t>(d | kRelativeBit);
    return static_cast<uint16_t>(d & ~kUnusedBit);
}

// The word of a coordinate: the coordinate itself when absolute, else
// relative to base.
uint16_t word_of(int16_t coordinate, bool absolute, int16_t base) {
    return absolute ? static_cast<uint16_t>(coordinate) : relative_word(coordinate, base);
}

// Consumes a "$", which makes the coordinate after it absolute.
bool take_dollar() {
    if (g_reader.current != '$') return false;
    read_char();
    return true;
}

// A column ("$" for absolute, one or two letters up to IV) as a reference
// word from the formula position: false when there is none.
bool read_column(uint16_t *word) {
    const bool absolute = take_dollar();
    if (!is_letter(g_reader.current)) return false;
    int col = to_upper(g_reader.current) - 'A';
    read_char();
    if (is_letter(g_reader.current)) {
        col = 26 * (col + 1) + (to_upper(g_reader.current) - 'A');
        read_char();
        if (col > kLastColumn) return false;
    }
    if (word) *word = word_of(static_cast<int16_t>(col), absolute, g_formula_col);
    return true;
}

// A row ("$" for absolute, then 1..8192): false when there is none.
bool read_row(uint16_t *word) {
    const bool absolute = take_dollar();
    if (!is_digit(g_reader.current)) return false;
    int number = 0;
    while (is_digit(g_reader.current)) {
        if (number <= kRows) number = number * 10 + (g_reader.current - '0');  // stops growing once too big
        read_char();
    }
    if (number < kFirstRowNumber || number > kRows) return false;
    if (word) *word = word_of(static_cast<int16_t>(number - kFirstRowNumber), absolute, g_formula_row);
    return true;
}

// A cell's column and row words into w[0] and w[1]: 0, or the code of what
// is missing.
int16_t read_cell(uint16_t *w) {
    if (!read_column(&w[0])) return WKS_E_BAD_COLUMN;
    if (!read_row(&w[1])) return WKS_E_BAD_ROW;
    return 0;
}

int32_t read_reference() {
    uint16_t *w = g_value.words;
    if (const int16_t code = read_cell(w)) return fail(code);
    if (g_reader.current != '.') return TOK_CELL;
    read_char();
    if (g_reader.current == '.') read_char();  // one or two points between the corners
    if (const int16_t code = read_cell(w + 2)) return fail(code);
    return TOK_RANGE;
}

// c0, the token's first character, has just been consumed.
int32_t read_name_or_reference(int c0) {
    const unsigned char *token_start = g_reader.cursor - 1;  // cursor while c0 was current
    bool absolute = false;
    if (c0 == '$') {
        absolute = true;
        read_char();
        c0 = g_reader.previous;
    }
    const WKS_NAME *node = c0 == kEndMarker ? nullptr : match_name(c0);
    if (node) {
        const int16_t corners[4] = {node->c1, node->r1, node->c2, node->r2};
        const int16_t bases[4] = {g_formula_col, g_formula_row, g_formula_col, g_formula_row};
        for (int i = 0; i < 4; ++i) g_value.words[i] = word_of(corners[i], absolute, bases[i]);
        return TOK_RANGE;
    }
    rewind_to(token_start);
    return read_reference();
}

int32_t read_single_cell() {
    uint16_t *w = g_value.words;
    if (const int16_t code = read_cell(w)) return fail(code);
    w[2] = w[0];
    w[3] = w[1];
    return TOK_RANGE;
}

// --- names in decoded text ---------------------------------------------------

// Characters a printed name may hold.  Of those that begin a name, a space
// (decoded text has none), "$" (it makes a reference absolute) and ":" (a
// letter and ":" are a sheet prefix to the rewriting) are left out, since
// they would not read back as part of the name.
bool is_name_text_char(unsigned char c) {
    return char_class(c) == kNameClass && c != ' ' && c != '$' && c != ':';
}

// A column of one or two letters up to IV, then a row number 1..8192 and
// nothing else: "A1", "iv08192".
bool is_cell_address(const char *text) {
    int letters = 0, column = 0;  // column counted from 1
    for (; is_letter(text[letters]); ++letters) {
        if (letters == 2) return false;
        column = column * 26 + (to_upper(text[letters]) - 'A' + 1);
    }
    if (letters == 0 || column - 1 > kLastColumn || text[letters] == '\0') return false;
    int number = 0;
    for (const char *p = text + letters; *p; ++p) {
        if (!is_digit(*p)) return false;
        if (number <= kRows) number = number * 10 + (*p - '0');  // stops growing once too big
    }
    return number >= kFirstRowNumber && number <= kRows;
}

}  // namespace

// --- internal interface ---------------------------------------------------

bool reads_back_as_name(const char *name) {
    const auto *p = reinterpret_cast<const unsigned char *>(name);
    if (!p || !is_name_text_char(p[0])) return false;
    int length = 1;
    for (; p[length]; ++length)
        if (length == kMaxNameCandidate || !(is_name_text_char(p[length]) || is_digit(p[length]))) return false;
    return !is_cell_address(name);
}

const Value &token_value() { return g_value; }

void set_formula_position(int16_t col, int16_t row) {
    g_formula_col = col;
    g_formula_row = row;
}

int16_t pending_error() { return g_pending; }
void set_pending_error(int16_t code) { g_pending = code; }

void release_string() {
    plat::release(g_live_string);
    g_live_string = nullptr;
}

int32_t attach_text(const char *text) {
    if (!text) text = kEmptyText;
    release_string();
    g_reader.start = reinterpret_cast<const unsigned char *>(text);
    g_reader.cursor = g_reader.start;
    g_reader.end_latch = false;
    g_pending = 0;
    return read_char();
}

void detach_text() {
    g_reader = Reader{};
    release_string();
}

void reset_lexer() {
    detach_text();
    clear_text();
    g_value = Value{};
    g_formula_col = 0;
    g_formula_row = 0;
    g_pending = 0;
}

int32_t next_token() {
    int first = g_reader.current;
    uint16_t cls = char_class(first);
    read_char();
    if (cls >= kFirstTokenNumber) return cls;
    switch (cls) {
    case kEndClass:
        return first == kEndMarker ? kEndOfText : fail(WKS_E_BAD_CHARACTER);
    case kLessClass:
        if (g_reader.current == '=') {
            read_char();
            return TOK_LE;
        }
        if (g_reader.current == '>') {
            read_char();
            return TOK_NE;
        }
        return TOK_LT;
    case kGreaterClass:
        if (g_reader.current == '=') {
            read_char();
            return TOK_GE;
        }
        return TOK_GT;
    case kNumberClass: return read_number(first);
    case kPointClass: return read_point();
    case kStringClass: return read_string();
    case kFunctionClass: return read_function();
    case kLogicalClass: return read_logical();
    case kNameClass: return read_name_or_reference(first);
    case kBangClass: return read_single_cell();
    default: return fail(WKS_E_BAD_CHARACTER);
    }
}

}  // namespace wks::formula

// --- exported functions -------------------------------------------------------

using namespace wks::formula;

extern "C" {

void init_lex(void) {
    // The class and flag tables are constant data built at compile time;
    // nothing is left to prepare.
}

int32_t resetlex(const char *text) { return attach_text(text); }

int32_t gc(void) { return read_char(); }

int32_t backc(void) { return unread_char(); }

uint16_t makerel(int16_t target, int16_t base) { return relative_word(target, base); }

int16_t getcol(uint16_t *word) { return read_column(word) ? 1 : 0; }

int16_t getrow(uint16_t *word) { return read_row(word) ? 1 : 0; }

int32_t yylex(void) { return next_token(); }

}  // extern "C"

/*
 * Walks two formula codes side by side by their numeric constants (real
 * and integer items) and rebuilds the second with the first one's reals.
 * Every item is measured against the code's length, so malformed code ends
 * the walk instead of reading past it.  Nothing here allocates.
 */
#include "convert/formula_constants.h"

#include "formula/code_tables.h"
#include "wks/bytes.h"

#include <cstdio>
#include <cstring>

namespace wks::convert {
namespace {

using namespace wks::formula;

constexpr int kNumberText = 32;  // "%g" of any double fits
constexpr int32_t kRealItem = 9;  // opcode and 8-byte double
constexpr unsigned char kSignBit = 0x80;

// Size of the item at p (opcode and operand bytes), or 0 when it is not a
// valid item or runs past end.
int32_t item_size(const unsigned char *p, const unsigned char *end) {
    const unsigned op = *p;
    int32_t size;
    switch (op) {
        case kReal: size = kRealItem; break;
        case kCell: size = 5; break;
        case kRange: size = 9; break;
        case kInteger: size = 3; break;
        case kString: {
            const void *nul = std::memchr(p + 1, 0, static_cast<std::size_t>(end - p - 1));
            if (!nul) return 0;
            size = static_cast<int32_t>(static_cast<const unsigned char *>(nul) - p + 1);
            break;
        }
        default:
            if (op == kEnd || op == kError || (op >= kParens && op <= kConcat)) {
                size = 1;
            } else if (is_function(op)) {
                size = function_by_opcode(op).argc == kVariableArgs ? 2 : 1;
            } else {
                return 0;
            }
    }
    return size <= end - p ? size : 0;
}

bool is_number(unsigned op) { return op == kReal || op == kInteger; }

// The constant as the decoder prints it.
void number_text(const unsigned char *item, char (&text)[kNumberText]) {
    if (item[0] == kReal)
        std::snprintf(text, sizeof text, "%g", get_f64(item + 1));
    else
        std::snprintf(text, sizeof text, "%d", static_cast<int>(get_i16(item + 1)));
}

// How a former constant came back in the fresh code.
enum class Match { kSame, kNegated, kRegrouped, kDifferent };

// negated_next: the fresh item right after the number is a negation.
Match match(const unsigned char *former, const unsigned char *fresh, bool negated_next) {
    char old_text[kNumberText], new_text[kNumberText];
    number_text(former, old_text);
    number_text(fresh, new_text);
    if (std::strcmp(old_text, new_text) == 0) return Match::kSame;
    if (old_text[0] != '-' || std::strcmp(old_text + 1, new_text) != 0) return Match::kDifferent;
    return negated_next ? Match::kNegated : Match::kRegrouped;
}

// The real item at former with its sign bit flipped: -x exactly, -0.0 and
// 0.0 included.
void put_negated_real(const unsigned char *former, unsigned char *out) {
    std::memcpy(out, former, kRealItem);
    out[kRealItem - 1] ^= kSignBit;  // the sign is the top bit of the last byte
}

class Walker {
public:
    Walker(const unsigned char *code, int32_t len) : p_(code), end_(code + len) {}
    // The next item, or null at the end item, the end of the code, or an
    // invalid item (then bad() is true).
    const unsigned char *next(int32_t &size) {
        if (p_ >= end_ || *p_ == kEnd) return nullptr;
        size = item_size(p_, end_);
        if (size == 0) {
            bad_ = true;
            return nullptr;
        }
        const unsigned char *item = p_;
        p_ += size;
        return item;
    }
    const unsigned char *next_number(int32_t &size) {
        const unsigned char *item;
        while ((item = next(size)) && !is_number(*item)) {
        }
        return item;
    }
    // The opcode of the item next() returns next; kEnd past the code.
    unsigned peek() const { return p_ < end_ ? *p_ : unsigned{kEnd}; }
    bool bad() const { return bad_; }

private:
    const unsigned char *p_;
    const unsigned char *end_;
    bool bad_ = false;
};

}  // namespace

int32_t carry_constants(const unsigned char *former, int32_t former_len, const unsigned char *fresh,
                        int32_t fresh_len, unsigned char *out, int32_t cap) {
    Walker old_items(former, former_len), new_items(fresh, fresh_len);
    int32_t n = 0;
    const unsigned char *item;
    int32_t size;
    unsigned char negated[kRealItem];
    while ((item = new_items.next(size))) {
        if (is_number(*item)) {
            int32_t old_size;
            const unsigned char *old_item = old_items.next_number(old_size);
            if (!old_item) return kConstantsDiffer;
            switch (match(old_item, item, new_items.peek() == kNegate)) {
            case Match::kSame:
                if (*old_item == kReal) {
                    item = old_item;
                    size = old_size;
                }
                break;
            case Match::kNegated:
                if (*old_item == kReal) {
                    put_negated_real(old_item, negated);
                    item = negated;
                    size = kRealItem;
                }
                break;
            case Match::kRegrouped: return kRegrouped;
            case Match::kDifferent: return kConstantsDiffer;
            }
        }
        if (n + size > cap) return kCodeTooLong;
        std::memcpy(out + n, item, static_cast<std::size_t>(size));
        n += size;
    }
    int32_t ignored;
    if (new_items.bad() || old_items.next_number(ignored) || old_items.bad()) return kConstantsDiffer;
    if (n + 1 > cap) return kCodeTooLong;
    out[n++] = kEnd;
    return n;
}

}  // namespace wks::convert

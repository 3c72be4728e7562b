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

// Size of the item at p (opcode and operand bytes), or 0 when it is not a
// valid item or runs past end.
int32_t item_size(const unsigned char *p, const unsigned char *end) {
    const unsigned op = *p;
    int32_t size;
    switch (op) {
        case kReal: size = 9; break;
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
    while ((item = new_items.next(size))) {
        if (is_number(*item)) {
            int32_t old_size;
            const unsigned char *old_item = old_items.next_number(old_size);
            if (!old_item) return kConstantsDiffer;
            char old_text[kNumberText], new_text[kNumberText];
            number_text(old_item, old_text);
            number_text(item, new_text);
            if (std::strcmp(old_text, new_text) != 0) return kConstantsDiffer;
            if (*old_item == kReal) {
                item = old_item;
                size = old_size;
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

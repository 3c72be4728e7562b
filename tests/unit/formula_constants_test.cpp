// Carrying exact real constants from a formula's former code into the code
// recompiled from its rewritten text.
#include "convert/formula_constants.h"
#include "formula/code_tables.h"
#include "support/test_support.h"
#include "wks/layout.h"

#include <gtest/gtest.h>

using namespace wks::convert;
using wkstest::Bytes;
using wkstest::hex;
namespace code = wks::formula;

namespace {

Bytes real(double v) {
    Bytes b{code::kReal};
    wkstest::put_double(b, v);
    return b;
}
Bytes integer(int16_t v) {
    Bytes b{code::kInteger};
    wkstest::put16(b, static_cast<uint16_t>(v));
    return b;
}
const Bytes kCell = {1, 0x00, 0x80, 0x00, 0x80};
const Bytes kEnd = {code::kEnd};
const Bytes kNegate = {code::kNegate};
const Bytes kAdd = {code::kAdd};
const Bytes kSumOfNothing = {code::opcode_of("@SUM"), 0};  // the count byte 0 is no real constant
const Bytes kString = {6, 'a', 0, 5, 'b', 0};  // a string holding the byte of the integer opcode

int32_t carry(const Bytes &former, const Bytes &fresh, Bytes &out,
              int32_t cap = wks::kFormulaCodeBuffer - wks::kCodeLengthSize) {
    out.assign(static_cast<std::size_t>(cap), 0xEE);
    const int32_t n = carry_constants(former.data(), static_cast<int32_t>(former.size()), fresh.data(),
                                      static_cast<int32_t>(fresh.size()), 2, 2, out.data(), cap);
    if (n >= 0) out.resize(static_cast<std::size_t>(n));
    return n;
}

TEST(CarryConstants, RealsComeBackExactAndStayReals) {
    const Bytes former = wkstest::concat({real(3.14159265), {6, 'x', 0}, {115}, kAdd, real(4.0), kAdd, integer(7),
                                          kAdd, real(1e-300), kAdd, kSumOfNothing, kAdd, kEnd});
    const Bytes fresh = wkstest::concat({real(3.14159), {6, '<', '<', 0}, {115}, kAdd, integer(4), kAdd, integer(7),
                                         kAdd, real(1e-300), kAdd, kSumOfNothing, kAdd, kEnd});
    const Bytes want = wkstest::concat({real(3.14159265), {6, '<', '<', 0}, {115}, kAdd, real(4.0), kAdd, integer(7),
                                        kAdd, real(1e-300), kAdd, kSumOfNothing, kAdd, kEnd});
    Bytes out;
    ASSERT_EQ(carry(former, fresh, out), static_cast<int32_t>(want.size()));
    EXPECT_EQ(hex(out), hex(want));
}

// Text writes -5 as a negation of 5; directly after its number the
// negation is the same value, and a real keeps its exact magnitude.
TEST(CarryConstants, NegativeConstantsComeBackAsANegationOfTheirMagnitude) {
    const struct {
        const char *what;
        Bytes former, fresh, want;
    } cases[] = {
        {"integer", wkstest::concat({kCell, integer(-5), kAdd, kEnd}),
         wkstest::concat({kCell, integer(5), kNegate, kAdd, kEnd}),
         wkstest::concat({kCell, integer(5), kNegate, kAdd, kEnd})},
        {"real", wkstest::concat({real(-3.14159265), kEnd}), wkstest::concat({real(3.14159), kNegate, kEnd}),
         wkstest::concat({real(3.14159265), kNegate, kEnd})},
        {"whole real", wkstest::concat({real(-4.0), kEnd}), wkstest::concat({integer(4), kNegate, kEnd}),
         wkstest::concat({real(4.0), kNegate, kEnd})},
        {"negative zero", wkstest::concat({real(-0.0), kEnd}), wkstest::concat({integer(0), kNegate, kEnd}),
         wkstest::concat({real(0.0), kNegate, kEnd})},
        {"-32768, whose magnitude text reads as a real", wkstest::concat({integer(-32768), kEnd}),
         wkstest::concat({real(32768.0), kNegate, kEnd}), wkstest::concat({real(32768.0), kNegate, kEnd})},
        {"$C$3 printed as its range name comes back as the name's relative range",
         wkstest::concat({{1, 2, 0, 2, 0}, integer(-1), kAdd, kEnd}),
         wkstest::concat({{2, 0, 0x80, 0, 0x80, 0, 0x80, 0, 0x80}, integer(1), kNegate, kAdd, kEnd}),
         wkstest::concat({{2, 0, 0x80, 0, 0x80, 0, 0x80, 0, 0x80}, integer(1), kNegate, kAdd, kEnd})},
    };
    for (const auto &c : cases) {
        Bytes out;
        ASSERT_EQ(carry(c.former, c.fresh, out), static_cast<int32_t>(c.want.size())) << c.what;
        EXPECT_EQ(hex(out), hex(c.want)) << c.what;
    }
}

TEST(CarryConstants, NumbersThatDoNotMatchAreRefused) {
    const Bytes kPower = {code::kPower};
    const struct {
        const char *what;
        Bytes former, fresh;
        int32_t result;
    } cases[] = {
        {"-5^2 comes back as -(5^2)", wkstest::concat({integer(-5), integer(2), kPower, kEnd}),
         wkstest::concat({integer(5), integer(2), kPower, kNegate, kEnd}), kRegrouped},
        {"-2.5^A1 comes back as -(2.5^A1)", wkstest::concat({real(-2.5), kCell, kPower, kEnd}),
         wkstest::concat({real(2.5), kCell, kPower, kNegate, kEnd}), kRegrouped},
        {"a negation under a power, printed as -5^2", wkstest::concat({integer(5), kNegate, integer(2), kPower, kEnd}),
         wkstest::concat({integer(5), integer(2), kPower, kNegate, kEnd}), kRegrouped},
        {"powers nested to the left, printed as 5^2^3",
         wkstest::concat({integer(5), integer(2), kPower, integer(3), kPower, kEnd}),
         wkstest::concat({integer(5), integer(2), integer(3), kPower, kPower, kEnd}), kRegrouped},
        {"a number more", wkstest::concat({kCell, kEnd}), wkstest::concat({kCell, integer(5), kAdd, kEnd}),
         kRegrouped},
        {"a number less", wkstest::concat({integer(1), integer(5), kAdd, kEnd}), wkstest::concat({integer(1), kEnd}),
         kRegrouped},
        {"a reference where a string was", wkstest::concat({{6, 'a', 0}, kEnd}), wkstest::concat({kCell, kEnd}),
         kRegrouped},
        {"a reference to other cells", wkstest::concat({kCell, kEnd}), wkstest::concat({{1, 5, 0, 5, 0}, kEnd}),
         kRegrouped},
        {"a different value", wkstest::concat({real(0.5), kEnd}), wkstest::concat({real(0.25), kEnd}),
         kConstantsDiffer},
        {"a different magnitude, negated", wkstest::concat({integer(-5), kEnd}),
         wkstest::concat({integer(6), kNegate, kEnd}), kConstantsDiffer},
        {"former code cut inside a real", Bytes{0, 1, 2, 3}, wkstest::concat({real(1.5), kEnd}), kConstantsDiffer},
        {"former code with an invalid opcode", Bytes{25, 3}, wkstest::concat({kCell, kEnd}), kConstantsDiffer},
        {"string without its NUL", wkstest::concat({integer(2), {6, 'a'}}), wkstest::concat({integer(2), kEnd}),
         kConstantsDiffer},
    };
    for (const auto &c : cases) {
        Bytes out;
        EXPECT_EQ(carry(c.former, c.fresh, out), c.result) << c.what;
    }
    Bytes out;
    EXPECT_EQ(carry(wkstest::concat({kString, kEnd}), wkstest::concat({kString, kEnd}), out), 7);
}

TEST(CarryConstants, AResultAboveTheCapIsRefused) {
    const Bytes former = wkstest::concat({real(1.0), real(2.0), kAdd, kEnd});
    const Bytes fresh = wkstest::concat({integer(1), integer(2), kAdd, kEnd});
    Bytes out;
    EXPECT_EQ(carry(former, fresh, out, 20), 20);
    EXPECT_EQ(carry(former, fresh, out, 19), kCodeTooLong);
}

}  // namespace

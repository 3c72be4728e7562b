// The range-name table when memory runs out: insertion fails cleanly, and a
// coordinate index that cannot grow still answers correctly.
#include "platform/fault.h"
#include "support/test_support.h"

#include <string>

namespace plat = wks::plat;

using namespace wkstest;

namespace {

class RangeNameFaults : public LibraryTest {
protected:
    void TearDown() override {
        plat::clear_faults();
        LibraryTest::TearDown();
    }
};

TEST_F(RangeNameFaults, NoMemoryForTheNodeOrTheNameLeavesTheTableAsItWas) {
    struct Case { int nth; int16_t code; };
    for (Case c : {Case{1, 2}, Case{2, 3}}) {
        messages.clear();
        plat::fail_nth(plat::Op::Alloc, c.nth);
        EXPECT_EQ(wksir(6, "AB", 1, 2, 3, 4), c.code);
        ASSERT_EQ(messages.count(), 1u);
        EXPECT_EQ(messages.last(), error_message(c.code));
        EXPECT_EQ(wksgf(), nullptr);
        EXPECT_EQ(wkslp("AB"), 0);
        EXPECT_EQ(wksgr(6, 1, 2, 3, 4), nullptr);
    }
    // Nothing half-made is left behind: the same insertion now succeeds.
    EXPECT_EQ(wksir(6, "AB", 1, 2, 3, 4), 0);
    EXPECT_EQ(wksgr(6, 1, 2, 3, 4), wkslr(6, "AB"));
}

TEST_F(RangeNameFaults, IndexThatCannotGrowStillFindsEveryName) {
    constexpr int kFirstGrowth = 256;  // the index grows on the insertion after this many
    auto name = [](int i) { return "r" + std::to_string(i); };
    for (int i = 0; i < kFirstGrowth; ++i) ASSERT_EQ(wksir(1, name(i).c_str(), 0, static_cast<int16_t>(i), 0, 0), 0);
    plat::fail_nth(plat::Op::Alloc, 3);  // node, name copy, then the larger index
    ASSERT_EQ(wksir(1, name(kFirstGrowth).c_str(), 0, kFirstGrowth, 0, 0), 0);
    EXPECT_EQ(messages.count(), 0u);
    for (int i = kFirstGrowth + 1; i < 700; ++i) ASSERT_EQ(wksir(1, name(i).c_str(), 0, static_cast<int16_t>(i), 0, 0), 0);
    for (int i = 0; i < 700; ++i) {
        WKS_NAME *n = wksgr(1, 0, static_cast<int16_t>(i), 0, 0);
        ASSERT_NE(n, nullptr) << i;
        EXPECT_EQ(n->name, name(i));
    }
}

}  // namespace

// The range-name table as a host sees it: insertion, lookup, deletion,
// iteration order, the prefix test, reverse lookup and clear.
#include "support/test_support.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace wkstest;

namespace {

class RangeNames : public LibraryTest {};

// The bucket a name falls in: (file + unsigned byte sum) mod 128.
int bucket(int32_t file, const std::string &name) {
    uint32_t sum = static_cast<uint32_t>(file);
    for (unsigned char c : name) sum += c;
    return static_cast<int>(sum % 128);
}

std::vector<std::string> iterate() {
    std::vector<std::string> out;
    for (WKS_NAME *n = wksgf(); n; n = wksgn()) out.emplace_back(n->name);
    return out;
}

// The reverse lookup by iterating from wksgf, as a host would write it.
WKS_NAME *walk_for(int32_t file, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    for (WKS_NAME *n = wksgf(); n; n = wksgn())
        if (n->file == file && n->c1 == c1 && n->r1 == r1 && n->c2 == c2 && n->r2 == r2) return n;
    return nullptr;
}

TEST_F(RangeNames, InsertedNameIsFoundWithItsCoordinatesAndOwnCopy) {
    char name[] = "TOTAL";
    ASSERT_EQ(wksir(42, name, 1, 2, 3, 4), 0);
    name[0] = 'X';  // the table keeps its own copy
    WKS_NAME *n = wkslr(42, "TOTAL");
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->name, "TOTAL");
    EXPECT_EQ(n->file, 42);
    EXPECT_EQ(std::make_tuple(n->c1, n->r1, n->c2, n->r2), std::make_tuple(1, 2, 3, 4));
    EXPECT_EQ(wkslr(42, "XOTAL"), nullptr);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RangeNames, CoordinatesAreStoredUnchecked) {
    ASSERT_EQ(wksir(1, "odd", -5, 32767, -32768, 0), 0);
    WKS_NAME *n = wkslr(1, "odd");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(std::make_tuple(n->c1, n->r1, n->c2, n->r2), std::make_tuple(-5, 32767, -32768, 0));
}

TEST_F(RangeNames, XxVariantsWorkOnTheFileNumberLastSet) {
    ASSERT_EQ(wksir(7, "A1", 0, 0, 0, 0), 0);
    ASSERT_EQ(wksirxx("B1", 1, 1, 1, 1), 0);  // also under 7
    EXPECT_NE(wkslrxx("A1"), nullptr);
    EXPECT_EQ(wkslr(8, "B1"), nullptr);  // now under 8
    EXPECT_EQ(wkslrxx("A1"), nullptr);
    EXPECT_EQ(wksdr(7, "B1"), 0);
    EXPECT_EQ(wkslrxx("B1"), nullptr);
    ASSERT_NE(wkslrxx("A1"), nullptr);
    EXPECT_EQ(wkslrxx("A1")->file, 7);
}

TEST_F(RangeNames, DuplicateIsReportedAndKeepsTheFirst) {
    ASSERT_EQ(wksir(3, "SALES", 1, 1, 1, 1), 0);
    EXPECT_EQ(wksir(3, "SALES", 2, 2, 2, 2), WKS_E_DUPLICATE_NAME);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_DUPLICATE_NAME));
    EXPECT_EQ(wkslr(3, "SALES")->c1, 1);
    EXPECT_EQ(iterate().size(), 1u);
}

TEST_F(RangeNames, FileNumbersAndLetterCaseMakeDistinctNames) {
    ASSERT_EQ(wksir(1, "net", 1, 0, 1, 0), 0);
    ASSERT_EQ(wksir(2, "net", 2, 0, 2, 0), 0);
    ASSERT_EQ(wksir(1, "NET", 3, 0, 3, 0), 0);
    EXPECT_EQ(wkslr(1, "net")->c1, 1);
    EXPECT_EQ(wkslr(2, "net")->c1, 2);
    EXPECT_EQ(wkslr(1, "NET")->c1, 3);
    EXPECT_EQ(wkslr(2, "NET"), nullptr);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RangeNames, InvalidNamesAreReportedAndLeaveTheTableUnchanged) {
    const char *bad[] = {"", "\x1F", "\x7F", "\xC3\xA9t\xC3\xA9", "A\t", "A\x7F" "B", "\x01" "AB"};
    for (const char *name : bad) {
        messages.clear();
        EXPECT_EQ(wksir(5, name, 0, 0, 0, 0), WKS_E_INVALID_NAME)
            << hex(reinterpret_cast<const uint8_t *>(name), std::strlen(name));
        ASSERT_EQ(messages.count(), 1u);
        EXPECT_EQ(messages.last(), error_message(WKS_E_INVALID_NAME));
        EXPECT_EQ(wksgf(), nullptr);
        // A retry is refused the same way, not as a duplicate.
        EXPECT_EQ(wksir(5, name, 0, 0, 0, 0), WKS_E_INVALID_NAME);
    }
    EXPECT_EQ(wksir(5, nullptr, 0, 0, 0, 0), WKS_E_INVALID_NAME);
    EXPECT_EQ(wkslp("A"), 0);
    // Only the first two characters are restricted.
    EXPECT_EQ(wksir(5, "AB\x01\xFF", 0, 0, 0, 0), 0);
    EXPECT_NE(wkslr(5, "AB\x01\xFF"), nullptr);
}

TEST_F(RangeNames, DeletionRemovesOnlyTheNamedEntry) {
    ASSERT_EQ(wksir(1, "keep", 0, 0, 0, 0), 0);
    ASSERT_EQ(wksir(1, "drop", 0, 0, 0, 0), 0);
    ASSERT_EQ(wksir(2, "drop", 0, 0, 0, 0), 0);
    EXPECT_EQ(wksdr(1, "drop"), 0);
    EXPECT_EQ(wkslr(1, "drop"), nullptr);
    EXPECT_NE(wkslr(2, "drop"), nullptr);
    EXPECT_NE(wkslr(1, "keep"), nullptr);
    // The name can be inserted again afterwards.
    EXPECT_EQ(wksir(1, "drop", 9, 9, 9, 9), 0);
    EXPECT_EQ(wkslr(1, "drop")->c1, 9);
}

TEST_F(RangeNames, DeletingAnAbsentOrEmptyNameIsSilentAndChangesNothing) {
    ASSERT_EQ(wksir(1, "AB", 0, 0, 0, 0), 0);
    ASSERT_EQ(wksir(1, "BA", 0, 0, 0, 0), 0);  // same bucket
    const auto before = iterate();
    EXPECT_EQ(wksdr(1, "CC"), -1);
    EXPECT_EQ(wksdr(1, "ab"), -1);
    EXPECT_EQ(wksdr(2, "AB"), -1);
    EXPECT_EQ(wksdr(1, ""), WKS_E_INVALID_NAME);
    EXPECT_EQ(wksdr(1, nullptr), WKS_E_INVALID_NAME);
    EXPECT_EQ(iterate(), before);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RangeNames, IterationGoesByBucketThenNewestFirst) {
    EXPECT_EQ(wksgf(), nullptr);
    EXPECT_EQ(wksgn(), nullptr);
    // "AB" and "BA" share a bucket under one file number; file -65 moves "A"
    // into bucket 0; file 1 moves "A" one bucket on.
    struct Item { int32_t file; const char *name; };
    const Item items[] = {{0, "AB"}, {0, "A"}, {0, "BA"}, {1, "A"}, {-65, "A"}, {0, "zz"}, {0, "~~~"}};
    for (const Item &it : items) ASSERT_EQ(wksir(it.file, it.name, 0, 0, 0, 0), 0);

    std::vector<std::tuple<int, int, int32_t, std::string>> expected;  // bucket, -order, file, name
    int order = 0;
    for (const Item &it : items) expected.emplace_back(bucket(it.file, it.name), -order++, it.file, it.name);
    std::sort(expected.begin(), expected.end());

    std::vector<std::tuple<int32_t, std::string>> got, want;
    for (WKS_NAME *n = wksgf(); n; n = wksgn()) got.emplace_back(n->file, n->name);
    for (auto &e : expected) want.emplace_back(std::get<2>(e), std::get<3>(e));
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::get<1>(want.front()), "A");  // file -65: bucket 0
    EXPECT_EQ(wksgn(), nullptr);  // stays at the end
    EXPECT_EQ(wksgn(), nullptr);
}

TEST_F(RangeNames, DeletingTheCursorsNodeLetsIterationGoOn) {
    // Three names in one bucket (newest first: CA, BB, AC) and one later.
    for (const char *n : {"AC", "BB", "CA", "DD"}) ASSERT_EQ(wksir(0, n, 0, 0, 0, 0), 0);
    ASSERT_STREQ(wksgf()->name, "CA");
    ASSERT_EQ(wksdr(0, "CA"), 0);  // the head, under the cursor
    EXPECT_STREQ(wksgn()->name, "BB");
    ASSERT_EQ(wksdr(0, "BB"), 0);  // in the middle... now the head again
    EXPECT_STREQ(wksgn()->name, "AC");
    ASSERT_STREQ(wksgf()->name, "AC");
    ASSERT_EQ(wksdr(0, "AC"), 0);  // the bucket's last node
    EXPECT_STREQ(wksgn()->name, "DD");
    EXPECT_EQ(wksgn(), nullptr);
}

TEST_F(RangeNames, PrefixTestUsesTheSharedFilterBits) {
    EXPECT_EQ(wkslp("A"), 0);
    ASSERT_EQ(wksir(0, "A", 0, 0, 0, 0), 0);
    EXPECT_EQ(wkslp("A"), 1);
    EXPECT_EQ(wkslp("A+B"), 1);
    EXPECT_EQ(wkslp("E"), 1);  // 'E' shares the bit of 'A'
    EXPECT_EQ(wkslp("I"), 0);
    EXPECT_EQ(wkslp("B"), 0);
    EXPECT_EQ(wkslp("a"), 0);

    ASSERT_EQ(wksir(0, "QB7", 0, 0, 0, 0), 0);
    EXPECT_EQ(wkslp("QB"), 2);
    EXPECT_EQ(wkslp("QBX"), 2);
    EXPECT_EQ(wkslp("QF"), 2);  // 'F' shares the bit of 'B'
    EXPECT_EQ(wkslp("QC"), 0);
    EXPECT_EQ(wkslp("Q"), 0);   // no one-character name Q
    EXPECT_EQ(wkslp("RB"), 0);

    ASSERT_EQ(wksir(0, "AZ", 0, 0, 0, 0), 0);
    EXPECT_EQ(wkslp("AZ"), 2);
    EXPECT_EQ(wkslp("AY"), 1);  // falls back to the one-character name

    EXPECT_EQ(wkslp(""), 0);
    EXPECT_EQ(wkslp(nullptr), 0);
    EXPECT_EQ(wkslp("\x7F" "A"), 0);
    EXPECT_EQ(wkslp(" "), 0);

    // Deletion leaves the filters; the lookup is what tells.
    ASSERT_EQ(wksdr(0, "QB7"), 0);
    EXPECT_EQ(wkslp("QB"), 2);
    EXPECT_EQ(wkslr(0, "QB7"), nullptr);
}

TEST_F(RangeNames, ClearEmptiesTableFiltersAndCursor) {
    for (int i = 0; i < 300; ++i) ASSERT_EQ(wksir(i % 3, ("n" + std::to_string(i)).c_str(), 1, 1, 1, 1), 0);
    ASSERT_EQ(wksir(0, "Z", 1, 1, 1, 1), 0);
    ASSERT_NE(wksgf(), nullptr);
    wkscs();
    EXPECT_EQ(wksgn(), nullptr);
    EXPECT_EQ(wksgf(), nullptr);
    EXPECT_EQ(wkslp("Z"), 0);
    EXPECT_EQ(wkslp("n1"), 0);
    EXPECT_EQ(wksgr(0, 1, 1, 1, 1), nullptr);
    EXPECT_EQ(wkslr(0, "n0"), nullptr);
    // The table works as before afterwards.
    ASSERT_EQ(wksir(0, "n0", 2, 2, 2, 2), 0);
    EXPECT_EQ(wksgr(0, 2, 2, 2, 2), wkslr(0, "n0"));
}

TEST_F(RangeNames, ClearOnAnEmptyTableKeepsTheFilters) {
    ASSERT_EQ(wksir(0, "K", 0, 0, 0, 0), 0);
    ASSERT_EQ(wksdr(0, "K"), 0);
    wkscs();
    EXPECT_EQ(wksgf(), nullptr);
    EXPECT_EQ(wkslp("K"), 1);
}

TEST_F(RangeNames, ReverseLookupFindsTheFirstMatchAndLeavesTheCursorThere) {
    ASSERT_EQ(wksir(4, "cell", 2, 5, 2, 5), 0);
    ASSERT_EQ(wksir(4, "block", 0, 0, 3, 9), 0);
    ASSERT_EQ(wksir(9, "block", 0, 0, 3, 9), 0);
    EXPECT_EQ(wksgr(4, 2, 5, 2, 5), wkslr(4, "cell"));
    EXPECT_EQ(wksgr(9, 0, 0, 3, 9), wkslr(9, "block"));
    EXPECT_EQ(wksgr(4, 0, 0, 3, 8), nullptr);
    EXPECT_EQ(wksgn(), nullptr);  // a miss leaves the cursor at the end
    EXPECT_EQ(wksgr(5, 2, 5, 2, 5), nullptr);

    // Two names of one range: the one that iterates first wins, and wksgn
    // goes on from it.
    ASSERT_EQ(wksir(4, "BA", 7, 7, 8, 8), 0);
    ASSERT_EQ(wksir(4, "AB", 7, 7, 8, 8), 0);  // same bucket, newer
    WKS_NAME *found = wksgr(4, 7, 7, 8, 8);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->name, "AB");
    EXPECT_STREQ(wksgn()->name, "BA");
}

// The coordinate index must give exactly what walking the table gives,
// including where it leaves the cursor, over many inserts and deletes.
TEST_F(RangeNames, ReverseLookupAgreesWithAWalkOverRandomEdits) {
    std::mt19937 rng(20240611u);
    const int32_t files[] = {0, 1, -3, 130, 0x7FFFFFFF};
    const char letters[] = "ABab~ ";
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto random_name = [&] {
        std::string s;
        int len = 1 + pick(4);
        for (int i = 0; i < len; ++i) s += letters[pick(6)];
        return s;
    };
    auto coord = [&] { return static_cast<int16_t>(pick(3) - 1); };

    std::vector<std::pair<int32_t, std::string>> live;
    int inserted = 0, hits = 0;
    std::size_t most = 0;
    for (int step = 0; step < 6000; ++step) {
        const int32_t file = files[pick(5)];
        const int op = pick(1000);
        if (op < 650) {
            std::string name = random_name();
            if (wksir(file, name.c_str(), coord(), coord(), coord(), coord()) == 0) {
                ++inserted;
                live.emplace_back(file, name);
            }
        } else if (op < 800 && !live.empty()) {
            const std::size_t i = static_cast<std::size_t>(pick(static_cast<int>(live.size())));
            ASSERT_EQ(wksdr(live[i].first, live[i].second.c_str()), 0);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (op < 999) {
            const std::string name = random_name();
            if (wksdr(file, name.c_str()) == 0)
                live.erase(std::find(live.begin(), live.end(), std::make_pair(file, name)));
        } else {
            wkscs();
            live.clear();
        }
        most = std::max(most, live.size());
        const int16_t c1 = coord(), r1 = coord(), c2 = coord(), r2 = coord();
        WKS_NAME *want = walk_for(file, c1, r1, c2, r2);
        WKS_NAME *want_next = wksgn();
        WKS_NAME *want_after = wksgn();
        WKS_NAME *got = wksgr(file, c1, r1, c2, r2);
        ASSERT_EQ(got, want) << "step " << step;
        ASSERT_EQ(wksgn(), want_next) << "step " << step;
        ASSERT_EQ(wksgn(), want_after) << "step " << step;
        hits += got != nullptr;
    }
    EXPECT_GT(inserted, 1000);
    EXPECT_GT(most, 600u);  // enough to make the index grow
    EXPECT_GT(hits, 1000);
}

}  // namespace

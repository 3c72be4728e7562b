// WK1 file access: opening in both modes, reading and writing records,
// closing, and the two format probes.
#include "support/test_support.h"

#include <algorithm>
#include <cstring>

using namespace wkstest;

namespace {

class Wk1Access : public LibraryTest {
protected:
    std::string path(const std::string &name) { return dir.file(name); }
};

Bytes label_body(int16_t col, int16_t row, const std::string &text) {
    Bytes value(text.begin(), text.end());
    value.push_back(0);
    return wk1_cell_body('\'', col, row, value);
}

uint16_t u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

TEST_F(Wk1Access, CreateChoosesTheBofVersionByExtension) {
    struct Case {
        const char *name;
        uint16_t version;
    };
    for (const Case &c : {Case{"a.WK1", 1030}, Case{"b.wk1", 1030}, Case{"c.Wk1", 1030}, Case{"d.orx", 1028},
                          Case{"e", 1028}, Case{"f.wk1.bak", 1028}, Case{"g.wk", 1028}}) {
        WKS h = blank_handle();
        ASSERT_EQ(wksopen_wk1(&h, "", path(c.name).c_str()), &h) << c.name;
        EXPECT_EQ(h.mode, 'w');
        EXPECT_EQ(int(h.error), 0);
        EXPECT_EQ(wksclose_wk1(&h), 0);
        EXPECT_EQ(read_file(path(c.name)), concat({bof(c.version), eof()})) << c.name;
    }
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Wk1Access, WrittenRecordsComeBackInOrderWithCellPositions) {
    const std::string file = path("cells.wk1");
    WKS w = blank_handle();
    ASSERT_TRUE(wksopen_wk1(&w, "", file.c_str()));
    const Bytes records[] = {
        record(WKS_LABEL, label_body(3, 7, "abc")),
        record(WKS_BLANK, wk1_cell_body(0, 9, 9, {})),
        record(WKS_RANGE_NAME, range_name_body("X", 0, 0, 1, 1)),
    };
    for (const Bytes &r : records) {
        std::memcpy(&w.rec, r.data(), r.size());
        EXPECT_EQ(wkswrec_wk1(&w), 0);
    }
    ASSERT_EQ(wksclose_wk1(&w), 0);
    EXPECT_EQ(read_file(file), concat({bof(1030), records[0], records[1], records[2], eof()}));

    WKS r = blank_handle();
    ASSERT_EQ(wksopen_wk1(&r, file.c_str(), ""), &r);
    EXPECT_EQ(r.mode, 'r');
    EXPECT_EQ(hex(reinterpret_cast<uint8_t *>(&r.rec), 6), hex(bof(1030)));
    for (const Bytes &want : records) {
        ASSERT_EQ(wksnextr_wk1(&r), 0);
        EXPECT_EQ(hex(reinterpret_cast<uint8_t *>(&r.rec), want.size()), hex(want));
    }
    // The label's position was taken from WK1 offsets; the blank cell's is not tracked.
    EXPECT_EQ(int(r.last_col), 3);
    EXPECT_EQ(int(r.last_row), 7);
    EXPECT_EQ(wksnextr_wk1(&r), -1);
    EXPECT_EQ(wksclose_wk1(&r), 0);
}

TEST_F(Wk1Access, ReadModeRefusesFilesThatDoNotStartWithAGoodBof) {
    Bytes bof4;
    put16(bof4, 1030);
    put16(bof4, 0);
    const struct {
        const char *what;
        Bytes bytes;
        int32_t variant;  // what wks_open_family finds; it reads the Symphony and the ORX file
    } cases[] = {
        {"version 1029", concat({bof(1029), eof()}), WKS_VARIANT_SYMPHONY},
        {"BOF of length 4", concat({record(0, bof4), eof()}), WKS_VARIANT_UNKNOWN},
        {"EOF first", eof(), WKS_VARIANT_UNKNOWN},
        {"ORX file", concat({header_block(), bof(1030), eof()}), WKS_VARIANT_ORX},
    };
    for (const auto &c : cases) {
        write_file(path("x.wk1"), c.bytes);
        WKS h = blank_handle();
        h.error = 99;
        EXPECT_EQ(wksopen_wk1(&h, path("x.wk1").c_str(), ""), nullptr) << c.what;
        EXPECT_EQ(int(h.error), 0) << c.what;  // as the successful first read left it
        EXPECT_EQ(is_wk1_file(path("x.wk1").c_str()), 0) << c.what;
        WKS_FAMILY seen;
        const bool read = c.variant != WKS_VARIANT_UNKNOWN;
        EXPECT_EQ(wks_open_family(&h, path("x.wk1").c_str(), &seen) == &h, read) << c.what;
        EXPECT_EQ(seen.variant, c.variant) << c.what;
        EXPECT_EQ(int(h.error), read ? 0 : WKS_E_OPEN) << c.what;
        EXPECT_EQ(read ? wksclose(&h) : 0, 0) << c.what;
    }
    EXPECT_EQ(wks_open_family(nullptr, path("x.wk1").c_str(), nullptr), nullptr);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Wk1Access, MissingFilesAndMissingDirectoriesFailQuietly) {
    WKS h = blank_handle();
    h.error = 99;
    EXPECT_EQ(wksopen_wk1(&h, path("none.wk1").c_str(), ""), nullptr);
    EXPECT_EQ(int(h.error), 99);
    EXPECT_EQ(wksopen_wk1(&h, "", path("no/such/dir.wk1").c_str()), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Wk1Access, AFirstRecordCutShortIsAReadError) {
    write_file(path("cut.wk1"), {0, 0, 2});
    WKS h = blank_handle();
    EXPECT_EQ(wksopen_wk1(&h, path("cut.wk1").c_str(), ""), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_READ);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_READ)});
}

TEST_F(Wk1Access, BothOrNeitherPathOpensNothing) {
    write_file(path("a.wk1"), concat({bof(1030), eof()}));
    WKS h = blank_handle();
    h.error = 5;
    h.last_col = 3;
    h.last_row = 3;
    h.carried = 3;
    EXPECT_EQ(wksopen_wk1(&h, "", ""), nullptr);
    EXPECT_EQ(wksopen_wk1(&h, path("a.wk1").c_str(), path("b.wk1").c_str()), nullptr);
    EXPECT_EQ(wksopen_wk1(&h, nullptr, nullptr), nullptr);
    EXPECT_EQ(int(h.error), 5);
    EXPECT_EQ(int(h.last_col), 0);
    EXPECT_EQ(int(h.carried), 0);
    EXPECT_FALSE(file_exists(path("b.wk1")));
}

TEST_F(Wk1Access, ACreatedFileReplacesAnExistingOne) {
    write_file(path("old.wk1"), Bytes(5000, 0xAA));
    WKS h = blank_handle();
    ASSERT_TRUE(wksopen_wk1(&h, "", path("old.wk1").c_str()));
    ASSERT_EQ(wksclose_wk1(&h), 0);
    EXPECT_EQ(read_file(path("old.wk1")), concat({bof(1030), eof()}));
}

TEST_F(Wk1Access, ProbesTellTheFormatsApart) {
    write_file(path("a.wk1"), concat({bof(1028), eof()}));
    write_file(path("b.orx"), concat({header_block(), bof(1030), eof()}));
    write_file(path("c.orx"), concat({header_block(), Bytes(9, 0x55)}));  // magic words, then anything
    write_file(path("short"), Bytes(100, 0));
    EXPECT_EQ(is_wk1_file(path("a.wk1").c_str()), 1);
    EXPECT_EQ(is_orx_file(path("a.wk1").c_str()), 0);
    EXPECT_EQ(is_wk1_file(path("b.orx").c_str()), 0);
    EXPECT_EQ(is_orx_file(path("b.orx").c_str()), 1);
    EXPECT_EQ(is_orx_file(path("c.orx").c_str()), 1);
    EXPECT_EQ(is_orx_file(path("short").c_str()), 0);
    EXPECT_EQ(is_orx_file(path("missing").c_str()), 0);
    EXPECT_EQ(is_wk1_file(path("missing").c_str()), 0);
    EXPECT_EQ(is_orx_file(""), 0);
    EXPECT_EQ(is_wk1_file(nullptr), 0);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Wk1Access, TheOrxProbeLeavesTheHeaderModeAsItWas) {
    write_file(path("b.orx"), concat({header_block(), bof(1030), eof()}));
    for (int load : {1, 0}) {
        set_open_for_load(load);
        ASSERT_EQ(is_orx_file(path("b.orx").c_str()), 1);
        WKS h = blank_handle();
        ASSERT_TRUE(wksopen(&h, path("b.orx").c_str(), ""));
        wksclose(&h);
        // Load mode leaves the block for the host; probe mode only checks it.
        EXPECT_EQ(get_orx_header() != nullptr, load == 1);
        wks_cleanup();
    }
}

// --- record translation ------------------------------------------------------

struct Rec {
    WKS_RECORD r;
    Rec() { std::memset(&r, 0, sizeof r); }
    explicit Rec(const Bytes &bytes, uint8_t fill = 0) {
        std::memset(&r, fill, sizeof r);
        // A record longer than a buffer keeps only what fits (its length field stays).
        if (!bytes.empty()) std::memcpy(&r, bytes.data(), std::min(bytes.size(), sizeof r));
    }
    const unsigned char *p() const { return reinterpret_cast<const unsigned char *>(&r); }
    unsigned char *p() { return reinterpret_cast<unsigned char *>(&r); }
    Bytes head(std::size_t n) const { return Bytes(p(), p() + n); }
    uint16_t length() const { return u16(r.length); }
    Bytes bytes() const { return head(4 + length()); }
};

TEST_F(Wk1Access, ALabelGainsAndLosesTheOrxPrefix) {
    const Bytes wk1 = record(WKS_LABEL, label_body(1, 2, "hi"));  // body of 8 bytes
    ASSERT_EQ(wk1.size(), 12u);
    Rec src(wk1), orx, back;
    ASSERT_EQ(wk1_rec_to_orx_rec(src.p(), orx.p()), 0);
    EXPECT_EQ(hex(orx.bytes()), hex(record(WKS_LABEL, orx_cell_body(0x27, 1, 2, {'h', 'i', 0}))));
    EXPECT_EQ(orx.length(), 8 + WKS_ORX_CELL_PREFIX);
    ASSERT_EQ(orx_rec_to_wk1_rec(orx.p(), back.p()), 0);
    EXPECT_EQ(hex(back.bytes()), hex(wk1));
}

TEST_F(Wk1Access, EveryCellTypeIsTranslatedOthersPassThrough) {
    for (uint16_t type : {12, 13, 14, 15, 16, 51}) {
        Rec src(record(type, wk1_cell_body(7, 4, 5, {1, 2, 3}))), dst;
        ASSERT_EQ(wk1_rec_to_orx_rec(src.p(), dst.p()), 0);
        EXPECT_EQ(dst.length(), 8 + WKS_ORX_CELL_PREFIX) << type;
        EXPECT_EQ(dst.r.body[WKS_ORX_CELL_PREFIX - 1], WKS_ORX_PREFIX_MARK) << type;
    }
    for (uint16_t type : {0, 1, 11, 17, 50, 71, 0x8010, 0xFFFF}) {
        const Bytes r = record(type, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7});
        Rec src(r), to_orx, to_wk1;
        ASSERT_EQ(wk1_rec_to_orx_rec(src.p(), to_orx.p()), 0);
        ASSERT_EQ(orx_rec_to_wk1_rec(src.p(), to_wk1.p()), 0);
        EXPECT_EQ(hex(to_orx.bytes()), hex(r)) << type;
        EXPECT_EQ(hex(to_wk1.bytes()), hex(r)) << type;
    }
}

TEST_F(Wk1Access, AnOrxPrefixIsDroppedWhateverItHolds) {
    Bytes body = orx_cell_body(0x71, 300, 8000, {0x11, 0x22}, 0x7F);
    for (int i = 0; i < WKS_ORX_CELL_PREFIX - 1; ++i) body[i] = static_cast<uint8_t>(0xE0 + i);
    Rec src(record(WKS_INTEGER, body)), wk1, orx;
    ASSERT_EQ(orx_rec_to_wk1_rec(src.p(), wk1.p()), 0);
    EXPECT_EQ(hex(wk1.bytes()), hex(record(WKS_INTEGER, wk1_cell_body(0x71, 300, 8000, {0x11, 0x22}))));
    ASSERT_EQ(wk1_rec_to_orx_rec(wk1.p(), orx.p()), 0);
    EXPECT_EQ(hex(orx.bytes()), hex(record(WKS_INTEGER, orx_cell_body(0x71, 300, 8000, {0x11, 0x22}))));
}

TEST_F(Wk1Access, TranslationsRefuseCellsThatWouldNotFitOrHaveNoPosition) {
    // A WK1 cell must hold its position and fit the body area behind the
    // prefix; an ORX cell must hold its prefix and position.
    constexpr int kLongestWk1 = WKS_BODY_SIZE - WKS_ORX_CELL_PREFIX, kShortestOrx = WKS_ORX_CELL(WKS_CELL_VALUE);
    const struct {
        bool to_orx;
        int length;
        bool refused;
    } cases[] = {
        {true, kLongestWk1, false},    {true, kLongestWk1 + 1, true},    {true, WKS_MAX_READ_BODY, true},
        {true, WKS_CELL_VALUE, false}, {true, WKS_CELL_VALUE - 1, true}, {true, 0, true},
        {false, kShortestOrx, false},  {false, kShortestOrx - 1, true},  {false, 0, true},
        {false, WKS_BODY_SIZE, false}, {false, WKS_BODY_SIZE + 1, true},
    };
    for (const auto &c : cases) {
        Bytes r = record(WKS_NUMBER, Bytes(static_cast<std::size_t>(c.length), 0x3C));
        Rec src(r), dst(Bytes{}, 0xEE);
        const int32_t result = c.to_orx ? wk1_rec_to_orx_rec(src.p(), dst.p()) : orx_rec_to_wk1_rec(src.p(), dst.p());
        EXPECT_EQ(result != 0, c.refused) << (c.to_orx ? "to ORX, length " : "to WK1, length ") << c.length;
        if (c.refused) {
            EXPECT_EQ(hex(dst.head(sizeof(WKS_RECORD))), hex(Bytes(sizeof(WKS_RECORD), 0xEE)));
        }
    }
    // A record that is no cell but claims more than a buffer holds is refused too.
    Rec big(record(WKS_RANGE_NAME, {})), dst;
    big.r.length[0] = 0xFF;
    big.r.length[1] = 0xFF;
    EXPECT_NE(wk1_rec_to_orx_rec(big.p(), dst.p()), 0);
    EXPECT_NE(orx_rec_to_wk1_rec(big.p(), dst.p()), 0);
}

TEST_F(Wk1Access, TranslationWorksInPlace) {
    const Bytes wk1 = record(WKS_NUMBER, wk1_cell_body(2, 3, 4, {1, 2, 3, 4, 5, 6, 7, 8}));
    Rec rec(wk1);
    ASSERT_EQ(wk1_rec_to_orx_rec(rec.p(), rec.p()), 0);
    EXPECT_EQ(hex(rec.bytes()), hex(record(WKS_NUMBER, orx_cell_body(2, 3, 4, {1, 2, 3, 4, 5, 6, 7, 8}))));
    ASSERT_EQ(orx_rec_to_wk1_rec(rec.p(), rec.p()), 0);
    EXPECT_EQ(hex(rec.bytes()), hex(wk1));
}

}  // namespace

// Whole-file conversion between WK1 and ORX: records, header block, BOF
// versions, conversion onto the same file, and the failures that must
// leave files alone.
#include "support/test_support.h"

#include <filesystem>
#include <random>
#include <set>
#include <unistd.h>

using namespace wkstest;

namespace {

Bytes label(int16_t col, int16_t row, const std::string &text) {
    Bytes value(text.begin(), text.end());
    value.push_back(0);
    return wk1_cell_body('\'', col, row, value);
}

Bytes number(int16_t col, int16_t row, double v) {
    Bytes value;
    put_double(value, v);
    return wk1_cell_body(2, col, row, value);
}

// The records between BOF and EOF of a sample WK1 sheet (no formulas).
Bytes wk1_records() {
    Bytes integer;
    put16(integer, 42);
    return concat({
        record(WKS_RANGE_NAME, range_name_body("TOTAL", 0, 0, 1, 1)),
        record(WKS_INTEGER, wk1_cell_body(1, 0, 0, integer)),
        record(WKS_NUMBER, number(1, 0, 3.14159265358979)),
        record(WKS_LABEL, label(2, 0, "hello")),
        record(WKS_BLANK, wk1_cell_body(0, 3, 0, {})),
        record(WKS_STRING, wk1_cell_body(0, 4, 0, {'s', 0})),
        record(71, range_name_body("OTHER", 2, 2, 3, 3)),
        record(50, {1, 2, 3}),
        record(0x9000, {4, 5}),
    });
}

// The same records in the ORX cell layout.
Bytes orx_records() {
    Bytes integer;
    put16(integer, 42);
    Bytes value;
    put_double(value, 3.14159265358979);
    return concat({
        record(WKS_RANGE_NAME, range_name_body("TOTAL", 0, 0, 1, 1)),
        record(WKS_INTEGER, orx_cell_body(1, 0, 0, integer)),
        record(WKS_NUMBER, orx_cell_body(2, 1, 0, value)),
        record(WKS_LABEL, orx_cell_body('\'', 2, 0, {'h', 'e', 'l', 'l', 'o', 0})),
        record(WKS_BLANK, orx_cell_body(0, 3, 0, {})),
        record(WKS_STRING, orx_cell_body(0, 4, 0, {'s', 0})),
        record(71, range_name_body("OTHER", 2, 2, 3, 3)),
        record(50, {1, 2, 3}),
        record(0x9000, {4, 5}),
    });
}

// An ORX file written by a converter: its header block must be the
// converter's; the rest is returned for comparison.
Bytes orx_records_of(const Bytes &file) {
    if (file.size() < WKS_HEADER_SIZE) return {0xBA, 0xD0};
    EXPECT_EQ(hex(Bytes(file.begin(), file.begin() + WKS_HEADER_SIZE)), hex(empty_header_block()));
    return Bytes(file.begin() + WKS_HEADER_SIZE, file.end());
}

std::set<std::string> entries(const std::string &dir) {
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

class Converters : public LibraryTest {
protected:
    std::string path(const std::string &name) { return dir.file(name); }
    void write_wk1(const std::string &name, const Bytes &records = wk1_records()) {
        write_file(path(name), concat({bof(1030), records, eof()}));
    }
    void write_orx(const std::string &name, const Bytes &records = orx_records()) {
        write_file(path(name), concat({header_block(), bof(1030), records, eof()}));
    }
};

TEST_F(Converters, Wk1ToOrxTranslatesEveryRecordBehindAZeroHeaderBlock) {
    write_wk1("in.wk1");
    ASSERT_EQ(wk1_to_orx(path("in.wk1").c_str(), path("out.ORX").c_str()), 0);
    EXPECT_EQ(hex(orx_records_of(read_file(path("out.ORX")))), hex(concat({bof(1030), orx_records(), eof()})));
    ASSERT_EQ(wk1_to_orx(path("in.wk1").c_str(), path("out.dat").c_str()), 0);
    EXPECT_EQ(hex(orx_records_of(read_file(path("out.dat")))), hex(concat({bof(1028), orx_records(), eof()})));
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(get_orx_header(), nullptr);
}

TEST_F(Converters, OrxToWk1DropsTheHeaderBlockAndThePrefixes) {
    write_orx("in.orx");
    ASSERT_EQ(orx_to_wk1(path("in.orx").c_str(), path("out.wk1").c_str()), 0);
    EXPECT_EQ(hex(read_file(path("out.wk1"))), hex(concat({bof(1030), wk1_records(), eof()})));
    ASSERT_EQ(orx_to_wk1(path("in.orx").c_str(), path("out").c_str()), 0);
    EXPECT_EQ(hex(read_file(path("out"))), hex(concat({bof(1028), wk1_records(), eof()})));
    EXPECT_EQ(messages.count(), 0u);
}

// A sheet far larger than the blocks the converters read and write at a
// time, so that records straddle every block boundary.
Bytes many_times(const Bytes &records) {
    Bytes all;
    for (int i = 0; i < 6000; ++i) all.insert(all.end(), records.begin(), records.end());
    return all;
}

TEST_F(Converters, ARoundTripKeepsEveryRecord) {
    write_wk1("a.wk1", many_times(wk1_records()));
    ASSERT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("b.orx").c_str()), 0);
    EXPECT_TRUE(orx_records_of(read_file(path("b.orx"))) == concat({bof(1030), many_times(orx_records()), eof()}));
    ASSERT_EQ(orx_to_wk1(path("b.orx").c_str(), path("c.wk1").c_str()), 0);
    EXPECT_TRUE(read_file(path("c.wk1")) == read_file(path("a.wk1")));
}

// The progress handler follows a conversion from the start of the source
// to its end, and stops it wherever it answers nonzero: the destination
// stays as it was, nothing else is left, nothing is shown.
TEST_F(Converters, TheProgressHandlerFollowsAConversionAndCanStopIt) {
    struct Calls {
        std::vector<std::pair<int64_t, int64_t>> seen;
        std::size_t stop_at = 0;  // the call that answers nonzero; 0 for none
    };
    const auto handler = [](void *context, int64_t done, int64_t total) -> int32_t {
        auto *calls = static_cast<Calls *>(context);
        calls->seen.emplace_back(done, total);
        return calls->seen.size() == calls->stop_at ? 1 : 0;
    };
    write_wk1("a.wk1", many_times(wk1_records()));
    write_orx("b.orx", many_times(orx_records()));
    for (const bool to_orx : {true, false}) {
        const std::string from = path(to_orx ? "a.wk1" : "b.orx");
        const auto convert = [&](const std::string &to) {
            return to_orx ? wk1_to_orx(from.c_str(), to.c_str()) : orx_to_wk1(from.c_str(), to.c_str());
        };
        Calls calls;
        EXPECT_EQ(wks_set_progress_handler(handler, &calls), nullptr);
        ASSERT_EQ(convert(path("out")), 0);
        const auto size = static_cast<int64_t>(read_file(from).size());
        ASSERT_GT(calls.seen.size(), 3u);
        EXPECT_EQ(calls.seen.back(), std::make_pair(size, size));
        for (std::size_t i = 0; i < calls.seen.size(); ++i) {
            EXPECT_EQ(calls.seen[i].second, size);
            EXPECT_LE(calls.seen[i > 0 ? i - 1 : 0].first, calls.seen[i].first);
        }
        const std::size_t count = calls.seen.size();
        for (const std::size_t stop_at : {std::size_t{1}, count / 2, count}) {
            write_file(path("out"), {1, 2, 3});
            Calls stopping;
            stopping.stop_at = stop_at;
            wks_set_progress_handler(handler, &stopping);
            EXPECT_EQ(convert(path("out")), WKS_CONVERT_STOPPED) << stop_at;
            EXPECT_EQ(stopping.seen.size(), stop_at);
            EXPECT_EQ(read_file(path("out")), (Bytes{1, 2, 3}));
            EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"a.wk1", "b.orx", "out"}));
        }
        EXPECT_NE(wks_set_progress_handler(nullptr, nullptr), nullptr);
    }
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Converters, TheHeaderModeIsRestored) {
    write_wk1("a.wk1");
    write_orx("b.orx");
    for (int load : {0, 1}) {
        set_open_for_load(load);
        ASSERT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("c.orx").c_str()), 0);
        ASSERT_EQ(orx_to_wk1(path("b.orx").c_str(), path("d.wk1").c_str()), 0);
        WKS h = blank_handle();
        ASSERT_TRUE(wksopen(&h, path("b.orx").c_str(), ""));
        wksclose(&h);
        EXPECT_EQ(get_orx_header() != nullptr, load == 1);
        wks_cleanup();
    }
}

// Runs a test inside a directory and goes back to where it was.
class InDirectory {
public:
    explicit InDirectory(const std::string &dir) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InDirectory() { std::filesystem::current_path(previous_); }
    InDirectory(const InDirectory &) = delete;
    InDirectory &operator=(const InDirectory &) = delete;

private:
    std::filesystem::path previous_;
};

// The result replaces the file, and carries version 1028 whatever the name
// and however the destination spells the source.
TEST_F(Converters, ConvertingAFileOntoItselfReplacesItAndLeavesNoTemporaryFile) {
    InDirectory here(dir.path());
    const struct {
        const char *name;
        std::string dst;  // another spelling of name
        bool to_orx;
    } cases[] = {
        {"same.wk1", "same.wk1", true},
        {"same.wk1", path("same.wk1"), false},
        {"a.orx", "a.orx", true},
        {"x.orx", "./x.orx", true},
        {"y.orx", path("y.orx"), true},
        {"b.wk1", "./b.wk1", false},
    };
    for (const auto &c : cases) {
        if (c.to_orx) {
            write_wk1(c.name);
            ASSERT_EQ(wk1_to_orx(c.name, c.dst.c_str()), 0) << c.name << " onto " << c.dst;
            EXPECT_EQ(hex(orx_records_of(read_file(c.name))), hex(concat({bof(1028), orx_records(), eof()})))
                << c.name << " onto " << c.dst;
        } else {
            write_orx(c.name);
            ASSERT_EQ(orx_to_wk1(c.name, c.dst.c_str()), 0) << c.name << " onto " << c.dst;
            EXPECT_EQ(hex(read_file(c.name)), hex(concat({bof(1028), wk1_records(), eof()})))
                << c.name << " onto " << c.dst;
        }
    }
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"same.wk1", "a.orx", "x.orx", "y.orx", "b.wk1"}));
}

TEST_F(Converters, OneFileByIdentityIsConvertedInPlace) {
    write_wk1("x.wk1");
    std::filesystem::create_directory(path("sub"));
    const std::string other_name = path("sub") + "/../x.wk1";
    ASSERT_EQ(wk1_to_orx(path("x.wk1").c_str(), other_name.c_str()), 0);
    EXPECT_EQ(is_orx_file(path("x.wk1").c_str()), 1);
    std::filesystem::create_hard_link(path("x.wk1"), path("link.wk1"));
    ASSERT_EQ(orx_to_wk1(path("link.wk1").c_str(), path("x.wk1").c_str()), 0);
    EXPECT_EQ(is_wk1_file(path("x.wk1").c_str()), 1);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"x.wk1", "link.wk1", "sub"}));
}

TEST_F(Converters, NamesThatDifferOnlyInCaseAreOneFileUnlessBothExistApart) {
    // Both exist and are different files (a case-sensitive file system): the
    // destination is written, the source kept.
    write_wk1("case.wk1");
    write_file(path("CASE.WK1"), {1, 2, 3});
    if (std::filesystem::equivalent(path("case.wk1"), path("CASE.WK1"))) GTEST_SKIP() << "case-insensitive";
    ASSERT_EQ(wk1_to_orx(path("case.wk1").c_str(), path("CASE.WK1").c_str()), 0);
    EXPECT_EQ(is_wk1_file(path("case.wk1").c_str()), 1);
    EXPECT_EQ(is_orx_file(path("CASE.WK1").c_str()), 1);
    // Only the source exists: the names count as one file, so the result goes
    // through a temporary file; the source is still never lost.
    std::filesystem::remove(path("CASE.WK1"));
    ASSERT_EQ(wk1_to_orx(path("case.wk1").c_str(), path("CASE.WK1").c_str()), 0);
    EXPECT_EQ(is_wk1_file(path("case.wk1").c_str()), 1);
    EXPECT_EQ(is_orx_file(path("CASE.WK1").c_str()), 1);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"case.wk1", "CASE.WK1"}));
}

TEST_F(Converters, TemporaryNamesInUseAreSkippedAndLeftAlone) {
    write_wk1("s.wk1");
    write_file(path("$_$"), {7});
    write_file(path("file0"), {8});
    std::error_code no_links;
    std::filesystem::create_symlink(path("victim"), path("file1"), no_links);  // a link must not be followed
    if (no_links) write_file(path("file1"), {6});  // a system without symbolic links: a file in the way
    write_file(path("victim"), {9});
    ASSERT_EQ(wk1_to_orx(path("s.wk1").c_str(), path("s.wk1").c_str()), 0);
    EXPECT_EQ(read_file(path("$_$")), Bytes{7});
    EXPECT_EQ(read_file(path("file0")), Bytes{8});
    EXPECT_EQ(read_file(path("victim")), Bytes{9});
    EXPECT_EQ(is_orx_file(path("s.wk1").c_str()), 1);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"s.wk1", "$_$", "file0", "file1", "victim"}));
}

// wks_create writes beside its destination, which keeps its bytes until
// wks_commit, and for good after wks_discard or wks_discard_all.  The BOF
// version follows the destination's name, and is 1028 when the destination
// names the source, as for a conversion onto itself.
TEST_F(Converters, SafeCreationTouchesTheDestinationOnlyAtCommit) {
    InDirectory here(dir.path());
    write_wk1("src.wk1");
    const Bytes old = {1, 2, 3}, block = header_block(), cell = record(WKS_BLANK, wk1_cell_body(0, 1, 1, {}));
    const struct {
        const char *dst, *source;
        int32_t format;
        Bytes want;  // before the records: the header block and the BOF record
    } cases[] = {
        {"new.orx", nullptr, WKS_FORMAT_ORX, concat({block, bof(1030)})},
        {"old.WK1", "src.wk1", WKS_FORMAT_WK1, bof(1030)},
        {"old.dat", nullptr, WKS_FORMAT_ORX, concat({block, bof(1028)})},
        {"src.wk1", "./src.wk1", WKS_FORMAT_WK1, bof(1028)},
    };
    for (const auto &c : cases) {
        if (std::string(c.dst).compare(0, 3, "old") == 0) write_file(c.dst, old);
        const Bytes before = file_exists(c.dst) ? read_file(c.dst) : Bytes();
        ASSERT_TRUE(SetOrxHeader(block.data()));
        for (const bool keep : {false, true}) {
            WKS h = blank_handle();
            ASSERT_EQ(wks_create(&h, c.dst, c.format, c.source), &h) << c.dst;
            h.rec.length[0] = (WKS_MAX_READ_BODY + 1) & 0xff;  // a body no reader takes back: refused
            h.rec.length[1] = (WKS_MAX_READ_BODY + 1) >> 8;
            ASSERT_EQ(wkswrec(&h), WKS_E_WRITE);
            std::copy(cell.begin(), cell.end(), reinterpret_cast<unsigned char *>(&h.rec));
            ASSERT_EQ(wkswrec_wk1(&h), 0);
            EXPECT_EQ(file_exists(c.dst) ? read_file(c.dst) : Bytes(), before) << c.dst;
            if (keep) {
                EXPECT_EQ(wks_commit(&h), 0) << c.dst;
            } else if (c.source) {
                wks_discard_all();
            } else {
                wks_discard(&h);
            }
            EXPECT_EQ(file_exists(c.dst) ? read_file(c.dst) : Bytes(), keep ? concat({c.want, cell, eof()}) : before)
                << c.dst << (keep ? " committed" : " discarded");
            EXPECT_EQ(wks_commit(&h), 25) << "no longer pending";
            EXPECT_EQ(wkswrec(&h), 25);  // quietly, as wksclose
            EXPECT_EQ(wksclose(&h), 25);
            EXPECT_EQ(+h.error, 25);
            ASSERT_TRUE(c.format == WKS_FORMAT_WK1 || SetOrxHeader(block.data()));
        }
        wks_cleanup();
    }
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"src.wk1", "new.orx", "old.WK1", "old.dat"}));
    std::vector<std::string> shown;
    for (int i = 0; i < 8; ++i) shown.insert(shown.end(), {error_message(WKS_E_WRITE), error_message(25)});
    EXPECT_EQ(messages.texts(), shown);

    // A fixed number of handles may be pending; one more, an empty path or
    // an unknown format is refused.
    std::vector<WKS> handles(WKS_CREATE_MAX + 1, blank_handle());
    for (int i = 0; i < WKS_CREATE_MAX; ++i)
        ASSERT_TRUE(wks_create(&handles[i], ("f" + std::to_string(i)).c_str(), WKS_FORMAT_WK1, nullptr)) << i;
    EXPECT_EQ(wks_create(&handles.back(), "one.more", WKS_FORMAT_WK1, nullptr), nullptr);
    EXPECT_EQ(+handles.back().error, 38);
    EXPECT_EQ(wks_create(&handles[0], "again", WKS_FORMAT_WK1, nullptr), nullptr) << "already pending";
    wks_discard_all();
    EXPECT_EQ(wks_create(&handles.back(), "", WKS_FORMAT_WK1, nullptr), nullptr);
    EXPECT_EQ(wks_create(&handles.back(), "x", 3, nullptr), nullptr);
    EXPECT_EQ(+handles.back().error, 38);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"src.wk1", "new.orx", "old.WK1", "old.dat"}));
}

TEST_F(Converters, AMissingSourceLeavesTheDestinationAlone) {
    write_file(path("keep.orx"), {1, 2, 3});
    write_file(path("keep.wk1"), {4, 5, 6});
    EXPECT_EQ(wk1_to_orx(path("missing.wk1").c_str(), path("keep.orx").c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(wk1_to_orx(path("missing.wk1").c_str(), path("new.orx").c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(orx_to_wk1(path("missing.orx").c_str(), path("keep.wk1").c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(read_file(path("keep.orx")), (Bytes{1, 2, 3}));
    EXPECT_EQ(read_file(path("keep.wk1")), (Bytes{4, 5, 6}));
    EXPECT_FALSE(file_exists(path("new.orx")));
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Converters, ASourceOfTheOtherFormatIsRefusedAtOnce) {
    write_wk1("a.wk1");
    write_orx("b.orx");
    write_file(path("dest"), {1});
    EXPECT_EQ(orx_to_wk1(path("a.wk1").c_str(), path("dest").c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(wk1_to_orx(path("b.orx").c_str(), path("dest").c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(read_file(path("dest")), Bytes{1});
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Converters, AnUncreatableDestinationIsMinusOne) {
    write_wk1("a.wk1");
    write_orx("b.orx");
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("no/dir.orx").c_str()), WKS_CONVERT_CREATE_FAILED);
    EXPECT_EQ(orx_to_wk1(path("b.orx").c_str(), path("no/dir.wk1").c_str()), WKS_CONVERT_CREATE_FAILED);
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), ""), WKS_CONVERT_CREATE_FAILED);
    EXPECT_EQ(orx_to_wk1(path("b.orx").c_str(), nullptr), WKS_CONVERT_CREATE_FAILED);
    EXPECT_EQ(wk1_to_orx(nullptr, path("c.orx").c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(get_orx_header(), nullptr);
}

TEST_F(Converters, ASourceThatEndsWithoutEofIsReportedAndNeverReplaced) {
    const Bytes cut_wk1 = concat({bof(1030), record(WKS_LABEL, label(0, 0, "x"))});
    write_file(path("cut.wk1"), cut_wk1);
    write_file(path("out.orx"), {1, 2, 3});
    EXPECT_EQ(wk1_to_orx(path("cut.wk1").c_str(), path("out.orx").c_str()), WKS_CONVERT_SOURCE_DAMAGED);
    EXPECT_EQ(read_file(path("out.orx")), (Bytes{1, 2, 3}));
    EXPECT_EQ(wk1_to_orx(path("cut.wk1").c_str(), path("new.orx").c_str()), WKS_CONVERT_SOURCE_DAMAGED);
    EXPECT_EQ(wk1_to_orx(path("cut.wk1").c_str(), path("cut.wk1").c_str()), WKS_CONVERT_SOURCE_DAMAGED);
    EXPECT_EQ(read_file(path("cut.wk1")), cut_wk1);

    const Bytes cut_orx = concat({header_block(), bof(1030), orx_records(), Bytes{0x0F, 0x00, 0x40}});
    write_file(path("cut.orx"), cut_orx);
    EXPECT_EQ(orx_to_wk1(path("cut.orx").c_str(), path("cut.orx").c_str()), WKS_CONVERT_SOURCE_DAMAGED);
    EXPECT_EQ(read_file(path("cut.orx")), cut_orx);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"cut.wk1", "cut.orx", "out.orx"}));
    EXPECT_EQ(messages.texts(), std::vector<std::string>(4, error_message(WKS_E_READ)));
}

TEST_F(Converters, ACellThatCannotBeTranslatedFailsTheConversionAndLeavesTheDestination) {
    // A body of 2068 bytes has no ORX form; one of 2064 has, but as a record
    // of 2075 body bytes, more than any reader takes.
    for (const std::size_t text : {2063u, 2059u}) {
        const Bytes too_long = record(WKS_LABEL, wk1_cell_body('\'', 0, 0, Bytes(text, 'a')));
        write_file(path("long.wk1"), concat({bof(1030), too_long, record(WKS_LABEL, label(1, 1, "ok")), eof()}));
        write_file(path("long.orx"), {1, 2, 3});
        EXPECT_EQ(wk1_to_orx(path("long.wk1").c_str(), path("long.orx").c_str()), WKS_CONVERT_SOURCE_DAMAGED);
        EXPECT_EQ(read_file(path("long.orx")), (Bytes{1, 2, 3}));
    }

    const Bytes too_short = record(WKS_NUMBER, Bytes(15, 0));
    write_orx("short.orx", concat({too_short, record(WKS_LABEL, orx_cell_body('\'', 1, 1, {'o', 'k', 0}))}));
    EXPECT_EQ(orx_to_wk1(path("short.orx").c_str(), path("short.wk1").c_str()), WKS_CONVERT_SOURCE_DAMAGED);
    EXPECT_FALSE(file_exists(path("short.wk1")));
    EXPECT_EQ(messages.count(), 0u);
}

// Random bytes, and valid files cut at every length, in both directions,
// onto other files and onto themselves: a converter may fail, never crash,
// and never leaves a temporary file.
TEST_F(Converters, DamagedAndRandomFilesNeverCrashAConverter) {
    std::mt19937 rng(12345);
    const Bytes good_wk1 = concat({bof(1030), wk1_records(), eof()});
    const Bytes good_orx = concat({header_block(), bof(1030), orx_records(), eof()});
    std::vector<Bytes> inputs;
    for (std::size_t n = 0; n <= good_wk1.size(); n += 3) inputs.emplace_back(good_wk1.begin(), good_wk1.begin() + n);
    for (std::size_t n = WKS_HEADER_SIZE; n <= good_orx.size(); n += 3)
        inputs.emplace_back(good_orx.begin(), good_orx.begin() + n);
    for (int i = 0; i < 60; ++i) {
        Bytes random(std::uniform_int_distribution<std::size_t>(0, 3000)(rng));
        for (uint8_t &b : random) b = static_cast<uint8_t>(rng());
        // Keep a valid start now and then, so that the record loop is reached.
        if (i % 2 == 0 && random.size() >= 6) std::copy(good_wk1.begin(), good_wk1.begin() + 6, random.begin());
        inputs.push_back(random);
        Bytes orx = header_block();
        orx.insert(orx.end(), good_orx.begin() + WKS_HEADER_SIZE, good_orx.begin() + WKS_HEADER_SIZE + 6);
        orx.insert(orx.end(), random.begin(), random.end());
        inputs.push_back(orx);
    }
    const std::set<int32_t> results = {WKS_CONVERTED, WKS_CONVERT_CREATE_FAILED, WKS_CONVERT_SOURCE_FAILED,
                                       WKS_CONVERT_TEXT_CUT, WKS_CONVERT_SOURCE_DAMAGED};
    for (const Bytes &input : inputs) {
        write_file(path("in"), input);
        EXPECT_TRUE(results.count(wk1_to_orx(path("in").c_str(), path("out").c_str()))) << hex(input);
        EXPECT_TRUE(results.count(orx_to_wk1(path("in").c_str(), path("out").c_str()))) << hex(input);
        EXPECT_TRUE(results.count(wk1_to_orx(path("in").c_str(), path("in").c_str()))) << hex(input);
        write_file(path("in"), input);
        EXPECT_TRUE(results.count(orx_to_wk1(path("in").c_str(), path("in").c_str()))) << hex(input);
        std::filesystem::remove(path("out"));
        EXPECT_EQ(entries(dir.path()), std::set<std::string>{"in"});
    }
}

// --- copy_file and get_tempname ----------------------------------------------

TEST_F(Converters, CopyFileCopiesAnySize) {
    for (std::size_t size : {0, 1, 4095, 4096, 4097, 12288 + 5}) {
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7);
        write_file(path("src"), data);
        write_file(path("dst"), Bytes(20000, 1));  // cut to the copy's length
        ASSERT_EQ(copy_file(path("src").c_str(), path("dst").c_str()), 0) << size;
        EXPECT_EQ(read_file(path("dst")), data) << size;
    }
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Converters, CopyFileOntoItselfUnderAnySpellingTouchesNothing) {
    InDirectory here(dir.path());
    const Bytes data(5000, 7);
    write_file(path("v.wk1"), data);
    std::filesystem::create_hard_link("v.wk1", "hard.wk1");
    std::error_code no_links;
    std::filesystem::create_symlink("v.wk1", "soft.wk1", no_links);
    const std::pair<std::string, std::string> spellings[] = {
        {"v.wk1", "v.wk1"}, {"v.wk1", "./v.wk1"}, {"v.wk1", path("v.wk1")}, {"hard.wk1", "v.wk1"},
        {"v.wk1", no_links ? "v.wk1" : "soft.wk1"}, {no_links ? "v.wk1" : "soft.wk1", "v.wk1"},
    };
    for (const auto &[src, dst] : spellings) {
        EXPECT_EQ(copy_file(src.c_str(), dst.c_str()), 0) << src << " onto " << dst;
        EXPECT_EQ(read_file(path("v.wk1")), data) << src << " onto " << dst;
    }
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Converters, CopyFileReportsWhatItCannotOpen) {
    EXPECT_EQ(copy_file(path("none").c_str(), path("dst").c_str()), -1);
    EXPECT_EQ(messages.last(), "Cannot open file \"" + path("none") + "\" for reading");
    write_file(path("src"), {1});
    EXPECT_EQ(copy_file(path("src").c_str(), path("no/dst").c_str()), -1);
    EXPECT_EQ(messages.last(), "Cannot open file \"" + path("no/dst") + "\" for writing");
    EXPECT_FALSE(file_exists(path("dst")));
}

TEST_F(Converters, GetTempnameFindsTheFirstFreeNameBesideAPath) {
    char out[512];
    get_tempname("D:\\BOOKS\\sales.wk1", out);
    EXPECT_STREQ(out, "D:\\BOOKS\\f_$0");
    get_tempname("plain", out);
    EXPECT_STREQ(out, "f_$0");
    write_file(path("f_$0"), {});
    write_file(path("f_$1"), {});
    get_tempname(path("x.wk1").c_str(), out);
    EXPECT_EQ(std::string(out), path("f_$2"));
}

}  // namespace

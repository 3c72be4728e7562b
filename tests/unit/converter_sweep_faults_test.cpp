// Every failure point of the converters, copy_file and wks_calc_file: each
// runs once for each n with the n-th open, read, write, seek, close, rename,
// remove, allocation or flush failing, until it gets through without
// reaching an n-th call; on POSIX systems once more with the new file made the named
// way.  Whatever fails, the source survives byte for byte (also when it is
// the destination) and an existing destination byte for byte and mode for
// mode; a result of success means the output is the one a run without
// failures writes, with the destination's mode; no temporary file is left
// beside the files, and no descriptor or heap block is left behind.
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "unit/fault_sweep.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace plat = wks::plat;

using namespace wkstest;
namespace fs = std::filesystem;

namespace {

constexpr int kMaxPoints = 400;
using sweep::arm;
using sweep::disarm;
using sweep::kOps;

// Runs attempt with the n-th call of op failing, n = 1, 2, ...; the
// attempt gets a label naming the failure point.
int sweep_op(plat::Op op, const std::function<void(const std::string &)> &attempt) {
    return sweep::run(op, kMaxPoints, [&](int n) {
        attempt(std::string(sweep::op_name(op)) + " #" + std::to_string(n));
    });
}

// A sheet with cells of every kind, a range name and formulas, one of them
// with an external reference that both directions rewrite.
Bytes orx_records() {
    WKS h = blank_handle();
    Bytes out = concat({record(WKS_RANGE_NAME, range_name_body("TOTAL", 0, 0, 1, 1)),
                        record(WKS_INTEGER, orx_cell_body(0xFF, 0, 0, {42, 0})),
                        record(WKS_LABEL, orx_cell_body(0x27, 1, 0, {'a', 'b', 0}))});
    for (const char *text : {"@@(\"<<D:\\BOOKS\\sales.wk1>>A:B2\")+A1", "@SUM(A1..B2)*2"}) {
        std::memset(h.rec.body, 0, WKS_ORX_CELL_PREFIX - 1);
        h.rec.body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
        EXPECT_EQ(wksform(&h, 0, 2, 3, text), 0) << text;
        const uint8_t *p = reinterpret_cast<const uint8_t *>(&h.rec);
        out = concat({out, Bytes(p, p + 4 + (h.rec.length[0] | (h.rec.length[1] << 8)))});
    }
    return out;
}

// A host's own copy of a WK1 file through wks_create: every record read
// and written to the pending file, which is committed at the end and
// discarded when reading or writing failed.
int32_t safe_copy(const char *from, const char *to) {
    WKS in = blank_handle(), out = blank_handle();
    if (!wksopen_wk1(&in, from, "")) return -2;
    if (!wks_create(&out, to, WKS_FORMAT_WK1, from)) {
        wksclose_wk1(&in);
        return -1;
    }
    int16_t got;
    while ((got = wksnextr_wk1(&in)) == 0) {
        out.rec = in.rec;
        if (wkswrec_wk1(&out) != 0) break;
    }
    wksclose_wk1(&in);
    if (got != -1) {
        wks_discard(&out);
        return -5;
    }
    return wks_commit(&out);
}

class ConverterSweep : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const std::string orx = dir.file("made.orx"), wk1 = dir.file("made.wk1");
        write_file(orx, concat({header_block(), bof(1030), orx_records(), eof()}));
        ASSERT_EQ(orx_to_wk1(orx.c_str(), wk1.c_str()), 0);
        orx_source = read_file(orx);
        wk1_source = read_file(wk1);
        fs::remove(orx);
        fs::remove(wk1);
        reset_library_state();
        messages.clear();
        descriptors = open_descriptor_count();
        heap = plat::live_allocations();
    }
    void TearDown() override {
        plat::clear_faults();
        plat::refuse_unnamed_files(false);
        LibraryTest::TearDown();
    }

    static fs::perms mode_of(const std::string &file) { return fs::status(file).permissions(); }

    // Runs convert(from, to) without failures, under the names the sweep
    // uses (the names choose the BOF version), and returns what it wrote.
    Bytes reference(const std::function<int32_t(const char *, const char *)> &convert, const Bytes &source,
                    const std::string &from, const std::string &to) {
        write_file(from, source);
        EXPECT_EQ(convert(from.c_str(), to.c_str()), 0);
        Bytes result = read_file(to);
        std::error_code ec;
        fs::remove(from, ec);
        fs::remove(to, ec);
        reset_library_state();
        messages.clear();
        return result;
    }

    // The sweep of one conversion, to another file or onto the source, the
    // destination existing with a mode of its own.
    void run(const std::function<int32_t(const char *, const char *)> &convert, const Bytes &source, bool same,
             const std::string &src_name, const std::string &dst_name, bool shows_failure = false) {
        const std::string from = dir.file(src_name), to = same ? from : dir.file(dst_name);
        const Bytes want = reference(convert, source, from, to);
        const Bytes old_destination = {1, 2, 3};
        const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
        for (const bool named : {false, true}) {
            plat::refuse_unnamed_files(named);
            int points = 0;
            for (plat::Op op : kOps) {
                points += sweep_op(op, [&](const std::string &point) {
                    const std::string at = point + (named ? " (named)" : "");
                    reset_library_state();
                    messages.clear();
                    write_file(from, source);
                    if (!same) write_file(to, old_destination);
                    fs::permissions(to, kept);
                    const fs::perms mode = mode_of(to);
                    arm();
                    const int32_t r = convert(from.c_str(), to.c_str());
                    disarm();
                    const bool ok = r == 0;
                    if (!same || !ok) {
                        EXPECT_TRUE(read_file(from) == source) << at << ": the source changed (" << r << ")";
                    }
                    if (ok) {
                        // A formula whose rewriting ran out of memory passes as it
                        // was, and the user is told; anything else must give the
                        // output of a run without failures.
                        const Bytes got = read_file(to);
                        const bool told = sweep::g_armed_op == plat::Op::Alloc && messages.count() > 0;
                        EXPECT_TRUE(got == want || told) << at << ": success reported, but the output differs ("
                                                         << got.size() << " bytes, " << want.size() << " expected)";
                    } else {
                        if (!same) {
                            EXPECT_EQ(read_file(to), old_destination) << at << ": the destination changed";
                        }
                        if (shows_failure) {
                            EXPECT_EQ(messages.count(), 1u) << at << ": the failure is shown once";
                        }
                    }
                    EXPECT_EQ(mode_of(to), mode) << at << ": the destination's mode changed (" << r << ")";
                    std::set<std::string> files;
                    for (const auto &e : fs::directory_iterator(dir.path())) files.insert(e.path().filename().string());
                    std::set<std::string> allowed = {src_name, dst_name};
                    for (const std::string &f : files)
                        EXPECT_TRUE(allowed.count(f)) << at << ": file left behind: " << f << " (" << r << ")";
                    EXPECT_EQ(open_descriptor_count(), descriptors) << at;
                    wks_cleanup();
                    wkscs();
                    EXPECT_EQ(plat::live_allocations(), heap) << at;
                });
            }
            EXPECT_GE(points, shows_failure ? 6 : 10);  // copy_file: two opens, a read, a write, a flush, a close
        }
    }

    Bytes orx_source, wk1_source;
    int descriptors = 0;
    long heap = 0;
};

TEST_F(ConverterSweep, Wk1ToOrx) { run(wk1_to_orx, wk1_source, false, "in.wk1", "out.orx"); }
TEST_F(ConverterSweep, Wk1ToOrxOntoItself) { run(wk1_to_orx, wk1_source, true, "book.wk1", "book.wk1"); }
TEST_F(ConverterSweep, OrxToWk1) { run(orx_to_wk1, orx_source, false, "in.orx", "out.wk1"); }
TEST_F(ConverterSweep, OrxToWk1OntoItself) { run(orx_to_wk1, orx_source, true, "book.orx", "book.orx"); }
TEST_F(ConverterSweep, CopyFile) {
    run([](const char *a, const char *b) { return copy_file(a, b); }, orx_source, false, "a.orx", "b.orx",
        true);
}

int32_t calc_in_place(const char *path, const char *) { return wks_calc_file(path, 0, 1, nullptr, nullptr, nullptr); }
TEST_F(ConverterSweep, CalcFileWk1) { run(calc_in_place, wk1_source, true, "book.wk1", "book.wk1"); }
TEST_F(ConverterSweep, CalcFileOrx) { run(calc_in_place, orx_source, true, "book.orx", "book.orx"); }

// A conversion whose result is held, then placed: a failed flush, close or
// rename fails it (-6) with the destination as it was.
int32_t held_conversion(const char *from, const char *to) {
    wks_hold_results(1);
    int32_t r = wk1_to_orx(from, to);
    wks_hold_results(0);
    if (wks_place_held(nullptr, nullptr) != 0) r = WKS_CONVERT_OUTPUT_FAILED;
    return r;
}
TEST_F(ConverterSweep, HeldResult) { run(held_conversion, wk1_source, false, "in.wk1", "out.orx"); }

TEST_F(ConverterSweep, SafeCreation) { run(safe_copy, wk1_source, false, "in.wk1", "out.wk1"); }
TEST_F(ConverterSweep, SafeCreationOntoTheSource) { run(safe_copy, wk1_source, true, "book.wk1", "book.wk1"); }

// The names of dir's entries that are not destination: the temporary files.
std::set<std::string> others(const std::string &dir, const std::string &destination) {
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.path().filename() != destination) names.insert(e.path().filename().string());
    return names;
}

// Held results are flushed together before any takes its destination's
// place: a failed flush leaves every destination as it was, a failed rename
// only its own; the visitor hears of each in order.  wks_discard_all drops
// held results, and a full table refuses the next conversion.
TEST_F(ConverterSweep, HeldResultsAreFlushedBeforeAnyIsPlaced) {
    const std::string from = dir.file("in.wk1"), a = dir.file("a.orx"), b = dir.file("b.orx");
    write_file(from, wk1_source);
    using Outcomes = std::vector<std::pair<int32_t, int32_t>>;
    const auto visit = [](void *c, int32_t result, int32_t reason) {
        static_cast<Outcomes *>(c)->push_back({result, reason});
    };
    struct Case {
        plat::Op op;
        Outcomes outcomes;
        bool a_placed, b_placed;
    };
    for (const bool named : {false, true}) {
        plat::refuse_unnamed_files(named);
        for (const Case &c : {Case{plat::Op::Flush, {{-6, EIO}, {-6, EIO}}, false, false},
                              Case{plat::Op::Rename, {{-6, -1}, {0, 0}}, false, true}}) {
            write_file(a, {1, 2, 3});
            write_file(b, {1, 2, 3});
            wks_hold_results(1);
            ASSERT_EQ(wk1_to_orx(from.c_str(), a.c_str()), 0);
            ASSERT_EQ(wk1_to_orx(from.c_str(), b.c_str()), 0);
            EXPECT_EQ(read_file(a), (Bytes{1, 2, 3}));  // held: not in place yet
            plat::fail_nth(c.op, 1);
            Outcomes got;
            EXPECT_EQ(wks_place_held(visit, &got), 2 - c.a_placed - c.b_placed);
            plat::clear_faults();
            ASSERT_EQ(got.size(), 2u);
            for (std::size_t k = 0; k < 2; ++k) {
                EXPECT_EQ(got[k].first, c.outcomes[k].first) << k;
                if (c.outcomes[k].second >= 0) {
                    EXPECT_EQ(got[k].second, c.outcomes[k].second) << k;
                }
            }
            EXPECT_EQ(read_file(a) != (Bytes{1, 2, 3}), c.a_placed);
            EXPECT_EQ(read_file(b) != (Bytes{1, 2, 3}), c.b_placed);
            EXPECT_EQ(others(dir.path(), "in.wk1"), (std::set<std::string>{"a.orx", "b.orx"}));
            EXPECT_EQ(open_descriptor_count(), descriptors);
        }
    }
    plat::refuse_unnamed_files(false);
    for (int k = 0; k < WKS_HOLD_MAX; ++k) ASSERT_EQ(wk1_to_orx(from.c_str(), a.c_str()), 0) << k;
    EXPECT_EQ(wk1_to_orx(from.c_str(), b.c_str()), WKS_CONVERT_CREATE_FAILED);
    wks_discard_all();
    EXPECT_EQ(wks_place_held(nullptr, nullptr), 0);
    EXPECT_EQ(read_file(a), (Bytes{1, 2, 3}));  // every held result gone
    EXPECT_EQ(open_descriptor_count(), descriptors);
    wks_hold_results(0);
}

// A pending file made the named way is called ".NAME.wks-XXXXXX" after its
// destination, never a name a user's file could have, and is removed by
// wks_discard_all, as a signal handler calls it: a wks_create file, and a
// conversion's result.  A progress handler that drops the result or calls a
// converter (refused) stops the conversion, quietly.
TEST_F(ConverterSweep, DiscardAllRemovesANamedPendingFile) {
    plat::refuse_unnamed_files(true);
    const std::string to = dir.file("kept.wk1");
    write_file(to, {1, 2, 3});
    WKS h = blank_handle();
    ASSERT_TRUE(wks_create(&h, to.c_str(), WKS_FORMAT_WK1, nullptr));
    const std::set<std::string> pending = others(dir.path(), "kept.wk1");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending.begin()->substr(0, 14), ".kept.wk1.wks-");
    EXPECT_EQ(pending.begin()->size(), 20u);
    wks_discard_all();
    EXPECT_EQ(read_file(to), (Bytes{1, 2, 3}));
    EXPECT_EQ(others(dir.path(), "kept.wk1"), std::set<std::string>{});
    EXPECT_EQ(open_descriptor_count(), descriptors);

    const std::string from = dir.file("in.orx");
    write_file(from, orx_source);
    struct Seen {
        std::string dir;
        bool nested;
        bool named = false;
        int32_t inner = 0;
    };
    for (const bool nested : {false, true}) {
        Seen seen{dir.path(), nested};
        wks_set_progress_handler(
            [](void *context, int64_t, int64_t) -> int32_t {
                auto *s = static_cast<Seen *>(context);
                s->named = s->named || others(s->dir, "kept.wk1").size() == 2;  // in.orx and the new file
                if (!s->nested) wks_discard_all();
                if (s->nested) s->inner = wk1_to_orx((s->dir + "/none.wk1").c_str(), (s->dir + "/x.orx").c_str());
                return 0;
            },
            &seen);
        EXPECT_EQ(orx_to_wk1(from.c_str(), to.c_str()), WKS_CONVERT_STOPPED) << nested;
        EXPECT_TRUE(seen.named);
        EXPECT_EQ(seen.inner, nested ? WKS_CONVERT_STOPPED : 0);
        EXPECT_EQ(read_file(to), (Bytes{1, 2, 3}));
        EXPECT_EQ(others(dir.path(), "kept.wk1"), std::set<std::string>{"in.orx"});
        EXPECT_EQ(messages.count(), 0u);
        EXPECT_EQ(open_descriptor_count(), descriptors);
    }
    wks_set_progress_handler(nullptr, nullptr);
}

}  // namespace

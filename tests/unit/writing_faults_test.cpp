// Every failure point of the ORX writing paths: a host session (create,
// copy or append; then writing records with wkswrec and closing with
// wksclose) runs once for each n with the n-th open, read, write, seek,
// close or allocation failing, until the session gets through without
// reaching an n-th call.  Each failure must come back with its code and
// message; the records accepted before it are in the file, the input of a
// copy is untouched, and no descriptor or heap block is left behind once
// the host has closed its handle.
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "unit/fault_sweep.h"
#include "wks/bytes.h"

#include <functional>
#include <string>
#include <vector>

namespace plat = wks::plat;

using namespace wkstest;

namespace {

constexpr int kMaxPoints = 200;
using sweep::arm;
using sweep::disarm;
using sweep::kOps;
using sweep::op_name;

int sweep_op(plat::Op op, const std::function<void(int)> &attempt) { return sweep::run(op, kMaxPoints, attempt); }

// Where a session stopped and with what.
struct Outcome {
    std::string step;  // empty: it went through
    int code = 0;
};

void load(WKS &h, const Bytes &rec) {
    std::copy(rec.begin(), rec.end(), reinterpret_cast<unsigned char *>(&h.rec));
}

class WritingFaults : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        descriptors = open_descriptor_count();
        heap = plat::live_allocations();
    }
    void TearDown() override {
        plat::clear_faults();
        LibraryTest::TearDown();
    }

    // Writes the records, then closes; a close that could not write the EOF
    // record keeps the file open, and the host closes again.  Stops at the
    // first failure, closing what is open.
    Outcome write_and_close(const std::vector<Bytes> &records) {
        for (const Bytes &r : records) {
            load(h, r);
            if (int c = wkswrec(&h)) {
                close_after_failure();
                return {"wkswrec", c};
            }
        }
        const int c = wksclose(&h);
        if (c == WKS_E_WRITE) wksclose(&h);
        return c ? Outcome{"wksclose", c} : Outcome{};
    }
    void close_after_failure() {
        if (wksclose(&h) == WKS_E_WRITE) wksclose(&h);
    }

    // A failure with this code and nothing shown.
    void expect_silent(const Outcome &o, int code, const std::string &at) {
        EXPECT_EQ(o.code, code) << at;
        EXPECT_TRUE(messages.texts().empty()) << at;
    }
    // The shown messages must be exactly those of `codes`.
    void expect_shown(std::initializer_list<int> codes, const std::string &where) {
        std::vector<std::string> want;
        for (int c : codes) want.push_back(error_message(c));
        EXPECT_EQ(messages.texts(), want) << where;
    }
    // Nothing of the session left open or allocated (the header blocks and
    // range names are the host's to empty).
    void expect_nothing_left(const std::string &where) {
        EXPECT_EQ(open_descriptor_count(), descriptors) << where;
        wks_cleanup();
        wkscs();
        EXPECT_EQ(plat::live_allocations(), heap) << where;
    }
    void restart() {
        reset_library_state();
        messages.clear();
        h = blank_handle();
    }

    WKS h = blank_handle();
    int descriptors = 0;
    long heap = 0;
    const std::vector<Bytes> extra = {label_cell(5, 5, "x"), record(WKS_BLANK, orx_cell_body(0, 6, 6, {}))};
};

std::string where(plat::Op op, int n, const Outcome &o) {
    return std::string(op_name(op)) + " #" + std::to_string(n) + " failed; session stopped at '" + o.step +
           "' with " + std::to_string(o.code);
}

// --- create ---------------------------------------------------------------

TEST_F(WritingFaults, CreateWriteAndClose) {
    const std::string out = dir.file("out.orx");
    const Bytes block = header_block();
    const Bytes full = concat({block, bof(1030), extra[0], extra[1], eof()});
    int points = 0;
    for (plat::Op op : kOps) {
        points += sweep_op(op, [&](int n) {
            restart();
            Outcome o;
            arm();
            if (!SetOrxHeader(block.data())) {
                o = {"SetOrxHeader", -1};
            } else if (!wksopen(&h, "", out.c_str())) {
                o = {"wksopen", h.error};
            } else {
                o = write_and_close(extra);
            }
            disarm();
            const std::string at = where(op, n, o);
            const Bytes got = read_file(out);
            if (o.step.empty()) {
                EXPECT_EQ(got, full) << at;
                EXPECT_TRUE(messages.texts().empty()) << at;
            } else if (o.step == "SetOrxHeader") {
                EXPECT_EQ(op, plat::Op::Alloc) << at;
                EXPECT_EQ(messages.texts(), std::vector<std::string>{"Out of Memory!!!"}) << at;
            } else if (o.step == "wksopen") {
                ASSERT_NE(get_orx_header(), nullptr) << at << ": the host's block is lost";
                EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), block) << at;
                if (op == plat::Op::Open) {
                    EXPECT_EQ(o.code, WKS_E_OPEN) << at;
                    EXPECT_TRUE(messages.texts().empty()) << at;
                } else {
                    EXPECT_EQ(o.code, WKS_E_WRITE) << at;
                    expect_shown({WKS_E_WRITE}, at);
                }
            } else if (o.step == "wkswrec") {
                // The records before the failed one, then the EOF record.
                EXPECT_EQ(o.code, WKS_E_WRITE) << at;
                expect_shown({WKS_E_WRITE}, at);
                const std::size_t written = static_cast<std::size_t>(n - 3);  // header block, BOF
                Bytes want = concat({block, bof(1030)});
                for (std::size_t i = 0; i < written; ++i) want = concat({want, extra[i]});
                EXPECT_EQ(got, concat({want, eof()})) << at;
            } else {
                EXPECT_EQ(o.code, op == plat::Op::Close ? WKS_E_CLOSE : WKS_E_WRITE) << at;
                expect_shown({o.code}, at);
                EXPECT_EQ(got, full) << at << ": the file is complete after the host's retry";
            }
            expect_nothing_left(at);
        });
    }
    EXPECT_GE(points, 7);  // an open, five writes, a close, the block's allocation
}

// --- copy -----------------------------------------------------------------

class CopyFaults : public WritingFaults {
protected:
    std::string in = dir.file("in.orx");
    std::string out = dir.file("out.orx");
    const Bytes records = concat({bof(), name_record("N1", 0, 0, 0, 0), label_cell(0, 0, "a"),
                                  name_record("N2", 1, 1, 2, 2), label_cell(1, 0, "b")});
    const Bytes input = concat({header_block(), records, eof()});

    // Opens with both paths and, when that works, writes the extra records
    // and closes: the session under the armed failure point.
    Outcome open_write_close(const std::string &path1, const std::string &path2) {
        arm();
        const Outcome o = wksopen(&h, path1.c_str(), path2.c_str()) ? write_and_close(extra)
                                                                    : Outcome{"wksopen", h.error};
        disarm();
        return o;
    }

    // A session that got through the opening: all records and the EOF
    // record, nothing shown; or, failed writing a record or closing, its
    // code and message, and the records before the failure, or all of them
    // and the EOF record after the host's retry.
    void expect_session(plat::Op op, const Outcome &o, const Bytes &got, const std::string &at) {
        if (o.step.empty()) {
            EXPECT_EQ(got, concat({records, extra[0], extra[1], eof()})) << at;
            EXPECT_TRUE(messages.texts().empty()) << at;
        } else if (o.step == "wkswrec") {
            EXPECT_EQ(o.code, WKS_E_WRITE) << at;
            expect_shown({WKS_E_WRITE}, at);
            EXPECT_EQ(Bytes(got.begin(), got.begin() + std::min(got.size(), records.size())), records) << at;
        } else {
            EXPECT_EQ(o.code, op == plat::Op::Close ? WKS_E_CLOSE : WKS_E_WRITE) << at;
            expect_shown({o.code}, at);
            EXPECT_EQ(got, concat({records, extra[0], extra[1], eof()})) << at;
        }
    }
};

TEST_F(CopyFaults, EveryFailurePoint) {
    int points = 0;
    for (plat::Op op : kOps) {
        points += sweep_op(op, [&](int n) {
            restart();
            write_file(in, input);
            const Outcome o = open_write_close(in, out);
            const std::string at = where(op, n, o);
            EXPECT_EQ(read_file(in), input) << at << ": the input changed";
            const Bytes got = file_exists(out) ? read_file(out) : Bytes();
            if (o.step == "wksopen") {
                // The output holds a prefix of the input's records.
                EXPECT_LE(got.size(), records.size()) << at;
                EXPECT_EQ(got, Bytes(records.begin(), records.begin() + std::min(got.size(), records.size())))
                    << at;
                switch (op) {
                case plat::Op::Open: expect_silent(o, WKS_E_OPEN, at); break;
                case plat::Op::Read:
                    if (n == 1) {  // the header block: a short read fails its check
                        EXPECT_EQ(o.code, 0) << at;
                        EXPECT_EQ(messages.texts(), std::vector<std::string>{"'" + in + "' is not an ORX file."})
                            << at;
                    } else {
                        EXPECT_EQ(o.code, WKS_E_READ) << at;
                        expect_shown({WKS_E_READ}, at);
                    }
                    break;
                case plat::Op::Write: EXPECT_EQ(o.code, WKS_E_WRITE) << at; expect_shown({WKS_E_WRITE}, at); break;
                case plat::Op::Close: expect_silent(o, WKS_E_CLOSE_INPUT, at); break;
                case plat::Op::Alloc:
                    // The header block ("Out of Memory!!!") or a range name (2 or 3).
                    EXPECT_EQ(o.code, 0) << at;
                    ASSERT_EQ(messages.count(), 1u) << at;
                    EXPECT_TRUE(messages.last() == "Out of Memory!!!" ||
                                messages.last() == error_message(WKS_E_NO_SYMBOL_MEMORY) ||
                                messages.last() == error_message(WKS_E_NO_NAME_MEMORY))
                        << at << ": " << messages.last();
                    break;
                default: ADD_FAILURE() << at << ": unexpected failure point"; break;
                }
            } else {
                expect_session(op, o, got, at);
            }
            expect_nothing_left(at);
        });
    }
    EXPECT_GE(points, 12);
}

// --- append ---------------------------------------------------------------

TEST_F(CopyFaults, AppendEveryFailurePoint) {
    const Bytes file = concat({records, eof()});
    int points = 0;
    for (plat::Op op : kOps) {
        points += sweep_op(op, [&](int n) {
            restart();
            write_file(out, file);
            const Outcome o = open_write_close(out, out);
            const std::string at = where(op, n, o);
            const Bytes got = read_file(out);
            if (o.step == "wksopen") {
                EXPECT_EQ(got, file) << at << ": a failed opening changed the file";
                switch (op) {
                case plat::Op::Open: expect_silent(o, WKS_E_OPEN, at); break;
                case plat::Op::Read: EXPECT_EQ(o.code, WKS_E_READ) << at; expect_shown({WKS_E_READ}, at); break;
                case plat::Op::Seek: EXPECT_EQ(o.code, WKS_E_SEEK_END) << at; expect_shown({WKS_E_SEEK_END}, at); break;
                case plat::Op::Alloc:
                    EXPECT_EQ(o.code, 0) << at;
                    ASSERT_EQ(messages.count(), 1u) << at;
                    EXPECT_TRUE(messages.last() == error_message(WKS_E_NO_SYMBOL_MEMORY) ||
                                messages.last() == error_message(WKS_E_NO_NAME_MEMORY))
                        << at;
                    break;
                default: ADD_FAILURE() << at << ": unexpected failure point"; break;
                }
            } else {
                expect_session(op, o, got, at);
            }
            expect_nothing_left(at);
        });
    }
    EXPECT_GE(points, 10);
}

}  // namespace

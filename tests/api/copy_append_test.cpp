// wksopen with two paths: copying a file into a new one, and appending to a
// file in place, with the range names they register and every way they fail.
#include "support/test_support.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <unistd.h>

using namespace wkstest;

namespace {

Bytes number_cell(int16_t col, int16_t row, double v) {
    Bytes value;
    put_double(value, v);
    return record(WKS_NUMBER, orx_cell_body(0x75, col, row, value));
}

// The file number the library files a handle's names under.
int32_t file_number(const WKS &h) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&h)));
}

std::string notice(const std::string &path, const std::string &what) {
    return "File '" + path + "' " + what + "\n\nProcess will continue but the results may be incorrect.";
}

class TwoPathOpening : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        descriptors = open_descriptor_count();
    }
    // Puts a record in the handle's buffer and writes it.
    int16_t write(const Bytes &rec) {
        std::memcpy(&h.rec, rec.data(), rec.size());
        return wkswrec(&h);
    }
    void expect_nothing_open() { EXPECT_EQ(open_descriptor_count(), descriptors); }

    WKS h = blank_handle();
    int descriptors = 0;
    std::string in = dir.file("in.orx");
    std::string out = dir.file("out.orx");
};

using CopyMode = TwoPathOpening;
using AppendMode = TwoPathOpening;

// --- copy mode: success ---------------------------------------------------

TEST_F(CopyMode, CopiesEveryRecordFromBofUpToEofWithoutTheHeaderBlock) {
    const Bytes records = concat({bof(), number_cell(0, 0, 1.5), number_cell(1, 0, 2.5),
                                  name_record("SALES", 0, 1, 2, 3), name_record("TAXES", 4, 5, 6, 7, WKS_RANGE_NAME2)});
    const Bytes input = concat({header_block(), records, eof()});
    write_file(in, input);

    ASSERT_EQ(wksopen(&h, in.c_str(), out.c_str()), &h);
    EXPECT_EQ(int(h.error), 0);
    EXPECT_EQ(h.mode, 'w');
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(read_file(out), records) << hex(read_file(out));

    // Both record types register their name under the handle's number.
    WKS_NAME *sales = wkslr(file_number(h), "SALES");
    WKS_NAME *taxes = wkslr(file_number(h), "TAXES");
    ASSERT_NE(sales, nullptr);
    ASSERT_NE(taxes, nullptr);
    EXPECT_EQ(std::make_tuple(sales->c1, sales->r1, sales->c2, sales->r2), std::make_tuple(0, 1, 2, 3));
    EXPECT_EQ(std::make_tuple(taxes->c1, taxes->r1, taxes->c2, taxes->r2), std::make_tuple(4, 5, 6, 7));

    // What the host writes next follows the copied records.
    const Bytes extra = number_cell(2, 0, 3.5);
    ASSERT_EQ(write(extra), 0);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(out), concat({records, extra, eof()}));
    EXPECT_EQ(read_file(in), input);
    expect_nothing_open();

    // In load mode the input's header block waits for the host, and the
    // names outlive the handle.
    unsigned char block[WKS_HEADER_SIZE];
    ASSERT_EQ(GetOrxHeader(block), 1);
    EXPECT_EQ(Bytes(block, block + WKS_HEADER_SIZE), header_block());
    EXPECT_NE(wkslr(file_number(h), "SALES"), nullptr);
}

TEST_F(CopyMode, PathsDifferingOnlyInLetterCaseAreTwoFilesHere) {
    const std::string lower = dir.file("sheet.orx"), upper = dir.file("SHEET.orx");
    write_file(lower, concat({header_block(), bof(), number_cell(0, 0, 1), eof()}));
    ASSERT_EQ(wksopen(&h, lower.c_str(), upper.c_str()), &h);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(upper), concat({bof(), number_cell(0, 0, 1), eof()}));
}

TEST_F(CopyMode, CopiedFileReopensForAppendingAndCreatedOneDoesNot) {
    write_file(in, concat({header_block(), bof(), number_cell(0, 0, 1), eof()}));
    ASSERT_EQ(wksopen(&h, in.c_str(), out.c_str()), &h);
    ASSERT_EQ(wksclose(&h), 0);
    wkscs();
    ASSERT_EQ(wksopen(&h, out.c_str(), out.c_str()), &h);
    ASSERT_EQ(wksclose(&h), 0);

    // A created file starts with its header block, which is no BOF record.
    const std::string created = dir.file("created.orx");
    const Bytes block = header_block(3);
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    ASSERT_EQ(wksopen(&h, "", created.c_str()), &h);
    ASSERT_EQ(wksclose(&h), 0);
    const Bytes before = read_file(created);
    EXPECT_EQ(wksopen(&h, created.c_str(), created.c_str()), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_NOT_ORX);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(read_file(created), before);
    expect_nothing_open();
}

// A range-name record is read within its own bytes: the name from its first
// 16 body bytes, the coordinates only when the record carries them.
TEST_F(CopyMode, RangeNameRecordsAreReadWithinTheirOwnBytes) {
    Bytes full_width(16, 'N');  // no terminator within the 16 name bytes
    for (int16_t v : {1, 2, 3, 4}) put16(full_width, static_cast<uint16_t>(v));
    const Bytes short_name = record(WKS_RANGE_NAME, Bytes{'S', 'H', 0, 0, 0, 0});
    // A long cell first leaves bytes in the buffer where a short record's
    // coordinates would be.
    const Bytes records = concat({bof(), number_cell(9, 9, 9), short_name, record(WKS_RANGE_NAME, full_width)});
    write_file(in, concat({header_block(), records, eof()}));

    ASSERT_EQ(wksopen(&h, in.c_str(), out.c_str()), &h);
    EXPECT_EQ(read_file(out), records);
    EXPECT_EQ(wkslr(file_number(h), "SH"), nullptr);
    WKS_NAME *n = wkslr(file_number(h), "NNNNNNNNNNNNNNNN");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(std::make_tuple(n->c1, n->r1, n->c2, n->r2), std::make_tuple(1, 2, 3, 4));
    ASSERT_EQ(wksclose(&h), 0);
}

// --- copy mode: failures ----------------------------------------------------

TEST_F(CopyMode, SameFileUnderTwoSpellingsIsRefusedAndLeftAlone) {
    const Bytes input = concat({header_block(), bof(), name_record("KEEP", 0, 0, 1, 1), eof()});
    write_file(in, input);
    for (const std::string &other : {dir.path() + "/./in.orx", dir.path() + "//in.orx"}) {
        h.error = 0;
        EXPECT_EQ(wksopen(&h, in.c_str(), other.c_str()), nullptr) << other;
        EXPECT_EQ(int(h.error), WKS_E_OPEN);
        EXPECT_EQ(int(h.fd), -1);
        EXPECT_EQ(read_file(in), input);
        EXPECT_EQ(wksopen(&h, other.c_str(), in.c_str()), nullptr) << other;
        EXPECT_EQ(read_file(in), input);
    }
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(wksgf(), nullptr);
    expect_nothing_open();
}

TEST_F(CopyMode, OutputThatCannotBeCreatedFailsSilently) {
    const Bytes input = concat({header_block(), bof(), eof()});
    write_file(in, input);
    const std::string nowhere = dir.file("missing/out.orx");
    EXPECT_EQ(wksopen(&h, in.c_str(), nowhere.c_str()), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(get_orx_header(), nullptr);  // the input was never read
    EXPECT_EQ(read_file(in), input);
    expect_nothing_open();
}

TEST_F(CopyMode, InputThatCannotBeOpenedLeavesAnEmptyOutput) {
    write_file(out, Bytes{1, 2, 3});  // replaced before the input is tried
    EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
    ASSERT_TRUE(file_exists(out));
    EXPECT_TRUE(read_file(out).empty());
    expect_nothing_open();
}

TEST_F(CopyMode, InputThatCannotBeOpenedIsNoticedOncePerNameWhileOpenForAtatIsSet) {
    Open_for_atat = 1;
    h.error = 5;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr);
        EXPECT_EQ(int(h.error), 5);
        EXPECT_TRUE(file_exists(out));
    }
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), notice(in, "can not be opened."));
    expect_nothing_open();
}

TEST_F(CopyMode, InputWithoutHeaderBlockIsNotAnOrxFile) {
    write_file(in, concat({bof(), name_record("X", 0, 0, 0, 0), eof()}));
    h.error = 5;
    EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr);
    EXPECT_EQ(int(h.error), 5);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), "'" + in + "' is not an ORX file.");
    EXPECT_TRUE(read_file(out).empty());
    EXPECT_EQ(wksgf(), nullptr);
    expect_nothing_open();

    messages.clear();
    Open_for_atat = 1;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), notice(in, "is not an ORX file."));
    EXPECT_EQ(int(h.error), 5);
    expect_nothing_open();
}

TEST_F(CopyMode, BadFirstRecordFailsWithTheStreamsCodes) {
    struct Case {
        const char *what;
        Bytes after_header;
        int16_t code;
        bool shown;
    };
    Bytes bof_length_4;
    put16(bof_length_4, 1028);
    put16(bof_length_4, 0);
    const Case cases[] = {
        {"unreadable", Bytes{0, 0, 2}, WKS_E_READ, true},
        {"an EOF record", concat({eof(), eof()}), 0, false},
        {"version 1029", concat({bof(1029), eof()}), WKS_E_NOT_ORX, false},
        {"length 4", concat({record(WKS_BOF, bof_length_4), eof()}), WKS_E_NOT_ORX, false},
        {"a cell", concat({number_cell(0, 0, 1), eof()}), WKS_E_NOT_ORX, false},
    };
    for (int atat : {0, 1}) {
        Open_for_atat = static_cast<int16_t>(atat);
        for (const Case &c : cases) {
            write_file(in, concat({header_block(), c.after_header}));
            messages.clear();
            h.error = 5;
            EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr) << c.what;
            EXPECT_EQ(int(h.error), c.code) << c.what;
            if (c.shown) {
                ASSERT_EQ(messages.count(), 1u) << c.what;
                EXPECT_EQ(messages.last(), error_message(c.code));
            } else {
                EXPECT_EQ(messages.count(), 0u) << c.what;  // no notice either
            }
            EXPECT_TRUE(read_file(out).empty()) << c.what;
            expect_nothing_open();
        }
    }
}

TEST_F(CopyMode, RefusedNameStopsTheCopyWhereItStands) {
    const Bytes kept = concat({bof(), name_record("X", 1, 1, 1, 1), number_cell(0, 0, 1)});
    struct Case {
        const char *what;
        Bytes bad;
        int16_t code;
    };
    const Case cases[] = {
        {"duplicate", name_record("X", 2, 2, 2, 2, WKS_RANGE_NAME2), WKS_E_DUPLICATE_NAME},
        {"empty name", name_record("", 2, 2, 2, 2), WKS_E_INVALID_NAME},
        {"control character", name_record("\x01Y", 2, 2, 2, 2), WKS_E_INVALID_NAME},
    };
    for (const Case &c : cases) {
        wkscs();
        write_file(in, concat({header_block(), kept, c.bad, number_cell(1, 0, 2), eof()}));
        messages.clear();
        EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr) << c.what;
        EXPECT_EQ(int(h.error), 0) << c.what;
        ASSERT_EQ(messages.count(), 1u) << c.what;
        EXPECT_EQ(messages.last(), error_message(c.code));
        EXPECT_EQ(read_file(out), kept) << c.what << ": " << hex(read_file(out));
        WKS_NAME *first = wkslr(file_number(h), "X");  // registered before the failure
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->c1, 1);
        expect_nothing_open();
    }
}

TEST_F(CopyMode, UnreadableRecordStopsTheCopyAfterTheRecordsBeforeIt) {
    Bytes broken;
    put16(broken, WKS_NUMBER);
    put16(broken, 30);
    broken.insert(broken.end(), 5, 0xAA);  // 5 of 30 body bytes
    const Bytes kept = concat({bof(), name_record("R", 0, 0, 0, 0), number_cell(0, 0, 1)});
    write_file(in, concat({header_block(), kept, broken}));
    EXPECT_EQ(wksopen(&h, in.c_str(), out.c_str()), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_READ);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_READ));
    EXPECT_EQ(read_file(out), kept);
    EXPECT_NE(wkslr(file_number(h), "R"), nullptr);
    expect_nothing_open();
}

// --- append mode ------------------------------------------------------------

TEST_F(AppendMode, RecordsWrittenReplaceTheEofRecord) {
    const Bytes records = concat({bof(1030), name_record("TOTAL", 3, 0, 3, 9), number_cell(0, 0, 1)});
    const std::string path = dir.file("sheet.orx");
    write_file(path, concat({records, eof()}));

    ASSERT_EQ(wksopen(&h, path.c_str(), path.c_str()), &h);
    EXPECT_EQ(int(h.error), 0);
    EXPECT_EQ(h.mode, 'w');
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(::lseek(h.fd, 0, SEEK_CUR), static_cast<off_t>(records.size()));
    WKS_NAME *n = wkslr(file_number(h), "TOTAL");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(std::make_tuple(n->c1, n->r1, n->c2, n->r2), std::make_tuple(3, 0, 3, 9));

    const Bytes extra = number_cell(1, 0, 2);
    ASSERT_EQ(write(extra), 0);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(path), concat({records, extra, eof()}));
    expect_nothing_open();
}

// The position comes from where the scan met the EOF record, so a file
// whose end is not a 4-byte EOF record loses no bytes of its records.
TEST_F(AppendMode, WritingStartsWhereTheEofRecordStarts) {
    const Bytes records = concat({bof(), number_cell(0, 0, 1)});
    const Bytes extra = number_cell(0, 1, 2);
    const std::string path = dir.file("sheet.orx");
    const Bytes endings[] = {Bytes{1, 0}, concat({eof(), Bytes{'t', 'a', 'i', 'l', '!', '!'}})};
    for (const Bytes &ending : endings) {
        write_file(path, concat({records, ending}));
        ASSERT_EQ(wksopen(&h, path.c_str(), path.c_str()), &h) << hex(ending);
        EXPECT_EQ(::lseek(h.fd, 0, SEEK_CUR), static_cast<off_t>(records.size()));
        ASSERT_EQ(write(extra), 0);
        ASSERT_EQ(wksclose(&h), 0);
        EXPECT_EQ(read_file(path), concat({records, extra, eof()})) << hex(ending);
    }
    expect_nothing_open();
}

TEST_F(AppendMode, MissingFileIsNotCreated) {
    const std::string path = dir.file("none.orx");
    Open_for_atat = 1;  // no notice in append mode
    EXPECT_EQ(wksopen(&h, path.c_str(), path.c_str()), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_FALSE(file_exists(path));
    expect_nothing_open();
}

TEST_F(AppendMode, FailuresCloseTheFileAndLeaveItUnchanged) {
    Bytes broken;
    put16(broken, WKS_LABEL);
    put16(broken, 40);
    broken.insert(broken.end(), 3, 'x');
    struct Case {
        const char *what;
        Bytes file;
        int16_t code;
        bool shown;
    };
    const Case cases[] = {
        {"header block first", concat({header_block(), bof(), eof()}), WKS_E_NOT_ORX, false},
        {"first record unreadable", Bytes{0, 0, 2}, WKS_E_READ, true},
        {"EOF record first", concat({eof(), eof()}), 0, false},
        {"bad BOF version", concat({bof(1), eof()}), WKS_E_NOT_ORX, false},
        {"record unreadable", concat({bof(), number_cell(0, 0, 1), broken}), WKS_E_READ, true},
    };
    const std::string path = dir.file("sheet.orx");
    for (const Case &c : cases) {
        write_file(path, c.file);
        messages.clear();
        h.error = 5;
        EXPECT_EQ(wksopen(&h, path.c_str(), path.c_str()), nullptr) << c.what;
        EXPECT_EQ(int(h.error), c.code) << c.what;
        EXPECT_EQ(messages.count(), c.shown ? 1u : 0u) << c.what;
        if (c.shown) {
            EXPECT_EQ(messages.last(), error_message(c.code));
        }
        EXPECT_EQ(read_file(path), c.file) << c.what;
        expect_nothing_open();
    }
}

TEST_F(AppendMode, RefusedNameFailsTheOpeningAndKeepsEarlierNames) {
    const std::string path = dir.file("sheet.orx");
    const Bytes file = concat({bof(), name_record("A1", 0, 0, 0, 0), name_record("B1", 1, 1, 1, 1),
                               name_record("A1", 2, 2, 2, 2), eof()});
    write_file(path, file);
    EXPECT_EQ(wksopen(&h, path.c_str(), path.c_str()), nullptr);
    EXPECT_EQ(int(h.error), 0);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_DUPLICATE_NAME));
    EXPECT_EQ(wkslr(file_number(h), "A1")->c1, 0);
    EXPECT_NE(wkslr(file_number(h), "B1"), nullptr);
    EXPECT_EQ(read_file(path), file);
    expect_nothing_open();
}

}  // namespace

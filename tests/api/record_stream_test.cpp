// The ORX record stream as a host sees it: opening for reading and by
// creating, reading records and cells, writing, closing.
#include "support/test_support.h"

#include <cstring>

using namespace wkstest;

namespace {

class RecordStream : public LibraryTest {
protected:
    // Writes header block + records to a file and returns its path.
    std::string orx_file(const Bytes &records, const std::string &name = "t.orx") {
        std::string path = dir.file(name);
        write_file(path, concat({header_block(), records}));
        return path;
    }
    WKS h = blank_handle();
};

Bytes cell(uint16_t type, int16_t col, int16_t row) {
    Bytes value;
    put16(value, 7);
    return record(type, orx_cell_body(0xFF, col, row, value));
}

uint16_t type_of(const WKS &h) { return static_cast<uint16_t>(h.rec.type[0] | h.rec.type[1] << 8); }
uint16_t length_of(const WKS &h) { return static_cast<uint16_t>(h.rec.length[0] | h.rec.length[1] << 8); }

TEST_F(RecordStream, BothPathsEmptyFailsSilentlyWith37) {
    h.fd = 1234;
    EXPECT_EQ(wksopen(&h, "", ""), nullptr);
    EXPECT_EQ(+h.error, WKS_E_NO_PATHS);
    EXPECT_EQ(+h.fd, 1234) << "nothing else in the handle changes";
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RecordStream, EmptyWorksheetOpensAndEndsAtOnce) {
    std::string path = orx_file(concat({bof(1030), eof()}));
    ASSERT_EQ(wksopen(&h, path.c_str(), ""), &h);
    EXPECT_EQ(+h.error, 0);
    EXPECT_EQ(+h.mode, 'r');
    EXPECT_EQ(type_of(h), 0) << "the BOF record is current after the open";
    EXPECT_EQ(wksnextr(&h), -1);
    EXPECT_EQ(wksnextc(&h), -1);
    EXPECT_EQ(wksnextc(&h), -1) << "again at the end, without reading";
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RecordStream, DeliversEveryRecordWholeAndInOrder) {
    Bytes a(1, 0xAA), b(300, 0xBB), c(WKS_MAX_READ_BODY, 0xCC), d;
    std::string path = orx_file(concat({bof(), record(20, a), record(21, b), record(22, c), record(23, d), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    for (const auto &[type, body] : {std::pair{20, a}, {21, b}, {22, c}, {23, d}}) {
        ASSERT_EQ(wksnextr(&h), 0) << "type " << type;
        EXPECT_EQ(type_of(h), type);
        ASSERT_EQ(length_of(h), body.size());
        EXPECT_EQ(Bytes(h.rec.body, h.rec.body + body.size()), body) << "type " << type;
        EXPECT_EQ(+h.carried, 4);
        EXPECT_EQ(+h.cursor, h.rec.body + body.size()) << "cursor on the next record's header";
    }
    EXPECT_EQ(wksnextr(&h), -1);
    EXPECT_EQ(wksclose(&h), 0);
}

TEST_F(RecordStream, BodyLongerThanTheReadableMaximumIsAReadError) {
    std::string path = orx_file(concat({bof(), record(20, Bytes(WKS_MAX_READ_BODY + 1, 1)), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksnextr(&h), WKS_E_READ);
    EXPECT_EQ(+h.error, WKS_E_READ);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_READ)});
    EXPECT_EQ(wksclose(&h), 0);
}

TEST_F(RecordStream, HugeRecordIsSkippedOnDiskButStillAnError) {
    std::string path = orx_file(concat({bof(), record(20, Bytes(9000, 1)), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksnextr(&h), WKS_E_READ);
    // The handle no longer describes a place inside its buffer: reading on
    // must not touch memory outside it.
    EXPECT_EQ(wksnextr(&h), WKS_E_READ);
    EXPECT_EQ(wksclose(&h), 0);
}

TEST_F(RecordStream, FirstRecordEofFailsWithCodeZeroAndNoMessage) {
    std::string path = orx_file(eof());
    h.error = 99;
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, 0);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RecordStream, FinalEofCutShortAfterItsTypeIsAccepted) {
    std::string path = orx_file(concat({bof(), Bytes{0x01, 0x00}}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksnextr(&h), -1);
    EXPECT_EQ(messages.count(), 0u);
    wksclose(&h);
}

TEST_F(RecordStream, FileEndingWithoutEofGivesReadErrorOnTheLastRecord) {
    std::string path = orx_file(concat({bof(), cell(14, 0, 0)}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksnextr(&h), WKS_E_READ);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_READ)});
    wksclose(&h);
}

TEST_F(RecordStream, FileWithHeaderOnlyIsAReadErrorWhateverTheHandleHeld) {
    std::string path = orx_file({});
    h.rec.type[0] = 1;  // stale bytes of an EOF record must not make this look like one
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, WKS_E_READ);
}

TEST_F(RecordStream, InvalidBofIsNotAnOrxFile) {
    for (const Bytes &first : {bof(1029), record(0, Bytes{4, 4, 0, 0}), record(2, Bytes{4, 4})}) {
        std::string path = orx_file(concat({first, eof()}));
        WKS handle = blank_handle();
        EXPECT_EQ(wksopen(&handle, path.c_str(), ""), nullptr) << hex(first);
        EXPECT_EQ(+handle.error, WKS_E_NOT_ORX);
    }
    EXPECT_EQ(messages.count(), 0u) << "39 is silent";
}

TEST_F(RecordStream, BothBofVersionsOpen) {
    for (uint16_t version : {1028, 1030}) {
        std::string path = orx_file(concat({bof(version), eof()}));
        WKS handle = blank_handle();
        ASSERT_NE(wksopen(&handle, path.c_str(), ""), nullptr) << version;
        wksclose(&handle);
    }
}

TEST_F(RecordStream, MissingFileFailsSilentlyWith38) {
    EXPECT_EQ(wksopen(&h, dir.file("absent.orx").c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RecordStream, WrongHeaderBlockIsShownAsNotAnOrxFile) {
    std::string path = dir.file("plain.wk1");
    write_file(path, concat({bof(), eof()}));
    h.error = 5;
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, 5) << "error code left as it was";
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"'" + path + "' is not an ORX file."});
}

TEST_F(RecordStream, MissingFileNoticesWhileOpenForAtatIsSet) {
    Open_for_atat = 1;
    std::string path = dir.file("gone.orx");
    h.error = 3;
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, 3);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(),
              "File '" + path + "' cannot be opened.\n\nProcess will continue but the results may be incorrect.");
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(messages.count(), 1u) << "once per file name";
}

TEST_F(RecordStream, NotOrxNoticesWhileOpenForAtatIsSet) {
    Open_for_atat = 1;
    std::string bad_header = dir.file("a.orx"), bad_bof = orx_file(concat({bof(7), eof()}), "b.orx");
    write_file(bad_header, concat({bof(), eof()}));
    h.error = 2;
    EXPECT_EQ(wksopen(&h, bad_header.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, 2) << "the notice replaces the error code";
    EXPECT_EQ(wksopen(&h, bad_bof.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, 0) << "as the good read of the first record left it";
    const std::string tail = " is not an ORX file.\n\nProcess will continue but the results may be incorrect.";
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"File '" + bad_header + "'" + tail, "File '" + bad_bof + "'" + tail}));
}

TEST_F(RecordStream, CellsAreDeliveredInRowMajorOrderOnly) {
    std::string path = orx_file(concat({bof(), cell(14, 5, 3), record(24, Bytes(3, 0)), cell(13, 2, 4),
                                        cell(15, 2, 4), cell(12, 0, 0), cell(16, 1, 4), cell(51, 3, 4),
                                        eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksnextc(&h), 0);
    EXPECT_EQ(type_of(h), 14);
    EXPECT_EQ(wksnextc(&h), 0) << "records of other types between cells change nothing";
    EXPECT_EQ(type_of(h), 13);
    EXPECT_EQ(wksnextc(&h), 0) << "the same position twice passes";
    EXPECT_EQ(wksnextc(&h), WKS_E_UNSORTED) << "blank cells are passed over; column 1 after column 2 in row 4";
    EXPECT_EQ(type_of(h), 16);
    EXPECT_EQ(messages.count(), 0u) << "36 is silent";
    EXPECT_EQ(wksnextc(&h), 0) << "the next cell is compared with the out-of-order one";
    EXPECT_EQ(type_of(h), 51);
    EXPECT_EQ(wksnextc(&h), -1);
    EXPECT_EQ(+h.error, 0);
    wksclose(&h);
}

TEST_F(RecordStream, EarlierRowAfterLaterRowIsOutOfOrder) {
    std::string path = orx_file(concat({bof(), cell(14, 5, 3), cell(14, 4, 3), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksnextc(&h), 0);
    EXPECT_EQ(wksnextc(&h), WKS_E_UNSORTED);
    EXPECT_EQ(+h.error, WKS_E_UNSORTED);
    wksclose(&h);
}

TEST_F(RecordStream, ForeignCursorOrCountIsRefusedWithoutReading) {
    std::string path = orx_file(concat({bof(), record(20, Bytes(4, 9)), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    unsigned char *good = h.cursor;
    for (auto corrupt : std::vector<std::pair<unsigned char *, int16_t>>{
             {nullptr, 4}, {h.rec.body + WKS_BODY_SIZE - 3, 4}, {good, 5}, {good, -3}, {good - 100, 4}}) {
        h.cursor = corrupt.first;
        h.carried = corrupt.second;
        messages.clear();
        EXPECT_EQ(wksnextr(&h), WKS_E_READ);
        EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_READ)});
    }
    h.cursor = good;
    h.carried = 4;
    ASSERT_EQ(wksnextr(&h), 0) << "nothing was read by the refused calls";
    EXPECT_EQ(type_of(h), 20);
    wksclose(&h);
}

// What a stream delivers, call by call, until it stops: results, error
// codes, records, read-ahead state and messages, with or without reading
// ahead in blocks of `ahead` bytes.
std::string trace(const std::string &path, bool orx, bool cells, int32_t ahead, MessageCapture &messages) {
    messages.clear();
    WKS h = blank_handle();
    if (!(orx ? wksopen(&h, path.c_str(), "") : wksopen_wk1(&h, path.c_str(), ""))) return "not opened";
    std::string out;
    if (ahead) {
        EXPECT_EQ(wks_read_ahead(&h, ahead), 0);
    }
    for (int16_t got = 0; got == 0 || got == WKS_E_UNSORTED;) {
        got = cells ? wksnextc(&h) : orx ? wksnextr(&h) : wksnextr_wk1(&h);
        const uint16_t length = length_of(h) <= WKS_BODY_SIZE ? length_of(h) : 0;
        out += std::to_string(got) + "/" + std::to_string(h.error) + " " + std::to_string(type_of(h)) + ":" +
               hex(Bytes(h.rec.body, h.rec.body + length)) + " +" + std::to_string(h.carried) + "@" +
               std::to_string(h.cursor - h.rec.body) + "\n";
    }
    for (const std::string &m : messages.texts()) out += m + "\n";
    EXPECT_EQ(orx ? wksclose(&h) : wksclose_wk1(&h), 0);
    return out;
}

// Reading ahead in blocks gives what one read call per record gives, for
// well-formed and damaged files, in both formats, cell by cell too.
TEST_F(RecordStream, ReadingAheadDeliversWhatTheRecordStreamDelivers) {
    Bytes many;  // records of every size up to the largest, across many blocks
    for (int i = 0; i < 120; ++i) many = concat({many, record(20, Bytes((i * 97) % (WKS_MAX_READ_BODY + 1), i))});
    const Bytes cells = concat({cell(14, 5, 3), cell(13, 2, 4), cell(16, 1, 4), cell(51, 3, 4)});
    const struct {
        Bytes records;
        bool cells;
    } cases[] = {
        {concat({bof(), many, eof()}), false},
        {concat({bof(), cells, many, eof()}), true},
        {concat({bof(), many, Bytes{0x01, 0x00}}), false},
        {concat({bof(), many}), false},
        {concat({bof(), many, Bytes{0x01}}), false},
        {concat({bof(), many, record(20, Bytes(WKS_MAX_READ_BODY + 1, 1)), eof()}), false},
        {concat({bof(), record(20, Bytes(9000, 1)), many, eof()}), false},
    };
    for (const bool orx : {true, false}) {
        for (const auto &c : cases) {
            const std::string path = dir.file("ahead");
            write_file(path, orx ? concat({header_block(), c.records}) : c.records);
            const std::string plain = trace(path, orx, c.cells, 0, messages);
            for (const int32_t block : {1, 4096, 100000}) {
                EXPECT_EQ(trace(path, orx, c.cells, block, messages), plain)
                    << (orx ? "ORX, " : "WK1, ") << c.records.size() << " bytes, blocks of " << block;
            }
        }
    }
}

// Reading ahead is for handles open for reading: others are refused with
// 38, a second request changes nothing, and a full table is 42; each
// refused handle reads on as before.
TEST_F(RecordStream, ReadingAheadIsRefusedWhereItCannotBe) {
    EXPECT_EQ(wks_read_ahead(nullptr, 4096), WKS_E_OPEN);
    ASSERT_NE(wksopen(&h, "", dir.file("new.orx").c_str()), nullptr);
    EXPECT_EQ(wks_read_ahead(&h, 4096), WKS_E_OPEN);
    EXPECT_EQ(+h.error, WKS_E_OPEN);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(wks_read_ahead(&h, 4096), WKS_E_OPEN) << "closed";

    const std::string path = orx_file(concat({bof(), cell(14, 0, 0), eof()}));
    std::vector<WKS> handles(WKS_READ_AHEAD_MAX + 1, blank_handle());
    for (WKS &r : handles) {
        ASSERT_NE(wksopen(&r, path.c_str(), ""), nullptr);
        const int16_t want = &r == &handles.back() ? WKS_E_NO_FORMULA_MEMORY : 0;
        EXPECT_EQ(wks_read_ahead(&r, 4096), want);
        EXPECT_EQ(wks_read_ahead(&r, 4096), want) << "again";
    }
    for (WKS &r : handles) {
        EXPECT_EQ(wksnextr(&r), 0);
        EXPECT_EQ(wksnextr(&r), -1);
        EXPECT_EQ(wksclose(&r), 0);
    }
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RecordStream, CreateWritesWaitingHeaderBlockAndBof) {
    Bytes block = header_block(42);
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    std::string path = dir.file("new.orx");
    ASSERT_EQ(wksopen(&h, "", path.c_str()), &h);
    EXPECT_EQ(+h.mode, 'w');
    EXPECT_EQ(+h.error, 0);
    EXPECT_EQ(get_orx_header(), nullptr) << "the block was written and released";
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(path), concat({block, bof(1030), eof()}));
}

TEST_F(RecordStream, CreateWithoutWaitingBlockStartsWithTheBof) {
    std::string path = dir.file("bare.dat");
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(path), concat({bof(1028), eof()}));
}

TEST_F(RecordStream, CreateChoosesTheVersionFromTheExtension) {
    const std::pair<const char *, uint16_t> cases[] = {
        {"a.ORX", 1030}, {"b.orx", 1030}, {"c.oRx", 1030}, {"d.wk1", 1028}, {"noext", 1028},
        {"e.orx.bak", 1028}, {"f.or", 1028}, {"g.orxx", 1028}};
    for (const auto &[name, version] : cases) {
        std::string path = dir.file(name);
        WKS handle = blank_handle();
        ASSERT_NE(wksopen(&handle, "", path.c_str()), nullptr) << name;
        wksclose(&handle);
        EXPECT_EQ(read_file(path), concat({bof(version), eof()})) << name;
    }
}

TEST_F(RecordStream, CreateReplacesAnExistingFile) {
    std::string path = dir.file("old.orx");
    write_file(path, Bytes(5000, 0x55));
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    wksclose(&h);
    EXPECT_EQ(read_file(path), concat({bof(1030), eof()}));
}

TEST_F(RecordStream, CreateInMissingDirectoryFailsSilentlyWith38) {
    EXPECT_EQ(wksopen(&h, "", dir.file("no/such/dir.orx").c_str()), nullptr);
    EXPECT_EQ(+h.error, WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(RecordStream, WrittenRecordsReadBack) {
    std::string path = dir.file("rt.orx");
    ASSERT_EQ(SetOrxHeader(header_block().data()), 1);
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    for (uint16_t len : {0, 1, 100, WKS_MAX_READ_BODY}) {
        wksni(h.rec.type, 30);
        wksni(h.rec.length, static_cast<int16_t>(len));
        std::memset(h.rec.body, len & 0xFF, len);
        ASSERT_EQ(wkswrec(&h), 0);
    }
    ASSERT_EQ(wksclose(&h), 0);
    WKS r = blank_handle();
    ASSERT_NE(wksopen(&r, path.c_str(), ""), nullptr);
    for (uint16_t len : {0, 1, 100, WKS_MAX_READ_BODY}) {
        ASSERT_EQ(wksnextr(&r), 0);
        EXPECT_EQ(length_of(r), len);
        EXPECT_EQ(Bytes(r.rec.body, r.rec.body + len), Bytes(len, static_cast<uint8_t>(len & 0xFF)));
    }
    EXPECT_EQ(wksnextr(&r), -1);
    wksclose(&r);
}

TEST_F(RecordStream, WriteOfEmptyBodyIsFourBytes) {
    std::string path = dir.file("w.dat");
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    wksni(h.rec.type, 9);
    wksni(h.rec.length, 0);
    EXPECT_EQ(wkswrec(&h), 0);
    h.mode = 'r';  // close without the EOF record
    wksclose(&h);
    EXPECT_EQ(read_file(path), concat({bof(), Bytes{9, 0, 0, 0}}));
}

TEST_F(RecordStream, WriteLongerThanTheBodyAreaWritesNothing) {
    std::string path = dir.file("w.dat");
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    wksni(h.rec.type, 9);
    wksni(h.rec.length, WKS_BODY_SIZE);
    EXPECT_EQ(wkswrec(&h), 0) << "the whole body area may be written";
    wksni(h.rec.length, WKS_BODY_SIZE + 1);
    EXPECT_EQ(wkswrec(&h), WKS_E_WRITE);
    EXPECT_EQ(+h.error, WKS_E_WRITE);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_WRITE)});
    wksni(h.rec.length, -1);
    EXPECT_EQ(wkswrec(&h), WKS_E_WRITE);
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(path).size(), 6u + 4 + WKS_BODY_SIZE + 4);
}

TEST_F(RecordStream, ClosingAReadHandleWritesNothing) {
    std::string path = orx_file(concat({bof(), eof()}));
    Bytes before = read_file(path);
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(path), before);
}

TEST_F(RecordStream, SecondCloseFailsWith25) {
    std::string path = orx_file(concat({bof(), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(wksclose(&h), WKS_E_CLOSE);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_CLOSE)});
}

TEST_F(RecordStream, OpenCloseProbe) {
    std::string good = orx_file(concat({bof(), eof()}));
    EXPECT_EQ(wks_open_close(good.c_str()), 1);
    EXPECT_NE(get_orx_header(), nullptr) << "in load mode the header block stays waiting";
    EXPECT_EQ(wks_open_close(dir.file("missing").c_str()), 0);
    EXPECT_EQ(messages.count(), 0u);
}

// A host's null pointer is refused with the code the function gives for its
// kind of failure, shown as that failure is, and never followed.
TEST_F(RecordStream, NullPointersAreRefusedNotFollowed) {
    const struct {
        const char *call;
        int16_t (*run)();
        int16_t result;
    } cases[] = {
        {"wksnextr", [] { return wksnextr(nullptr); }, WKS_E_READ},
        {"wksnextc", [] { return wksnextc(nullptr); }, WKS_E_READ},
        {"wksnextr_wk1", [] { return wksnextr_wk1(nullptr); }, WKS_E_READ},
        {"wkswrec", [] { return wkswrec(nullptr); }, WKS_E_WRITE},
        {"wkswrec_wk1", [] { return wkswrec_wk1(nullptr); }, WKS_E_WRITE},
        {"wksclose", [] { return wksclose(nullptr); }, WKS_E_CLOSE},
        {"wksclose_wk1", [] { return wksclose_wk1(nullptr); }, WKS_E_CLOSE},
        {"wksform", [] { return wksform(nullptr, ' ', 0, 0, "1"); }, WKS_E_CODE_SPACE},
    };
    for (const auto &c : cases) {
        messages.clear();
        EXPECT_EQ(c.run(), c.result) << c.call;
        EXPECT_EQ(messages.last(), error_message(c.result)) << c.call;
    }
    wksni(nullptr, 1);
    wksdi(nullptr, 1.0);
    EXPECT_EQ(wksid(nullptr), 0.0);
    Open_for_atat = 1;
    messages.clear();
    EXPECT_EQ(in_file_list(nullptr), 1);
    EXPECT_EQ(msg_for_atat(nullptr, "cannot be opened."), 1);
    EXPECT_EQ(messages.count(), 0u) << "no name to give notice of";
    Open_for_atat = 0;
}

TEST(FieldHelpers, LittleEndianAtAnyAlignment) {
    unsigned char buf[11] = {};
    wksni(buf + 1, -2);
    EXPECT_EQ(buf[1], 0xFE);
    EXPECT_EQ(buf[2], 0xFF);
    wksni(buf + 1, 0x1234);
    EXPECT_EQ(buf[1], 0x34);
    EXPECT_EQ(buf[2], 0x12);
    wksdi(buf + 3, 1.0);
    EXPECT_EQ(hex(buf + 3, 8), "00 00 00 00 00 00 F0 3F");
    for (double v : {0.0, -0.5, 3.14159265358979, 1e300, -1e-300}) {
        wksdi(buf + 3, v);
        EXPECT_EQ(wksid(buf + 3), v);
    }
}

}  // namespace

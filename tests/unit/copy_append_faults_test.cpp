// The copy and append openings when the platform fails them: writes,
// closes, seeks and allocations, and the header block in convert mode.
#include "names/names.h"
#include "platform/fault.h"
#include "support/test_support.h"
#include "wks/header.h"

#include <cstdint>
#include <string>

namespace plat = wks::plat;

using namespace wkstest;

namespace {

class OpeningFaults : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        descriptors = open_descriptor_count();
    }
    void TearDown() override {
        plat::clear_faults();
        LibraryTest::TearDown();
    }
    void expect_nothing_open() { EXPECT_EQ(open_descriptor_count(), descriptors); }
    WKS *copy() { return wksopen(&h, in.c_str(), out.c_str()); }
    WKS *append() { return wksopen(&h, out.c_str(), out.c_str()); }
    int32_t file() const { return wks::names::file_number_of(&h); }

    WKS h = blank_handle();
    int descriptors = 0;
    std::string in = dir.file("in.orx");
    std::string out = dir.file("out.orx");
    const Bytes first = concat({bof(), name_record("N1", 0, 0, 0, 0)});
    const Bytes rest = concat({label_cell(0, 0, "a"), name_record("N2", 1, 1, 1, 1)});
};

TEST_F(OpeningFaults, CopyStopsAtARecordThatCannotBeWritten) {
    write_file(in, concat({header_block(), first, rest, eof()}));
    plat::fail_nth(plat::Op::Write, 3);  // BOF, N1, then the label cell
    EXPECT_EQ(copy(), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_WRITE);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_WRITE));
    EXPECT_EQ(read_file(out), first);
    EXPECT_NE(wkslr(file(), "N1"), nullptr);
    EXPECT_EQ(wkslr(file(), "N2"), nullptr);
    expect_nothing_open();
}

TEST_F(OpeningFaults, CopyWhoseInputCannotBeClosedFailsSilently) {
    const Bytes records = concat({first, rest});
    write_file(in, concat({header_block(), records, eof()}));
    plat::fail_nth(plat::Op::Close, 1);
    EXPECT_EQ(copy(), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_CLOSE_INPUT);
    EXPECT_EQ(int(h.fd), -1);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(read_file(out), records);
    EXPECT_NE(wkslr(file(), "N2"), nullptr);
    expect_nothing_open();
}

TEST_F(OpeningFaults, CopyOutputThatCannotBeCreatedOpensNothing) {
    write_file(in, concat({header_block(), first, eof()}));
    plat::fail_nth(plat::Op::Open, 1);
    EXPECT_EQ(copy(), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(get_orx_header(), nullptr);
    EXPECT_EQ(wksgf(), nullptr);
    expect_nothing_open();
}

TEST_F(OpeningFaults, CopyInputHeaderBlockInConvertModeIsRefusedSilently) {
    write_file(in, concat({first, eof()}));
    wks::header::set_mode(wks::header::kConvert);
    h.error = 5;
    EXPECT_EQ(copy(), nullptr);
    EXPECT_EQ(int(h.error), 5);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_TRUE(read_file(out).empty());
    expect_nothing_open();
}

TEST_F(OpeningFaults, CopyInConvertModeLeavesTheHostBufferAlone) {
    write_file(in, concat({header_block(), first, eof()}));
    wks::header::set_mode(wks::header::kConvert);
    ASSERT_EQ(copy(), &h);
    EXPECT_EQ(get_orx_header(), nullptr);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(out), concat({first, eof()}));
}

TEST_F(OpeningFaults, CopyWithNoMemoryForTheHeaderBlock) {
    write_file(in, concat({header_block(), first, eof()}));
    h.error = 5;
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(copy(), nullptr);
    EXPECT_EQ(int(h.error), 5);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), "Out of Memory!!!");
    EXPECT_TRUE(read_file(out).empty());
    expect_nothing_open();
}

TEST_F(OpeningFaults, NoMemoryForANameFailsBothOpenings) {
    write_file(in, concat({header_block(), first, rest, eof()}));
    // Load mode: the header block, then N1's node and name copy, then N2's node.
    plat::fail_nth(plat::Op::Alloc, 4);
    EXPECT_EQ(copy(), nullptr);
    EXPECT_EQ(int(h.error), 0);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_NO_SYMBOL_MEMORY));
    EXPECT_EQ(read_file(out), concat({first, label_cell(0, 0, "a")}));
    EXPECT_NE(wkslr(file(), "N1"), nullptr);
    EXPECT_EQ(wkslr(file(), "N2"), nullptr);
    expect_nothing_open();

    wkscs();
    messages.clear();
    const Bytes file_bytes = concat({first, rest, eof()});
    write_file(out, file_bytes);
    plat::fail_nth(plat::Op::Alloc, 2);  // N1's name copy
    EXPECT_EQ(append(), nullptr);
    EXPECT_EQ(int(h.error), 0);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_NO_NAME_MEMORY));
    EXPECT_EQ(wksgf(), nullptr);
    EXPECT_EQ(read_file(out), file_bytes);
    expect_nothing_open();
}

TEST_F(OpeningFaults, AppendThatCannotPositionShowsCode41) {
    const Bytes file_bytes = concat({first, rest, eof()});
    write_file(out, file_bytes);
    plat::fail_nth(plat::Op::Seek, 1);
    EXPECT_EQ(append(), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_SEEK_END);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), "\n*** ORX error 41 - invalid error value\n");
    EXPECT_NE(wkslr(file(), "N2"), nullptr);  // registered during the scan
    EXPECT_EQ(read_file(out), file_bytes);
    expect_nothing_open();
}

TEST_F(OpeningFaults, AppendStopsAtAReadError) {
    const Bytes file_bytes = concat({first, rest, eof()});
    write_file(out, file_bytes);
    plat::fail_nth(plat::Op::Read, 3);  // BOF, N1, then the label cell
    EXPECT_EQ(append(), nullptr);
    EXPECT_EQ(int(h.error), WKS_E_READ);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.last(), error_message(WKS_E_READ));
    EXPECT_NE(wkslr(file(), "N1"), nullptr);
    EXPECT_EQ(read_file(out), file_bytes);
    expect_nothing_open();
}

}  // namespace

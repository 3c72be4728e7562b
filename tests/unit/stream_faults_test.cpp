// Failures of the platform underneath the record stream, the header block
// and the notices: each is reported with its code and message, and leaves
// files and buffers as the failure table says.
#include "platform/fault.h"
#include "support/test_support.h"
#include "wks/header.h"

namespace plat = wks::plat;

using namespace wkstest;

namespace {

class Faults : public LibraryTest {
protected:
    void TearDown() override {
        plat::clear_faults();
        LibraryTest::TearDown();
    }
    std::string orx(const Bytes &records) {
        std::string path = dir.file("in.orx");
        write_file(path, concat({header_block(), records}));
        return path;
    }
    WKS h = blank_handle();
};

TEST_F(Faults, NoMemoryForTheHeaderBlock) {
    std::string path = orx(concat({bof(), eof()}));
    h.error = 4;
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, 4);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Out of Memory!!!"});
    EXPECT_EQ(get_orx_header(), nullptr);
    set_open_for_load(0);
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr) << "the probe needs its buffer too";
    EXPECT_EQ(messages.count(), 2u);
}

TEST_F(Faults, NoMemoryForAHostBlock) {
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(SetOrxHeader(header_block().data()), 0);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Out of Memory!!!"});
    EXPECT_EQ(get_orx_header(), nullptr);
}

TEST_F(Faults, NoMemoryToRecordAMissingFileSuppressesTheNotice) {
    Open_for_atat = 1;
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(msg_for_atat("x.orx", "cannot be opened."), 1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Out of Memory!!!"});
    EXPECT_EQ(in_file_list("x.orx"), 0) << "the name was not recorded";
}

TEST_F(Faults, ReadErrorOnARecord) {
    std::string path = orx(concat({bof(), record(20, Bytes(3, 1)), eof()}));
    for (const bool ahead : {false, true}) {
        messages.clear();
        ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
        if (ahead) {
            ASSERT_EQ(wks_read_ahead(&h, 4096), 0);
        }
        plat::fail_nth(plat::Op::Read, 1);
        EXPECT_EQ(wksnextr(&h), WKS_E_READ);
        EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_READ)});
        EXPECT_EQ(wksclose(&h), 0);
    }
}

TEST_F(Faults, NoMemoryToReadAheadLeavesOneReadPerRecord) {
    std::string path = orx(concat({bof(), record(20, Bytes(3, 1)), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(wks_read_ahead(&h, 4096), WKS_E_NO_FORMULA_MEMORY);
    EXPECT_EQ(wksnextr(&h), 0);
    EXPECT_EQ(wksnextr(&h), -1);
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Faults, ReadErrorOnTheFirstRecordClosesTheFile) {
    std::string path = orx(concat({bof(), eof()}));
    plat::fail_nth(plat::Op::Read, 2);  // the header block reads, the BOF does not
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, WKS_E_READ);
    EXPECT_EQ(+h.fd, -1);
    EXPECT_NE(get_orx_header(), nullptr) << "the accepted block still waits";
}

TEST_F(Faults, HeaderBlockThatCannotBeWrittenFailsTheCreate) {
    Bytes block = header_block();
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wksopen(&h, "", dir.file("out.orx").c_str()), nullptr);
    EXPECT_EQ(+h.error, WKS_E_WRITE);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_WRITE)});
    ASSERT_NE(get_orx_header(), nullptr) << "the host's block is not lost";
    EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), block);
}

TEST_F(Faults, BofThatCannotBeWrittenFailsTheCreate) {
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wksopen(&h, "", dir.file("out.orx").c_str()), nullptr);
    EXPECT_EQ(+h.error, WKS_E_WRITE);
    EXPECT_EQ(+h.fd, -1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_WRITE)});
}

TEST_F(Faults, BofThatCannotBeWrittenKeepsTheHostsBlock) {
    // The block reached the file, the BOF record did not: the create failed,
    // and the host can try again with its block.
    Bytes block = header_block();
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    plat::fail_nth(plat::Op::Write, 2);
    EXPECT_EQ(wksopen(&h, "", dir.file("out.orx").c_str()), nullptr);
    EXPECT_EQ(+h.error, WKS_E_WRITE);
    ASSERT_NE(get_orx_header(), nullptr);
    EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), block);
    ASSERT_NE(wksopen(&h, "", dir.file("out.orx").c_str()), nullptr);
    EXPECT_EQ(get_orx_header(), nullptr) << "taken by the file once it is made";
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(dir.file("out.orx")), concat({block, bof(1030), eof()}));
}

TEST_F(Faults, FailedWriteOfARecord) {
    std::string path = dir.file("out.orx");
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    wksni(h.rec.type, 20);
    wksni(h.rec.length, 0);
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wkswrec(&h), WKS_E_WRITE);
    EXPECT_EQ(+h.error, WKS_E_WRITE);
    EXPECT_EQ(wkswrec(&h), 0);
    EXPECT_EQ(+h.error, 0);
    EXPECT_EQ(wksclose(&h), 0);
    EXPECT_EQ(read_file(path), concat({bof(1030), record(20, {}), eof()}));
}

TEST_F(Faults, EofRecordThatCannotBeWrittenKeepsTheFileOpen) {
    std::string path = dir.file("out.orx");
    ASSERT_NE(wksopen(&h, "", path.c_str()), nullptr);
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wksclose(&h), WKS_E_WRITE);
    EXPECT_NE(+h.fd, -1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_WRITE)});
    EXPECT_EQ(wksclose(&h), 0) << "a later close tries again";
    EXPECT_EQ(read_file(path), concat({bof(1030), eof()}));
}

TEST_F(Faults, CloseFailureIs25) {
    std::string path = orx(concat({bof(), eof()}));
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    plat::fail_nth(plat::Op::Close, 1);
    EXPECT_EQ(wksclose(&h), WKS_E_CLOSE);
    EXPECT_EQ(+h.error, WKS_E_CLOSE);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{error_message(WKS_E_CLOSE)});
}

TEST_F(Faults, WrongHeaderIsSilentInConvertMode) {
    std::string path = dir.file("plain.wk1");
    write_file(path, concat({bof(), eof()}));
    wks::header::set_mode(wks::header::kConvert);
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    Open_for_atat = 1;
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(Faults, ConvertModeReadsIntoTheLibrarysBufferNotTheHosts) {
    std::string path = orx(concat({bof(), eof()}));
    wks::header::set_mode(wks::header::kConvert);
    ASSERT_NE(wksopen(&h, path.c_str(), ""), nullptr);
    wksclose(&h);
    EXPECT_EQ(get_orx_header(), nullptr);
    std::string out = dir.file("copy.orx");
    ASSERT_NE(wksopen(&h, "", out.c_str()), nullptr) << "the converter block is written in convert mode";
    wksclose(&h);
    EXPECT_EQ(read_file(out), concat({header_block(), bof(1030), eof()}));
}

TEST_F(Faults, PreparedConverterBlockIsZerosAndMagic) {
    wks::header::set_mode(wks::header::kConvert);
    ASSERT_TRUE(wks::header::prepare_converter_block());
    std::string out = dir.file("c.orx");
    ASSERT_NE(wksopen(&h, "", out.c_str()), nullptr);
    wksclose(&h);
    EXPECT_EQ(read_file(out), concat({empty_header_block(), bof(1030), eof()}));
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_FALSE(wks::header::prepare_converter_block());
    EXPECT_EQ(messages.count(), 0u);
}

}  // namespace

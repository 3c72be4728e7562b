// Failures of the platform underneath WK1 access and the converters: a
// failed write, close, rename or allocation is reported, and a file being
// converted onto itself is never replaced by an incomplete result.
#include "platform/fault.h"
#include "support/test_support.h"

#include <filesystem>
#include <set>

namespace plat = wks::plat;

using namespace wkstest;

namespace {

class ConverterFaults : public LibraryTest {
protected:
    void TearDown() override {
        plat::clear_faults();
        plat::refuse_unnamed_files(false);
        LibraryTest::TearDown();
    }
    std::string path(const std::string &name) { return dir.file(name); }
    std::set<std::string> entries() {
        std::set<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir.path())) names.insert(e.path().filename().string());
        return names;
    }
    const Bytes wk1 = concat({bof(1030), record(WKS_LABEL, wk1_cell_body('\'', 0, 0, {'a', 0})),
                              record(WKS_LABEL, wk1_cell_body('\'', 1, 0, {'b', 0})), eof()});
    const Bytes orx = concat({header_block(), bof(1030), record(WKS_LABEL, orx_cell_body('\'', 0, 0, {'a', 0})),
                              record(WKS_LABEL, orx_cell_body('\'', 1, 0, {'b', 0})), eof()});
};

TEST_F(ConverterFaults, Wk1WriteAndCloseFailuresAreReported) {
    WKS h = blank_handle();
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wksopen_wk1(&h, "", path("a.wk1").c_str()), nullptr);
    EXPECT_EQ(+h.error, WKS_E_WRITE);
    ASSERT_TRUE(wksopen_wk1(&h, "", path("a.wk1").c_str()));
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wkswrec_wk1(&h), WKS_E_WRITE);
    plat::fail_nth(plat::Op::Write, 1);
    EXPECT_EQ(wksclose_wk1(&h), WKS_E_WRITE);  // the EOF record: still open, a later close tries again
    plat::fail_nth(plat::Op::Close, 1);
    EXPECT_EQ(wksclose_wk1(&h), WKS_E_CLOSE);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{error_message(WKS_E_WRITE), error_message(WKS_E_WRITE),
                                                          error_message(WKS_E_WRITE), error_message(WKS_E_CLOSE)}));
    EXPECT_EQ(read_file(path("a.wk1")), concat({bof(1030), eof()}));
}

TEST_F(ConverterFaults, NoMemoryForTheOutputHeaderBlock) {
    write_file(path("a.wk1"), wk1);
    plat::fail_nth(plat::Op::Alloc, 1);
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("b.orx").c_str()), WKS_CONVERT_NO_MEMORY);
    EXPECT_FALSE(file_exists(path("b.orx")));
}

TEST_F(ConverterFaults, AFailedWriteFailsTheConversionAndKeepsTheSource) {
    write_file(path("a.wk1"), wk1);
    write_file(path("b.orx"), orx);
    // Writes of wk1_to_orx: header block, BOF, then the records with the EOF
    // record in one block.
    for (int nth = 1; nth <= 3; ++nth) {
        plat::fail_nth(plat::Op::Write, nth);
        const int32_t want = nth <= 2 ? WKS_CONVERT_CREATE_FAILED : WKS_CONVERT_OUTPUT_FAILED;
        EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.wk1").c_str()), want) << nth;
        EXPECT_EQ(read_file(path("a.wk1")), wk1) << nth;
        plat::fail_nth(plat::Op::Write, nth);
        EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("c.orx").c_str()), want) << nth;
        plat::clear_faults();
    }
    // Writes of orx_to_wk1: BOF, then the block.
    for (int nth = 1; nth <= 2; ++nth) {
        plat::fail_nth(plat::Op::Write, nth);
        EXPECT_EQ(orx_to_wk1(path("b.orx").c_str(), path("b.orx").c_str()),
                  nth == 1 ? WKS_CONVERT_CREATE_FAILED : WKS_CONVERT_OUTPUT_FAILED)
            << nth;
        EXPECT_EQ(read_file(path("b.orx")), orx) << nth;
        plat::clear_faults();
    }
    EXPECT_EQ(entries(), (std::set<std::string>{"a.wk1", "b.orx"}));
}

TEST_F(ConverterFaults, AFailedRenameOrCloseKeepsTheSource) {
    write_file(path("a.wk1"), wk1);
    plat::fail_nth(plat::Op::Rename, 1);
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.wk1").c_str()), WKS_CONVERT_OUTPUT_FAILED);
    EXPECT_EQ(read_file(path("a.wk1")), wk1);
    // Closes: the source, then the output.
    plat::fail_nth(plat::Op::Close, 2);
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.wk1").c_str()), WKS_CONVERT_OUTPUT_FAILED);
    EXPECT_EQ(read_file(path("a.wk1")), wk1);
    EXPECT_EQ(entries(), std::set<std::string>{"a.wk1"});
    ASSERT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.wk1").c_str()), 0);
    EXPECT_EQ(is_orx_file(path("a.wk1").c_str()), 1);
}

TEST_F(ConverterFaults, ATemporaryFileThatCannotBeCreatedIsMinusOne) {
    write_file(path("a.wk1"), wk1);
    plat::refuse_unnamed_files(true);
    plat::fail_nth(plat::Op::Open, 2);  // the source opens, the temporary file does not
    EXPECT_EQ(wk1_to_orx(path("a.wk1").c_str(), path("a.wk1").c_str()), WKS_CONVERT_CREATE_FAILED);
    EXPECT_EQ(read_file(path("a.wk1")), wk1);
    EXPECT_EQ(entries(), std::set<std::string>{"a.wk1"});
}

TEST_F(ConverterFaults, CopyFileNoticesFailedReadsWritesAndCloses) {
    write_file(path("src"), Bytes(10000, 5));
    for (plat::Op op : {plat::Op::Read, plat::Op::Write}) {
        plat::fail_nth(op, 2);
        EXPECT_EQ(copy_file(path("src").c_str(), path("dst").c_str()), -1);
    }
    plat::fail_nth(plat::Op::Close, 1);  // the destination's close
    EXPECT_EQ(copy_file(path("src").c_str(), path("dst").c_str()), -1);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{error_message(WKS_E_READ), error_message(WKS_E_WRITE),
                                                          error_message(WKS_E_CLOSE)}));
    EXPECT_EQ(copy_file(path("src").c_str(), path("dst").c_str()), 0);
    EXPECT_EQ(read_file(path("dst")), Bytes(10000, 5));
}

}  // namespace

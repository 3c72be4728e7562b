// The header block: reading and checking it, the host's and the library's
// buffers, and the header mode.
#include "support/test_support.h"

using namespace wkstest;

namespace {

class HeaderBlock : public LibraryTest {
protected:
    // Descriptor of a file holding these bytes; closed by the fixture.
    int32_t fd_of(const Bytes &bytes) {
        std::string path = dir.file("h" + std::to_string(++count_));
        write_file(path, bytes);
        fds_.push_back(open_descriptor(path));
        return fds_.back();
    }
    void TearDown() override {
        for (int fd : fds_) close_descriptor(fd);
        LibraryTest::TearDown();
    }
    std::string orx(const Bytes &block) {
        std::string path = dir.file("f" + std::to_string(++count_) + ".orx");
        write_file(path, concat({block, bof(), eof()}));
        return path;
    }
    std::vector<int> fds_;
    int count_ = 0;
};

TEST_F(HeaderBlock, AcceptsOnlyBothMagicWordsInOrder) {
    Bytes good = header_block();
    Bytes swapped = good;
    std::swap(swapped[WKS_HEADER_SIZE - 4], swapped[WKS_HEADER_SIZE - 2]);  // the two magic words
    std::swap(swapped[WKS_HEADER_SIZE - 3], swapped[WKS_HEADER_SIZE - 1]);
    Bytes short_file(good.begin(), good.end() - 1);
    for (int flag : {1, 0}) {
        set_open_for_load(flag);
        EXPECT_EQ(read_header(fd_of(good)), 0);
        EXPECT_EQ(read_header(fd_of(swapped)), -1);
        EXPECT_EQ(read_header(fd_of(short_file)), -1);
        EXPECT_EQ(read_header(fd_of({})), -1);
        EXPECT_EQ(read_header_not_load(fd_of(good)), 0);
        EXPECT_EQ(read_header_not_load(fd_of(swapped)), -1);
    }
    EXPECT_EQ(messages.count(), 0u);
}

TEST_F(HeaderBlock, ReadLeavesTheDescriptorAtTheRecords) {
    int32_t fd = fd_of(concat({header_block(), bof()}));
    ASSERT_EQ(read_header(fd), 0);
    EXPECT_EQ(descriptor_position(fd), WKS_HEADER_SIZE);
}

TEST_F(HeaderBlock, LoadModeKeepsTheBlockForTheHostOnce) {
    Bytes block = header_block(3);
    ASSERT_EQ(read_header(fd_of(block)), 0);
    ASSERT_NE(get_orx_header(), nullptr);
    EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), block);
    Bytes taken(WKS_HEADER_SIZE);
    EXPECT_EQ(GetOrxHeader(taken.data()), 1);
    EXPECT_EQ(taken, block);
    EXPECT_EQ(GetOrxHeader(taken.data()), 0);
    EXPECT_EQ(get_orx_header(), nullptr);
}

TEST_F(HeaderBlock, AWrongBlockEmptiesTheBuffer) {
    ASSERT_EQ(read_header(fd_of(header_block())), 0);
    EXPECT_EQ(read_header(fd_of(Bytes(WKS_HEADER_SIZE, 0))), -1);
    EXPECT_EQ(get_orx_header(), nullptr);
}

TEST_F(HeaderBlock, ProbeModeOpensWithoutKeepingTheBlock) {
    set_open_for_load(0);
    WKS h = blank_handle();
    ASSERT_NE(wksopen(&h, orx(header_block()).c_str(), ""), nullptr);
    wksclose(&h);
    EXPECT_EQ(get_orx_header(), nullptr);
    set_open_for_load(5);  // any nonzero flag is load mode
    ASSERT_NE(wksopen(&h, orx(header_block(9)).c_str(), ""), nullptr);
    wksclose(&h);
    ASSERT_NE(get_orx_header(), nullptr);
    EXPECT_EQ(get_orx_header()[0], header_block(9)[0]);
}

TEST_F(HeaderBlock, OpeningReplacesAWaitingBlockAndKeepsItWhenTheFirstRecordFails) {
    ASSERT_EQ(SetOrxHeader(header_block(1).data()), 1);
    std::string path = dir.file("nobof.orx");
    Bytes block = header_block(2);
    write_file(path, concat({block, eof()}));
    WKS h = blank_handle();
    EXPECT_EQ(wksopen(&h, path.c_str(), ""), nullptr);
    ASSERT_NE(get_orx_header(), nullptr);
    EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), block);
}

TEST_F(HeaderBlock, SetStoresTheMagicWordsWhateverTheSourceHeld) {
    Bytes zeros(WKS_HEADER_SIZE, 0);
    ASSERT_EQ(SetOrxHeader(zeros.data()), 1);
    EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), empty_header_block());
    Bytes block = header_block(5);
    ASSERT_EQ(SetOrxHeader(block.data()), 1) << "a second set overwrites the waiting block";
    EXPECT_EQ(Bytes(get_orx_header(), get_orx_header() + WKS_HEADER_SIZE), block);
}

TEST_F(HeaderBlock, SaveWritesTheWaitingBlockOnce) {
    Bytes block = header_block(8);
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    int32_t fd = fd_of({});
    EXPECT_EQ(save_header(fd), 0);
    EXPECT_EQ(get_orx_header(), nullptr);
    EXPECT_EQ(save_header(fd), -1) << "nothing waits any more";
    EXPECT_EQ(read_file(dir.file("h1")), block);
}

TEST_F(HeaderBlock, SaveInProbeModeWritesNothing) {
    ASSERT_EQ(SetOrxHeader(header_block().data()), 1);
    set_open_for_load(0);
    int32_t fd = fd_of({});
    EXPECT_EQ(save_header(fd), -1);
    EXPECT_EQ(read_file(dir.file("h1")).size(), 0u);
    EXPECT_NE(get_orx_header(), nullptr);
}

TEST_F(HeaderBlock, CleanupDropsTheWaitingBlock) {
    ASSERT_EQ(SetOrxHeader(header_block().data()), 1);
    wks_cleanup();
    EXPECT_EQ(get_orx_header(), nullptr);
    wks_cleanup();
}

TEST_F(HeaderBlock, CompatibilityEntriesDoNothing) {
    int x = 0;
    EXPECT_EQ(get_header(&x, nullptr, &x, nullptr), 0);
    EXPECT_EQ(set_header(nullptr, &x, -1, 99), 0);
    EXPECT_EQ(x, 0);
}

}  // namespace

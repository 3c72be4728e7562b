// The platform layer's file-system calls, the same on every system: renaming
// onto an existing file, telling whether two paths name one file, and the
// byte-exact file calls.
#include "platform/platform.h"
#include "support/test_support.h"

namespace plat = wks::plat;

using namespace wkstest;

namespace {

using Platform = LibraryTest;

TEST_F(Platform, RenameReplacesAnExistingTarget) {
    std::string from = dir.file("new.tmp"), to = dir.file("old.orx");
    write_file(from, Bytes{1, 2, 3});
    write_file(to, Bytes(100, 9));
    ASSERT_EQ(plat::rename(from.c_str(), to.c_str()), 0);
    EXPECT_EQ(read_file(to), (Bytes{1, 2, 3}));
    EXPECT_FALSE(file_exists(from));
}

TEST_F(Platform, RenameOfAMissingFileFailsAndLeavesTheTarget) {
    std::string to = dir.file("keep.orx");
    write_file(to, Bytes{7});
    EXPECT_EQ(plat::rename(dir.file("absent").c_str(), to.c_str()), -1);
    EXPECT_EQ(read_file(to), Bytes{7});
}

TEST_F(Platform, SameFileByIdentityNotBySpelling) {
    std::string a = dir.file("a.orx"), b = dir.file("b.orx");
    write_file(a, Bytes{1});
    write_file(b, Bytes{1});
    EXPECT_TRUE(plat::same_file(a.c_str(), a.c_str()));
    EXPECT_TRUE(plat::same_file(a.c_str(), (dir.path() + "/./a.orx").c_str()));
    EXPECT_FALSE(plat::same_file(a.c_str(), b.c_str())) << "equal contents are not one file";
    EXPECT_FALSE(plat::same_file(a.c_str(), dir.file("missing").c_str()));
    EXPECT_FALSE(plat::same_file(dir.file("missing").c_str(), dir.file("missing").c_str()));
}

TEST_F(Platform, DescriptorCallsAreByteExact) {
    // Every byte value, with the ones a text-mode runtime would translate
    // (CR, LF, Ctrl-Z) in runs; the flags leave out the binary bit on purpose.
    Bytes data;
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
    for (uint8_t c : {0x0D, 0x0A, 0x1A, 0x0A, 0x0D}) data.push_back(c);
    std::string path = dir.file("bytes.bin");
    int32_t fd = plat::open(path.c_str(), plat::kOpenReadWrite | plat::kOpenCreate, plat::kPermReadWrite);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(plat::write(fd, data.data(), static_cast<uint32_t>(data.size())), static_cast<int32_t>(data.size()));
    EXPECT_EQ(plat::lseek(fd, 0, plat::kSeekCur), static_cast<int64_t>(data.size()));
    ASSERT_EQ(plat::lseek(fd, 0, plat::kSeekSet), 0);
    Bytes back(data.size() + 10);
    EXPECT_EQ(plat::read(fd, back.data(), static_cast<uint32_t>(back.size())), static_cast<int32_t>(data.size()));
    back.resize(data.size());
    EXPECT_EQ(back, data) << hex(back);
    EXPECT_EQ(plat::close(fd), 0);
    EXPECT_EQ(read_file(path), data);
    EXPECT_TRUE(plat::exists(path.c_str()));
    EXPECT_EQ(plat::remove(path.c_str()), 0);
    EXPECT_FALSE(plat::exists(path.c_str()));
}

TEST_F(Platform, CreatedFilesCanBeWrittenAgain) {
    std::string path = dir.file("perm.orx");
    int32_t fd = plat::open(path.c_str(), plat::kCreateWrite, plat::kPermReadWrite);
    ASSERT_GE(fd, 0);
    plat::close(fd);
    fd = plat::open(path.c_str(), plat::kReadWrite);
    EXPECT_GE(fd, 0) << "the owner may write the file it created";
    if (fd >= 0) plat::close(fd);
}

}  // namespace

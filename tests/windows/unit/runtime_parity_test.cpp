// The platform layer against the Windows runtime it stands in for: our path
// splitter gives what _splitpath gives, file identity sees through the
// spellings Windows treats as one name, and created files are not read-only.
#include "platform/platform.h"
#include "support/test_support.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace plat = wks::plat;

using namespace wkstest;

namespace {

TEST(RuntimeParity, SplitPathAgreesWithTheRuntime) {
    const char *paths[] = {
        "", "name", "name.ext", "C:", "C:name.orx", "C:\\dir\\sub\\name.ext", "c:/dir/sub/name.WK1",
        "\\\\server\\share\\file.wk1", "dir/sub.d/file", "dir\\sub.d\\", "a.b.c", ".hidden", "file.",
        "x:/a/b.", "d:\\a/b\\c.x", "..\\up.orx", "1:weird", ":colon", "C:\\dir.ext\\noext", "..",
    };
    for (const char *path : paths) {
        char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        ::_splitpath(path, drive, dir, fname, ext);
        plat::SplitPath ours = plat::split_path(path);
        EXPECT_EQ(std::string(ours.drive), drive) << path;
        EXPECT_EQ(std::string(ours.dir), dir) << path;
        EXPECT_EQ(std::string(ours.fname), fname) << path;
        EXPECT_EQ(std::string(ours.ext), ext) << path;
    }
}

TEST(RuntimeParity, CompareIgnoresCaseLikeTheRuntime) {
    const std::pair<const char *, const char *> pairs[] = {
        {"Sales.ORX", "sales.orx"}, {"a", "B"}, {"_", "a"}, {"[", "z"}, {"abc", "ab"}, {"", "x"}};
    for (const auto &[a, b] : pairs) {
        int ours = plat::stricmp(a, b), runtime = ::_stricmp(a, b);
        EXPECT_EQ(ours < 0, runtime < 0) << a << " " << b;
        EXPECT_EQ(ours == 0, runtime == 0) << a << " " << b;
    }
}

using WindowsFiles = LibraryTest;

TEST_F(WindowsFiles, SameFileThroughCaseAndSeparators) {
    std::string path = dir.file("Book.orx");
    write_file(path, Bytes{1});
    std::string other = dir.path() + "\\.\\BOOK.ORX";
    EXPECT_TRUE(plat::same_file(path.c_str(), other.c_str())) << other;
    EXPECT_TRUE(plat::same_file(dir.path().c_str(), (dir.path() + "\\").c_str())) << "directories too";
}

TEST_F(WindowsFiles, CreatedFilesAreNotReadOnly) {
    std::string path = dir.file("made.orx");
    int32_t fd = plat::open(path.c_str(), plat::kCreateRW, plat::kPermReadWrite);
    ASSERT_GE(fd, 0);
    plat::close(fd);
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(WindowsFiles, RenameOntoAnOpenTargetFailsCleanly) {
    std::string from = dir.file("from.tmp"), to = dir.file("busy.orx");
    write_file(from, Bytes{1});
    write_file(to, Bytes{2});
    int32_t fd = plat::open(to.c_str(), plat::kRead);
    ASSERT_GE(fd, 0);
    // Windows keeps an open file in place; the caller learns of it and both
    // files stay as they were.
    EXPECT_EQ(plat::rename(from.c_str(), to.c_str()), -1);
    plat::close(fd);
    EXPECT_EQ(read_file(from), Bytes{1});
    EXPECT_EQ(read_file(to), Bytes{2});
}

}  // namespace

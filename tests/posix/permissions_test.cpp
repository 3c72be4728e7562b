// Permission bits and links of the files the library writes.  A file it
// creates is readable and writable by all, less the umask, as any program's
// files; a destination it replaces keeps its mode, and a symbolic link named
// as the destination stays a link to the replaced file.
#include "support/test_support.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>

using namespace wkstest;
namespace fs = std::filesystem;

namespace {

class Permissions : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        previous_umask = ::umask(022);
        write_file(wk1, concat({bof(1030), eof()}));
        write_file(orx, concat({header_block(), bof(1030), eof()}));
    }
    void TearDown() override {
        ::umask(previous_umask);
        LibraryTest::TearDown();
    }
    static unsigned mode_of(const std::string &path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    mode_t previous_umask = 0;
    const std::string wk1 = dir.file("in.wk1"), orx = dir.file("in.orx");
};

TEST_F(Permissions, NewFilesFollowTheUmaskReplacedOnesKeepTheirMode) {
    const struct {
        const char *writer;
        bool keeps_mode;  // replaces a file rather than deleting and creating it
        std::function<bool(const char *dst)> writes;
    } writers[] = {
        {"wksopen create", false, [](const char *dst) { WKS h = blank_handle(); return wksopen(&h, "", dst) && wksclose(&h) == 0; }},
        {"wksopen copy", false, [&](const char *dst) { WKS h = blank_handle(); return wksopen(&h, orx.c_str(), dst) && wksclose(&h) == 0; }},
        {"wksopen_wk1 create", false, [](const char *dst) { WKS h = blank_handle(); return wksopen_wk1(&h, "", dst) && wksclose_wk1(&h) == 0; }},
        {"wk1_to_orx", true, [&](const char *dst) { return wk1_to_orx(wk1.c_str(), dst) == 0; }},
        {"orx_to_wk1", true, [&](const char *dst) { return orx_to_wk1(orx.c_str(), dst) == 0; }},
        {"copy_file", true, [&](const char *dst) { return copy_file(orx.c_str(), dst) == 0; }},
    };
    for (const auto &w : writers) {
        const std::string made = dir.file("made"), replaced = dir.file("replaced");
        fs::remove(made);
        ASSERT_TRUE(w.writes(made.c_str())) << w.writer;
        EXPECT_EQ(mode_of(made), 0644u) << w.writer;

        write_file(replaced, {1});
        ::chmod(replaced.c_str(), 0604);
        ASSERT_TRUE(w.writes(replaced.c_str())) << w.writer;
        EXPECT_EQ(mode_of(replaced), w.keeps_mode ? 0604u : 0644u) << w.writer;
    }
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(Permissions, AFileConvertedOntoItselfKeepsItsMode) {
    ::chmod(wk1.c_str(), 0640);
    ASSERT_EQ(wk1_to_orx(wk1.c_str(), wk1.c_str()), 0);
    EXPECT_EQ(mode_of(wk1), 0640u);
    ASSERT_EQ(orx_to_wk1(wk1.c_str(), wk1.c_str()), 0);
    EXPECT_EQ(mode_of(wk1), 0640u);
}

TEST_F(Permissions, ALinkNamedAsTheDestinationStaysALink) {
    const std::string target = dir.file("target.orx"), link = dir.file("link.orx");
    write_file(target, {1});
    fs::create_symlink("target.orx", link);
    ASSERT_EQ(wk1_to_orx(wk1.c_str(), link.c_str()), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(is_orx_file(target.c_str()), 1);
    ASSERT_EQ(copy_file(wk1.c_str(), link.c_str()), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(target), read_file(wk1));
}

}  // namespace

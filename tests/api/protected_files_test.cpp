// Directories and read-only files, which the library treats as the Windows
// runtime does: a directory never opens as a source, and neither kind is
// ever removed, replaced or written as a destination.  Every writer fails
// with its usual result for a destination it cannot create and leaves the
// directory or file as it was.
#include "support/test_support.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

using namespace wkstest;
namespace fs = std::filesystem;

namespace {

// An opening that failed with "Error opening file".
bool open_refused(WKS *(*open)(WKS *, const char *, const char *), const char *path1, const char *path2) {
    WKS h = blank_handle();
    return !open(&h, path1, path2) && h.error == WKS_E_OPEN;
}

class ProtectedFiles : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        write_file(wk1, concat({bof(1030), eof()}));
        write_file(orx, concat({header_block(), bof(1030), eof()}));
        fs::create_directory(folder);
        write_file(read_only, kept);
        fs::permissions(read_only, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    void TearDown() override {
        fs::permissions(read_only, fs::perms::owner_all);  // so that the directory can go
        LibraryTest::TearDown();
    }
    const std::string wk1 = dir.file("in.wk1"), orx = dir.file("in.orx");
    const std::string folder = dir.file("folder.orx"), read_only = dir.file("locked.orx");
    const Bytes kept = {1, 2, 3};
};

TEST_F(ProtectedFiles, AreNeverReplacedOrWritten) {
    const struct {
        const char *writer;
        std::function<bool(const char *dst)> refused;  // true: failed with the writer's own result
    } writers[] = {
        {"wksopen create", [&](const char *dst) { return open_refused(&wksopen, "", dst); }},
        {"wksopen copy", [&](const char *dst) { return open_refused(&wksopen, orx.c_str(), dst); }},
        {"wksopen append", [&](const char *dst) { return open_refused(&wksopen, dst, dst); }},
        {"wksopen_wk1 create", [&](const char *dst) { return open_refused(&wksopen_wk1, "", dst); }},
        {"wk1_to_orx", [&](const char *dst) { return wk1_to_orx(wk1.c_str(), dst) == WKS_CONVERT_CREATE_FAILED; }},
        {"orx_to_wk1", [&](const char *dst) { return orx_to_wk1(orx.c_str(), dst) == WKS_CONVERT_CREATE_FAILED; }},
        {"copy_file", [&](const char *dst) { return copy_file(orx.c_str(), dst) == -1; }},
        {"wks_create", [&](const char *dst) {
             WKS h = blank_handle();
             errno = 0;
             return !wks_create(&h, dst, WKS_FORMAT_ORX, nullptr) && h.error == 38 &&
                    errno == (dst == folder ? EISDIR : EACCES);
         }},
    };
    for (const auto &w : writers) {
        for (const std::string &dst : {folder, read_only}) {
            messages.clear();
            EXPECT_TRUE(w.refused(dst.c_str())) << w.writer << " onto " << dst;
            const std::string shown = std::string(w.writer) == "copy_file"
                                          ? "Cannot open file \"" + dst + "\" for writing"
                                          : std::string();
            EXPECT_EQ(messages.last(), shown) << w.writer << " onto " << dst;
            EXPECT_LE(messages.count(), 1u) << w.writer << " onto " << dst;
        }
        EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder)) << w.writer;
        EXPECT_EQ(read_file(read_only), kept) << w.writer;
    }
    EXPECT_EQ(read_file(wk1), concat({bof(1030), eof()}));
}

TEST_F(ProtectedFiles, ADirectoryIsASourceThatCannotBeOpened) {
    WKS h = blank_handle();
    EXPECT_EQ(wksopen(&h, folder.c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
    Open_for_atat = 1;
    EXPECT_EQ(wksopen(&h, folder.c_str(), ""), nullptr);
    EXPECT_EQ(messages.last(),
              "File '" + folder + "' cannot be opened.\n\nProcess will continue but the results may be incorrect.");
    Open_for_atat = 0;
    messages.clear();
    const std::string out = dir.file("out");
    EXPECT_EQ(wk1_to_orx(folder.c_str(), out.c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(orx_to_wk1(folder.c_str(), out.c_str()), WKS_CONVERT_SOURCE_FAILED);
    EXPECT_EQ(is_wk1_file(folder.c_str()), 0);
    EXPECT_EQ(copy_file(folder.c_str(), out.c_str()), -1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Cannot open file \"" + folder + "\" for reading"});
    EXPECT_FALSE(file_exists(out));
}

}  // namespace

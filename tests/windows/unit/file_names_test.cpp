// File names as Windows sees them: letter case does not tell two files
// apart, so a copy opening whose two paths differ only in case names one
// file, and is refused before anything is created or truncated.
#include "support/test_support.h"

using namespace wkstest;

namespace {

using WindowsNames = LibraryTest;

TEST_F(WindowsNames, CopyOntoTheSameFileInOtherLetterCaseIsRefused) {
    const std::string lower = dir.file("sheet.orx"), upper = dir.file("SHEET.ORX");
    const Bytes contents = concat({header_block(), bof(), eof()});
    write_file(lower, contents);
    const int descriptors = open_descriptor_count();
    WKS h = blank_handle();
    EXPECT_EQ(wksopen(&h, lower.c_str(), upper.c_str()), nullptr);
    EXPECT_EQ(+h.error, WKS_E_OPEN);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(read_file(lower), contents) << "the input is left as it was";
    EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST_F(WindowsNames, DescriptorCountSeesOpenAndClosedFiles) {
    const std::string path = dir.file("count.bin");
    write_file(path, Bytes{1});
    const int before = open_descriptor_count();
    const int32_t fd = open_descriptor(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(open_descriptor_count(), before + 1);
    close_descriptor(fd);
    EXPECT_EQ(open_descriptor_count(), before);
}

}  // namespace

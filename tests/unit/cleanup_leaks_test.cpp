// What the process-wide buffers hold comes back to the heap: header blocks
// through wks_cleanup, range names through wkscs, missing-file notices
// through cleanup_file_list, everything through the reset seam; a
// compilation that fails keeps nothing of its string tokens.  Counted with
// the platform heap's block counter, which sees what LeakSanitizer cannot
// (blocks still reachable from process-wide state).
#define WKS_FORMULA_INTERNALS  // resetlex, yylex
#include "names/names.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "wks/header.h"
#include "wks/process_state.h"

#include <string>

namespace plat = wks::plat;

using namespace wkstest;

namespace {

class CleanupLeaks : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        heap = plat::live_allocations();
    }
    long held() const { return plat::live_allocations() - heap; }
    long heap = 0;
};

TEST_F(CleanupLeaks, EachCleanupReleasesItsBuffer) {
    const Bytes block = header_block();
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    // A read in load mode puts a block into the host buffer; a replaced
    // block is released, not dropped.
    const std::string file = dir.file("in.orx");
    write_file(file, concat({block, bof(), eof()}));
    WKS h = blank_handle();
    ASSERT_NE(wksopen(&h, file.c_str(), ""), nullptr);
    ASSERT_EQ(wksclose(&h), 0);
    EXPECT_EQ(held(), 1);
    wks_cleanup();
    EXPECT_EQ(held(), 0);

    for (int i = 0; i < 40; ++i) ASSERT_EQ(wksir(i % 3, ("NAME" + std::to_string(i)).c_str(), 0, 0, 1, 1), 0);
    EXPECT_GT(held(), 0);
    ASSERT_EQ(wksdr(0, "NAME0"), 0);
    wkscs();
    EXPECT_EQ(held(), 0);
    // Enough names to grow the coordinate index, all deleted again: the
    // table is empty, and wkscs still gives the index back.
    for (int i = 0; i < 300; ++i) ASSERT_EQ(wksir(0, ("N" + std::to_string(i)).c_str(), 0, 0, 1, 1), 0);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(wksdr(0, ("N" + std::to_string(i)).c_str()), 0);
    wkscs();
    EXPECT_EQ(held(), 0);

    Open_for_atat = 1;
    for (int i = 0; i < 70; ++i) in_file_list(("missing" + std::to_string(i) + ".orx").c_str());
    EXPECT_GT(held(), 0);
    cleanup_file_list();
    EXPECT_EQ(held(), 0);
}

TEST_F(CleanupLeaks, TheResetSeamPutsEverythingBackAsAtLoad) {
    const Bytes block = header_block();
    ASSERT_EQ(SetOrxHeader(block.data()), 1);
    ASSERT_TRUE(wks::header::prepare_converter_block());
    set_open_for_load(0);
    ASSERT_EQ(wksir(5, "AB", 0, 0, 1, 1), 0);
    Open_for_atat = 1;
    in_file_list("missing.orx");
    resetlex("\"a string\"");
    yylex();  // outside a compilation: its copy stays with the lexer
    const std::string file = dir.file("in.wk1");
    write_file(file, concat({bof(), eof()}));
    WKS reading = blank_handle();
    ASSERT_TRUE(wksopen_wk1(&reading, file.c_str(), ""));
    ASSERT_EQ(wks_read_ahead(&reading, 4096), 0);  // a handle never closed
    EXPECT_GT(held(), 4);

    wks::reset_process_state();
    wksclose_wk1(&reading);
    EXPECT_EQ(held(), 0);
    EXPECT_EQ(get_orx_header(), nullptr);
    EXPECT_EQ(wks::header::mode(), wks::header::kLoad);
    EXPECT_EQ(wkslp("AB"), 0) << "the prefix filters are empty too";
    EXPECT_EQ(wks::names::current_file(), 0);
    EXPECT_EQ(Open_for_atat, 0);
    EXPECT_EQ(in_file_list("missing.orx"), 0) << "the notice list is empty";
}

// A read-ahead block goes back when its handle is closed or opened again.
TEST_F(CleanupLeaks, ReadAheadBlocksGoBackWithTheirStreams) {
    const std::string file = dir.file("in.orx");
    write_file(file, concat({header_block(), bof(), eof()}));
    set_open_for_load(0);
    WKS h = blank_handle();
    for (const bool reopen : {false, true}) {
        ASSERT_TRUE(wksopen(&h, file.c_str(), ""));
        ASSERT_EQ(wks_read_ahead(&h, 4096), 0);
        EXPECT_EQ(held(), 1);
        if (reopen) {
            ASSERT_TRUE(wksopen_wk1(&h, "", dir.file("new.wk1").c_str()));
            EXPECT_EQ(held(), 0) << "opened again";
        }
        ASSERT_EQ(wksclose(&h), 0);
        EXPECT_EQ(held(), 0);
    }
}

TEST_F(CleanupLeaks, CompilationsKeepNothing) {
    unsigned char out[512];
    const char *const texts[] = {
        "@IF(A1,\"yes\",\"no\")",      // compiles
        "\"abc\"+\"def",               // a string that never ends
        "@IF(\"a\",\"b\")",            // strings, then a wrong argument count
        "\"a\"\"b\"&\"c\"\"\"+)",      // strings, then a syntax error
        "@SUM(\"x\",\"y\",\"z\",A1..B2",  // no closing parenthesis
    };
    for (const char *text : texts) {
        wksfe(0, 0, 0, text, out, sizeof out);
        EXPECT_EQ(held(), 0) << text;
    }
    wksfe(0, 0, 0, texts[0], out, 6);  // output too small for the code
    EXPECT_EQ(held(), 0);
    WKS h = blank_handle();
    wksform(&h, 0, 0, 0, texts[3]);
    wksform(&h, 0, 0, 0, texts[0]);
    EXPECT_EQ(held(), 0);
}

}  // namespace

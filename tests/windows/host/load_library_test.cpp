// wks.dll as a Windows host uses it: loaded at run time with LoadLibraryA,
// each entry found by name with GetProcAddress, the exported switch
// Open_for_atat reached through its address.  Nothing of the library is
// linked in; wks.h supplies only the handle's type and the constants.
#include "wks.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_shown;

int32_t capture(const char *caption, const char *text) {
    EXPECT_STREQ(caption, "Message");
    g_shown.emplace_back(text);
    return 1;
}

class HostLoad : public ::testing::Test {
protected:
    void SetUp() override {
        dll_ = ::LoadLibraryA("wks.dll");
        ASSERT_NE(dll_, nullptr) << "LoadLibraryA failed, error " << ::GetLastError();
        auto set_handler = entry<wks_message_handler (*)(wks_message_handler)>("wks_set_message_handler");
        ASSERT_NE(set_handler, nullptr);
        set_handler(capture);  // no test may leave a box waiting for a click
        g_shown.clear();
    }
    void TearDown() override {
        if (dll_) ::FreeLibrary(dll_);
    }

    // The entry's address, as the function type the host expects.
    template <class F>
    F entry(const char *name) {
        FARPROC p = ::GetProcAddress(dll_, name);
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
    }

    std::string temp_file(const char *name) {
        return (std::filesystem::temp_directory_path() /
                ("wkshost-" + std::to_string(::GetCurrentProcessId()) + "-" + name))
            .string();
    }

    HMODULE dll_ = nullptr;
};

TEST_F(HostLoad, ErrorTextsAndMessagesGoThroughTheHandler) {
    auto text_of = entry<const char *(*)(int16_t)>("wkser");
    auto show_error = entry<int16_t (*)(int16_t)>("wkserr");
    auto show = entry<int32_t (*)(const char *, ...)>("wkswin_printf");
    ASSERT_TRUE(text_of && show_error && show);
    EXPECT_STREQ(text_of(WKS_E_NOT_ORX), "Not ORX file");
    EXPECT_STREQ(text_of(1000), "invalid error value");
    EXPECT_EQ(show_error(WKS_E_WIDTH_RANGE), WKS_E_WIDTH_RANGE);
    EXPECT_EQ(show_error(WKS_E_OPEN), WKS_E_OPEN);  // silent
    EXPECT_EQ(show("%s=%d", "n", -5), 1);
    EXPECT_EQ(g_shown, (std::vector<std::string>{"\n*** ORX error 34 - width out of range\n", "n=-5"}));
}

TEST_F(HostLoad, OpenForAtatIsTheVariableTheLibraryReads) {
    auto *flag = reinterpret_cast<int16_t *>(::GetProcAddress(dll_, "Open_for_atat"));
    auto notice = entry<int16_t (*)(const char *, const char *)>("msg_for_atat");
    auto forget = entry<void (*)()>("cleanup_file_list");
    ASSERT_TRUE(flag && notice && forget);
    EXPECT_EQ(*flag, 0) << "off when the library is loaded";
    EXPECT_EQ(notice("C:\\a.orx", "cannot be opened."), 0);
    EXPECT_TRUE(g_shown.empty());
    *flag = 1;
    EXPECT_EQ(notice("C:\\a.orx", "cannot be opened."), 1);
    EXPECT_EQ(notice("c:\\A.ORX", "cannot be opened."), 1);
    EXPECT_EQ(g_shown, std::vector<std::string>{"File 'C:\\a.orx' cannot be opened.\n\nProcess will continue "
                                                "but the results may be incorrect."});
    *flag = 0;
    forget();
}

TEST_F(HostLoad, UnloadingAndLoadingAgainStartsFresh) {
    auto *flag = reinterpret_cast<int16_t *>(::GetProcAddress(dll_, "Open_for_atat"));
    ASSERT_NE(flag, nullptr);
    *flag = 5;
    ASSERT_TRUE(::FreeLibrary(dll_));
    dll_ = ::LoadLibraryA("wks.dll");
    ASSERT_NE(dll_, nullptr);
    flag = reinterpret_cast<int16_t *>(::GetProcAddress(dll_, "Open_for_atat"));
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(*flag, 0);
}

TEST_F(HostLoad, WritesAndReadsAWorksheetThroughTheHandle) {
    auto set_header = entry<int32_t (*)(const unsigned char *)>("SetOrxHeader");
    auto get_header = entry<int32_t (*)(unsigned char *)>("GetOrxHeader");
    auto load_mode = entry<void (*)(int32_t)>("set_open_for_load");
    auto open = entry<WKS *(*)(WKS *, const char *, const char *)>("wksopen");
    auto write = entry<int16_t (*)(WKS *)>("wkswrec");
    auto next = entry<int16_t (*)(WKS *)>("wksnextr");
    auto close = entry<int16_t (*)(WKS *)>("wksclose");
    auto store16 = entry<void (*)(unsigned char *, int16_t)>("wksni");
    ASSERT_TRUE(set_header && get_header && load_mode && open && write && next && close && store16);

    // A header block whose bytes include CR, LF and Ctrl-Z, then the magic
    // words 3634 and 3810.
    std::vector<unsigned char> block(WKS_HEADER_SIZE);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 13);
    const unsigned char magic[] = {0x32, 0x0E, 0xE2, 0x0E};
    std::memcpy(&block[WKS_HEADER_SIZE - 4], magic, 4);
    const unsigned char body[] = {0x0D, 0x0A, 0x1A, 0x00, 0xFF, 0x0A};

    std::string path = temp_file("book.orx");
    WKS h;
    std::memset(&h, 0, sizeof h);
    ASSERT_EQ(set_header(block.data()), 1);
    ASSERT_EQ(open(&h, "", path.c_str()), &h);
    store16(h.rec.type, 30);
    store16(h.rec.length, sizeof body);
    std::memcpy(h.rec.body, body, sizeof body);
    EXPECT_EQ(write(&h), 0);
    EXPECT_EQ(close(&h), 0);

    load_mode(1);
    WKS r;
    std::memset(&r, 0, sizeof r);
    ASSERT_EQ(open(&r, path.c_str(), ""), &r);
    std::vector<unsigned char> back(WKS_HEADER_SIZE);
    EXPECT_EQ(get_header(back.data()), 1);
    EXPECT_EQ(back, block);
    EXPECT_EQ(r.rec.type[0], 0) << "the BOF record is current after the open";
    ASSERT_EQ(next(&r), 0);
    EXPECT_EQ(r.rec.type[0], 30);
    EXPECT_EQ(r.rec.length[0], sizeof body);
    EXPECT_EQ(std::memcmp(r.rec.body, body, sizeof body), 0);
    EXPECT_EQ(next(&r), -1);
    EXPECT_EQ(close(&r), 0);
    EXPECT_TRUE(g_shown.empty());
    std::filesystem::remove(path);
}

TEST_F(HostLoad, AFailedOpenLeavesItsCodeInTheHandle) {
    auto open = entry<WKS *(*)(WKS *, const char *, const char *)>("wksopen");
    ASSERT_NE(open, nullptr);
    WKS h;
    std::memset(&h, 0, sizeof h);
    EXPECT_EQ(open(&h, temp_file("absent.orx").c_str(), ""), nullptr);
    EXPECT_EQ(+h.error, WKS_E_OPEN);
    EXPECT_TRUE(g_shown.empty()) << "opening failures are silent";
}

}  // namespace

TEST_F(HostLoad, VersionResourceTellsTheLibrarysVersion) {
    auto version = entry<const char *(*)(int32_t *)>("wks_version");
    ASSERT_NE(version, nullptr);
    int32_t number = 0;
    EXPECT_STREQ(version(&number), WKS_VERSION);
    EXPECT_EQ(number, WKS_VERSION_NUMBER);

    char path[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(dll_, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u) << "wks.dll has no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS) * 10000 + LOWORD(fixed->dwFileVersionMS) * 100 +
                  HIWORD(fixed->dwFileVersionLS),
              WKS_VERSION_NUMBER);
}

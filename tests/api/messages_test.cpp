// Error texts, the error message, the message layer and the missing-file
// notices.
#include "support/test_support.h"

#include <string>

using namespace wkstest;

namespace {

using Messages = LibraryTest;

TEST(ErrorText, CodesOutsideTheTableReadAsInvalid) {
    for (int code : {0, -3, WKS_E_SEEK_END, WKS_E_NO_FORMULA_MEMORY, 1000, -32768})
        EXPECT_STREQ(wkser(static_cast<int16_t>(code)), "invalid error value") << code;
}

TEST(ErrorText, TableEntries) {
    const std::pair<int, const char *> cases[] = {
        {WKS_E_DUPLICATE_NAME, "Duplicate range name"}, {WKS_E_INVALID_NAME, "Invalid range name"},
        {WKS_E_SYNTAX, "Syntax error"}, {WKS_E_BAD_FUNCTION, "Bad function name"},
        {WKS_E_DECODE_SPACE, "No room in decode output buffer"}, {WKS_E_COLUMN_RANGE, "Column out of range"},
        {WKS_E_CLOSE, "Error closing file"}, {WKS_E_READ, "Read Error"}, {WKS_E_LSEEK, "lseek Error"},
        {WKS_E_COLUMN_RANGE_2, "column out of range"}, {WKS_E_WRITE, "Write Error"},
        {WKS_E_COLUMN_RANGE_3, "column out of range"}, {WKS_E_WIDTH_RANGE, "width out of range"},
        {WKS_E_LSEEK_2, "lseek Error"}, {WKS_E_UNSORTED, "File Unsorted"},
        {WKS_E_NO_PATHS, "Both file names are empty"}, {WKS_E_OPEN, "Error opening file"},
        {WKS_E_NOT_ORX, "Not ORX file"}, {WKS_E_CLOSE_INPUT, "Error closing file"}};
    for (const auto &[code, text] : cases) EXPECT_STREQ(wkser(static_cast<int16_t>(code)), text) << code;
}

TEST_F(Messages, ErrorShownUnlessSilent) {
    for (int code : {WKS_E_LSEEK, WKS_E_LSEEK_2, WKS_E_UNSORTED, WKS_E_NO_PATHS, WKS_E_OPEN, WKS_E_NOT_ORX,
                     WKS_E_CLOSE_INPUT})
        EXPECT_EQ(wkserr(static_cast<int16_t>(code)), code);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(wkserr(WKS_E_WIDTH_RANGE), WKS_E_WIDTH_RANGE);
    EXPECT_EQ(wkserr(WKS_E_SEEK_END), WKS_E_SEEK_END);
    EXPECT_EQ(wkserr(0), 0);
    EXPECT_EQ(wkserr(-7), -7);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{
                                    "\n*** ORX error 34 - width out of range\n",
                                    "\n*** ORX error 41 - invalid error value\n",
                                    "\n*** ORX error 0 - invalid error value\n",
                                    "\n*** ORX error -7 - invalid error value\n"}));
}

TEST_F(Messages, LongMessagesAreCutTo255Characters) {
    for (std::size_t length : {255u, 256u, 400u, 1024u, 1025u, 5000u}) {
        std::string long_text(length, 'x');
        wkswin_printf("%s", long_text.c_str());
        EXPECT_EQ(messages.last(), std::string(length < 255 ? length : 255, 'x')) << length;
    }
    wkswin_printf("%s|%s", std::string(250, 'a').c_str(), std::string(20, 'b').c_str());
    EXPECT_EQ(messages.last(), std::string(250, 'a') + "|bbbb");
}

TEST_F(Messages, HandlerResultIsTheCallsResult) {
    MessageCapture::set_answer(7);
    EXPECT_EQ(wkswin_printf("n=%d", 5), 7);
    EXPECT_EQ(messages.last(), "n=5");
}

TEST(MessageLayer, DefaultGoesToStandardErrorAndAnswersOk) {
    wks_message_handler saved = wks_set_message_handler(nullptr);
    testing::internal::CaptureStderr();
    int32_t answer = wkswin_printf("%s %d", "plain", -4);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "plain -4");
    EXPECT_EQ(answer, 1);
    wks_set_message_handler(saved);
}

TEST(MessageLayer, SettingAHandlerReturnsThePreviousOne) {
    auto first = [](const char *, const char *) -> int32_t { return 11; };
    auto second = [](const char *, const char *) -> int32_t { return 22; };
    wks_message_handler original = wks_set_message_handler(first);
    EXPECT_EQ(wks_set_message_handler(second), +first);
    EXPECT_EQ(wkswin_printf("x"), 22);
    EXPECT_EQ(wks_set_message_handler(original), +second);
}

TEST_F(Messages, NoticesAreSilentWhileTheSwitchIsOff) {
    EXPECT_EQ(msg_for_atat("a.orx", "cannot be opened."), 0);
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(in_file_list("a.orx"), 0) << "the silent call did not record the name";
}

TEST_F(Messages, NoticeOncePerNameWithoutRegardToCase) {
    Open_for_atat = 1;
    EXPECT_EQ(msg_for_atat("C:\\Data\\Sales.orx", "is not an ORX file."), 1);
    EXPECT_EQ(msg_for_atat("c:\\DATA\\sales.ORX", "is not an ORX file."), 1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{
                                    "File 'C:\\Data\\Sales.orx' is not an ORX file.\n\n"
                                    "Process will continue but the results may be incorrect."});
    Open_for_atat = -3;
    EXPECT_EQ(msg_for_atat("other", "x"), -3) << "any nonzero value is set and returned";
    EXPECT_EQ(messages.count(), 2u);
}

TEST_F(Messages, ListHolds64NamesThenReportsEveryTime) {
    Open_for_atat = 1;
    for (int i = 0; i < 64; ++i) msg_for_atat(("f" + std::to_string(i)).c_str(), "x");
    EXPECT_EQ(messages.count(), 64u);
    msg_for_atat("f65", "x");
    msg_for_atat("f65", "x");
    EXPECT_EQ(messages.count(), 66u) << "names beyond 64 are not remembered";
    msg_for_atat("F0", "x");
    EXPECT_EQ(messages.count(), 66u);
    cleanup_file_list();
    msg_for_atat("f0", "x");
    EXPECT_EQ(messages.count(), 67u) << "emptied list: the first name is notified again";
}

TEST_F(Messages, InFileListAddsThenFinds) {
    EXPECT_EQ(in_file_list("one"), 0);
    EXPECT_EQ(in_file_list("ONE"), 1);
    EXPECT_EQ(in_file_list("two"), 0);
    cleanup_file_list();
    EXPECT_EQ(in_file_list("one"), 0);
}

}  // namespace

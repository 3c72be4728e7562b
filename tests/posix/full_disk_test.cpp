// A conversion whose destination's file system fills up, in a child process
// whose file size limit stands in for a 64 KiB disk: the converter stops at
// the first record it cannot write, shows one Write Error and returns -6;
// the existing destination keeps its bytes and mode, and nothing else is
// left beside it.  The same holds when the process is killed at that
// moment, before it could clean up.
#include "support/test_support.h"

#include <csignal>
#include <filesystem>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace wkstest;
namespace fs = std::filesystem;

namespace {

constexpr int kCells = 200000;
constexpr rlim_t kDiskBytes = 64 * 1024;

Bytes large_wk1() {
    Bytes file = bof(1030);
    file.reserve(static_cast<std::size_t>(kCells) * 11 + 10);
    for (int i = 0; i < kCells; ++i) {
        Bytes value;
        put16(value, static_cast<uint16_t>(i));
        const Bytes cell = record(WKS_INTEGER, wk1_cell_body(0xFF, static_cast<int16_t>(i % 256),
                                                             static_cast<int16_t>(i / 256), value));
        file.insert(file.end(), cell.begin(), cell.end());
    }
    const Bytes end = eof();
    file.insert(file.end(), end.begin(), end.end());
    return file;
}

int32_t die_at_first_message(const char *, const char *) {
    std::raise(SIGKILL);
    return 1;
}

using FullDisk = LibraryTest;

TEST_F(FullDisk, StopsAtTheFirstFailedRecordAndKeepsTheDestination) {
    const std::string src = dir.file("big.wk1"), dst = dir.file("big.orx");
    write_file(src, large_wk1());
    const Bytes old_destination = {1, 2, 3};
    for (const bool killed : {false, true}) {
        write_file(dst, old_destination);
        fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit disk = {kDiskBytes, kDiskBytes};
            ::setrlimit(RLIMIT_FSIZE, &disk);
            if (killed) wks_set_message_handler(die_at_first_message);
            const int32_t outcome[2] = {wk1_to_orx(src.c_str(), dst.c_str()), static_cast<int32_t>(messages.count())};
            const bool sent = ::write(report[1], outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
            ::_exit(sent && messages.last() == error_message(WKS_E_WRITE) ? 0 : 1);
        }
        ::close(report[1]);
        int32_t outcome[2] = {0, 0};
        const bool got = ::read(report[0], outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
        ::close(report[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (killed) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        } else {
            ASSERT_TRUE(got);
            EXPECT_EQ(outcome[0], -6);
            EXPECT_EQ(outcome[1], 1) << "messages shown";
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not a Write Error: status " << status;
        }
        EXPECT_EQ(read_file(dst), old_destination) << (killed ? "killed" : "full");
        EXPECT_EQ(fs::status(dst).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        std::set<std::string> names;
        for (const auto &e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"big.wk1", "big.orx"})) << (killed ? "killed" : "full");
    }
}

}  // namespace

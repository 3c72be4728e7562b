/*
 * Helpers shared by the test suites: temporary directories, message capture
 * through the library's message handler, byte builders for records, cells
 * and header blocks, and whole-file read/write.
 */
#ifndef WKS_TEST_SUPPORT_H
#define WKS_TEST_SUPPORT_H

#include "wks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wkstest {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Collects every message the library shows while it is alive.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;
    const std::vector<std::string> &texts() const;
    std::size_t count() const { return texts().size(); }
    std::string last() const { return texts().empty() ? std::string() : texts().back(); }
    void clear();
    // The result the handler returns to the library.
    static void set_answer(int32_t answer);

private:
    wks_message_handler previous_;
};

// The text wkserr shows for a code.
std::string error_message(int code);

// Puts every piece of process-wide library state back to its load-time
// value and empties its buffers: through the library's reset seam in the
// suites linked with the static archive (reset_seam.cpp), through the public
// calls in those that load the shared library as a host does
// (host_reset.cpp).
void reset_library_state();

// Base fixture: a clean library, a temporary directory, captured messages.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { reset_library_state(); }
    void TearDown() override { reset_library_state(); }
    TempDir dir;
    MessageCapture messages;
};

// --- bytes ------------------------------------------------------------------
void put16(Bytes &b, uint16_t v);
void put_double(Bytes &b, double v);
Bytes record(uint16_t type, const Bytes &body);
Bytes bof(uint16_t version = 1028);
Bytes eof();
// An ORX cell body: the prefix (zeros, then the given last byte), format,
// column, row, value.
Bytes orx_cell_body(uint8_t format, int16_t col, int16_t row, const Bytes &value,
                    uint8_t prefix_mark = WKS_ORX_PREFIX_MARK);
// A WK1 cell body: format, column, row, value.
Bytes wk1_cell_body(uint8_t format, int16_t col, int16_t row, const Bytes &value);
Bytes range_name_body(const std::string &name, int16_t c1, int16_t r1, int16_t c2, int16_t r2);
Bytes name_record(const std::string &name, int16_t c1, int16_t r1, int16_t c2, int16_t r2,
                  uint16_t type = WKS_RANGE_NAME);
// An ORX label cell record: format byte 0x27, the text and its NUL.
Bytes label_cell(int16_t col, int16_t row, const std::string &text);
// 2648 bytes of host data (a repeating pattern) and the two magic words.
Bytes header_block(uint8_t seed = 7);
// Zeros and the two magic words: what a converter writes, and what
// SetOrxHeader makes of zeros.
Bytes empty_header_block();
Bytes concat(std::initializer_list<Bytes> parts);

// --- files ------------------------------------------------------------------
void write_file(const std::string &path, const Bytes &bytes);
Bytes read_file(const std::string &path);
bool file_exists(const std::string &path);

// Low-level descriptors as a host passes them to read_header and save_header:
// the C runtime's (on Windows the one the DLL uses), binary, read-write.
int32_t open_descriptor(const std::string &path);  // -1 on failure
int64_t descriptor_position(int32_t fd);
void close_descriptor(int32_t fd);

// How many descriptors the process has open (Linux: /proc/self/fd; the
// Windows C runtime: the ones it knows), for checking that a call leaves
// none behind.
int open_descriptor_count();

// Hex dump for failure messages.
std::string hex(const Bytes &bytes);
std::string hex(const uint8_t *p, std::size_t n);

// A zero-filled handle.
WKS blank_handle();

}  // namespace wkstest

#endif

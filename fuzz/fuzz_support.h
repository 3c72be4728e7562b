/*
 * What every fuzz target shares: a silent message layer, the library's
 * process-wide state put back after each input, a private working directory
 * for the files a target writes, a reader for the parameter bytes at the
 * front of an input, and the checks that hold after every input (no
 * descriptor left open).
 *
 * A target aborts (which libFuzzer reports as a crash and saves the input)
 * whenever an oracle fails; the sanitizers catch everything else.
 */
#ifndef WKS_FUZZ_SUPPORT_H
#define WKS_FUZZ_SUPPORT_H

#include "wks.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wksfuzz {

using Bytes = std::vector<uint8_t>;

// Takes parameters from the front of an input; past its end every value is 0.
class Reader {
public:
    Reader(const uint8_t *data, std::size_t size) : p_(data), n_(size) {}
    uint8_t u8();
    uint16_t u16();
    int16_t i16() { return static_cast<int16_t>(u16()); }
    // Everything not read yet.
    const uint8_t *rest() const { return p_; }
    std::size_t left() const { return n_; }

private:
    const uint8_t *p_;
    std::size_t n_;
};

// Once per process (every target's LLVMFuzzerInitialize, fuzz_initialize.cpp):
// installs a message handler that shows nothing and makes a private
// directory under the system's temporary directory.
void init_once();

// Notes how many descriptors are open before an input runs.
void begin_input();

// Puts every piece of process-wide library state back to its load-time
// value, empties the library's buffers and the private directory, and
// aborts if a descriptor opened since begin_input is still open.
void end_input();

// The private directory is the working directory while one of these lives
// (the converters put their temporary files there; libFuzzer keeps its own
// working directory for corpora and crash files).
class InWorkDir {
public:
    InWorkDir();
    ~InWorkDir();
    InWorkDir(const InWorkDir &) = delete;
    InWorkDir &operator=(const InWorkDir &) = delete;

private:
    std::string previous_;
};

// A path in the private directory.
std::string path(const char *name);

void write_file(const std::string &path, const uint8_t *data, std::size_t size);
// Writes what is left of the input to path and returns it.
Bytes write_rest(Reader &in, const std::string &path);
Bytes read_file(const std::string &path);
bool file_exists(const std::string &path);

// Reads the open handle h forward with next (wksnextr, wksnextc,
// wksnextr_wk1) until it returns anything but 0 or `tolerated`; fails when
// that takes more steps than a file of `size` bytes can hold records (each
// consumes at least a record header).  The caller closes h.
void read_to_end(WKS &h, int16_t (*next)(WKS *), std::size_t size, int16_t tolerated = 0);

// Reports an oracle failure with a message and aborts.
[[noreturn]] void fail(const char *what, const std::string &detail = std::string());

}  // namespace wksfuzz

#endif

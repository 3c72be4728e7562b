/*
 * The fuzz targets' shared harness (see fuzz_support.h).
 */
#include "fuzz_support.h"

#include "wks/layout.h"
#include "wks/process_state.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <unistd.h>

namespace wksfuzz {
namespace fs = std::filesystem;

namespace {

std::string g_dir;
int g_descriptors = -1;

int32_t silent(const char *, const char *) { return 1; }

int descriptor_count() {
    int n = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

void remove_directory() {
    std::error_code ec;
    if (!g_dir.empty()) fs::remove_all(g_dir, ec);
}

}  // namespace

uint8_t Reader::u8() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
}

uint16_t Reader::u16() {
    const uint16_t lo = u8();
    return static_cast<uint16_t>(lo | (u8() << 8));
}

void init_once() {
    if (!g_dir.empty()) return;
    std::string pattern = (fs::temp_directory_path() / "wks-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) fail("mkdtemp failed");
    g_dir = pattern;
    std::atexit(remove_directory);
    wks_set_message_handler(silent);
}

void begin_input() { g_descriptors = descriptor_count(); }

void end_input() {
    wks::reset_process_state();
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(g_dir, ec)) fs::remove_all(entry.path(), ec);
    const int now = descriptor_count();
    if (now != g_descriptors) fail("descriptor left open", std::to_string(now - g_descriptors));
}

InWorkDir::InWorkDir() : previous_(fs::current_path().string()) { fs::current_path(g_dir); }
InWorkDir::~InWorkDir() { fs::current_path(previous_); }

std::string path(const char *name) { return g_dir + "/" + name; }

void write_file(const std::string &p, const uint8_t *data, std::size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) fail("cannot write", p);
}

Bytes read_file(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes write_rest(Reader &in, const std::string &p) {
    Bytes rest(in.rest(), in.rest() + in.left());
    write_file(p, rest.data(), rest.size());
    return rest;
}

void read_to_end(WKS &h, int16_t (*next)(WKS *), std::size_t size, int16_t tolerated) {
    const std::size_t limit = size / wks::kRecordHeaderSize + 2;
    std::size_t steps = 0;
    for (;;) {
        const int16_t rc = next(&h);
        if (rc == -1 || (rc != 0 && rc != tolerated)) return;
        if (++steps > limit) fail("reading makes no progress");
    }
}

bool file_exists(const std::string &p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

void fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "\n*** oracle failed: %s %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace wksfuzz

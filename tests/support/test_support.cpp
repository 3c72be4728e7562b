#include "support/test_support.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <unistd.h>  // open, lseek, close; the C runtime's on Windows too

#ifndef O_BINARY
#define O_BINARY 0  // systems without text mode
#endif

namespace wkstest {

namespace {
std::vector<std::string> g_texts;
int32_t g_answer = 1;

int32_t capture(const char *caption, const char *text) {
    EXPECT_STREQ(caption, "Message");
    g_texts.emplace_back(text);
    return g_answer;
}
}  // namespace

// Portable mkdtemp: a random name, created only if nothing has it yet.
TempDir::TempDir() {
    namespace fs = std::filesystem;
    static std::mt19937_64 names(std::random_device{}() ^
                                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) std::abort();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "wkstest-%012llx",
                      static_cast<unsigned long long>(names() & 0xFFFFFFFFFFFFull));
        const fs::path candidate = base / name;
        if (fs::create_directory(candidate, ec)) {
            fs::permissions(candidate, fs::perms::owner_all, ec);
            path_ = candidate.string();
            return;
        }
    }
    std::abort();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

MessageCapture::MessageCapture() : previous_(wks_set_message_handler(capture)) {
    g_texts.clear();
    g_answer = 1;
}
MessageCapture::~MessageCapture() { wks_set_message_handler(previous_); }
const std::vector<std::string> &MessageCapture::texts() const { return g_texts; }
void MessageCapture::clear() { g_texts.clear(); }
void MessageCapture::set_answer(int32_t answer) { g_answer = answer; }

std::string error_message(int code) {
    return "\n*** ORX error " + std::to_string(code) + " - " + wkser(static_cast<int16_t>(code)) + "\n";
}

void reset_library_state() {
    wks_discard_all();
    wks_cleanup();
    cleanup_file_list();
    set_open_for_load(1);
    Open_for_atat = 0;
    // wkscs leaves the prefix filters alone when the table is already empty;
    // one throwaway name makes it clear them too.  Both calls also put the
    // current file number back to 0.
    if (!wkslr(0, "~")) wksir(0, "~", 0, 0, 0, 0);
    wkscs();
}

void put16(Bytes &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v & 0xFF));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put_double(Bytes &b, double v) {
    uint8_t raw[8];
    wksdi(raw, v);
    b.insert(b.end(), raw, raw + 8);
}

Bytes record(uint16_t type, const Bytes &body) {
    Bytes r;
    put16(r, type);
    put16(r, static_cast<uint16_t>(body.size()));
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

Bytes bof(uint16_t version) {
    Bytes body;
    put16(body, version);
    return record(0, body);
}

Bytes eof() { return record(1, {}); }

Bytes orx_cell_body(uint8_t format, int16_t col, int16_t row, const Bytes &value, uint8_t prefix10) {
    Bytes b(10, 0);
    b.push_back(prefix10);
    b.push_back(format);
    put16(b, static_cast<uint16_t>(col));
    put16(b, static_cast<uint16_t>(row));
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

Bytes wk1_cell_body(uint8_t format, int16_t col, int16_t row, const Bytes &value) {
    Bytes b;
    b.push_back(format);
    put16(b, static_cast<uint16_t>(col));
    put16(b, static_cast<uint16_t>(row));
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

Bytes range_name_body(const std::string &name, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    Bytes b(16, 0);
    std::memcpy(b.data(), name.data(), name.size() < 15 ? name.size() : 15);
    for (int16_t v : {c1, r1, c2, r2}) put16(b, static_cast<uint16_t>(v));
    return b;
}

Bytes header_block(uint8_t seed) {
    Bytes b(WKS_HEADER_SIZE - 4);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + i * 31);
    put16(b, 3634);
    put16(b, 3810);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string &path) { return std::filesystem::exists(path); }

int32_t open_descriptor(const std::string &path) { return ::open(path.c_str(), O_RDWR | O_BINARY); }

int64_t descriptor_position(int32_t fd) { return static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR)); }

void close_descriptor(int32_t fd) { ::close(fd); }

int open_descriptor_count() {
    int n = 0;
    // Linux lists a process's descriptors in /proc/self/fd.  Not so Windows,
    // where that path may even reach the /proc of the process running a
    // Windows emulator; there a descriptor of the C runtime is open unless
    // seeking on it fails with EBADF (the runtime has at most 2048).
    if (std::filesystem::path::preferred_separator == '/') {
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        return n;
    }
    constexpr int kMaxDescriptors = 2048;
    for (int fd = 0; fd < kMaxDescriptors; ++fd) {
        errno = 0;
        if (::lseek(fd, 0, SEEK_CUR) != -1 || errno != EBADF) ++n;
    }
    return n;
}

std::string hex(const uint8_t *p, std::size_t n) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

std::string hex(const Bytes &bytes) { return hex(bytes.data(), bytes.size()); }

WKS blank_handle() {
    WKS h;
    std::memset(&h, 0, sizeof h);
    return h;
}

}  // namespace wkstest

// In the sanitizer build, leak checking is on unless the environment says
// otherwise, and nothing is suppressed.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char *__asan_default_options() { return "detect_leaks=1"; }
#endif

/* Temporary names and the last steps of placing a named pending file (pending_place.h). */
#include "platform/pending_place.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace wks::plat {
namespace {

constexpr char kPrefix[] = ".";
constexpr char kMark[] = ".wks-";
constexpr std::size_t kRandom = 6;
constexpr std::size_t kLongestLeaf = 255;  // a file name's bytes on the usual file systems
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

// A new 64-bit draw: the clock, a counter and this call's stack place mixed
// (splitmix64), so that two processes, and two calls of one, differ.
uint64_t draw() {
    static uint64_t counter = 0;
    uint64_t x = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                 (++counter * 0x9e3779b97f4a7c15ULL) ^ reinterpret_cast<uintptr_t>(&x);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

bool temporary_name(char (&out)[kPathCapacity], const char *target, std::size_t dir_length) {
    const char *leaf = target + dir_length;
    std::size_t keep = std::strlen(leaf);
    const std::size_t room = kLongestLeaf - (sizeof kPrefix - 1) - (sizeof kMark - 1) - kRandom;
    if (keep > room) {
        keep = room;
        while (keep > 0 && (static_cast<unsigned char>(leaf[keep]) & 0xc0) == 0x80) --keep;  // whole UTF-8 characters
    }
    const std::size_t size = dir_length + (sizeof kPrefix - 1) + keep + (sizeof kMark - 1) + kRandom;
    if (size + 1 > kPathCapacity) return false;
    char *p = out;
    std::memcpy(p, target, dir_length);
    p += dir_length;
    std::memcpy(p, kPrefix, sizeof kPrefix - 1);
    p += sizeof kPrefix - 1;
    std::memcpy(p, leaf, keep);
    p += keep;
    std::memcpy(p, kMark, sizeof kMark - 1);
    p += sizeof kMark - 1;
    uint64_t bits = draw();
    for (std::size_t i = 0; i < kRandom; ++i, bits /= sizeof kAlphabet - 1) *p++ = kAlphabet[bits % (sizeof kAlphabet - 1)];
    *p = '\0';
    return true;
}

Placed close_and_rename(PendingFile &file) {
    const int32_t fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) {
        discard_pending(file);
        return Placed::kNotClosed;
    }
    if (rename(file.name, file.target) != 0) {
        discard_pending(file);
        return Placed::kNotPlaced;
    }
    file.name[0] = '\0';
    return Placed::kDone;
}

}  // namespace wks::plat

/*
 * The worksheet family: which variant a file is, told from its first bytes
 * (an ORX header block, the first record's type, length and BOF version,
 * the record types that follow), and the opening of every variant whose
 * records are those of WK1 files.
 *
 * WKS, WK1 and Symphony files and the Works files of BOF version 1028
 * frame records alike and keep cells in the WK1 layout; the records of
 * their own types are delivered as they stand, for the caller to skip.
 * The variants with a BOF record of 26 bytes, a first byte of 0xFF, or a
 * formula code of their own are named but not read.
 */
#include "wks/family.h"

#include "platform/platform.h"
#include "wks/stream.h"

#include <cstring>

namespace wks::family {
namespace {

constexpr uint16_t kVersionSymphony = 1029;
constexpr uint16_t kVersionWq1 = 0x5120;
constexpr uint16_t kVersionWq2 = 0x5121;
constexpr uint16_t kLongBofLength = 26;
constexpr uint16_t kWorksFirst = 0x5400, kWorksLast = 0x54FF;
constexpr uint16_t kWorksLicsMarker = 0x5425;
constexpr unsigned char kWorksWindowsFirstByte = 0xFF;
constexpr int64_t kScanBytes = 64 * 1024;  // where Works records are looked for

struct Variant {
    int32_t variant;
    int32_t charset;
    const char *name, *extension, *registry, *refusal;
};

const char kLongBof[] = "its records and formula code are not those of WK1 files";

// In the order of the WKS_VARIANT_* numbers.
const Variant kVariants[] = {
    {WKS_VARIANT_UNKNOWN, WKS_CALC_CHARSET_CP437, "", "", "", "not a worksheet of the WKS/WK1 family"},
    {WKS_VARIANT_EMPTY, WKS_CALC_CHARSET_CP437, "empty", "", "", "the file is empty"},
    {WKS_VARIANT_ORX, WKS_CALC_CHARSET_CP437, "an ORX worksheet", ".orx", "", ""},
    {WKS_VARIANT_WKS, WKS_CALC_CHARSET_CP437, "a 1-2-3 Release 1A worksheet", ".wks", "x-fmt/117", ""},
    {WKS_VARIANT_WK1, WKS_CALC_CHARSET_LICS, "a 1-2-3 Release 2 worksheet", ".wk1", "x-fmt/114", ""},
    {WKS_VARIANT_SYMPHONY, WKS_CALC_CHARSET_LICS, "a Symphony worksheet", ".wrk or .wr1", "", ""},
    {WKS_VARIANT_WORKS, WKS_CALC_CHARSET_CP437, "a Works for DOS spreadsheet", ".wks", "", ""},
    {WKS_VARIANT_WORKS_WIN, WKS_CALC_CHARSET_CP437, "a Works for Windows spreadsheet", ".wks", "",
     "its records are not those of WK1 files"},
    {WKS_VARIANT_WQ1, WKS_CALC_CHARSET_CP437, "a Quattro Pro for DOS worksheet", ".wq1", "x-fmt/121",
     "its formula code is not that of WK1 files"},
    {WKS_VARIANT_WQ2, WKS_CALC_CHARSET_CP437, "a Quattro Pro for DOS worksheet", ".wq2", "x-fmt/122",
     "its formula code is not that of WK1 files"},
    {WKS_VARIANT_WK3, WKS_CALC_CHARSET_CP437, "a 1-2-3 Release 3 worksheet", ".wk3", "x-fmt/115", kLongBof},
    {WKS_VARIANT_WK4, WKS_CALC_CHARSET_CP437, "a 1-2-3 Release 4 worksheet", ".wk4", "x-fmt/116", kLongBof},
    {WKS_VARIANT_123, WKS_CALC_CHARSET_CP437, "a 1-2-3 97 or Millennium worksheet", ".123", "fmt/1452", kLongBof},
};
static_assert(sizeof kVariants / sizeof kVariants[0] == WKS_VARIANT_123 + 1, "one row per variant");

bool readable(int32_t variant) {
    return variant == WKS_VARIANT_ORX || variant == WKS_VARIANT_WKS || variant == WKS_VARIANT_WK1 ||
           variant == WKS_VARIANT_SYMPHONY || variant == WKS_VARIANT_WORKS;
}

// Reads up to n bytes; the count read.
int64_t read_some(int32_t fd, unsigned char *out, int64_t n) {
    int64_t got = 0;
    while (got < n) {
        const int32_t r = plat::read(fd, out + got, static_cast<uint32_t>(n - got));
        if (r <= 0) break;
        got += r;
    }
    return got;
}

struct Found {
    int32_t variant = WKS_VARIANT_UNKNOWN;
    int32_t version = -1;
    bool lics_marker = false;
};

// The record types after a BOF record of version 1028 within the bytes read.
void scan_works(const unsigned char *bytes, int64_t size, Found &found) {
    int64_t at = 0;
    while (at + kRecordHeaderSize <= size) {
        const uint16_t type = get_u16(bytes + at), length = get_u16(bytes + at + kRecordLengthOffset);
        if (type >= kWorksFirst && type <= kWorksLast) found.variant = WKS_VARIANT_WORKS;
        if (type == kWorksLicsMarker) found.lics_marker = true;
        if (type == WKS_EOF) return;
        at += kRecordHeaderSize + length;
    }
}

Found identify_records(const char *path) {
    Found found;
    const int32_t fd = plat::open(path, plat::kRead);
    if (fd < 0) return found;
    static unsigned char bytes[kScanBytes];
    const int64_t size = read_some(fd, bytes, kScanBytes);
    plat::close(fd);
    if (size == 0) return found.variant = WKS_VARIANT_EMPTY, found;
    if (bytes[0] == kWorksWindowsFirstByte) return found.variant = WKS_VARIANT_WORKS_WIN, found;
    if (size < kRecordHeaderSize + 2 || get_u16(bytes) != WKS_BOF) return found;
    const uint16_t length = get_u16(bytes + kRecordLengthOffset);
    const uint16_t version = get_u16(bytes + kRecordHeaderSize);
    if (length == kLongBofLength) {
        found.version = version;
        if (version == 0x1000) found.variant = WKS_VARIANT_WK3;
        if (version == 0x1002) found.variant = WKS_VARIANT_WK4;
        if (version == 0x1003 || version == 0x1005) found.variant = WKS_VARIANT_123;
        return found;
    }
    if (length != 2) return found;
    found.version = version;
    switch (version) {
    case kVersion1028:
        found.variant = WKS_VARIANT_WKS;
        scan_works(bytes, size, found);
        break;
    case kVersionSymphony: found.variant = WKS_VARIANT_SYMPHONY; break;
    case kVersion1030: found.variant = WKS_VARIANT_WK1; break;
    case kVersionWq1: found.variant = WKS_VARIANT_WQ1; break;
    case kVersionWq2: found.variant = WKS_VARIANT_WQ2; break;
    default: break;
    }
    return found;
}

}  // namespace

int32_t identify(const char *path, WKS_FAMILY *out) {
    Found found;
    if (!is_empty(path)) {
        if (is_orx_file(path))
            found.variant = WKS_VARIANT_ORX;  // its BOF record is checked when it is opened
        else
            found = identify_records(path);
    }
    if (out) {
        const Variant &v = kVariants[found.variant];
        out->variant = found.variant;
        out->readable = readable(found.variant) ? 1 : 0;
        out->version = found.version;
        out->charset = found.lics_marker ? WKS_CALC_CHARSET_LICS : v.charset;
        out->name = v.name;
        out->extension = v.extension;
        out->registry = v.registry;
        out->refusal = v.refusal;
    }
    return found.variant;
}

// A BOF record of length 2 and a version of a variant read with the WK1 layout.
bool is_family_bof(const WKS *h) {
    if (rec_type(h) != WKS_BOF || rec_length(h) != 2) return false;
    const uint16_t version = get_u16(h->rec.body);
    return version == kVersion1028 || version == kVersion1030 || version == kVersionSymphony;
}

WKS *open(WKS *h, const char *path, WKS_FAMILY *out) {
    if (!h) return nullptr;
    WKS_FAMILY seen;
    identify(path, &seen);
    if (out) *out = seen;
    reset_position(h);
    // A variant named and not read is refused; anything else is tried as the
    // WK1 opening tries it, which tells a file cut short (27) from one that
    // is no worksheet (38).
    if (!seen.readable && seen.variant > WKS_VARIANT_EMPTY) {
        set_error(h, WKS_E_OPEN);
        return nullptr;
    }
    if (seen.variant == WKS_VARIANT_ORX) return wksopen(h, path, "");
    h->fd = plat::open(path, plat::kRead);
    if (h->fd < 0) {
        set_error(h, WKS_E_OPEN);
        return nullptr;
    }
    h->mode = 'r';
    const int16_t got = read_record(h, Layout::kWk1);
    if (got != 0 || !is_family_bof(h)) {
        close_descriptor(h);
        set_error(h, got > 0 ? got : WKS_E_OPEN);
        return nullptr;
    }
    set_error(h, 0);
    return h;
}

}  // namespace wks::family

extern "C" {

int32_t wks_identify(const char *path, WKS_FAMILY *out) { return wks::family::identify(path, out); }

WKS *wks_open_family(WKS *h, const char *path, WKS_FAMILY *out) { return wks::family::open(h, path, out); }

}

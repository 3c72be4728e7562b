/*
 * Record-by-record reading of ORX and WK1 files for the wks tool.  An ORX
 * file is read in the library's load header mode, and its header block is
 * taken and kept.  Every field is taken from inside the record's own
 * length; a cell too short for its value is reported as bad, not read.
 *
 * The byte offset of each record is counted as the records go by (the
 * header block, then each record's 4-byte header and body).  When the
 * library cannot read on, the file is read directly at that offset to tell
 * what is there: a record cut short, a length no record can have, or a
 * whole record with nothing, or only part of a header, after it.
 */
#include "tools/sheet.h"

#include "tools/formula_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tool {
namespace {

constexpr int kRecordHeader = 4;  // type and length words
constexpr int kFormulaValue = WKS_CELL_FORMULA_CODE - WKS_CELL_VALUE;  // the stored value before the code
constexpr int32_t kReadAheadBytes = 1 << 18;

int get16(const unsigned char *p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

// Text from p up to a NUL or n bytes.
std::string text_at(const unsigned char *p, int n) {
    const void *nul = std::memchr(p, 0, static_cast<std::size_t>(n));
    const int len = nul ? static_cast<int>(static_cast<const unsigned char *>(nul) - p) : n;
    return std::string(reinterpret_cast<const char *>(p), static_cast<std::size_t>(len));
}

struct Name {
    int type;
    const char *name;
};

// Record names of the WK1 format.
const Name kNames[] = {
    {0, "BOF"},        {1, "EOF"},         {2, "CALCMODE"},  {3, "CALCORDER"},   {4, "SPLIT"},
    {5, "SYNC"},       {6, "RANGE"},       {7, "WINDOW1"},   {8, "COLW1"},       {9, "WINTWO"},
    {10, "COLW2"},     {11, "NAME"},       {12, "BLANK"},    {13, "INTEGER"},    {14, "NUMBER"},
    {15, "LABEL"},     {16, "FORMULA"},    {24, "TABLE"},    {25, "ORANGE"},     {26, "PRANGE"},
    {27, "SRANGE"},    {28, "FRANGE"},     {29, "KRANGE"},   {32, "HRANGE"},     {35, "KRANGE2"},
    {36, "PROTEC"},    {37, "FOOTER"},     {38, "HEADER"},   {39, "SETUP"},      {40, "MARGINS"},
    {41, "LABELFMT"},  {42, "TITLES"},     {45, "GRAPH"},    {46, "NGRAPH"},     {47, "CALCCOUNT"},
    {48, "UNFORMATTED"}, {49, "CURSORW12"}, {50, "WINDOW"},  {51, "STRING"},     {55, "PASSWORD"},
    {56, "LOCKED"},    {60, "QUERY"},      {61, "QUERYNAME"}, {62, "PRINT"},     {63, "PRINTNAME"},
    {64, "GRAPH2"},    {65, "GRAPHNAME"},  {66, "ZOOM"},     {67, "SYMSPLIT"},   {68, "NSROWS"},
    {69, "NSCOLS"},    {70, "RULER"},      {71, "NNAME"},    {72, "ACOMM"},      {73, "AMACRO"},
    {74, "PARSE"},
};

}  // namespace

const char *record_name(int type) {
    for (const Name &n : kNames)
        if (n.type == type) return n.name;
    return nullptr;
}

Sheet::~Sheet() { close(); }

void Sheet::close() {
    if (tail_) std::fclose(tail_);
    tail_ = nullptr;
    if (!open_) return;
    if (format_ == Format::kOrx)
        wksclose(&h_);
    else
        wksclose_wk1(&h_);
    open_ = false;
}

bool Sheet::open(const std::string &path) {
    path_ = path;
    error_ = unreadable_reason(path);
    if (!error_.empty()) return false;
    wks_identify(path.c_str(), &family_);
    if (family_.variant == WKS_VARIANT_EMPTY) {
        error_ = "is empty";
        return false;
    }
    if (!family_.readable && family_.variant != WKS_VARIANT_UNKNOWN) {
        error_ = variant_text(family_);
        return false;
    }
    format_ = family_.variant == WKS_VARIANT_ORX ? Format::kOrx : family_.readable ? Format::kWk1 : Format::kNeither;
    if (format_ == Format::kNeither) {
        error_ = "not an ORX or WK1 file";
        return false;
    }
    return rewind();
}

bool Sheet::rewind() {
    close();
    std::memset(&h_, 0, sizeof h_);
    index_ = 0;
    at_eof_ = false;
    tail_done_ = false;
    broken_ = false;
    raw_.clear();
    WKS *opened;
    if (format_ == Format::kOrx) {
        set_open_for_load(1);  // the header block goes to the host buffer, to be taken here
        opened = wksopen(&h_, path_.c_str(), "");
        unsigned char block[WKS_HEADER_SIZE];
        if (GetOrxHeader(block)) header_.assign(block, block + WKS_HEADER_SIZE);
        offset_ = WKS_HEADER_SIZE;
    } else {
        opened = wks_open_family(&h_, path_.c_str(), nullptr);
        offset_ = 0;
    }
    if (!opened) {
        const int code = h_.error;
        error_ = std::string("cannot open as ") + format_name(format_) + " file" +
                 (code ? ": " + error_text(code) : std::string());
        return false;
    }
    open_ = true;
    // Records from large blocks: the same records and codes, far fewer read
    // calls.  Where that cannot be had, the handle reads on record by record.
    wks_read_ahead(&h_, kReadAheadBytes);
    return true;
}

bool Sheet::load_names() {
    const bool decode = decode_;
    decode_ = false;
    Record r;
    while (next(r) == 1) {
        if (r.kind != Kind::kRangeName) continue;
        wksir(kToolFile, r.text.c_str(), static_cast<int16_t>(r.c1), static_cast<int16_t>(r.r1),
              static_cast<int16_t>(r.c2), static_cast<int16_t>(r.r2));
        take_messages();  // a duplicate or invalid name stays out of the table; dump still lists it
    }
    decode_ = decode;
    return rewind();
}

int Sheet::next(Record &r) {
    if (broken_) {  // the record before the break went out last time
        broken_ = false;
        raw_.clear();
        close();
        return -1;
    }
    if (at_eof_ && past_end_ && open_ && !tail_done_) return next_past_end(r);
    if (!open_ || at_eof_) return 0;
    const unsigned char *record = reinterpret_cast<const unsigned char *>(&h_.rec);
    if (index_ > 0) {
        const int16_t got = format_ == Format::kOrx ? wksnextr(&h_) : wksnextr_wk1(&h_);
        if (got > 0) {
            take_messages();  // the library's Read Error: what follows says more
            error_ = diagnose();
            if (raw_.empty()) {
                close();
                return -1;
            }
            broken_ = true;
            record = raw_.data();
        }
    }
    r = Record();
    r.index = index_++;
    r.offset = offset_;
    r.type = static_cast<uint16_t>(get16(record));
    r.length = static_cast<uint16_t>(get16(record + 2));
    r.body = record + kRecordHeader;
    offset_ += kRecordHeader + r.length;
    describe(r);
    if (r.kind == Kind::kEof) {
        at_eof_ = true;
        if (past_end_) {  // the EOF record too from the file's own bytes
            --index_;
            offset_ = r.offset;
            return next_past_end(r);
        }
    }
    return 1;
}

int Sheet::next_past_end(Record &r) {
    if (!tail_ && (!(tail_ = std::fopen(path_.c_str(), "rb")) || std::fseek(tail_, offset_, SEEK_SET) != 0)) {
        error_ = "cannot read on after the EOF record at byte " + std::to_string(offset_) + ": " + std::strerror(errno);
        close();
        return -1;
    }
    raw_.assign(WKS_RECORD_SIZE, 0);
    std::size_t got = std::fread(raw_.data(), 1, kRecordHeader, tail_);
    if (got == 0) {
        close();
        return 0;
    }
    const int length = got == kRecordHeader ? static_cast<uint16_t>(get16(raw_.data() + 2)) : 0;
    const bool whole = got == kRecordHeader && length <= WKS_MAX_READ_BODY &&
                       std::fread(raw_.data() + kRecordHeader, 1, static_cast<std::size_t>(length), tail_) ==
                           static_cast<std::size_t>(length);
    r = Record();
    r.index = index_++;
    r.offset = offset_;
    if (whole) {
        r.type = static_cast<uint16_t>(get16(raw_.data()));
        r.length = length;
        r.body = raw_.data() + kRecordHeader;
        offset_ += kRecordHeader + length;
        describe(r);
        return 1;
    }
    // The rest of the file, whatever it holds.
    std::fseek(tail_, offset_, SEEK_SET);
    raw_.clear();
    unsigned char block[4096];
    while ((got = std::fread(block, 1, sizeof block, tail_)) > 0) raw_.insert(raw_.end(), block, block + got);
    r.kind = Kind::kTrailing;
    r.type = -1;
    r.length = static_cast<int>(raw_.size());
    r.body = raw_.data();
    offset_ += r.length;
    std::fclose(tail_);
    tail_ = nullptr;
    tail_done_ = true;
    return 1;
}

std::string Sheet::diagnose() {
    raw_.clear();
    const std::string record = "record " + std::to_string(index_);
    const std::string at = " at byte " + std::to_string(offset_);
    std::FILE *f = std::fopen(path_.c_str(), "rb");
    if (!f) return "cannot read " + record + at + ": " + std::strerror(errno);
    long size = -1;
    unsigned char head[kRecordHeader];
    std::size_t got = 0;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size >= 0 && std::fseek(f, offset_, SEEK_SET) == 0) got = std::fread(head, 1, sizeof head, f);
    std::string why = "read error at " + record + at;
    if (size >= 0 && offset_ >= size) {
        why = "file ends after record " + std::to_string(index_ - 1) + ", at byte " + std::to_string(size) +
              ", without an EOF record";
    } else if (size >= 0 && got < sizeof head) {
        why = "file ends inside the header of " + record + at;
    } else if (size >= 0) {
        const long length = head[2] | head[3] << 8;
        const long there = size - offset_ - kRecordHeader;
        const long next = offset_ + kRecordHeader + length;
        if (length > WKS_MAX_READ_BODY) {
            why = record + at + " gives its body as " + std::to_string(length) + " bytes, more than a record can hold (" +
                  std::to_string(WKS_MAX_READ_BODY) + ")";
        } else if (there < length) {
            why = "file ends inside " + record + at + " (its header gives " + std::to_string(length) +
                  " body bytes, " + std::to_string(there) + " are there)";
        } else if (size - next < kRecordHeader) {
            // A whole record buffer, as the library's record functions take one.
            raw_.assign(WKS_RECORD_SIZE, 0);
            std::memcpy(raw_.data(), head, kRecordHeader);
            if (std::fread(raw_.data() + kRecordHeader, 1, static_cast<std::size_t>(length), f) !=
                static_cast<std::size_t>(length))
                raw_.clear();
            why = size == next ? "file ends after " + record + ", at byte " + std::to_string(next) +
                                     ", without an EOF record"
                               : "file ends inside the header of record " + std::to_string(index_ + 1) +
                                     " at byte " + std::to_string(next);
        }
    }
    std::fclose(f);
    return why;
}

void Sheet::describe(Record &r) {
    const unsigned char *b = r.body;
    switch (r.type) {
    case WKS_BOF:
        r.kind = Kind::kBof;
        if (r.length >= 2) r.version = static_cast<uint16_t>(get16(b));
        return;
    case WKS_EOF: r.kind = Kind::kEof; return;
    case WKS_RANGE_NAME:
    case WKS_RANGE_NAME2:
        if (r.length < WKS_NAME_RECORD_SIZE) {
            r.kind = Kind::kBad;
            r.problem = "range-name record shorter than " + std::to_string(WKS_NAME_RECORD_SIZE) + " bytes";
            return;
        }
        r.kind = Kind::kRangeName;
        r.text = text_at(b, WKS_NAME_TEXT_SIZE);
        b += WKS_NAME_COORDINATES;
        r.c1 = get16(b), r.r1 = get16(b + 2), r.c2 = get16(b + 4), r.r2 = get16(b + 6);
        return;
    case WKS_BLANK: case WKS_INTEGER: case WKS_NUMBER: case WKS_LABEL: case WKS_FORMULA: case WKS_STRING:
        describe_cell(r);
        return;
    default: r.kind = Kind::kOther; return;
    }
}

void Sheet::describe_cell(Record &r) {
    const int base = format_ == Format::kOrx ? WKS_ORX_CELL_PREFIX : 0;
    const int value = base + WKS_CELL_VALUE;
    const int room = r.length - value;  // bytes of the value area
    if (room < 0) {
        r.kind = Kind::kBad;
        r.problem = "cell record shorter than its cell fields";
        return;
    }
    const unsigned char *b = r.body;
    r.cell = true;
    r.format = b[base + WKS_CELL_FORMAT];
    r.col = get16(b + base + WKS_CELL_COLUMN);
    r.row = get16(b + base + WKS_CELL_ROW);
    const unsigned char *v = b + value;
    r.value = v;
    auto too_short = [&](int need) {
        if (room >= need) return false;
        r.kind = Kind::kBad;
        r.problem = "cell value needs " + std::to_string(need) + " bytes, record has " + std::to_string(room);
        return true;
    };
    switch (r.type) {
    case WKS_BLANK: r.kind = Kind::kBlank; return;
    case WKS_INTEGER:
        if (too_short(2)) return;
        r.kind = Kind::kInteger;
        r.integer = get16(v);
        return;
    case WKS_NUMBER:
        if (too_short(8)) return;
        r.kind = Kind::kNumber;
        r.number = wksid(v);
        return;
    case WKS_LABEL:
    case WKS_STRING:
        r.kind = r.type == WKS_LABEL ? Kind::kLabel : Kind::kString;
        r.text = text_at(v, room);
        return;
    default: break;
    }
    if (too_short(kFormulaValue + 2)) return;
    r.number = wksid(v);
    const unsigned char *code = v + kFormulaValue;
    const int code_length = static_cast<uint16_t>(get16(code));
    if (too_short(kFormulaValue + 2 + code_length)) return;
    r.kind = Kind::kFormula;
    r.code = code;
    r.code_bytes = 2 + code_length;
    if (!decode_) return;
    const int16_t got = decode(r);
    if (got != 0) {
        r.kind = Kind::kBad;
        r.code = nullptr;
        r.problem = "formula code does not decode: " + error_text(got);
        take_messages();  // the same code, shown by the decoder
        return;
    }
    r.text = exact_formula_text(code, r.code_bytes, decoded_);
}

int16_t Sheet::decode(const Record &r) {
    return wksfr(kToolFile, static_cast<int16_t>(r.col), static_cast<int16_t>(r.row), r.code, decoded_,
                 kDecodeSize);
}

bool Sheet::decodes(const Record &r) {
    if (r.kind != Kind::kFormula || decode(r) == 0) return true;
    take_messages();  // the decoder shows the code
    return false;
}

}  // namespace tool

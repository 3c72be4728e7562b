/*
 * Record-by-record reading of ORX and WK1 files for the wks tool.  An ORX
 * file is read in the library's probe header mode, so its header block is
 * checked and not kept.  Every field is taken from inside the record's own
 * length; a cell too short for its value is reported as bad, not read.
 */
#include "tools/sheet.h"

#include <cstring>

namespace tool {
namespace {

constexpr int kOrxCellBase = 11;  // the ORX cell prefix in front of the WK1 cell layout
constexpr int kCellFields = 5;    // format byte, column, row
constexpr int kFormulaValue = 8;  // the stored value in front of the formula code
constexpr int kNameBytes = 16;    // range name, NUL-terminated within these
constexpr int kNameBody = 24;     // name and four coordinates
constexpr int kDecodeSize = 16384;

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
    if (!open_) return;
    if (format_ == Format::kOrx)
        wksclose(&h_);
    else
        wksclose_wk1(&h_);
    open_ = false;
}

bool Sheet::open(const std::string &path) {
    path_ = path;
    format_ = file_format(path);
    if (format_ == Format::kMissing) {
        error_ = "cannot open: no such file";
        return false;
    }
    if (format_ == Format::kNeither) {
        error_ = "not an ORX or WK1 file";
        return false;
    }
    return start();
}

bool Sheet::start() {
    close();
    std::memset(&h_, 0, sizeof h_);
    index_ = 0;
    at_eof_ = false;
    WKS *opened;
    if (format_ == Format::kOrx) {
        set_open_for_load(0);  // check the header block, keep nothing
        opened = wksopen(&h_, path_.c_str(), "");
        set_open_for_load(1);
    } else {
        opened = wksopen_wk1(&h_, path_.c_str(), "");
    }
    if (!opened) {
        const int code = h_.error;
        error_ = std::string("cannot open as ") + format_name(format_) + " file" +
                 (code ? ": " + error_text(code) : std::string());
        return false;
    }
    open_ = true;
    return true;
}

bool Sheet::load_names() {
    Record r;
    int got;
    while ((got = next(r)) == 1) {
        if (r.kind != Kind::kRangeName) continue;
        wksir(kToolFile, r.text.c_str(), static_cast<int16_t>(r.c1), static_cast<int16_t>(r.r1),
              static_cast<int16_t>(r.c2), static_cast<int16_t>(r.r2));
        take_messages();  // a duplicate or invalid name stays out of the table; dump still lists it
    }
    return got == 0 && start();
}

int Sheet::next(Record &r) {
    if (!open_ || at_eof_) return 0;
    if (index_ > 0) {
        const int16_t got = format_ == Format::kOrx ? wksnextr(&h_) : wksnextr_wk1(&h_);
        if (got > 0) {
            error_ = "reading record " + std::to_string(index_) + ": " + error_text(got);
            close();
            return -1;
        }
    }
    r = Record();
    r.index = index_++;
    r.type = static_cast<uint16_t>(get16(h_.rec.type));
    r.length = static_cast<uint16_t>(get16(h_.rec.length));
    r.body = h_.rec.body;
    describe(r);
    if (r.kind == Kind::kEof) at_eof_ = true;
    return 1;
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
        if (r.length < kNameBody) {
            r.kind = Kind::kBad;
            r.problem = "range-name record shorter than " + std::to_string(kNameBody) + " bytes";
            return;
        }
        r.kind = Kind::kRangeName;
        r.text = text_at(b, kNameBytes);
        r.c1 = get16(b + 16), r.r1 = get16(b + 18), r.c2 = get16(b + 20), r.r2 = get16(b + 22);
        return;
    case WKS_BLANK: case WKS_INTEGER: case WKS_NUMBER: case WKS_LABEL: case WKS_FORMULA: case WKS_STRING:
        describe_cell(r);
        return;
    default: r.kind = Kind::kOther; return;
    }
}

void Sheet::describe_cell(Record &r) {
    const int base = format_ == Format::kOrx ? kOrxCellBase : 0;
    const int value = base + kCellFields;
    const int room = r.length - value;  // bytes of the value area
    if (room < 0) {
        r.kind = Kind::kBad;
        r.problem = "cell record shorter than its cell fields";
        return;
    }
    const unsigned char *b = r.body;
    r.cell = true;
    r.format = b[base];
    r.col = get16(b + base + 1);
    r.row = get16(b + base + 3);
    const unsigned char *v = b + value;
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
    static char text[kDecodeSize];
    const int16_t got = wksfr(kToolFile, static_cast<int16_t>(r.col), static_cast<int16_t>(r.row), code,
                              text, kDecodeSize);
    if (got != 0) {
        r.kind = Kind::kBad;
        r.problem = "formula code does not decode: " + error_text(got);
        take_messages();  // the same code, shown by the decoder
        return;
    }
    r.kind = Kind::kFormula;
    r.text = text;
}

}  // namespace tool

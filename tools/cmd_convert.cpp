/*
 * wks convert SRC DST, and wks convert --to orx|wk1 --out DIR SRC...: whole
 * files from WK1 to ORX or back, the direction told by the source's format.
 *
 * The conversion is the library converters' own, record by record through
 * the exported functions: each record between BOF and EOF translated to the
 * other cell layout, each formula's external references rewritten (an ORX
 * formula in a copy, where its text may grow), then written.  Doing it here
 * lets the tool write through its safe output (interruptions included),
 * name the byte where a damaged source breaks off, and draw progress.
 * Messages the library shows during a conversion make it count as failed.
 */
#include "tools/commands.h"
#include "tools/output.h"
#include "tools/sheet.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks convert SRC DST\n"
    "       wks convert --to orx|wk1 --out DIR SRC...\n"
    "\n"
    "Converts a WK1 file to ORX or an ORX file to WK1; the source's format\n"
    "decides the direction.  SRC \"-\" reads standard input.  DST keeps its old\n"
    "contents until the new file is complete: a failure or an interruption\n"
    "leaves it as it was.  DST may name SRC: the file is then converted in\n"
    "place (BOF version 1028).  The second form converts each SRC into DIR,\n"
    "named after the source with the extension .orx or .wk1; a source already\n"
    "in the target format is an error.  A progress bar is drawn on standard\n"
    "error when it is a terminal (for one file, when it is 1 MiB or more).\n"
    "Exit status 0 when every file converted.\n";

constexpr int kBarWidth = 30;
constexpr long kLargeFile = 1L << 20;  // a single conversion this big shows progress
constexpr int kLongestWk1Text = 255;   // longer formula texts are kept whole, with a warning
constexpr int kDecodeSize = 4096;
constexpr int kRecordHeader = 4;      // type and length words in front of a body

class Bar {
public:
    explicit Bar(bool shown) : shown_(shown) {
        if (shown_) set_progress_line(true);
    }
    ~Bar() {
        if (shown_) set_progress_line(false);
    }
    // Draws done out of total, when the bar would change.
    void draw(long done, long total, const std::string &what) {
        if (!shown_ || total <= 0) return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == percent_) return;
        percent_ = percent;
        const int filled = percent * kBarWidth / 100;
        std::fprintf(stderr, "\r\033[K[%.*s%*s] %3d%% %s", filled, "##############################",
                     kBarWidth - filled, "", percent, what.c_str());
        if (done >= total) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    bool shown_;
    int percent_ = -1;
};

// True when an ORX formula record decodes into a text longer than a WK1
// file's formulas are read with.
bool long_wk1_text(const WKS_RECORD &rec) {
    static char text[kDecodeSize];
    const unsigned char *b = rec.body + WKS_ORX_CELL_PREFIX;
    const int length = rec.length[0] | rec.length[1] << 8;
    const int code_at = WKS_ORX_CELL_PREFIX + WKS_CELL_FORMULA_CODE;
    if (length < code_at + 2 || (rec.body[code_at] | rec.body[code_at + 1] << 8) > length - code_at - 2) return false;
    const auto col = static_cast<int16_t>(b[WKS_CELL_COLUMN] | b[WKS_CELL_COLUMN + 1] << 8);
    const auto row = static_cast<int16_t>(b[WKS_CELL_ROW] | b[WKS_CELL_ROW + 1] << 8);
    return wksfr(0, col, row, rec.body + code_at, text, kDecodeSize) == 0 && std::strlen(text) > kLongestWk1Text;
}

// Converts one file; reports on standard error and returns the status.
int convert_one(const std::string &source, const std::string &dst, Format want, Bar &bar, bool byte_progress) {
    const std::string shown = shown_name(source);
    std::string path, why;
    if (!input_path(source, path, why)) return fail(shown, why);
    Sheet in;
    in.decode_formulas(false);
    if (!in.open(path)) return fail(shown, in.error());
    if (want != Format::kNeither && in.format() == want)
        return fail(shown, std::string("is already a ") + format_name(want) + " file");
    const bool to_orx = in.format() == Format::kWk1;
    Output out(dst, to_orx ? Format::kOrx : Format::kWk1);
    if (!out.create(source == "-" ? "" : path, nullptr)) return fail(dst, out.error());
    take_messages();
    struct stat st;
    const long size = byte_progress && ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
    const std::string arrow = shown + " -> " + dst;

    WKS formula{};  // an ORX formula is rewritten here, where it may grow
    bool long_text = false;
    Record r;
    int got;
    while ((got = in.next(r)) == 1 && r.kind != Kind::kEof) {
        if (r.index == 0) continue;  // the BOF record: the new file has its own
        const unsigned char *record = r.body - kRecordHeader;
        unsigned char *translated = reinterpret_cast<unsigned char *>(&out.handle().rec);
        bool translatable;
        if (to_orx) {
            translatable = wk1_rec_to_orx_rec(record, translated) == 0;
            if (translatable && r.type == WKS_FORMULA) modify_formula_wk12orx(&out.handle());
        } else {
            if (r.type == WKS_FORMULA) {
                std::memcpy(&formula.rec, record, static_cast<std::size_t>(kRecordHeader + r.length));
                const int16_t rewritten = modify_formula_orx2wk1(&formula);
                long_text |= rewritten == WKS_E_FORMULA_SIZE || (rewritten == 0 && long_wk1_text(formula.rec));
                record = reinterpret_cast<const unsigned char *>(&formula.rec);
            }
            translatable = orx_rec_to_wk1_rec(record, translated) == 0;
        }
        if (!translatable)
            return fail(shown, "record " + std::to_string(r.index) + " at byte " + std::to_string(r.offset) +
                                   ": a cell record of " + std::to_string(r.length) +
                                   " bytes cannot be translated; nothing written");
        if (!out.write_current()) return fail(dst, out.error());
        bar.draw(in.offset(), size, shown);
    }
    if (got < 0) return fail(shown, in.error() + "; nothing written");
    in.close();  // before the new file takes the place of a destination that may be the source
    if (!out.commit()) return fail(dst, out.error());
    bar.draw(size, size, shown);
    if (messages_pending()) return fail(arrow, "converted with errors");
    if (long_text) return warn(arrow, "converted, but a formula text is too long for a WK1 file (kept whole)");
    return kOk;
}

std::string base_name(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void draw_count(std::size_t done, std::size_t total, const std::string &name) {
    const int filled = static_cast<int>(done * kBarWidth / total);
    std::fprintf(stderr, "\r\033[K[%.*s%*s] %zu/%zu %s", filled, "##############################",
                 kBarWidth - filled, "", done, total, name.c_str());
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

int cmd_convert(const Args &args) {
    Options o;
    if (!parse_options("convert", args, {}, {"--to", "--out"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    const bool terminal = ::isatty(STDERR_FILENO);
    if (!o.has("--to") && !o.has("--out")) {
        if (o.positional.size() != 2) return usage_error("convert", "expects SRC and DST, or --to and --out");
        struct stat st;
        const std::string &src = o.positional[0];
        const bool large = src != "-" && ::stat(src.c_str(), &st) == 0 && st.st_size >= kLargeFile;
        Bar bar(terminal && large);
        return convert_one(src, o.positional[1], Format::kNeither, bar, true);
    }
    if (!o.has("--to") || !o.has("--out")) return usage_error("convert", "--to and --out go together");
    const std::string &to = o.given.at("--to"), &dir = o.given.at("--out");
    if (to != "orx" && to != "wk1") return usage_error("convert", "--to takes orx or wk1");
    if (o.positional.empty()) return usage_error("convert", "expects at least one SRC");
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(dir, "not a directory");

    const Format want = to == "orx" ? Format::kOrx : Format::kWk1;
    set_progress_line(terminal);
    Bar no_bytes(false);
    int status = kOk;
    std::set<std::string> written;
    for (std::size_t i = 0; i < o.positional.size(); ++i) {
        const std::string &src = o.positional[i];
        if (terminal) draw_count(i, o.positional.size(), src);
        const std::string dst = dir + "/" + base_name(src) + "." + to;
        if (src == "-")
            status = fail(shown_name(src), "has no name to give its result; use 'wks convert - DST'");
        else if (!written.insert(dst).second)
            status = fail(src, "would overwrite " + dst + ", converted from an earlier source");
        else if (convert_one(src, dst, want, no_bytes, false) != kOk)
            status = kFailed;
    }
    if (terminal) draw_count(o.positional.size(), o.positional.size(), "");
    set_progress_line(false);
    return status;
}

}  // namespace tool

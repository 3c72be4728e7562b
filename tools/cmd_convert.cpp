/*
 * wks convert SRC DST, and wks convert --to orx|wk1 --out DIR SRC...: whole
 * files through the library's converters, the direction told by the
 * source's format.  The converters' results become messages here; messages
 * the library shows during a conversion make it count as failed.
 */
#include "tools/commands.h"
#include "tools/common.h"
#include "wks.h"

#include <cstdio>
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
    "decides the direction.  The second form converts each SRC into DIR,\n"
    "named after the source with the extension .orx or .wk1; a source already\n"
    "in the target format is an error.  A progress bar is drawn on standard\n"
    "error when it is a terminal.  Exit status 0 when every file converted.\n";

constexpr int kBarWidth = 30;

// The text of a converter's result; empty for success.
std::string result_text(int32_t result, bool to_orx) {
    switch (result) {
    case 0: return "";
    case -1: return to_orx ? "cannot create the ORX destination" : "cannot open the source or create the WK1 destination";
    case -2: return to_orx ? "the source is not a WK1 file" : "the source is not an ORX file";
    case -3: return "out of memory for the header block";
    case -4: return "converted, but a formula text is too long for a WK1 file (kept whole)";
    case -5: return "the source is damaged: it ends before its EOF record or holds a cell that cannot be translated";
    case -6: return "the result could not be written whole";
    default: return "converter result " + std::to_string(result);
    }
}

// Converts one file; reports on standard error and returns the status.
int convert_one(const std::string &src, const std::string &dst, Format want) {
    const Format f = file_format(src);
    if (f == Format::kMissing) return fail(src, "cannot open: no such file");
    if (f == Format::kNeither) return fail(src, "not an ORX or WK1 file");
    if (want != Format::kNeither && f == want) return fail(src, std::string("is already a ") + format_name(f) + " file");
    const bool to_orx = f == Format::kWk1;
    take_messages();
    const int32_t result = to_orx ? wk1_to_orx(src.c_str(), dst.c_str()) : orx_to_wk1(src.c_str(), dst.c_str());
    wks_cleanup();  // the source's header block, read into the converter's buffer
    const std::string arrow = src + " -> " + dst;
    if (result == -4) return warn(arrow, result_text(result, to_orx));
    if (result != 0) return fail(arrow, result_text(result, to_orx));
    if (!messages_pending()) return kOk;
    return fail(arrow, "converted with errors");
}

std::string base_name(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void draw_progress(std::size_t done, std::size_t total, const std::string &name) {
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
    if (!o.has("--to") && !o.has("--out")) {
        if (o.positional.size() != 2) return usage_error("convert", "expects SRC and DST, or --to and --out");
        return convert_one(o.positional[0], o.positional[1], Format::kNeither);
    }
    if (!o.has("--to") || !o.has("--out")) return usage_error("convert", "--to and --out go together");
    const std::string &to = o.given.at("--to"), &dir = o.given.at("--out");
    if (to != "orx" && to != "wk1") return usage_error("convert", "--to takes orx or wk1");
    if (o.positional.empty()) return usage_error("convert", "expects at least one SRC");
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(dir, "not a directory");

    const Format want = to == "orx" ? Format::kOrx : Format::kWk1;
    const bool bar = ::isatty(STDERR_FILENO);
    set_progress_line(bar);
    int status = kOk;
    std::set<std::string> written;
    for (std::size_t i = 0; i < o.positional.size(); ++i) {
        const std::string &src = o.positional[i];
        if (bar) draw_progress(i, o.positional.size(), src);
        const std::string dst = dir + "/" + base_name(src) + "." + to;
        if (!written.insert(dst).second)
            status = fail(src, "would overwrite " + dst + ", converted from an earlier source");
        else if (convert_one(src, dst, want) != kOk)
            status = kFailed;
    }
    if (bar) draw_progress(o.positional.size(), o.positional.size(), "");
    set_progress_line(false);
    return status;
}

}  // namespace tool

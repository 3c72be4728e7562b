/*
 * wks calc [--check] FILE...: each file's formulas computed with the
 * library's wks_calc_file, and their values written into the file in place
 * (or, with --check, only compared with the values the file stores).  One
 * line per difference found, one for the circular references, one summing
 * up each file.
 */
#include "tools/commands.h"
#include "tools/output.h"
#include "tools/signals.h"
#include "tools/sheet.h"
#include "tools/text.h"
#include "wks.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks calc [--check] [--iterations N] [--reproducible] [--encoding SET] FILE...\n"
    "\n"
    "Computes the formulas of each ORX or WK1 FILE and writes their values\n"
    "into it in place; everything else in the file stays as it was.  The file\n"
    "is replaced only once the new version is complete: on any failure it\n"
    "keeps its bytes.  Prints per file how many formulas it holds and how\n"
    "many of their values changed, and the cells of circular references.\n"
    "\n"
    "  --check         compute and compare only: print each formula whose\n"
    "                  stored value is not what it computes to (cell, stored,\n"
    "                  computed); exit status 1 when there is any.  FILE may\n"
    "                  then be \"-\", standard input\n"
    "  --iterations N  passes over a sheet with circular references, 1 to 50\n"
    "                  (default 1)\n"
    "  --reproducible  @NOW is 1 January 1990 at noon, @RAND 0.5, @CELLPOINTER\n"
    "                  describes A1: the same values on every run\n"
    "  --encoding SET  the character set of strings: auto (the default: the set\n"
    "                  of the file's variant), cp437, cp850, cp1252, latin1 or\n"
    "                  lics, also for the case of letters beyond ASCII; output\n"
    "                  is UTF-8\n";

constexpr int kMaxIterations = 50;
constexpr std::size_t kCircularShown = 20;  // circular cells named; the rest are counted

struct Run {
    int32_t flags = 0;
    int iterations = 1;
    Charset set = Charset::kAuto;
};

// What the visitor gathers from one file.
struct Seen {
    const Run *run;
    std::vector<std::string> differences;  // "D2: stored 0, computed 5.4"
    std::vector<std::string> circular;     // cell names
};

std::string value_text(const WKS_VALUE &v, Charset set) {
    switch (v.kind) {
    case WKS_VALUE_NUMBER: return number_text(v.number);
    case WKS_VALUE_STRING: return json_string(to_utf8(v.text, set));
    case WKS_VALUE_NA: return "NA";
    default: return "ERR";
    }
}

extern "C" void visit(void *context, int16_t col, int16_t row, const WKS_VALUE *stored, const WKS_VALUE *computed,
                      int32_t marks) {
    Seen &seen = *static_cast<Seen *>(context);
    if (marks & WKS_FORMULA_CIRCULAR) seen.circular.push_back(cell_name(col, row));
    if ((marks & WKS_FORMULA_DIFFERS) && (seen.run->flags & WKS_CALC_CHECK))
        seen.differences.push_back(cell_name(col, row) + ": stored " + value_text(*stored, seen.run->set) +
                                   ", computed " + value_text(*computed, seen.run->set));
}

// Where a file that could not be read to its end breaks off.
std::string damage(const std::string &path) {
    take_messages();  // the library's read error: what follows says more
    Sheet sheet;
    if (!sheet.open(path)) return sheet.error();
    sheet.decode_formulas(false);
    Record r;
    while (sheet.next(r) == 1) {
    }
    return sheet.error().empty() ? error_text(WKS_E_READ) : sheet.error();
}

// Why a file that was read cannot be written in place.
std::string not_writable(const std::string &path, int reason) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) return "the file is read-only";
    return std::strerror(reason);
}

std::string plural(long n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The library asks it now and then: a signal asks the calculation to stop.
int32_t on_progress(void *, int64_t, int64_t) { return stop_requested() != 0; }

// Computes one file; kFailed when it could not be computed or, with
// --check, when a stored value differs.
int calc_file(const std::string &arg, const Run &run) {
    const std::string shown = shown_name(arg);
    const bool check = run.flags & WKS_CALC_CHECK;
    std::string path, why;
    if (!input_path(arg, path, why) || !(why = unreadable_reason(path)).empty()) return fail(shown, why);
    if (file_format(path) == Format::kNeither) {
        WKS_FAMILY family;
        if (wks_identify(path.c_str(), &family) == WKS_VARIANT_EMPTY) return fail(shown, "is empty");
        if (family.variant == WKS_VARIANT_UNKNOWN) return fail(shown, "not an ORX or WK1 file");
        if (!family.readable) return fail(shown, variant_text(family));
    }

    WKS_FAMILY family;
    wks_identify(path.c_str(), &family);
    Run file_run = run;
    file_run.set = resolve_charset(run.set, family);
    file_run.flags |= calc_charset_flag(file_run.set);
    Seen seen{&file_run, {}, {}};
    WKS_CALC summary{};
    int16_t code;
    int reason;
    wks_set_progress_handler(on_progress, nullptr);
    {
        Stoppable stoppable;
        errno = 0;
        code = wks_calc_file(path.c_str(), file_run.flags, run.iterations, visit, &seen, &summary);
        reason = errno;
    }
    wks_set_progress_handler(nullptr, nullptr);
    if (code == WKS_CONVERT_STOPPED) end_with_signal(stop_requested());  // the file is as it was
    if (const int sig = stop_requested(); sig && (code != 0 || check)) end_with_signal(sig);
    if (code == WKS_E_READ) return fail(shown, damage(path));
    if (code == WKS_E_OPEN) return fail(shown, "cannot be written in place: " + not_writable(path, reason));
    if (code != 0) return fail(shown, error_text(code));

    for (const std::string &d : seen.differences) std::printf("%s: %s\n", shown.c_str(), d.c_str());
    if (!seen.circular.empty()) {
        std::string cells;
        for (std::size_t i = 0; i < seen.circular.size() && i < kCircularShown; ++i)
            cells += (i ? ", " : "") + seen.circular[i];
        if (seen.circular.size() > kCircularShown)
            cells += " and " + std::to_string(seen.circular.size() - kCircularShown) + " more";
        std::printf("%s: circular references: %s (%s)\n", shown.c_str(), cells.c_str(),
                    plural(summary.passes, "pass", "passes").c_str());
    }
    const std::string formulas = plural(summary.formulas, "formula", "formulas");
    if (!check) {
        std::printf("%s: %s, %s\n", shown.c_str(), formulas.c_str(),
                    plural(summary.differences, "value changed", "values changed").c_str());
        if (stop_requested()) warn(shown, "done; the interruption came too late");  // the file was replaced
        return kOk;
    }
    if (summary.differences == 0) {
        std::printf("%s: %s, no differences\n", shown.c_str(), formulas.c_str());
        return kOk;
    }
    std::printf("%s: %d of %s differ\n", shown.c_str(), summary.differences, formulas.c_str());
    return kFailed;
}

}  // namespace

int cmd_calc(const Args &args) {
    Options o;
    Run run;
    if (!parse_options("calc", args, {"--check", "--reproducible"}, {"--iterations", "--encoding"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.empty()) return usage_error("calc", "expects at least one FILE");
    if (!charset_option("calc", o, run.set)) return kUsage;
    if (o.has("--iterations")) {
        const std::string &n = o.given.at("--iterations");
        char *end = nullptr;
        const long v = std::strtol(n.c_str(), &end, 10);
        if (n.empty() || *end || v < 1 || v > kMaxIterations)
            return usage_error("calc", "--iterations takes a whole number from 1 to " + std::to_string(kMaxIterations));
        run.iterations = static_cast<int>(v);
    }
    if (o.has("--check")) run.flags |= WKS_CALC_CHECK;
    if (o.has("--reproducible")) run.flags |= WKS_CALC_REPRODUCIBLE;
    if (!(run.flags & WKS_CALC_CHECK))
        for (const std::string &file : o.positional)
            if (file == "-") return usage_error("calc", "standard input cannot be written in place; use --check");
    int status = kOk;
    for (const std::string &file : o.positional) {
        if (const int sig = stop_requested()) end_with_signal(sig);  // the files before it are done
        if (calc_file(file, run) != kOk) status = kFailed;
    }
    return status;
}

}  // namespace tool

/*
 * wks convert SRC DST, and wks convert --to orx|wk1 --out DIR [-j N] SRC...:
 * whole files from WK1 to ORX or back, the direction told by the source's
 * format.
 *
 * The conversion is the library's converter (wk1_to_orx, orx_to_wk1); the
 * tool probes the source first, draws the converter's progress, and when
 * the converter gives up reads the source again with its own reader to say
 * where and why.  Messages the library shows during a conversion make it
 * count as failed.  A signal asks the converter to stop through its
 * progress handler; the destination is then as it was and the tool ends
 * with the signal.
 */
#include "tools/batch.h"
#include "tools/batch_plan.h"
#include "tools/commands.h"
#include "tools/output.h"
#include "tools/rewrite_report.h"
#include "tools/sheet.h"
#include "tools/signals.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks convert [--report FILE] SRC DST\n"
    "       wks convert --to orx|wk1 --out DIR [-j N | --jobs N] [--report FILE] SRC...\n"
    "       wks convert --to xlsx|ods ...  (see wks convert --to xlsx --help)\n"
    "\n"
    "Converts a WK1 file to ORX or an ORX file to WK1; the source's format\n"
    "decides the direction.  SRC \"-\" reads standard input; DST is always a\n"
    "file, and one whose extension names the source's own format (.wk1 for a\n"
    "WK1 source) is refused.  DST keeps its old contents until the new file is\n"
    "complete: a failure or an interruption leaves it as it was.  DST may name\n"
    "SRC: the file is then converted in place (BOF version 1028).  The second\n"
    "form converts each SRC into DIR, named after the source with the extension\n"
    ".orx or .wk1; a source already in the target format is an error.  Every\n"
    "destination is decided first: a source whose result would replace a\n"
    "source (under any name or link) or another source's result is refused,\n"
    "and nothing is written for it; a file listed twice is taken once.\n"
    "It runs up to N conversions at once in\n"
    "worker processes (-j N, by default the number of processors online; -j 1\n"
    "converts one file after the other in this process); the reports come in\n"
    "the order of the sources either way.  The results are flushed to the disk\n"
    "a group at a time, each put in its destination's place only after its\n"
    "group's flush; a source's report comes once its group is placed.\n"
    "A progress bar is drawn on standard\n"
    "error when it is a terminal (for one file, when it is 1 MiB or more).\n"
    "Formulas that refer to other files or carry sheet prefixes (\"A:B2\") are\n"
    "rewritten for the target format; each conversion that rewrote any says how\n"
    "many on standard error and shows the first few, old and new text.  With\n"
    "--report FILE every rewritten formula goes into FILE instead, a JSON\n"
    "object a line ({\"kind\":\"rewritten\",\"source\":...,\"destination\":...,\n"
    "\"cell\":...,\"formula\":...,\"rewritten\":...}), in the order of the\n"
    "sources.  Exit status 0 when every file converted.\n";

constexpr int kBarWidth = 30;
constexpr long kLargeFile = 1L << 20;  // a single conversion this big shows progress
constexpr int kRecordHeader = 4;       // type and length words in front of a body
constexpr unsigned long kMostWorkers = 1024;

class Bar {
public:
    explicit Bar(bool shown) : shown_(shown) {
        if (shown_) set_progress_line(true);
    }
    ~Bar() {
        if (shown_) set_progress_line(false);
    }
    // Draws done out of total, when the bar would change.
    void draw(int64_t done, int64_t total, const std::string &what) {
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

struct Watch {
    Bar &bar;
    const std::string &name;
};

// The converters' progress handler: draws the bar, and asks the converter
// to stop once a signal has come.
int32_t on_progress(void *context, int64_t done, int64_t total) {
    auto *watch = static_cast<Watch *>(context);
    watch->bar.draw(done, total, watch->name);
    return stop_requested() != 0;
}

// Why the converter could not read or translate the source at path, as the
// tool's reader finds it.
std::string damage_of(const std::string &path, bool to_orx) {
    Sheet in;
    in.decode_formulas(false);
    if (!in.open(path)) return in.error();
    Record r;
    int got;
    WKS_RECORD translated;
    while ((got = in.next(r)) == 1 && r.kind != Kind::kEof) {
        if (r.index == 0) continue;  // the BOF record: the new file has its own
        const unsigned char *record = r.body - kRecordHeader;
        unsigned char *out = reinterpret_cast<unsigned char *>(&translated);
        const bool fits = to_orx ? wk1_rec_to_orx_rec(record, out) == 0 &&
                                       (translated.length[0] | translated.length[1] << 8) <= WKS_MAX_READ_BODY
                                 : orx_rec_to_wk1_rec(record, out) == 0;
        if (!fits)
            return "record " + std::to_string(r.index) + " at byte " + std::to_string(r.offset) +
                   ": a cell record of " + std::to_string(r.length) + " bytes cannot be translated";
    }
    return got < 0 ? in.error() : "cannot be converted";
}

// Whether path ends in ext (".wk1"), in any letter case.
bool has_extension(const std::string &path, const char *ext) {
    const std::size_t n = std::strlen(ext);
    return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0 &&
           path[path.size() - n - 1] != '/';
}

const char *extension_of(Format f) { return f == Format::kOrx ? ".orx" : ".wk1"; }

std::string already_in(Format f) {
    return std::string(f == Format::kOrx ? "is already an " : "is already a ") + format_name(f) + " file";
}

// Why the single form refuses DST for a source of the given format, or "":
// a name whose extension promises the source's own format, unless DST is
// the source itself (converted in place).
std::string destination_refusal(const std::string &source_path, Format format, const std::string &dst) {
    if (!has_extension(dst, extension_of(format))) return "";
    if (same_file(source_path, dst)) return "";
    const Format other = format == Format::kOrx ? Format::kWk1 : Format::kOrx;
    return std::string("its extension names a ") + format_name(format) + " file, but the result is " +
           (other == Format::kOrx ? "an " : "a ") + format_name(other) + " file; nothing written";
}

// A result of a batch that the library holds until its group is placed,
// and what tells its rewritten formulas then (they are read from the new
// file).
struct Held {
    bool result = false;
    std::unique_ptr<RewriteWatch> rewrites;
};

// Converts one file; reports on standard error and returns the status.
// held, when given, is for a batch whose results the library holds.
int convert_one(const std::string &source, const std::string &dst, Format want, Bar &bar, Held *held = nullptr) {
    const std::string shown = shown_name(source);
    std::string path, why;
    if (!input_path(source, path, why)) return fail(shown, why);
    Format format;
    {
        Sheet in;
        if (!in.open(path)) return fail(shown, in.error());
        format = in.format();
    }
    if (want != Format::kNeither && format == want) return fail(shown, already_in(want));
    if (want == Format::kNeither) {
        const std::string refusal = destination_refusal(path, format, dst);
        if (!refusal.empty()) return fail(dst, refusal);
    }
    const bool to_orx = format == Format::kWk1;
    take_messages();

    RewriteWatch rewrites(path, format, dst);
    Watch watch{bar, shown};
    wks_set_progress_handler(on_progress, &watch);
    int32_t result;
    int reason;
    {
        Stoppable stoppable;
        errno = 0;
        result = to_orx ? wk1_to_orx(path.c_str(), dst.c_str()) : orx_to_wk1(path.c_str(), dst.c_str());
        reason = errno;
    }
    wks_set_progress_handler(nullptr, nullptr);
    const bool converted = result == WKS_CONVERTED || result == WKS_CONVERT_TEXT_CUT;
    if (const int sig = stop_requested()) {
        // After the handler's last report the converter no longer stops: the
        // new file may already stand in dst's place (a held one goes).
        if (converted && !held) warn(dst, "done; the interruption came too late");
        end_with_signal(sig);
    }
    if (held) held->result = converted;

    const std::string arrow = shown + " -> " + dst;
    switch (result) {
    case WKS_CONVERTED:
    case WKS_CONVERT_TEXT_CUT:  // from wk1_to_orx it only tells of an earlier conversion
        if (messages_pending()) return fail(arrow, "converted with errors");
        if (held)
            held->rewrites.reset(new RewriteWatch(std::move(rewrites)));
        else
            rewrites.tell(shown);
        if (result == WKS_CONVERT_TEXT_CUT && !to_orx)
            return warn(arrow, "converted, but a formula text is too long for a WK1 file (kept whole)");
        return kOk;
    case WKS_CONVERT_CREATE_FAILED:
        return fail(dst, create_failure(dst, WKS_E_OPEN, reason));
    case WKS_CONVERT_NO_MEMORY:
        return fail(dst, "no memory for the header block");
    case WKS_CONVERT_OUTPUT_FAILED:
        if (messages_pending() && reason != 0) {  // the system's reason, not the library's Write Error
            take_messages();
            return fail(dst, std::string("writing the new file failed: ") + std::strerror(reason) + "; nothing written");
        }
        if (messages_pending()) return fail(dst, "writing the new file failed; nothing written");
        return fail(dst, std::string("cannot put the new file in place: ") + std::strerror(reason));
    default:  // the source could not be opened, read or translated
        return fail(shown, damage_of(path, to_orx) + "; nothing written");
    }
}

// The arguments with "-j N" and "-jN" spelled as "--jobs=N" (up to a "--").
Args jobs_spelled_long(const Args &args) {
    Args out;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        options_end |= a == "--";
        if (options_end || a.compare(0, 2, "-j") != 0)
            out.push_back(a);
        else if (a.size() > 2)
            out.push_back("--jobs=" + a.substr(2));
        else if (i + 1 < args.size())
            out.push_back("--jobs=" + args[++i]);
        else
            out.push_back("--jobs=");  // no number: refused as any other
    }
    return out;
}

// The number of -j, or 0 when it is not a whole number from 1 up.
unsigned long workers_given(const std::string &text) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const unsigned long n = std::strtoul(text.c_str(), nullptr, 10);
    return n <= kMostWorkers ? n : 0;
}

}  // namespace

int cmd_convert(const Args &args) {
    if (wants_export(args)) return cmd_export(args);
    Options o;
    if (!parse_options("convert", jobs_spelled_long(args), {}, {"--to", "--out", "--jobs", "--report"}, o))
        return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    const bool terminal = ::isatty(STDERR_FILENO);
    if (!o.has("--to") && !o.has("--out")) {
        if (o.has("--jobs")) return usage_error("convert", "-j goes with --to and --out");
        if (o.positional.size() != 2) return usage_error("convert", "expects SRC and DST, or --to and --out");
        if (o.positional[1] == "-") return usage_error("convert", "DST must name a file; '-' is not standard output here");
        struct stat st;
        const std::string &src = o.positional[0];
        const bool large = src != "-" && ::stat(src.c_str(), &st) == 0 && st.st_size >= kLargeFile;
        Bar bar(terminal && large);
        if (o.has("--report") && !open_rewrite_report(o.given.at("--report"), {src}, {o.positional[1]}))
            return kFailed;
        return close_rewrite_report(convert_one(src, o.positional[1], Format::kNeither, bar));
    }
    if (!o.has("--to") || !o.has("--out")) return usage_error("convert", "--to and --out go together");
    const std::string &to = o.given.at("--to"), &dir = o.given.at("--out");
    if (to != "orx" && to != "wk1") return usage_error("convert", "--to takes orx or wk1");
    const unsigned long workers = o.has("--jobs") ? workers_given(o.given.at("--jobs")) : default_workers();
    if (workers == 0) return usage_error("convert", "-j takes a number of workers from 1 to 1024");
    if (o.positional.empty()) return usage_error("convert", "expects at least one SRC");
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return fail("--out " + dir, std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) return fail("--out " + dir, "not a directory");

    const Format want = to == "orx" ? Format::kOrx : Format::kWk1;
    const std::vector<std::string> &sources = o.positional;
    const std::vector<Planned> plan = plan_batch(sources, dir, extension_of(want), [&](std::size_t i) {
        return file_format(sources[i]) == want ? already_in(want) : std::string();
    });
    if (o.has("--report")) {
        std::vector<std::string> destinations;
        for (const Planned &p : plan) destinations.push_back(p.destination);
        if (!open_rewrite_report(o.given.at("--report"), sources, destinations)) return kFailed;
    }

    // The results are held by the library and put in place a group at a
    // time, flushed to the disk together: each flush costs about as much
    // as a whole conversion.
    struct Outcome {
        int32_t result, reason;
    };
    std::vector<std::size_t> held;            // the jobs whose results are held, in order
    std::map<std::size_t, Held> results;      // what each of them left
    std::map<std::size_t, Outcome> outcomes;  // of the group placed last
    Groups groups;
    groups.size = WKS_HOLD_MAX;
    groups.place = [&] {
        std::vector<Outcome> got;
        wks_place_held([](void *c, int32_t result, int32_t reason) {
            static_cast<std::vector<Outcome> *>(c)->push_back({result, reason});
        }, &got);
        outcomes.clear();
        for (std::size_t k = 0; k < held.size() && k < got.size(); ++k) outcomes[held[k]] = got[k];
        held.clear();
    };
    groups.settle = [&](std::size_t i, int status) {
        const auto placed = outcomes.find(i);
        const auto result = results.find(i);
        std::unique_ptr<RewriteWatch> rewrites;
        if (result != results.end()) rewrites = std::move(result->second.rewrites), results.erase(result);
        if (placed == outcomes.end()) return status;
        if (placed->second.result == WKS_CONVERTED) {
            if (rewrites) rewrites->tell(shown_name(sources[i]));
            return status;
        }
        return fail(plan[i].destination, std::string("flushing the new file or putting it in place failed: ") +
                                             std::strerror(placed->second.reason) + "; nothing written");
    };
    wks_hold_results(1);
    const int status = run_batch(sources, static_cast<unsigned>(workers), terminal, [&](std::size_t i) {
        const Planned &p = plan[i];
        if (p.repeat) return warn(shown_name(sources[i]), p.refusal);
        if (!p.refusal.empty()) return fail(shown_name(sources[i]), p.refusal);
        Bar no_bytes(false);
        Held &result = results[i];
        const int converted = convert_one(sources[i], p.destination, want, no_bytes, &result);
        if (result.result) held.push_back(i);
        return converted;
    }, groups);
    wks_hold_results(0);
    return close_rewrite_report(status);
}

}  // namespace tool

/*
 * wks convert --to xlsx|ods: whole files into workbooks through libwks-export
 * (wks_export_xlsx, wks_export_ods), one SRC into OUT, or each SRC into
 * DIR/<name>.xlsx or .ods in
 * a batch.  Each conversion prints a one-line summary on standard error;
 * --report FILE writes the library's JSON-lines report (in a batch, one
 * per file: FILE's name with the source's name before its extension).
 */
#include "tools/commands.h"

#include "tools/batch.h"
#include "tools/batch_plan.h"
#include "tools/common.h"
#include "tools/encoding.h"
#include "tools/sheet.h"
#include "tools/signals.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifdef WKS_TOOL_EXPORT
#include "wks.h"
#include "wks_export.h"

#include <dlfcn.h>

static_assert(WKS_EXPORT_LICS > WKS_EXPORT_CHARSET_MASK && WKS_EXPORT_CP437 == static_cast<int>(tool::Charset::kCp437) &&
                  WKS_EXPORT_LATIN1 == static_cast<int>(tool::Charset::kLatin1),
              "the library numbers the character sets as the tool does");
#endif

namespace tool {

bool wants_export(const Args &args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") return false;
        const std::string to = args[i].compare(0, 5, "--to=") == 0 ? args[i].substr(5)
                               : args[i] == "--to" && i + 1 < args.size() ? args[i + 1]
                                                                          : "";
        if (to == "xlsx" || to == "ods") return true;
    }
    return false;
}

#ifndef WKS_TOOL_EXPORT

int cmd_export(const Args &) {
    return usage_error("convert", "this wks is built without the export to XLSX and ODS (libwks-export)");
}

#else

namespace {

const char kHelp[] =
    "usage: wks convert --to xlsx|ods [--report FILE] [--encoding SET] [--reproducible] SRC OUT\n"
    "       wks convert --to xlsx|ods --out DIR [-j N] [--report FILE] [--encoding SET] SRC...\n"
    "\n"
    "Writes a WK1, WKS or ORX file (or another variant 'wks info' calls read)\n"
    "as an XLSX workbook or an ODS spreadsheet whose\n"
    "formulas compute the values the formula language gives; each formula's\n"
    "cached value is the value the library computes.  A formula with no faithful\n"
    "form keeps its value only.  Prints a one-line summary per file on standard\n"
    "error; --report writes the details as JSON lines (in a batch, REPORT's name\n"
    "with each source's name added).  --encoding: the 8-bit character set of the\n"
    "file's text (auto, the default: the set of the file's variant; cp437,\n"
    "cp850, cp1252, latin1, lics).\n";

// Where the source breaks off, as the tool's reader tells it.
std::string damage_of(const std::string &path) {
    Sheet in;
    in.decode_formulas(false);
    if (!in.open(path)) return in.error();
    Record r;
    while (in.next(r) > 0) {
    }
    return in.error().empty() ? "cannot be read to its end" : in.error();
}

using Exporter = int16_t (*)(const char *, const char *, int32_t, WKS_EXPORT_REPORT *);

// wks_export_xlsx or wks_export_ods from libwks-export, loaded now (the tool
// starts without it) from the directory libwks was loaded from, where both
// are built and installed, or null with the reason in why.
Exporter load_exporter(const std::string &to, std::string &why) {
    const std::string name = "libwks-export.so." WKS_EXPORT_MAJOR;
    Dl_info info{};
    std::string path = name;
    if (::dladdr(reinterpret_cast<void *>(&wks_version), &info) && info.dli_fname) {
        const std::string libwks = info.dli_fname;
        const std::size_t slash = libwks.rfind('/');
        if (slash != std::string::npos) path = libwks.substr(0, slash + 1) + name;
    }
    void *lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        why = ::dlerror();
        return nullptr;
    }
    const char *call = to == "ods" ? "wks_export_ods" : "wks_export_xlsx";
    auto exporter = reinterpret_cast<Exporter>(::dlsym(lib, call));
    if (!exporter) why = std::string("libwks-export has no ") + call;
    return exporter;
}

int export_one(Exporter exporter, const std::string &src, const std::string &dst, int32_t flags, Charset named,
               const std::string &report_path) {
    const std::string shown = shown_name(src);
    if (src == "-") return fail(shown, "has no name to read again; give a file");
    const std::string unreadable = unreadable_reason(src);
    if (!unreadable.empty()) return fail(shown, unreadable);
    Charset set;
    {
        Sheet in;
        if (!in.open(src)) return fail(shown, in.error());
        set = resolve_charset(named, in.family());
    }
    // The library's numbers of the sets are the tool's, LICS a flag of its own.
    flags |= set == Charset::kLics ? WKS_EXPORT_LICS : static_cast<int32_t>(set);
    WKS_EXPORT_REPORT report{};
    report.path = report_path.empty() ? nullptr : report_path.c_str();
    int16_t rc;
    int reason;
    {
        Committing whole;  // a signal waits until the workbook is in place or gone
        errno = 0;
        rc = exporter(src.c_str(), dst.c_str(), flags, &report);
        reason = errno;
    }
    if (rc == WKS_E_OPEN && reason == EINVAL) return fail(dst, "is the file being converted; give another name");
    if (rc == WKS_E_READ) return fail(shown, damage_of(src) + "; nothing written");
    if (rc != 0) {
        const std::string why = rc == WKS_E_WRITE ? "the workbook or the report cannot be written"
                                : rc == WKS_E_NO_FORMULA_MEMORY
                                    ? "no memory"
                                    : "the workbook or the report cannot be created: " + std::string(std::strerror(reason));
        return fail(shown + " -> " + dst, why + "; nothing written");
    }
    std::fprintf(stderr, "%s -> %s: %d cells, %d formulas, %d as values only, %d with caveats, %d dropped\n",
                 shown.c_str(), dst.c_str(), report.cells, report.formulas, report.values, report.caveats,
                 report.dropped);
    if (messages_pending()) return fail(shown, "converted with errors");
    return kOk;
}

// FILE's name with the source's base name before its extension.
std::string report_for(const std::string &report, const std::string &base) {
    if (report.empty()) return report;
    const std::size_t slash = report.rfind('/');
    const std::size_t dot = report.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return report + "-" + base;
    return report.substr(0, dot) + "-" + base + report.substr(dot);
}

}  // namespace

int cmd_export(const Args &args) {
    Options o;
    Args spelled;
    for (std::size_t i = 0; i < args.size(); ++i) {  // -j N as --jobs=N
        if (args[i].compare(0, 2, "-j") == 0 && args[i] != "--") {
            spelled.push_back("--jobs=" + (args[i].size() > 2 ? args[i].substr(2) : i + 1 < args.size() ? args[++i] : ""));
        } else {
            spelled.push_back(args[i]);
        }
    }
    if (!parse_options("convert", spelled, {"--reproducible"}, {"--to", "--out", "--jobs", "--report", "--encoding"}, o))
        return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    int32_t flags = o.has("--reproducible") ? WKS_EXPORT_REPRODUCIBLE : 0;
    Charset set;
    if (!charset_option("convert", o, set)) return kUsage;
    const std::string report = o.has("--report") ? o.given.at("--report") : "";
    const std::string &to = o.given.at("--to");
    std::string why;
    const Exporter exporter = load_exporter(to, why);
    if (!exporter) return fail("libwks-export", why);
    if (!o.has("--out")) {
        if (o.has("--jobs")) return usage_error("convert", "-j goes with --out");
        if (o.positional.size() != 2) return usage_error("convert", "expects SRC and OUT, or --out DIR");
        return export_one(exporter, o.positional[0], o.positional[1], flags, set, report);
    }
    const std::string &dir = o.given.at("--out");
    unsigned long workers = default_workers();
    if (o.has("--jobs")) {
        const std::string &j = o.given.at("--jobs");
        workers = j.empty() || j.size() > 4 || j.find_first_not_of("0123456789") != std::string::npos
                      ? 0
                      : std::strtoul(j.c_str(), nullptr, 10);
        if (workers == 0 || workers > 1024) return usage_error("convert", "-j takes a number of workers from 1 to 1024");
    }
    if (o.positional.empty()) return usage_error("convert", "expects at least one SRC");
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return fail(dir, std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) return fail(dir, "not a directory");
    const std::vector<std::string> &sources = o.positional;
    const std::vector<Planned> plan = plan_batch(sources, dir, "." + to, [](std::size_t) { return std::string(); });
    return run_batch(sources, static_cast<unsigned>(workers), ::isatty(STDERR_FILENO), [&](std::size_t i) {
        const Planned &p = plan[i];
        if (p.repeat) return warn(shown_name(sources[i]), p.refusal);
        if (!p.refusal.empty()) return fail(shown_name(sources[i]), p.refusal);
        return export_one(exporter, sources[i], p.destination, flags, set, report_for(report, base_name(sources[i])));
    });
}

#endif

}  // namespace tool

/*
 * wks: a command-line tool for worksheet files, built on libwks's C
 * interface alone.  This file picks the subcommand; each lives in its own
 * cmd_*.cpp.
 */
#include "tools/commands.h"
#include "tools/common.h"
#include "tools/signals.h"
#include "wks.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char *name;
    int (*run)(const tool::Args &);
    const char *summary;
};

const Command kCommands[] = {
    {"info", tool::cmd_info, "format, version, record counts, used range and range names of files"},
    {"dump", tool::cmd_dump, "every record of a file in order (--json: one JSON object per line)"},
    {"csv", tool::cmd_csv, "the sheet as CSV, from A1 (--values: as the sheet shows it)"},
    {"html", tool::cmd_html, "the sheet as a page to look at in a browser"},
    {"convert", tool::cmd_convert, "WK1 to ORX or ORX to WK1"},
    {"compile", tool::cmd_compile, "formula text to formula code in hexadecimal"},
    {"decode", tool::cmd_decode, "formula code in hexadecimal to formula text"},
    {"import", tool::cmd_import, "build an ORX or WK1 file from CSV or from 'wks dump --json'"},
    {"calc", tool::cmd_calc, "compute the formulas' values into a file (--check: compare only)"},
};

void usage(std::FILE *out) {
    std::fprintf(out, "usage: wks COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command &c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fprintf(out, "\n'wks COMMAND --help' describes a command; 'wks --version' tells the version.\n");
}

// The status to exit with once everything is printed: kFailed when
// standard output lost anything.
int finished(int status) {
    std::string why;
    return tool::flush_output(why) ? status : tool::fail("standard output", "cannot write: " + why);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return tool::kUsage;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        usage(stdout);
        return finished(tool::kOk);
    }
    if (!std::strcmp(argv[1], "--version")) {
        // The tool is built with the library's header; the library loaded may be newer.
        std::printf("wks %s (libwks %s)\n", WKS_VERSION, wks_version(nullptr));
        return finished(tool::kOk);
    }
    for (const Command &c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        tool::collect_messages();
        tool::install_signal_handlers();
        const int status = c.run(tool::Args(argv + 2, argv + argc));
        tool::remove_inputs();
        for (const std::string &m : tool::take_messages())  // none should be left unreported
            std::fprintf(stderr, "wks: library: %s\n", m.c_str());
        wks_cleanup();
        wkscs();
        return finished(status);
    }
    std::fprintf(stderr, "wks: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return tool::kUsage;
}

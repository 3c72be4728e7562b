/*
 * Message collection and error reporting for the wks tool.  The library's
 * message handler is process-wide; the tool installs its collector once and
 * every subcommand drains it when it reports.
 */
#include "tools/common.h"

#include "wks.h"

#include <cctype>
#include <cstdio>
#include <sys/stat.h>

namespace tool {
namespace {

std::vector<std::string> g_messages;
bool g_progress_line = false;

std::string trimmed(const char *text) {
    std::string s = text ? text : "";
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    std::string out;
    for (std::size_t i = b; i < e; ++i) out += s[i] == '\n' ? ' ' : s[i];
    return out;
}

int32_t keep(const char *, const char *text) {
    g_messages.push_back(trimmed(text));
    return 1;  // OK pressed
}

void report(const char *kind, const std::string &file, const std::string &what) {
    if (g_progress_line) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "wks: %s%s%s%s\n", file.c_str(), file.empty() ? "" : ": ", kind, what.c_str());
    for (const std::string &m : take_messages())
        std::fprintf(stderr, "wks: %s%s  library: %s\n", file.c_str(), file.empty() ? "" : ":", m.c_str());
}

}  // namespace

void collect_messages() { wks_set_message_handler(keep); }

std::vector<std::string> take_messages() {
    std::vector<std::string> out;
    out.swap(g_messages);
    return out;
}

bool messages_pending() { return !g_messages.empty(); }

void set_progress_line(bool shown) { g_progress_line = shown; }

int fail(const std::string &file, const std::string &what) {
    report("", file, what);
    return kFailed;
}

int warn(const std::string &file, const std::string &what) {
    report("warning: ", file, what);
    return kOk;
}

std::string error_text(int code) {
    return "error " + std::to_string(code) + " - " + wkser(static_cast<int16_t>(code));
}

int usage_error(const std::string &command, const std::string &what) {
    std::fprintf(stderr, "wks %s: %s (see 'wks %s --help')\n", command.c_str(), what.c_str(), command.c_str());
    return kUsage;
}

bool parse_options(const std::string &command, const std::vector<std::string> &args,
                   const std::vector<std::string> &flags, const std::vector<std::string> &valued,
                   Options &out) {
    auto listed = [](const std::vector<std::string> &list, const std::string &name) {
        for (const std::string &s : list)
            if (s == name) return true;
        return false;
    };
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (options_end || (a.compare(0, 2, "--") != 0 && a != "-h")) {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            out.given["--help"] = "";
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (listed(flags, name) && eq == std::string::npos) {
            out.given[name] = "";
        } else if (listed(valued, name)) {
            if (eq != std::string::npos) {
                out.given[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                out.given[name] = args[++i];
            } else {
                usage_error(command, "option " + name + " needs a value");
                return false;
            }
        } else {
            usage_error(command, "unknown option '" + a + "'");
            return false;
        }
    }
    return true;
}

std::string cell_name(int col, int row) {
    if (col < 0 || col >= kColumns || row < 0 || row >= kRows)
        return "(" + std::to_string(col) + "," + std::to_string(row) + ")";
    std::string name;
    if (col >= 26) name += static_cast<char>('A' + col / 26 - 1);
    name += static_cast<char>('A' + col % 26);
    return name + std::to_string(row + 1);
}

bool parse_cell(const std::string &text, int16_t &col, int16_t &row) {
    std::size_t i = 0;
    int c = 0, letters = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])) && letters < 2) {
        c = c * 26 + (std::toupper(static_cast<unsigned char>(text[i])) - 'A' + 1);
        ++i, ++letters;
    }
    if (letters == 0 || i == text.size()) return false;
    long r = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])) || r > kRows) return false;
        r = r * 10 + (text[i] - '0');
    }
    if (c < 1 || c > kColumns || r < 1 || r > kRows) return false;
    col = static_cast<int16_t>(c - 1);
    row = static_cast<int16_t>(r - 1);
    return true;
}

Format file_format(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Format::kMissing;
    if (is_orx_file(path.c_str())) return Format::kOrx;
    if (is_wk1_file(path.c_str())) return Format::kWk1;
    take_messages();  // a probe's complaints are not the caller's error
    return Format::kNeither;
}

const char *format_name(Format f) {
    switch (f) {
    case Format::kOrx: return "ORX";
    case Format::kWk1: return "WK1";
    case Format::kMissing: return "missing";
    default: return "neither ORX nor WK1";
    }
}

}  // namespace tool

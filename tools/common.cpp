/*
 * Message collection, error reporting and input files for the wks tool.
 * The library's message handler is process-wide; the tool installs its
 * collector once and every subcommand drains it when it reports.
 */
#include "tools/common.h"

#include "tools/text.h"
#include "wks.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

constexpr std::size_t kDistinctMessages = 16;  // texts kept; the rest are counted
constexpr unsigned long kProblemsShown = 3;     // problems of one kind reported in full

struct Message {
    std::string text;
    unsigned long repeats;
};
std::vector<Message> g_messages;
unsigned long g_unkept = 0;
bool g_progress_line = false;
int g_output_errno = 0;  // why standard output first failed, or 0

// The copy of standard input: its name while it has one, and its descriptor.
char g_stdin_copy[4096];
int g_stdin_fd = -1;
std::string g_stdin_path;
// The scratch files that have a name, while they exist.
constexpr std::size_t kScratchNames = 4;
char g_scratch[kScratchNames][4096];

const char *temp_dir() {
    const char *dir = nullptr;
    for (const char *name : {"TMPDIR", "TMP", "TEMP"})
        if (!dir || !*dir) dir = std::getenv(name);
    return dir && *dir ? dir : "/tmp";
}

// Where the system names open files, the path that reaches fd's file
// through its descriptor (which then works without any name of its own).
bool by_descriptor(int fd, std::string &path) {
    const std::string named = "/proc/self/fd/" + std::to_string(fd);
    const int probe = ::open(named.c_str(), O_RDONLY);
    if (probe < 0) return false;
    ::close(probe);
    path = named;
    return true;
}

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
    const std::string t = trimmed(text);
    for (Message &m : g_messages)
        if (m.text == t) return ++m.repeats, 1;
    if (g_messages.size() < kDistinctMessages)
        g_messages.push_back({t, 0});
    else
        ++g_unkept;
    return 1;  // OK pressed
}

void report(const char *kind, const std::string &file, const std::string &what) {
    std::string lost;
    flush_output(lost);  // what was printed so far comes before the report
    if (g_progress_line) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "wks: %s%s%s%s\n", file.c_str(), file.empty() ? "" : ": ", kind, what.c_str());
    for (const std::string &m : take_messages())
        std::fprintf(stderr, "wks: %s%s  library: %s\n", file.c_str(), file.empty() ? "" : ":", m.c_str());
}

}  // namespace

void collect_messages() { wks_set_message_handler(keep); }

std::vector<std::string> take_messages() {
    std::vector<std::string> out;
    for (const Message &m : g_messages) {
        out.push_back(m.text);
        if (m.repeats) out.push_back("... and " + thousands(m.repeats) + " more like it");
    }
    if (g_unkept) out.push_back("... and " + thousands(g_unkept) + " other messages");
    g_messages.clear();
    g_unkept = 0;
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

bool flush_output(std::string &why) {
    errno = 0;
    if (std::fflush(stdout) != 0 && g_output_errno == 0) g_output_errno = errno ? errno : EIO;
    if (!std::ferror(stdout)) return true;
    why = std::strerror(g_output_errno ? g_output_errno : EIO);
    return false;
}

std::string error_text(int code) {
    return "error " + std::to_string(code) + " - " + wkser(static_cast<int16_t>(code));
}

void Problems::report(const std::string &what) {
    if (count_++ < kProblemsShown) fail(file_, what);
}

int Problems::finish() {
    if (count_ > kProblemsShown) fail(file_, "... and " + thousands(count_ - kProblemsShown) + " more like it");
    return count_ ? kFailed : kOk;
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

bool charset_option(const std::string &command, const Options &o, Charset &set) {
    set = Charset::kAuto;
    if (!o.has("--encoding") || parse_charset(o.given.at("--encoding"), set)) return true;
    usage_error(command, "--encoding takes " + std::string(kCharsetNames));
    return false;
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

std::string shown_name(const std::string &arg) { return arg == "-" ? "standard input" : arg; }

std::string unreadable_reason(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::string("cannot open: ") + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "is a directory";
    if (S_ISCHR(st.st_mode)) return "is a character device, not a file";
    if (S_ISFIFO(st.st_mode)) return "is a pipe, not a file";
    if (!S_ISREG(st.st_mode)) return "is not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
    ::close(fd);
    return "";
}

bool input_path(const std::string &arg, std::string &path, std::string &why) {
    if (arg != "-") {
        path = arg;
        return true;
    }
    if (!g_stdin_path.empty()) {
        path = g_stdin_path;
        return true;
    }
    std::snprintf(g_stdin_copy, sizeof g_stdin_copy, "%s/wks-stdin-XXXXXX", temp_dir());
    g_stdin_fd = ::mkstemp(g_stdin_copy);
    if (g_stdin_fd < 0) {
        why = std::string("cannot keep a copy of it: ") + std::strerror(errno);
        g_stdin_copy[0] = '\0';
        return false;
    }
    char buf[1 << 16];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, stdin)) > 0) {
        if (::write(g_stdin_fd, buf, got) != static_cast<ssize_t>(got)) {
            why = std::string("cannot keep a copy of it: ") + std::strerror(errno);
            remove_inputs();
            return false;
        }
    }
    if (std::ferror(stdin)) {
        why = "read error";
        remove_inputs();
        return false;
    }
    // Where the system names open files, the copy loses its name at once and
    // is reached through its descriptor: then nothing of it can outlive the
    // tool, however the tool ends.
    if (by_descriptor(g_stdin_fd, g_stdin_path)) {
        ::unlink(g_stdin_copy);
        g_stdin_copy[0] = '\0';
    } else {
        g_stdin_path = g_stdin_copy;
    }
    path = g_stdin_path;
    return true;
}

bool scratch_file(int &fd, std::string &path, std::string &why) {
    const char *dir = temp_dir();
#ifdef O_TMPFILE
    fd = ::open(dir, O_TMPFILE | O_RDWR, 0600);
    if (fd >= 0 && by_descriptor(fd, path)) return true;
    if (fd >= 0) ::close(fd);
#endif
    std::size_t slot = 0;
    while (slot < kScratchNames && g_scratch[slot][0]) ++slot;
    if (slot == kScratchNames) return why = "cannot make a scratch file: too many", false;
    char *name = g_scratch[slot];
    std::snprintf(name, sizeof g_scratch[slot], "%s/wks-scratch-XXXXXX", dir);
    fd = ::mkstemp(name);
    if (fd < 0) {
        why = std::string("cannot make a scratch file: ") + std::strerror(errno);
        name[0] = '\0';
        return false;
    }
    if (by_descriptor(fd, path)) {
        ::unlink(name);
        name[0] = '\0';
    } else {
        path = name;
    }
    return true;
}

void remove_inputs() {
    if (g_stdin_copy[0]) ::unlink(g_stdin_copy);
    g_stdin_copy[0] = '\0';
    for (char *name : g_scratch) {
        if (name[0]) ::unlink(name);
        name[0] = '\0';
    }
}

Charset resolve_charset(Charset named, const WKS_FAMILY &family) {
    if (named != Charset::kAuto) return named;
    return static_cast<Charset>((family.charset & WKS_CALC_CHARSET_MASK) >> 4);
}

void tell_choice(const std::string &file, Charset named, Charset chosen, const WKS_FAMILY &family) {
    if (!took_high_bytes() || named != Charset::kAuto) return;
    warn(file, std::string("text read as ") + charset_name(chosen) + ", the character set of " +
                   (family.name[0] ? family.name : "such files") + " (--encoding SET reads it in another)");
}

std::string variant_text(const WKS_FAMILY &family) {
    std::string text = family.name;
    if (family.extension[0]) text += std::string(" (") + family.extension + ")";
    if (!family.readable) text += std::string("; not read: ") + family.refusal;
    return text;
}

Format file_format(const std::string &path) {
    if (is_orx_file(path.c_str())) return Format::kOrx;
    if (is_wk1_file(path.c_str())) return Format::kWk1;
    take_messages();  // a probe's complaints are not the caller's error
    return Format::kNeither;
}

const char *format_name(Format f) {
    switch (f) {
    case Format::kOrx: return "ORX";
    case Format::kWk1: return "WK1";
    default: return "neither ORX nor WK1";
    }
}

}  // namespace tool

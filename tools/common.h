/*
 * What every subcommand of the wks tool shares: library messages collected
 * instead of printed, error reporting on standard error, input files, option
 * helpers and cell addresses.  The tool talks to the library only through
 * wks.h.
 */
#ifndef WKS_TOOL_COMMON_H
#define WKS_TOOL_COMMON_H

#include "tools/encoding.h"
#include "wks.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tool {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Library messages shown since the last take(): installed once at start, the
// handler keeps each text (trimmed) and answers OK.  A text met again is
// counted, not kept, and only so many different texts are kept: a library
// that shows a message per record costs no memory per record.  take_messages
// gives each text once, followed by "... and N more like it" where it came
// again, and a last line counting the texts beyond those kept.
void collect_messages();
std::vector<std::string> take_messages();
bool messages_pending();

// While a progress line is on standard error (a terminal), reports first
// clear it; the caller redraws it.
void set_progress_line(bool shown);

// "wks: <file>: <what>", then each collected library message on its own
// line ("wks: <file>:   library: <text>").  Returns kFailed.
int fail(const std::string &file, const std::string &what);
// The same as a warning; returns kOk.
int warn(const std::string &file, const std::string &what);
// Flushes standard output; false when anything written to it so far was
// lost (a full disk, a closed pipe), with the system's reason, the first
// one met, in why.
bool flush_output(std::string &why);
// "error <code> - <wkser text>".
std::string error_text(int code);

// Problems of one kind met while going through a file: the first few are
// reported in full, the rest only counted; finish() says how many more
// there were and returns kFailed when there was any.
class Problems {
public:
    explicit Problems(std::string file) : file_(std::move(file)) {}
    void report(const std::string &what);
    int finish();

private:
    std::string file_;
    unsigned long count_ = 0;
};

// Prints a usage error and the hint to use --help; returns kUsage.
int usage_error(const std::string &command, const std::string &what);

// Options of a subcommand: flags (no value) and valued options ("--at C3"
// or "--at=C3").  Arguments starting with "--" are options (a "--" alone
// ends them), "-h" too; anything else, "-A1" included, is positional.
struct Options {
    std::map<std::string, std::string> given;  // option -> value ("" for flags)
    std::vector<std::string> positional;
    bool has(const std::string &name) const { return given.count(name) != 0; }
};
// False after printing a usage error (unknown option, missing value).
bool parse_options(const std::string &command, const std::vector<std::string> &args,
                   const std::vector<std::string> &flags, const std::vector<std::string> &valued,
                   Options &out);

// The character set of --encoding (auto when not given); false after
// printing a usage error.
bool charset_option(const std::string &command, const Options &o, Charset &set);

// Cell addresses: 0-based column and row <-> "A1" (columns A..IV, rows 1..8192).
constexpr int kColumns = 256;
constexpr int kRows = 8192;
std::string cell_name(int col, int row);
bool parse_cell(const std::string &text, int16_t &col, int16_t &row);

// Files read: FILE arguments, "-" for standard input.
// The name a FILE argument is shown under ("standard input" for "-").
std::string shown_name(const std::string &arg);
// Why path cannot be read: "cannot open: " and the system's reason ("No
// such file or directory", "Permission denied"), or what it is instead of a
// regular file ("is a directory").  Empty for a regular file that opens for
// reading.
std::string unreadable_reason(const std::string &path);
// A path the library can open for arg: arg itself, or for "-" a copy of
// standard input that nobody else sees and that goes when the tool ends.
// False with the reason in why.
bool input_path(const std::string &arg, std::string &path, std::string &why);
// An empty file of the tool's own in the temporary directory (TMPDIR,
// else /tmp), for a file to be written and read again, open for reading and
// writing on fd; path reaches it for the library.  The file has no name
// (where the system makes such files, or names open files under /proc), so
// nothing of it outlives the tool however the tool ends; elsewhere it is
// named and removed when the tool ends.  False with the reason in why.
bool scratch_file(int &fd, std::string &path, std::string &why);
// Removes what input_path and scratch_path made (async-signal-safe).
void remove_inputs();

// The set --encoding names, for a file of the variant: the variant's own
// set (wks_identify) for auto, else the set named.
Charset resolve_charset(Charset named, const WKS_FAMILY &family);
// For --encoding auto: once text with bytes above 127 was shown, tells on
// standard error which set it was read in (took_high_bytes).
void tell_choice(const std::string &file, Charset named, Charset chosen, const WKS_FAMILY &family);
// "a 1-2-3 Release 2 worksheet (.wk1)", and for a variant not read
// "...; not read: " and why.
std::string variant_text(const WKS_FAMILY &family);

// The kind of a readable file, told by the library's probes.
enum class Format { kOrx, kWk1, kNeither };
Format file_format(const std::string &path);
const char *format_name(Format f);

}  // namespace tool

#endif

/*
 * The formulas a conversion rewrote (rewrite_report.h).  The source and the
 * new file hold their records in the same order, record for record, so the
 * n-th formula record of one is the n-th of the other.  The common case, no
 * formula rewritten, costs one reading of each file without decoding; only
 * when formulas differ are the file's range names registered (the decoder
 * prints a name in place of its coordinates, as the converter's decoder
 * did) and the differing formulas decoded.
 */
#include "tools/rewrite_report.h"

#include "tools/common.h"
#include "tools/encoding.h"
#include "tools/formula_text.h"
#include "tools/sheet.h"
#include "tools/text.h"
#include "wks.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace tool {
namespace {

constexpr std::size_t kShownChanges = 5;       // listed on standard error when there is no report
constexpr std::size_t kShownCharacters = 80;   // of each text listed there
constexpr int kTextSize = 16384;               // a decoded formula's text
const char kMark[] = "\x1ewks-report ";       // a worker's report lines follow, their byte count first

std::FILE *g_report = nullptr;
std::string g_report_path;
long g_tool_process = 0;  // the process that writes the report

// Whether a and b name one file: the same file where both exist, the same
// place where neither does.
bool same_file(const std::string &a, const std::string &b) {
    namespace fs = std::filesystem;
    std::error_code ea, eb;
    const bool a_there = fs::exists(a, ea), b_there = fs::exists(b, eb);
    if (a_there && b_there) return fs::equivalent(a, b, ea);
    if (a_there || b_there) return false;
    const fs::path pa = fs::weakly_canonical(a, ea), pb = fs::weakly_canonical(b, eb);
    return !ea && !eb && pa == pb;
}

bool next_formula(Sheet &s, Record &r) {
    while (s.next(r) == 1)
        if (r.kind == Kind::kFormula) return true;
    return false;
}

bool open_plain(Sheet &s, const std::string &path) {
    s.decode_formulas(false);
    return s.open(path);
}

// The text of formula code at a cell, its real constants exact; the
// decoder's reason when it cannot be decoded.
std::string text_of(const std::vector<unsigned char> &code, int col, int row) {
    static char decoded[kTextSize];
    const int16_t got = wksfr(kToolFile, static_cast<int16_t>(col), static_cast<int16_t>(row), code.data(), decoded,
                              kTextSize);
    if (got != 0) {
        take_messages();  // the same code, shown by the decoder
        return "(does not decode: " + error_text(got) + ")";
    }
    return exact_formula_text(code.data(), static_cast<int>(code.size()), decoded);
}

// A text as standard error shows it: UTF-8, control characters as \xHH,
// at most kShownCharacters characters.
std::string shown_text(const std::string &bytes) {
    const std::string text = to_utf8(bytes, Charset::kCp437);
    std::string out;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80 && characters++ == kShownCharacters) return out + "...";
        if (c < 32 || c == 127) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += text[i];
        }
    }
    return out;
}

void write_report(const std::string &lines) {
    if (g_report) std::fwrite(lines.data(), 1, lines.size(), g_report);
}

}  // namespace

bool open_rewrite_report(const std::string &path, const std::vector<std::string> &sources,
                         const std::vector<std::string> &destinations) {
    for (const auto *files : {&sources, &destinations})
        for (const std::string &f : *files)
            if (f != "-" && same_file(path, f)) return fail(path, "the report would replace " + f), false;
    g_report = std::fopen(path.c_str(), "wb");
    if (!g_report) return fail(path, std::string("cannot write the report: ") + std::strerror(errno)), false;
    g_report_path = path;
    g_tool_process = static_cast<long>(::getpid());
    write_report("source,destination,cell,formula,rewritten\n");
    return true;
}

int close_rewrite_report(int status) {
    if (!g_report) return status;
    const bool written = std::ferror(g_report) == 0;
    const int closed = std::fclose(g_report);
    g_report = nullptr;
    if (!written || closed != 0) return fail(g_report_path, std::string("cannot write the report: ") + std::strerror(errno));
    return status;
}

std::string without_report_lines(const std::string &output) {
    std::string shown;
    const std::size_t mark = sizeof kMark - 1;
    std::size_t from = 0, at;
    while ((at = output.find(kMark, from)) != std::string::npos) {
        shown.append(output, from, at - from);
        char *end;
        const unsigned long count = std::strtoul(output.c_str() + at + mark, &end, 10);
        const std::size_t lines = static_cast<std::size_t>(end - output.c_str()) + 1;  // after the LF
        write_report(output.substr(lines, count));
        from = lines + count;
    }
    if (from < output.size()) shown.append(output, from, std::string::npos);
    return shown;
}

RewriteWatch::RewriteWatch(const std::string &source, const std::string &destination)
    : source_(source), destination_(destination), in_place_(same_file(source, destination)) {
    if (!in_place_) return;
    Sheet in;
    Record r;
    if (!open_plain(in, source)) return;
    while (next_formula(in, r)) kept_.push_back({r.col, r.row, std::vector<unsigned char>(r.code, r.code + r.code_bytes)});
}

void RewriteWatch::tell(const std::string &shown_source) {
    Sheet before, after;
    if (!open_plain(after, destination_) || (!in_place_ && !open_plain(before, source_))) return;
    std::vector<Code> changed_from, changed_to;
    Record old_r, new_r;
    for (std::size_t n = 0; next_formula(after, new_r); ++n) {
        const unsigned char *old_code;
        int old_bytes;
        if (in_place_) {
            if (n >= kept_.size()) break;
            old_code = kept_[n].code.data();
            old_bytes = static_cast<int>(kept_[n].code.size());
        } else {
            if (!next_formula(before, old_r)) break;
            old_code = old_r.code;
            old_bytes = old_r.code_bytes;
        }
        if (old_bytes == new_r.code_bytes && std::memcmp(old_code, new_r.code, static_cast<std::size_t>(old_bytes)) == 0)
            continue;
        changed_from.push_back({new_r.col, new_r.row, std::vector<unsigned char>(old_code, old_code + old_bytes)});
        changed_to.push_back({new_r.col, new_r.row, std::vector<unsigned char>(new_r.code, new_r.code + new_r.code_bytes)});
    }
    kept_.clear();
    if (changed_to.empty()) return;

    // The names print in place of their coordinates, as in the converter.
    if (after.rewind()) after.load_names();
    const std::string arrow = shown_source + " -> " + destination_;
    const std::size_t count = changed_to.size();
    std::string lines, listing;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string cell = cell_name(changed_to[i].col, changed_to[i].row);
        const std::string old_text = text_of(changed_from[i].code, changed_from[i].col, changed_from[i].row);
        const std::string new_text = text_of(changed_to[i].code, changed_to[i].col, changed_to[i].row);
        if (g_report) {
            lines += csv_field(shown_source) + "," + csv_field(destination_) + "," + cell +
                     "," + csv_field(to_utf8(old_text, Charset::kCp437)) + "," +
                     csv_field(to_utf8(new_text, Charset::kCp437)) + "\n";
        } else if (i < kShownChanges) {
            listing += "\n  " + cell + "  " + shown_text(old_text) + "\n  " + std::string(cell.size(), ' ') + "  -> " +
                       shown_text(new_text);
        }
    }
    wkscs();  // the names are this file's only

    std::string what = thousands(count) + (count == 1 ? " formula" : " formulas") + " rewritten";
    if (g_report) {
        what += ", listed in " + g_report_path;
        if (static_cast<long>(::getpid()) == g_tool_process)
            write_report(lines);
        else
            std::fprintf(stderr, "%s%zu\n%s", kMark, lines.size(), lines.c_str());
    } else {
        what += ":" + listing;
        if (count > kShownChanges)
            what += "\n  ... and " + thousands(count - kShownChanges) + " more (--report FILE lists every one)";
    }
    warn(arrow, what);
}

}  // namespace tool

/*
 * The formulas a conversion rewrote (rewrite_report.h).  The source and the
 * new file hold their records in the same order, record for record, so the
 * n-th formula record of one is the n-th of the other.  Both files are read
 * as bytes in large blocks and their records walked in place: the common
 * case, no formula rewritten, costs one reading of each file and a
 * comparison of formula codes.  Only when formulas differ are the new
 * file's range names registered (the decoder prints a name in place of its
 * coordinates, as the converter's decoder did) and the differing formulas
 * decoded.
 */
#include "tools/rewrite_report.h"

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

unsigned get16(const unsigned char *p) { return p[0] | p[1] << 8; }

// A formula record's cell and its code from the length word; the code lies
// in the walk's block and stays valid until the walk moves on.
struct Formula {
    int col = 0, row = 0;
    const unsigned char *code = nullptr;
    std::size_t bytes = 0;
};

struct Name {
    std::string text;
    int c1, r1, c2, r2;
};

// A file's records, read in large blocks and walked where they lie, up to
// the EOF record or the first record no reader takes (cut short, or longer
// than any reader's record).  The converter has read the same records.
class RecordWalk {
public:
    RecordWalk(const std::string &path, Format format)
        : f_(std::fopen(path.c_str(), "rb")), cell_(format == Format::kOrx ? WKS_ORX_CELL_PREFIX : 0) {
        if (!f_) return;
        std::setvbuf(f_, nullptr, _IONBF, 0);  // the blocks are read whole into block_
        if (format == Format::kOrx && !skip(WKS_HEADER_SIZE)) ended_ = true;
    }
    ~RecordWalk() {
        if (f_) std::fclose(f_);
    }
    RecordWalk(const RecordWalk &) = delete;
    RecordWalk &operator=(const RecordWalk &) = delete;

    // The next formula record; false at the walk's end.  Range names met on
    // the way are kept.
    bool next(Formula &out) {
        constexpr std::size_t kHead = 4;
        constexpr std::size_t kCode = WKS_CELL_FORMULA_CODE;
        while (!ended_ && have(kHead)) {
            const unsigned char *head = block_.data() + at_;
            const unsigned type = get16(head), length = get16(head + 2);
            if (type == WKS_EOF || length > WKS_MAX_READ_BODY || !have(kHead + length)) break;
            const unsigned char *body = block_.data() + at_ + kHead;
            at_ += kHead + length;
            if (type == WKS_FORMULA && length >= cell_ + kCode + 2) {
                const std::size_t bytes = 2 + get16(body + cell_ + kCode);
                if (length < cell_ + kCode + bytes) continue;  // a record too short for its code
                out.col = static_cast<int16_t>(get16(body + cell_ + WKS_CELL_COLUMN));
                out.row = static_cast<int16_t>(get16(body + cell_ + WKS_CELL_ROW));
                out.code = body + cell_ + kCode;
                out.bytes = bytes;
                return true;
            }
            if ((type == WKS_RANGE_NAME || type == WKS_RANGE_NAME2) && length >= WKS_NAME_RECORD_SIZE) {
                const unsigned char *at = body + WKS_NAME_COORDINATES;
                const void *nul = std::memchr(body, 0, WKS_NAME_TEXT_SIZE);
                const std::size_t size = nul ? static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - body)
                                             : WKS_NAME_TEXT_SIZE;
                names_.push_back({std::string(reinterpret_cast<const char *>(body), size),
                                  static_cast<int16_t>(get16(at)), static_cast<int16_t>(get16(at + 2)),
                                  static_cast<int16_t>(get16(at + 4)), static_cast<int16_t>(get16(at + 6))});
            }
        }
        ended_ = true;
        return false;
    }
    // The file's range names, the rest of the walk taken first.
    const std::vector<Name> &names() {
        Formula rest;
        while (next(rest)) {
        }
        return names_;
    }

private:
    static constexpr std::size_t kBlock = 1 << 18;

    // Whether n bytes from at_ on are in the block, reading more if not.
    bool have(std::size_t n) {
        if (end_ - at_ >= n) return true;
        if (!f_) return false;
        std::memmove(block_.data(), block_.data() + at_, end_ - at_);
        end_ -= at_;
        at_ = 0;
        while (end_ < n) {
            const std::size_t got = std::fread(block_.data() + end_, 1, block_.size() - end_, f_);
            if (got == 0) return false;
            end_ += got;
        }
        return true;
    }
    bool skip(std::size_t n) {
        if (!have(n)) return false;
        at_ += n;
        return true;
    }

    std::FILE *f_;
    std::size_t cell_;  // where the WK1 cell fields start in a cell's body
    std::vector<unsigned char> block_ = std::vector<unsigned char>(kBlock);
    std::size_t at_ = 0, end_ = 0;
    bool ended_ = false;
    std::vector<Name> names_;
};

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

RewriteWatch::RewriteWatch(const std::string &source, Format format, const std::string &destination)
    : source_(source), destination_(destination), format_(format), in_place_(same_file(source, destination)) {
    if (!in_place_) return;
    RecordWalk in(source, format_);
    Formula f;
    while (in.next(f)) kept_.insert(kept_.end(), f.code, f.code + f.bytes);
}

void RewriteWatch::tell(const std::string &shown_source) {
    struct Code {
        int col, row;
        std::vector<unsigned char> code;  // from its length word
    };
    RecordWalk after(destination_, format_ == Format::kOrx ? Format::kWk1 : Format::kOrx);
    RecordWalk before(in_place_ ? std::string() : source_, format_);
    std::vector<Code> changed_from, changed_to;
    Formula old_f, new_f;
    std::size_t kept_at = 0;
    while (after.next(new_f)) {
        if (in_place_) {
            if (kept_.size() - kept_at < 2) break;
            old_f.code = kept_.data() + kept_at;
            old_f.bytes = 2 + get16(old_f.code);
            kept_at += old_f.bytes;
        } else if (!before.next(old_f)) {
            break;
        }
        if (old_f.bytes == new_f.bytes && std::memcmp(old_f.code, new_f.code, old_f.bytes) == 0) continue;
        changed_from.push_back({new_f.col, new_f.row, std::vector<unsigned char>(old_f.code, old_f.code + old_f.bytes)});
        changed_to.push_back({new_f.col, new_f.row, std::vector<unsigned char>(new_f.code, new_f.code + new_f.bytes)});
    }
    kept_.clear();
    if (changed_to.empty()) return;

    // The names print in place of their coordinates, as in the converter.
    for (const Name &n : after.names()) {
        wksir(kToolFile, n.text.c_str(), static_cast<int16_t>(n.c1), static_cast<int16_t>(n.r1),
              static_cast<int16_t>(n.c2), static_cast<int16_t>(n.r2));
        take_messages();  // a duplicate or invalid name stays out of the table
    }
    const std::string arrow = shown_source + " -> " + destination_;
    const std::size_t count = changed_to.size();
    std::string lines, listing;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string cell = cell_name(changed_to[i].col, changed_to[i].row);
        const std::string old_text = text_of(changed_from[i].code, changed_from[i].col, changed_from[i].row);
        const std::string new_text = text_of(changed_to[i].code, changed_to[i].col, changed_to[i].row);
        if (g_report) {
            lines += "{\"kind\":\"rewritten\",\"source\":" + json_string(shown_source) +
                     ",\"destination\":" + json_string(destination_) + ",\"cell\":" + json_string(cell) +
                     ",\"formula\":" + json_string(to_utf8(old_text, Charset::kCp437)) +
                     ",\"rewritten\":" + json_string(to_utf8(new_text, Charset::kCp437)) + "}\n";
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

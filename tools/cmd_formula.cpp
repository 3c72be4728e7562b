/*
 * wks compile [--at CELL] TEXT and wks decode [--at CELL] HEX: one formula
 * through the library's compiler or decoder.  The hexadecimal form is the
 * formula code with its 2-byte length in front, as it stands in a formula
 * record, so the output of one command is the input of the other.
 */
#include "tools/commands.h"
#include "tools/common.h"
#include "tools/text.h"
#include "wks.h"

#include <cstdio>
#include <vector>

namespace tool {
namespace {

const char kCompileHelp[] =
    "usage: wks compile [--at CELL] TEXT\n"
    "\n"
    "Compiles formula TEXT (e.g. '@SUM(A1..B2)*2') for the cell CELL (default\n"
    "A1; relative references are stored relative to it) and prints the code,\n"
    "its 2-byte length first, in hexadecimal.  On failure prints the library's\n"
    "error code and text.  Write '--' before a TEXT that starts with \"--\".\n";

const char kDecodeHelp[] =
    "usage: wks decode [--at CELL] HEX\n"
    "\n"
    "Decodes formula code given in hexadecimal (its 2-byte length first, as\n"
    "'wks compile' prints it; spaces between digits are allowed) for the cell\n"
    "CELL (default A1) and prints the formula text.  On failure prints the\n"
    "library's error code and text.\n";

constexpr int kLengthBytes = 2;
constexpr int kMaxCode = 32767;

bool cell_option(const std::string &command, const Options &o, int16_t &col, int16_t &row) {
    col = row = 0;
    if (!o.has("--at")) return true;
    if (parse_cell(o.given.at("--at"), col, row)) return true;
    usage_error(command, "'" + o.given.at("--at") + "' is not a cell (A1..IV8192)");
    return false;
}

}  // namespace

int cmd_compile(const Args &args) {
    Options o;
    int16_t col, row;
    if (!parse_options("compile", args, {}, {"--at"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kCompileHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("compile", "expects one formula TEXT");
    if (!cell_option("compile", o, col, row)) return kUsage;

    std::vector<unsigned char> out(kMaxCode + kLengthBytes);
    const int16_t got = wksfe(0, col, row, o.positional[0].c_str(), out.data(), static_cast<int32_t>(out.size()));
    if (got != 0) return fail("formula '" + o.positional[0] + "'", error_text(got));
    const std::size_t length = static_cast<std::size_t>(out[0] | out[1] << 8);
    std::printf("%s\n", hex(out.data(), length + kLengthBytes).c_str());
    return kOk;
}

int cmd_decode(const Args &args) {
    Options o;
    int16_t col, row;
    if (!parse_options("decode", args, {}, {"--at"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kDecodeHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("decode", "expects one HEX string");
    if (!cell_option("decode", o, col, row)) return kUsage;

    const std::string &text = o.positional[0];
    std::vector<unsigned char> code;
    if (!parse_hex(text, code)) return fail("code '" + text + "'", "not a hexadecimal byte string");
    if (code.size() < kLengthBytes) return fail("code '" + text + "'", "shorter than its 2-byte length");
    const std::size_t length = static_cast<std::size_t>(code[0] | code[1] << 8);
    if (code.size() != length + kLengthBytes)
        return fail("code '" + text + "'", "its length word says " + std::to_string(length) + " bytes of code, " +
                                               std::to_string(code.size() - kLengthBytes) + " are given");
    // Every code byte can print at most a few characters; names are short.
    std::vector<char> out(length * 16 + 256);
    const int16_t got = wksfr(0, col, row, code.data(), out.data(), static_cast<int32_t>(out.size()));
    if (got != 0) return fail("code '" + text + "'", error_text(got));
    std::printf("%s\n", out.data());
    return kOk;
}

}  // namespace tool

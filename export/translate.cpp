/*
 * Formula code into workbook formula text.  The code is read into a tree
 * (operands, operators and calls in reverse Polish order, as the decoder
 * walks them), then each node is printed with the target's precedence and
 * the form that keeps the formula language's value:
 *
 * - arithmetic, logic and comparisons: a string operand counts 0 (N()),
 *   results of comparisons and logic are 1 and 0 (IF(..,1,0)), strings
 *   compare ignoring case, & wants two strings (anything else is ERR);
 * - a prefix minus binds after the power (-(2^2)), and the power groups
 *   to the right (2^(3^2)), because the tree says so;
 * - positions and offsets count from 0, years from 1900, the financial
 *   functions take their arguments in their own order and signs, lists
 *   count labels (the ...A functions), a single cell given as a reference
 *   counts even when blank.
 *
 * A function without such a form throws NoForm; the cell then keeps its
 * value alone.  A form that may still differ in a corner adds a caveat.
 */
#include "export/translate.h"

#include "calc/dates.h"
#include "formula/code_tables.h"
#include "formula/reference_words.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace wks::exporting {

using namespace wks::formula;

CellKinds::CellKinds() : kinds_(static_cast<std::size_t>(kColumns) * kRows, Kind::kEmpty) {}

namespace {

// The name of a cell, each part after a $ when absolute, into out (16
// bytes); the end of the name.
char *put_cell(char *out, int col, int row, bool abs_col, bool abs_row) {
    if (abs_col) *out++ = '$';
    if (col >= 26) *out++ = static_cast<char>('A' + col / 26 - 1);
    *out++ = static_cast<char>('A' + col % 26);
    if (abs_row) *out++ = '$';
    return std::to_chars(out, out + 11, row + 1).ptr;
}

}  // namespace

std::string cell_name(int col, int row) {
    char buf[16];
    return std::string(buf, put_cell(buf, col, row, false, false));
}

namespace {

// The longest formula text and string constant the target takes.
constexpr std::size_t kMaxFormula = 8192;
constexpr std::size_t kMaxConstant = 255;

// An error value the language calls ERR: any error of the target but #N/A.
constexpr const char *kErrText = "(1/0)";

enum class Type { kNum, kStr, kBlank, kErr, kNa, kAny };

// Levels of the target's precedence, loosest first.
enum Level { kCompare, kConcatLevel, kAddLevel, kMulLevel, kPowLevel, kPrefix, kAtom };

struct Printed {
    std::string text;
    int level;
    Type type;
};

struct NoForm {
    std::string reason;
};

struct Ref {
    int col, row;
    bool abs_col, abs_row;
};

// A node's operands, indices of nodes, held in the translator's pool.
struct Args {
    const int *at = nullptr;
    std::size_t count = 0;
    const int &operator[](std::size_t i) const { return at[i]; }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const int *begin() const { return at; }
    const int *end() const { return at + count; }
};

struct Node {
    uint8_t op = 0;
    std::size_t first_arg = 0;  // in the pool, while the code is read
    Args args;
    double number = 0;
    std::string bytes;  // a string constant as in the file
    Ref first{}, last{};
};

Type type_of(Kind k) {
    switch (k) {
    case Kind::kNumber: return Type::kNum;
    case Kind::kString: return Type::kStr;
    case Kind::kErr: return Type::kErr;
    case Kind::kNa: return Type::kNa;
    default: return Type::kBlank;
    }
}

std::string wrap(const Printed &p, int level) { return p.level >= level ? p.text : "(" + p.text + ")"; }
std::string wrap(Printed &&p, int level) {
    if (p.level < level) {
        p.text.insert(0, 1, '(');
        p.text += ')';
    }
    return std::move(p.text);
}

Printed atom(std::string text, Type type) { return Printed{std::move(text), kAtom, type}; }
Printed truth(const std::string &condition) { return atom("IF(" + condition + ",1,0)", Type::kNum); }
Printed err() { return atom(kErrText, Type::kErr); }

std::string ref_text(const Ref &r) {
    char buf[16];
    return std::string(buf, put_cell(buf, r.col, r.row, r.abs_col, r.abs_row));
}

std::string number_text(double v) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, ec == std::errc() ? end : buf);
    for (char &c : s)
        if (c == 'e') c = 'E';
    return s;
}

// The tree's storage, kept by each thread from one formula to the next.
struct Scratch {
    std::vector<Node> nodes;
    std::vector<int> operands;  // the nodes' Args
    std::vector<int> stack;
};

class Translator {
public:
    Translator(const CellKinds &kinds, const std::function<std::string(const std::string &)> &decode,
               const NameMap &names, Scratch &scratch)
        : kinds_(kinds), decode_(decode), names_(names), nodes_(scratch.nodes), operands_(scratch.operands),
          stack_(scratch.stack) {
        nodes_.clear();
        operands_.clear();
        stack_.clear();
    }

    std::vector<std::string> caveats;

    // The tree of the code; the index of its root, or -1 for the empty formula.
    int read(const unsigned char *code, int col, int row) {
        const int32_t length = static_cast<int16_t>(code[0] | code[1] << 8);
        const unsigned char *p = code + 2, *end = p + (length > 0 ? length : 0);
        std::vector<int> &stack = stack_;
        while (p < end) {
            const Item item = read_item(p, end);
            if (item.size == 0 || item.op == kError) throw NoForm{"the formula code is not valid"};
            if (item.op == kEnd) break;
            Node &n = nodes_.emplace_back();
            n.op = item.op;
            const unsigned char *b = p + 1;
            switch (item.op) {
            case kReal: std::memcpy(&n.number, b, sizeof n.number); break;  // little-endian targets
            case kInteger: n.number = static_cast<int16_t>(b[0] | b[1] << 8); break;
            case kString: n.bytes.assign(reinterpret_cast<const char *>(b)); break;
            case kCell: n.first = n.last = reference(b, col, row); break;
            case kRange:
                n.first = reference(b, col, row);
                n.last = reference(b + kCellBytes, col, row);
                break;
            default:
                if (static_cast<int>(stack.size()) < item.takes) throw NoForm{"the formula code is not valid"};
                n.first_arg = operands_.size();
                n.args.count = static_cast<std::size_t>(item.takes);
                operands_.insert(operands_.end(), stack.end() - item.takes, stack.end());
                stack.resize(stack.size() - static_cast<std::size_t>(item.takes));
            }
            stack.push_back(static_cast<int>(nodes_.size()) - 1);
            p += item.size;
        }
        if (stack.size() > 1) throw NoForm{"the formula code is not valid"};
        for (Node &n : nodes_) n.args.at = operands_.data() + n.first_arg;  // the pool is complete
        return stack.empty() ? -1 : stack.back();
    }

    Printed value(int i) {
        const Node &n = nodes_[static_cast<std::size_t>(i)];
        switch (n.op) {
        case kReal:
        case kInteger: {
            std::string t = number_text(n.number);
            return Printed{std::move(t), n.number < 0 ? kPrefix : kAtom, Type::kNum};
        }
        case kString: {
            const std::string text = decode_(n.bytes);
            if (text.size() > kMaxConstant) throw NoForm{"a string constant is too long for the target"};
            std::string q = "\"";
            for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
            return atom(q + "\"", Type::kStr);
        }
        case kCell: return atom(ref_text(n.first), type_of(kinds_.at(n.first.col, n.first.row)));
        case kRange:
            if (n.first.col != n.last.col || n.first.row != n.last.row) return err();  // a block where a value is wanted
            return atom(ref_text(n.first), type_of(kinds_.at(n.first.col, n.first.row)));
        case kParens:
        case kUnaryPlus: return value(n.args[0]);
        case kNegate: return Printed{"-" + wrap(num(n.args[0]), kPrefix), kPrefix, Type::kNum};
        default: break;
        }
        if (!is_function(n.op) && n.args.size() == 2 && meet_errors(n.args[0], n.args[1])) return err();
        switch (n.op) {
        case kAdd:
        case kSubtract:
            return Printed{wrap(num(n.args[0]), kAddLevel) + (n.op == kAdd ? "+" : "-") + wrap(num(n.args[1]), kMulLevel),
                           kAddLevel, Type::kNum};
        case kMultiply:
        case kDivide:
            return Printed{wrap(num(n.args[0]), kMulLevel) + (n.op == kMultiply ? "*" : "/") + wrap(num(n.args[1]), kPowLevel),
                           kMulLevel, Type::kNum};
        case kPower:
            return Printed{wrap(num(n.args[0]), kPrefix) + "^" + wrap(num(n.args[1]), kPrefix), kPowLevel, Type::kNum};
        case kConcat: {
            bool bad = false;
            const Printed a = str(n.args[0], bad), b = str(n.args[1], bad);
            if (bad) return err();
            return Printed{wrap(a, kConcatLevel) + "&" + wrap(b, kAddLevel), kConcatLevel, Type::kStr};
        }
        case kEqual:
        case kNotEqual:
        case kLessEqual:
        case kGreaterEqual:
        case kLess:
        case kGreater: return compare(n);
        case kAnd:
        case kOr:
            return truth(std::string(n.op == kAnd ? "AND(" : "OR(") + wrap(num(n.args[0]), kConcatLevel) + "<>0," +
                         wrap(num(n.args[1]), kConcatLevel) + "<>0)");
        case kNot: return atom("IF(" + wrap(num(n.args[0]), kConcatLevel) + "<>0,0,1)", Type::kNum);
        default: return call(n);
        }
    }

private:
    const CellKinds &kinds_;
    const std::function<std::string(const std::string &)> &decode_;
    const NameMap &names_;
    std::vector<Node> &nodes_;
    std::vector<int> &operands_;
    std::vector<int> &stack_;

    static Ref reference(const unsigned char *words, int col, int row) {
        const uint16_t cw = static_cast<uint16_t>(words[0] | words[1] << 8);
        const uint16_t rw = static_cast<uint16_t>(words[2] | words[3] << 8);
        const int c = resolve_column(cw, col), r = resolve_row(rw, row);
        if (c < 0 || c >= kColumns || r < 0 || r >= kRows) throw NoForm{"a reference lies outside the sheet"};
        return Ref{c, r, !is_relative_word(cw), !is_relative_word(rw)};
    }

    const Node &node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }

    // An operator whose operands are ERR and NA is ERR; the target would
    // pass on whichever comes first.
    bool meet_errors(int a, int b) const {
        const Type x = leaf_type(a), y = leaf_type(b);
        return (x == Type::kErr && y == Type::kNa) || (x == Type::kNa && y == Type::kErr);
    }
    // The type of a cell reference, @ERR or @NA; kAny for anything else.
    Type leaf_type(int i) const {
        const Node &n = node(i);
        if ((n.op == kCell || n.op == kRange) && n.first.col == n.last.col && n.first.row == n.last.row)
            return type_of(kinds_.at(n.first.col, n.first.row));
        if (n.op == opcode_of("@ERR")) return Type::kErr;
        if (n.op == opcode_of("@NA")) return Type::kNa;
        return Type::kAny;
    }
    bool is_reference(int i) const { return node(i).op == kCell || node(i).op == kRange; }
    bool is_block(int i) const {
        const Node &n = node(i);
        return n.op == kRange && (n.first.col != n.last.col || n.first.row != n.last.row);
    }

    // A value where a number is wanted: a string counts 0.
    Printed num(int i) {
        Printed p = value(i);
        if (p.type == Type::kStr || p.type == Type::kAny) return atom("N(" + p.text + ")", Type::kNum);
        return p;
    }

    // A value where a string is wanted: a number or a blank cell makes the call ERR.
    Printed str(int i, bool &bad) {
        Printed p = value(i);
        if (p.type == Type::kNum || p.type == Type::kBlank) bad = true;
        return p;
    }

    // A range argument: a range or a cell reference.
    std::string range(int i) {
        const Node &n = node(i);
        if (n.op == kCell) return ref_text(n.first);
        if (n.op != kRange) throw NoForm{"a range argument is no reference"};
        return ref_text(n.first) + ":" + ref_text(n.last);
    }

    // A number cut to a whole one; a constant is cut here.
    std::string whole(int i) {
        const Node &n = node(i);
        if (n.op == kInteger || n.op == kReal) return number_text(std::trunc(n.number) + 0.0);
        return "TRUNC(" + num(i).text + ")";
    }
    // A whole number counted from 0, as a position counted from 1.
    std::string from_one(int i) {
        const Node &n = node(i);
        if (n.op == kInteger || n.op == kReal) return number_text(std::trunc(n.number) + 1);
        return whole(i) + "+1";
    }

    Printed compare(const Node &n) {
        static const char *const kOps[] = {"=", "<>", "<=", ">=", "<", ">"};
        const char *op = kOps[n.op - kEqual];
        const Printed a = value(n.args[0]), b = value(n.args[1]);
        const bool text = (a.type == Type::kStr || a.type == Type::kAny) && (b.type == Type::kStr || b.type == Type::kAny) &&
                          (a.type == Type::kStr || b.type == Type::kStr);
        if (!text) return truth(wrap(num_of(a), kConcatLevel) + op + wrap(num_of(b), kConcatLevel));
        const std::string la = "LOWER(" + a.text + ")", lb = "LOWER(" + b.text + ")";
        if (n.op == kEqual) return truth("EXACT(" + la + "," + lb + ")");
        if (n.op == kNotEqual) return truth("NOT(EXACT(" + la + "," + lb + "))");
        caveats.push_back("strings are ordered by the target's collation");
        return truth(la + op + lb);
    }
    static Printed num_of(const Printed &p) {
        if (p.type == Type::kStr || p.type == Type::kAny) return atom("N(" + p.text + ")", Type::kNum);
        return p;
    }

    // name(args) with each argument as kinds says: n number, s string, a value, r range.
    Printed simple(const char *name, const Node &n, const char *kinds, Type result) {
        std::string text = std::string(name) + "(";
        bool bad = false;
        for (std::size_t i = 0; i < n.args.size(); ++i) {
            if (i) text += ",";
            const char k = kinds[i];
            text += k == 'n' ? num(n.args[i]).text
                    : k == 's' ? str(n.args[i], bad).text
                    : k == 'r' ? range(n.args[i])
                               : value(n.args[i]).text;
        }
        if (bad) return err();
        return atom(text + ")", result);
    }

    // A single value as a number that lists count even when it comes from
    // a blank cell (blank + 0, since N() of a blank cell is an error in one
    // target) or a label (N()).
    std::string counted(int i) {
        const Printed p = value(i);
        if (p.type == Type::kBlank) return p.text + "+0";
        if (p.type == Type::kStr || p.type == Type::kAny) return "N(" + p.text + ")";
        return p.text;
    }

    // @SUM @AVG @MIN @MAX @VAR @STD: a block as it is, a cell reference as
    // its value even when blank, any other argument as a number.
    std::string list_items(const Node &n) {
        std::string text;
        for (std::size_t i = 0; i < n.args.size(); ++i) {
            if (i) text += ",";
            text += is_block(n.args[i]) ? range(n.args[i]) : counted(n.args[i]);
        }
        return text;
    }

    // The first cell of a range argument.
    std::string first_cell(int i) {
        const Node &n = node(i);
        if (!is_reference(i)) throw NoForm{"a range argument is no reference"};
        Ref r = n.first;
        r.col = std::min(n.first.col, n.last.col);
        r.row = std::min(n.first.row, n.last.row);
        return ref_text(r);
    }

    Printed count(const Node &n) {
        std::string blocks, all;
        int singles = 0;
        for (int a : n.args) {
            if (is_block(a)) {
                blocks += (blocks.empty() ? "" : ",") + range(a);
                all += (all.empty() ? "" : ",") + range(a);
            } else {
                ++singles;
                all += (all.empty() ? "" : ",") + counted(a);
            }
        }
        if (all.empty()) return Printed{"0", kAtom, Type::kNum};
        std::string text = blocks.empty() ? std::to_string(singles) : "COUNTA(" + blocks + ")";
        if (!blocks.empty() && singles) text += "+" + std::to_string(singles);
        return Printed{text + "+0*SUM(" + all + ")", kAddLevel, Type::kNum};  // SUM passes errors on
    }

    // A string key matches a text key cell in any case, character for
    // character: the target's exact match reads * ? ~ in the key as
    // wildcards, so each is escaped with ~ (a constant here, any other key
    // in the formula).
    std::string literal_key(const Node &n, const Printed &key) {
        if (n.op != kString) return "SUBSTITUTE(SUBSTITUTE(SUBSTITUTE(" + key.text + ",\"~\",\"~~\"),\"*\",\"~*\"),\"?\",\"~?\")";
        if (key.text.find_first_of("~*?") == std::string::npos) return key.text;
        std::string escaped;
        for (char c : key.text) escaped += c == '~' || c == '*' || c == '?' ? std::string("~") + c : std::string(1, c);
        if (escaped.size() > kMaxConstant + 2) throw NoForm{"a string constant is too long for the target"};
        return escaped;
    }

    // @DATE's day must exist (years 0..199 from 1900, the language's
    // 29 February 1900 included), where the target's DATE rolls a day or
    // month over into the next: the parts are checked against the date
    // made of them.
    Printed date(const Args &a) {
        const Node &y = node(a[0]), &m = node(a[1]), &d = node(a[2]);
        auto constant = [](const Node &n) { return n.op == kInteger || n.op == kReal; };
        if (constant(y) && constant(m) && constant(d)) {
            auto part = [](double x) { return std::fabs(x) < 1e6 ? static_cast<int>(std::trunc(x)) : -1; };
            if (!calc::valid_date(1900 + part(y.number), part(m.number), part(d.number))) return err();
        }
        const std::string year = whole(a[0]), month = whole(a[1]), day = whole(a[2]);
        const std::string made = "DATE(1900+" + year + "," + month + "," + day + ")";
        if (constant(y) && constant(m) && constant(d)) return atom(made, Type::kNum);
        // Each part stands several times: a nesting of dates must not grow it past any use.
        if (made.size() > kMaxFormula) throw NoForm{"the translated formula is too long for the target"};
        return atom("IF(AND(" + year + ">=0," + year + "<=199,MONTH(" + made + ")=" + month + ",DAY(" + made + ")=" +
                        day + ")," + made + "," + kErrText + ")",
                    Type::kNum);
    }

    Printed lookup(const Node &n, const char *name) {
        const Printed x = value(n.args[0]);
        const std::string tail = "," + range(n.args[1]) + "," + from_one(n.args[2]);
        const std::string exact = std::string(name) + "(" + literal_key(node(n.args[0]), x) + tail + ",FALSE)";
        std::string text;
        switch (x.type) {
        case Type::kStr: text = exact; break;
        case Type::kAny:
            text = "IF(ISTEXT(" + x.text + ")," + exact + "," + name + "(N(" + x.text + ")" + tail + ",TRUE))";
            break;
        case Type::kErr:
        case Type::kNa: return x;
        default: text = std::string(name) + "(" + x.text + tail + ",TRUE)";
        }
        return atom("IFERROR(" + text + "," + kErrText + ")", Type::kAny);  // not found is ERR, not NA
    }

    // Cash flows: the target skips blank cells and labels, the language
    // counts them 0, so a range that holds any becomes an array of numbers.
    std::string flows(int i) {
        const Node &n = node(i);
        if (!is_reference(i)) throw NoForm{"cash flows are no range"};
        const std::string r = range(i);
        for (int c = std::min(n.first.col, n.last.col); c <= std::max(n.first.col, n.last.col); ++c)
            for (int row = std::min(n.first.row, n.last.row); row <= std::max(n.first.row, n.last.row); ++row) {
                const Kind k = kinds_.at(c, row);
                if (k == Kind::kEmpty || k == Kind::kString) {
                    array = true;
                    return "IF(ISTEXT(" + r + ")+ISBLANK(" + r + "),0," + r + ")";
                }
            }
        return r;
    }

    Printed call(const Node &n) {
        const char *open = function_by_opcode(n.op).open;
        const std::string_view name(open + 1, std::strlen(open) - 2);  // compared often: no copy
        const Args &a = n.args;
        struct Same {
            const char *ours, *theirs, *kinds;
            Type result;
        };
        static const Same kSame[] = {
            {"ABS", "ABS", "n", Type::kNum},        {"INT", "TRUNC", "n", Type::kNum},
            {"SQRT", "SQRT", "n", Type::kNum},      {"LOG", "LOG10", "n", Type::kNum},
            {"LN", "LN", "n", Type::kNum},          {"PI", "PI", "", Type::kNum},
            {"SIN", "SIN", "n", Type::kNum},        {"COS", "COS", "n", Type::kNum},
            {"TAN", "TAN", "n", Type::kNum},        {"ATAN", "ATAN", "n", Type::kNum},
            {"ASIN", "ASIN", "n", Type::kNum},      {"ACOS", "ACOS", "n", Type::kNum},
            {"EXP", "EXP", "n", Type::kNum},        {"ATAN2", "ATAN2", "nn", Type::kNum},
            {"ROUND", "ROUND", "nn", Type::kNum},   {"DAY", "DAY", "n", Type::kNum},
            {"MONTH", "MONTH", "n", Type::kNum},    {"TIME", "TIME", "nnn", Type::kNum},
            {"HOUR", "HOUR", "n", Type::kNum},      {"MINUTE", "MINUTE", "n", Type::kNum},
            {"SECOND", "SECOND", "n", Type::kNum},  {"LENGTH", "LEN", "s", Type::kNum},
            {"CODE", "CODE", "s", Type::kNum},      {"UPPER", "UPPER", "s", Type::kStr},
            {"LOWER", "LOWER", "s", Type::kStr},    {"LEFT", "LEFT", "sn", Type::kStr},
            {"RIGHT", "RIGHT", "sn", Type::kStr},   {"PROPER", "PROPER", "s", Type::kStr},
            {"TRIM", "TRIM", "s", Type::kStr},      {"CLEAN", "CLEAN", "s", Type::kStr},
            {"SLN", "SLN", "nnn", Type::kNum},      {"SYD", "SYD", "nnnn", Type::kNum},
            {"COLS", "COLUMNS", "r", Type::kNum},   {"ROWS", "ROWS", "r", Type::kNum},
            {"TIMEVALUE", "TIMEVALUE", "s", Type::kNum}, {"NA", "NA", "", Type::kNa},
        };
        static const std::array<int8_t, 256> kSameOf = [] {  // kSame's row of each opcode, or -1
            std::array<int8_t, 256> of;
            of.fill(-1);
            for (std::size_t i = 0; i < sizeof kSame / sizeof kSame[0]; ++i) {
                const int op = find_function(("@" + std::string(kSame[i].ours)).c_str());
                if (op >= 0) of[static_cast<std::size_t>(op)] = static_cast<int8_t>(i);
            }
            return of;
        }();
        if (const int i = kSameOf[n.op]; i >= 0)
            return simple(kSame[i].theirs, n, kSame[i].kinds, kSame[i].result);

        bool bad = false;
        if (name == "@") return indirect(n);
        if (name == "ERR") return err();
        if (name == "FALSE" || name == "TRUE") return atom(name == "TRUE" ? "1" : "0", Type::kNum);
        if (name == "APP") {
            caveats.push_back("@APP: no add-in is ever attached, 0");
            return atom("0", Type::kNum);
        }
        if (name == "RAND" || name == "NOW") {
            caveats.push_back("@" + std::string(name) + ": a new value at each recalculation");
            return atom(std::string(name) + "()", Type::kNum);
        }
        if (name == "CHAR") {
            caveats.push_back("@CHAR: codes above 127 follow the target's character set");
            return simple("CHAR", n, "n", Type::kStr);
        }
        if (name == "MOD") {
            const Printed x = num(a[0]), y = num(a[1]);
            return Printed{wrap(x, kAddLevel) + "-" + wrap(y, kMulLevel) + "*TRUNC(" + wrap(x, kMulLevel) + "/" +
                               wrap(y, kPowLevel) + ")",
                           kAddLevel, Type::kNum};
        }
        if (name == "CHOOSE") {
            if (a.empty()) return err();
            std::string text = "CHOOSE(" + from_one(a[0]);
            Type t = Type::kAny;
            for (std::size_t i = 1; i < a.size(); ++i) {
                const Printed v = value(a[i]);
                t = i == 1 ? v.type : t == v.type ? t : Type::kAny;
                text += "," + v.text;
            }
            return atom(text + ")", a.size() > 1 ? t : Type::kErr);
        }
        if (name == "IF") {
            const Printed x = value(a[1]), y = value(a[2]);
            return atom("IF(" + num(a[0]).text + "," + x.text + "," + y.text + ")", x.type == y.type ? x.type : Type::kAny);
        }
        if (name == "ISNA") return truth("ISNA(" + value(a[0]).text + ")");
        if (name == "ISERR") {
            const std::string x = value(a[0]).text;
            return atom("IF(ISERROR(" + x + "),IF(ISNA(" + x + "),0,1),0)", Type::kNum);
        }
        if (name == "ISNUMBER") return atom("IF(ISTEXT(" + value(a[0]).text + "),0,1)", Type::kNum);
        if (name == "ISSTRING") return truth("ISTEXT(" + value(a[0]).text + ")");
        if (name == "DATE") return date(a);
        if (name == "YEAR") return Printed{"YEAR(" + num(a[0]).text + ")-1900", kAddLevel, Type::kNum};
        if (name == "PMT" || name == "PV" || name == "FV")  // (amount, rate, term)
            return atom(std::string(name) + "(" + num(a[1]).text + "," + num(a[2]).text + ",-" + wrap(num(a[0]), kPrefix) + ")",
                        Type::kNum);
        if (name == "RATE") {  // (future, present, term)
            const Printed f = num(a[0]), p = num(a[1]), t = num(a[2]);
            return Printed{"(" + wrap(f, kMulLevel) + "/" + wrap(p, kPowLevel) + ")^(1/" + wrap(t, kPowLevel) + ")-1",
                           kAddLevel, Type::kNum};
        }
        if (name == "TERM")  // (payment, rate, future)
            return atom("NPER(" + num(a[1]).text + ",-" + wrap(num(a[0]), kPrefix) + ",0," + num(a[2]).text + ")",
                        Type::kNum);
        if (name == "CTERM")  // (rate, future, present)
            return atom("NPER(" + num(a[0]).text + ",0,-" + wrap(num(a[2]), kPrefix) + "," + num(a[1]).text + ")",
                        Type::kNum);
        if (name == "DDB")
            return atom("DDB(" + num(a[0]).text + "," + num(a[1]).text + "," + num(a[2]).text + "," + whole(a[3]) + ")",
                        Type::kNum);
        if (name == "NPV" || name == "IRR") {
            const Node &r = node(a[1]);
            if (r.op == kRange && r.first.col != r.last.col && r.first.row != r.last.row) return err();  // a block
            const std::string cash = flows(a[1]), rate = num(a[0]).text;
            return atom(name == "NPV" ? "NPV(" + rate + "," + cash + ")" : "IRR(" + cash + "," + rate + ")", Type::kNum);
        }
        if (name == "SUM") return atom("SUM(" + list_items(n) + ")", Type::kNum);
        static const char *const kLists[][2] = {
            {"AVG", "AVERAGEA"}, {"MIN", "MINA"}, {"MAX", "MAXA"}, {"VAR", "VARPA"}, {"STD", "STDEVPA"}};
        for (const auto &l : kLists)
            if (name == l[0]) return a.empty() ? err() : atom(std::string(l[1]) + "(" + list_items(n) + ")", Type::kNum);
        if (name == "COUNT") return count(n);
        if (name == "VLOOKUP") return lookup(n, "VLOOKUP");
        if (name == "HLOOKUP") return lookup(n, "HLOOKUP");
        if (name == "INDEX") {
            const std::string index = "INDEX(" + range(a[0]) + "," + from_one(a[2]) + "," + from_one(a[1]) + ")";
            const Node &cn = node(a[1]), &rn = node(a[2]);
            const bool constants = (cn.op == kInteger || cn.op == kReal) && (rn.op == kInteger || rn.op == kReal);
            if (constants) return std::trunc(cn.number) < 0 || std::trunc(rn.number) < 0 ? err() : atom(index, Type::kAny);
            return atom("IF(OR(" + whole(a[1]) + "<0," + whole(a[2]) + "<0)," + kErrText + "," + index + ")", Type::kAny);
        }
        if (name == "MID") {
            const Printed s = str(a[0], bad);
            if (bad) return err();
            return atom("MID(" + s.text + "," + from_one(a[1]) + "," + num(a[2]).text + ")", Type::kStr);
        }
        if (name == "FIND") {
            const Printed w = str(a[0], bad), s = str(a[1], bad);
            if (bad) return err();
            return Printed{"FIND(" + w.text + "," + s.text + "," + from_one(a[2]) + ")-1", kAddLevel, Type::kNum};
        }
        if (name == "REPLACE") {
            const Printed s = str(a[0], bad), w = str(a[3], bad);
            if (bad) return err();
            return atom("REPLACE(" + s.text + "," + from_one(a[1]) + "," + num(a[2]).text + "," + w.text + ")",
                        Type::kStr);
        }
        if (name == "REPEAT") {
            const Printed s = str(a[0], bad);
            if (bad) return err();
            return atom("REPT(" + s.text + "," + whole(a[1]) + ")", Type::kStr);
        }
        if (name == "STRING") {  // rounded as the number reads in decimal first, as @ROUND does
            const std::string places = whole(a[1]);
            return atom("FIXED(ROUND(" + num(a[0]).text + "," + places + ")," + places + ",TRUE)", Type::kStr);
        }
        if (name == "VALUE") {
            const Printed s = str(a[0], bad);
            if (bad) return err();
            return atom("IF(TRIM(" + s.text + ")=\"\",0,VALUE(" + s.text + "))", Type::kNum);
        }
        if (name == "EXACT") {
            const Printed x = str(a[0], bad), y = str(a[1], bad);
            if (bad) return err();
            return truth("EXACT(" + x.text + "," + y.text + ")");
        }
        if (name == "S" || name == "N") {
            const std::string first = is_reference(a[0]) ? first_cell(a[0]) : value(a[0]).text;
            return atom((name == "S" ? "T(" : "N(") + first + ")", name == "S" ? Type::kStr : Type::kNum);
        }
        if (name == "CELL") return cell(n);
        if (name == "CELLPOINTER") throw NoForm{"@CELLPOINTER describes the cell pointer, which the target has not"};
        if (name == "DATEVALUE")
            throw NoForm{"@DATEVALUE: the target reads dates by its own locale and two-digit years"};
        return database(n, std::string(name));
    }

    // @DSUM(input, offset, criteria) ...: an array formula over the records
    // the criteria select, built from what the criteria cells hold now:
    // a number selects the equal numbers, a label the texts equal to it in
    // any case (a final * any rest, a leading ~ not).
    Printed database(const Node &n, const std::string &name) {
        static const char *const kAggregates[][2] = {{"DSUM", "SUM"},   {"DAVG", "AVERAGE"}, {"DCOUNT", "COUNT"},
                                                     {"DMIN", "MIN"},   {"DMAX", "MAX"},     {"DVAR", "VARP"},
                                                     {"DSTD", "STDEVP"}};
        const char *aggregate = nullptr;
        for (const auto &a : kAggregates)
            if (name == a[0]) aggregate = a[1];
        const Node &input = node(n.args[0]), &offset = node(n.args[1]), &criteria = node(n.args[2]);
        if (!aggregate || input.op != kRange || criteria.op != kRange)
            throw NoForm{"@" + name + ": its ranges are no ranges"};
        if (offset.op != kInteger && offset.op != kReal) throw NoForm{"@" + name + ": the offset is no constant"};
        const int c1 = std::min(input.first.col, input.last.col), c2 = std::max(input.first.col, input.last.col);
        const int r1 = std::min(input.first.row, input.last.row), r2 = std::max(input.first.row, input.last.row);
        const double field = std::trunc(offset.number);
        if (!(field >= 0 && field < c2 - c1 + 1)) return err();
        auto column = [&](int c) {
            return ref_text(Ref{c, r1 + 1, true, true}) + ":" + ref_text(Ref{c, r2, true, true});
        };
        auto text_of = [&](int c, int r) -> const std::string * {
            const Content *k = kinds_.content(c, r);
            return k && k->what == Content::kLabel ? &k->bytes : nullptr;
        };
        auto lower = [](std::string t) {
            for (char &ch : t) ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
            return t;
        };
        const int k1 = std::min(criteria.first.col, criteria.last.col), k2 = std::max(criteria.first.col, criteria.last.col);
        const int q1 = std::min(criteria.first.row, criteria.last.row), q2 = std::max(criteria.first.row, criteria.last.row);
        std::string selection;
        for (int q = q1 + 1; q <= q2; ++q) {
            std::string row = "1";
            for (int k = k1; k <= k2; ++k) {
                const Content *want = kinds_.content(k, q);
                if (!want) continue;
                if (want->what == Content::kFormula)
                    throw NoForm{"@" + name + ": a formula criterion is evaluated per record"};
                int f = -1;
                if (const std::string *header = text_of(k, q1))
                    for (int c = c1; c <= c2 && f < 0; ++c)
                        if (const std::string *h = text_of(c, r1))
                            if (lower(*h) == lower(*header)) f = c;
                if (f < 0) {
                    row = "0";  // a field no record has
                    break;
                }
                const std::string F = column(f);
                if (want->what == Content::kNumber) {
                    row += "*ISNUMBER(" + F + ")*(" + F + "=" + number_text(want->number) + ")";
                    continue;
                }
                const bool negate = !want->bytes.empty() && want->bytes[0] == '~';
                std::string pattern = want->bytes.substr(negate ? 1 : 0);
                if (pattern.find('?') != std::string::npos || pattern.find('*') < pattern.size() - 1)
                    throw NoForm{"@" + name + ": a criterion with ? or an inner * has no counterpart"};
                const bool prefix = !pattern.empty() && pattern.back() == '*';
                if (prefix) pattern.pop_back();
                std::string quoted;
                for (char ch : lower(decode_(pattern))) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
                const std::string match = "ISTEXT(" + F + ")*(LOWER(" +
                                          (prefix ? "LEFT(" + F + "," + std::to_string(pattern.size()) + ")" : F) +
                                          ")=\"" + quoted + "\")";
                row += negate ? "*(1-" + match + ")" : "*" + match;
            }
            selection += (selection.empty() ? "" : "+") + row;
        }
        const std::string values = column(c1 + static_cast<int>(field));
        const std::string chosen = selection.empty() ? "1" : "((" + selection + ")>0)";
        array = true;
        return atom(std::string(aggregate) + "(IF(" + chosen + "*(" + values + "<>\"\"),IF(ISTEXT(" + values + "),0," +
                        values + ")))",
                    Type::kNum);
    }

public:
    bool array = false;  // the form is an array formula

private:

    // @@: a range name given as a constant is found as the language finds
    // it (exact case, then in capitals) and spelled as the workbook's name.
    Printed indirect(const Node &n) {
        const Node &arg = node(n.args[0]);
        if (arg.op == kString) {
            auto found = names_.find(arg.bytes);
            if (found == names_.end()) {
                std::string upper = arg.bytes;
                for (char &c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
                found = names_.find(upper);
            }
            if (found != names_.end()) return atom("INDIRECT(\"" + found->second + "\")", Type::kAny);
        }
        return simple("INDIRECT", n, "s", Type::kAny);
    }

    // @CELL of an attribute the target can tell the same way.
    Printed cell(const Node &n) {
        const Node &what = node(n.args[0]);
        std::string attribute;
        for (char c : what.bytes) attribute += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        const std::string first = first_cell(n.args[1]);
        if (what.op == kString && (attribute == "address" || attribute == "col" || attribute == "row"))
            return atom("CELL(\"" + attribute + "\"," + first + ")", attribute == "address" ? Type::kStr : Type::kNum);
        if (what.op == kString && attribute == "contents") return atom("IF(ISBLANK(" + first + "),0," + first + ")", Type::kAny);
        throw NoForm{"@CELL: this attribute has no counterpart in the target"};
    }
};

}  // namespace

bool calls_database_function(const unsigned char *code, int32_t size) {
    static const uint8_t first = opcode_of("@DSUM"), last = opcode_of("@DSTD");
    for (const unsigned char *p = code, *end = code + size; p < end;) {
        const Item item = read_item(p, end);
        if (item.size == 0) return false;
        if (item.op >= first && item.op <= last) return true;
        p += item.size;
    }
    return false;
}

Translation translate(const unsigned char *code, int col, int row, const CellKinds &kinds,
                      const std::function<std::string(const std::string &)> &decode, const NameMap &names) {
    Translation t;
    thread_local Scratch scratch;
    Translator tr(kinds, decode, names, scratch);
    try {
        const int root = tr.read(code, col, row);
        t.formula = root < 0 ? "0" : tr.value(root).text;
        if (t.formula.size() > kMaxFormula) throw NoForm{"the translated formula is too long for the target"};
        t.translated = true;
        t.array = tr.array;
        t.caveats = std::move(tr.caveats);
    } catch (const NoForm &no) {
        t.formula.clear();
        t.reason = no.reason;
    }
    return t;
}

}  // namespace wks::exporting

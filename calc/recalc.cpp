/*
 * Natural order (Tarjan's strongly connected components, with an explicit
 * stack) and the passes of recalculation.  The order is kept in the sheet
 * until a formula is added or replaced, so recalculating an unchanged sheet
 * again only evaluates.
 *
 * Memory: per formula 4 bytes of order, 9 bytes of walk state while the
 * order is built, and at most one 24-byte frame and one 4-byte component
 * entry; nothing grows with a range's area, since ranges are walked page by
 * page, skipping pages that hold no formula.  Per precedent found through @@
 * or @CELLPOINTER, 8 bytes.
 */
#include "calc/recalc.h"

#include "calc/code_check.h"
#include "formula/code_tables.h"
#include "formula/reference_words.h"
#include "wks/bytes.h"

#include <algorithm>

namespace wks::calc {

using namespace wks::formula;

namespace {

constexpr uint32_t kUnvisited = UINT32_MAX;

// Walks the formula cells a formula refers to, resumably.
struct Frame {
    uint32_t formula;
    uint16_t pos;         // next code item to look at
    uint8_t in_range;     // a range is being walked
    uint8_t c, c1, c2;    // range walk: current column, bounds
    uint16_t r, r1, r2;   // range walk: current row, bounds
    uint32_t reach;       // next of Sheet::reached to look at; kUnvisited before the first
};

bool before(const Reach &a, const Reach &b) { return a.from < b.from || (a.from == b.from && a.to < b.to); }
bool same(const Reach &a, const Reach &b) { return a.from == b.from && a.to == b.to; }

class Walker {
public:
    explicit Walker(const Sheet &sheet) : sheet_(sheet) {}

    // The next formula f refers to, or kUnvisited when there is none left.
    uint32_t next(Frame &f) {
        const Formula &formula = sheet_.formula(f.formula);
        if (formula.flags & kMalformed) return kUnvisited;  // ERR whatever it names; its code is not kept
        const unsigned char *items = sheet_.code_of(formula);
        for (;;) {
            if (f.in_range) {
                const uint32_t found = next_in_range(f);
                if (found != kUnvisited) return found;
                f.in_range = 0;
            }
            if (f.pos >= formula.length) return next_reached(f);
            const unsigned char *p = items + f.pos;
            f.pos = static_cast<uint16_t>(f.pos + read_item(p, items + formula.length).size);
            const unsigned char *first = p + 1, *last = first + kCellBytes;
            if (p[0] == kCell) {
                const int c = resolve_column(get_u16(first), formula.col);
                const int r = resolve_row(get_u16(first + kReferenceWordBytes), formula.row);
                const Cell *cell = sheet_.find(c, r);
                if (cell && cell->kind == CellKind::kFormula) return cell->ref;
            } else if (p[0] == kRange) {
                const int c1 = resolve_column(get_u16(first), formula.col);
                const int r1 = resolve_row(get_u16(first + kReferenceWordBytes), formula.row);
                const int c2 = resolve_column(get_u16(last), formula.col);
                const int r2 = resolve_row(get_u16(last + kReferenceWordBytes), formula.row);
                f.c1 = static_cast<uint8_t>(c1 < c2 ? c1 : c2);
                f.c2 = static_cast<uint8_t>(c1 < c2 ? c2 : c1);
                f.r1 = static_cast<uint16_t>(r1 < r2 ? r1 : r2);
                f.r2 = static_cast<uint16_t>(r1 < r2 ? r2 : r1);
                f.c = f.c1;
                f.r = f.r1;
                f.in_range = 1;
            }
        }
    }

private:
    // The precedents found through @@ and @CELLPOINTER, after those the code names.
    uint32_t next_reached(Frame &f) {
        const Buffer<Reach> &reached = sheet_.reached();
        if (f.reach == kUnvisited)
            f.reach = static_cast<uint32_t>(std::lower_bound(reached.data(), reached.data() + reached.size(),
                                                             Reach{f.formula, 0}, before) -
                                            reached.data());
        while (f.reach < reached.size() && reached[f.reach].from == f.formula) {
            const uint32_t to = reached[f.reach++].to;
            if (!(sheet_.formula(to).flags & kReplaced)) return to;
        }
        return kUnvisited;
    }

    uint32_t next_in_range(Frame &f) {
        for (;;) {
            if (f.r > f.r2) {
                if (f.c == f.c2) return kUnvisited;
                ++f.c;
                f.r = f.r1;
            }
            if (!sheet_.page_has_formulas(f.c, f.r)) {
                f.r = static_cast<uint16_t>((f.r / Sheet::kPageRows + 1) * Sheet::kPageRows);
                continue;
            }
            const Cell *cell = sheet_.find(f.c, f.r);
            ++f.r;
            if (cell->kind == CellKind::kFormula) return cell->ref;
        }
    }

    const Sheet &sheet_;
};

struct OrderState {
    Buffer<uint32_t> index, low;  // Tarjan's numbers per formula
    Buffer<uint8_t> on_stack;
    Buffer<uint32_t> components;  // formulas whose component is still open
    Buffer<Frame> frames;
    uint32_t counter = 0;
};

bool visit(Sheet &sheet, OrderState &s, Walker &walker, uint32_t root) {
    auto open = [&](uint32_t v) {
        s.index[v] = s.low[v] = s.counter++;
        s.on_stack[v] = 1;
        Frame f{};
        f.formula = v;
        f.reach = kUnvisited;
        return s.components.push(v) && s.frames.push(f);
    };
    if (!open(root)) return false;
    while (!s.frames.empty()) {
        Frame &f = s.frames.back();
        const uint32_t v = f.formula;
        const uint32_t w = walker.next(f);
        if (w != kUnvisited) {
            if (s.index[w] == kUnvisited) {
                if (!open(w)) return false;
            } else if (s.on_stack[w]) {
                if (s.index[w] < s.low[v]) s.low[v] = s.index[w];
                if (w == v) sheet.set_flag(v, kCircular, true);  // refers to itself
            }
            continue;
        }
        // v is done: close its component if it is the component's root.
        s.frames.pop();
        if (!s.frames.empty()) {
            const uint32_t parent = s.frames.back().formula;
            if (s.low[v] < s.low[parent]) s.low[parent] = s.low[v];
        }
        if (s.low[v] != s.index[v]) continue;
        const std::size_t first = s.components.size();
        std::size_t start = first;
        while (s.components[start - 1] != v) --start;
        --start;  // v itself, the component's first member
        const bool cycle = first - start > 1;
        for (std::size_t i = start; i < first; ++i) {
            const uint32_t member = s.components[i];
            s.on_stack[member] = 0;
            if (cycle) sheet.set_flag(member, kCircular, true);
            sheet.order().push(member);  // room reserved by the caller
        }
        s.components.shrink_to(start);
    }
    return true;
}

int16_t build_order(Sheet &sheet) {
    const uint32_t n = sheet.formula_count();
    OrderState s;
    Buffer<uint32_t> &order = sheet.order();
    order.clear();
    if (!order.reserve(n) || !s.index.append(n, kUnvisited) || !s.low.append(n, kUnvisited) ||
        !s.on_stack.append(n, 0))
        return WKS_E_NO_FORMULA_MEMORY;
    Walker walker(sheet);
    for (uint32_t i = 0; i < n; ++i) sheet.set_flag(i, kCircular, false);
    for (uint32_t i = 0; i < n; ++i) {
        if (sheet.formula(i).flags & kReplaced || s.index[i] != kUnvisited) continue;
        if (!visit(sheet, s, walker, i)) {
            order.clear();
            return WKS_E_NO_FORMULA_MEMORY;
        }
    }
    Buffer<uint32_t> &circular = sheet.circular();
    circular.clear();
    for (std::size_t i = 0; i < order.size(); ++i)
        if (sheet.formula(order[i]).flags & kCircular && !circular.push(order[i])) return WKS_E_NO_FORMULA_MEMORY;
    sheet.set_order_valid(true);
    return WKS_OK;
}

// Notes the precedents a round met through @@ and @CELLPOINTER in the sheet.
// True when one of them is new and its formula came after the formula that
// read it (or is that formula): the order must take it in and the round be
// calculated again.  WKS_E_NO_FORMULA_MEMORY in *status when there is no room.
bool note_reached(Sheet &sheet, Buffer<Reach> &met, int16_t *status) {
    if (met.empty()) return false;
    Reach *const first = met.data(), *const last = first + met.size();
    std::sort(first, last, before);
    const std::size_t count = static_cast<std::size_t>(std::unique(first, last, same) - first);
    Buffer<uint32_t> rank;
    const Buffer<uint32_t> &order = sheet.order();
    Buffer<Reach> &known = sheet.reached();
    const std::size_t old = known.size();
    if (!rank.append(sheet.formula_count(), kUnvisited) || !known.reserve(old + count)) {
        *status = WKS_E_NO_FORMULA_MEMORY;
        return false;
    }
    for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<uint32_t>(i);
    bool again = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::binary_search(known.data(), known.data() + old, first[i], before)) continue;
        known.push(first[i]);
        if (rank[first[i].to] >= rank[first[i].from]) again = true;
    }
    std::sort(known.data(), known.data() + known.size(), before);
    return again;
}

}  // namespace

int16_t recalculate(Sheet &sheet, const Options &options, RecalcReport *report) {
    int16_t status = WKS_OK;
    int passes = 0;
    for (int round = 1;; ++round) {
        if (!sheet.order_valid()) {
            const int16_t built = build_order(sheet);
            if (built != WKS_OK) return built;
        }
        const Buffer<uint32_t> &order = sheet.order();
        int round_passes = 1;
        if (!sheet.circular().empty())
            round_passes = options.iterations < 1 ? 1 : options.iterations > kMaxIterations ? kMaxIterations : options.iterations;
        Evaluator ev(sheet, options);
        for (int pass = 0; pass < round_passes; ++pass)
            for (std::size_t i = 0; i < order.size(); ++i) {
                if (sheet.set_value(order[i], ev.evaluate_formula(order[i])) != WKS_OK) status = WKS_E_NO_FORMULA_MEMORY;
                if (ev.stopped()) return kStopped;
            }
        passes += round_passes;
        if (ev.starved()) status = WKS_E_NO_FORMULA_MEMORY;
        if (!note_reached(sheet, ev.reached(), &status)) break;
        sheet.set_order_valid(false);  // the next call orders them in even after the last round
        if (round == kMaxRounds) break;
    }
    if (report) {
        report->formulas = static_cast<uint32_t>(sheet.order().size());
        report->circular = static_cast<uint32_t>(sheet.circular().size());
        report->passes = passes;
    }
    return status;
}

}  // namespace wks::calc

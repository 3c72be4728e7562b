/*
 * The computed values of a sheet whose formulas read few cells, found a
 * batch of formulas at a time so that memory stays bounded by a batch
 * instead of growing with the sheet.
 *
 * The survey notes every cell a formula's references name (ReadCells).
 * A formula no formula reads depends only on those cells, and nothing
 * depends on it: it is computed in a small file that holds the read cells
 * (their records as the source has them), the records the calculation
 * takes besides cells (range names, column widths), and the next batch of
 * such formulas in file order.  The read cells' own formulas are computed
 * in every batch, with the same result each time.  A sheet whose formulas
 * read many cells, reach cells through @@ or @CELLPOINTER, or ask @CELL
 * (which may tell the file's name), or whose cells come out of order, is
 * computed whole instead (sheet_data.h's compute_all).
 */
#ifndef WKS_EXPORT_BATCH_VALUES_H
#define WKS_EXPORT_BATCH_VALUES_H

#include "export/sheet_data.h"
#include "formula/code_tables.h"
#include "formula/reference_words.h"

#include <cstdio>
#include <string>
#include <vector>

namespace wks::exporting {

constexpr long kBatchFormulas = 16384;            // formulas computed at a time
constexpr long kMaxReadCells = kBatchFormulas / 2;  // read cells present in the file, at most
constexpr long kMaxMarked = 4 * kMaxReadCells;     // cells of the sheet's area formulas read, at most
constexpr long kMarkWork = 1L << 24;               // cells visited while marking, at most

// One WK1 record (type, length, body) appended to out.
inline void append_record(std::string &out, int type, const unsigned char *body, int length) {
    const unsigned char head[4] = {static_cast<unsigned char>(type), static_cast<unsigned char>(type >> 8),
                                   static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8)};
    out.append(reinterpret_cast<const char *>(head), sizeof head);
    out.append(reinterpret_cast<const char *>(body), static_cast<std::size_t>(length));
}

class ReadCells : public SurveyHook {
public:
    ReadCells() : bits_(static_cast<std::size_t>(kColumns) * kRows / 64, 0) {}

    void formula(const unsigned char *code, int size, int col, int row) override {
        static constexpr uint8_t kAtAt = formula::opcode_of("@@");
        static constexpr uint8_t kCellFn = formula::opcode_of("@CELL");
        static constexpr uint8_t kPointer = formula::opcode_of("@CELLPOINTER");
        using formula::read_item;
        for (const unsigned char *p = code, *end = code + size; p < end && !whole_;) {
            const formula::Item item = read_item(p, end);
            if (item.size == 0) return;
            if (item.op == kAtAt || item.op == kCellFn || item.op == kPointer) whole_ = true;
            if (item.op == formula::kCell) mark(p + 1, p + 1, col, row);
            if (item.op == formula::kRange) mark(p + 1, p + 1 + formula::kCellBytes, col, row);
            p += item.size;
        }
    }
    // Range names, the default and the columns' widths: what the
    // calculation takes from records other than cells.
    void record(int type, const unsigned char *body, int length) override {
        if (type == WKS_RANGE_NAME || type == WKS_RANGE_NAME2 || type == kWindow1 || type == kColumnWidth)
            append_record(setup_, type, body, length);
    }

    bool batched() const { return !whole_; }
    bool read(int col, int row) const { return bits_[index(col, row) / 64] >> (index(col, row) % 64) & 1; }
    const std::string &setup() const { return setup_; }
    // The last row that holds a cell a formula reads, or -1.
    int last_row() const { return last_row_; }

private:
    static std::size_t index(int col, int row) { return static_cast<std::size_t>(row) * kColumns + col; }

    void mark(const unsigned char *first, const unsigned char *last, int col, int row) {
        auto at = [col, row](const unsigned char *w, int &c, int &r) {
            c = formula::resolve_column(u16(w), col);
            r = formula::resolve_row(u16(w + 2), row);
            return c >= 0 && c < kColumns && r >= 0 && r < kRows;
        };
        int c1, r1, c2, r2;
        if (!at(first, c1, r1) || !at(last, c2, r2)) return;
        if (c1 > c2) std::swap(c1, c2);
        if (r1 > r2) std::swap(r1, r2);
        last_row_ = std::max(last_row_, r2);
        for (int r = r1; r <= r2 && !whole_; ++r)
            for (int c = c1; c <= c2; ++c) {
                const std::size_t i = index(c, r);
                if (!(bits_[i / 64] >> (i % 64) & 1)) {
                    bits_[i / 64] |= uint64_t{1} << (i % 64);
                    ++marked_;
                }
            }
        work_ += static_cast<long>(r2 - r1 + 1) * (c2 - c1 + 1);
        if (marked_ > kMaxMarked || work_ > kMarkWork) whole_ = true;
    }

    std::vector<uint64_t> bits_;
    std::string setup_;
    long marked_ = 0, work_ = 0;
    int last_row_ = -1;
    bool whole_ = false;
};

// Whether the current record of in is a formula no formula reads.
inline bool is_unread_formula(const Source &in, const ReadCells &reads) {
    const unsigned char *c = in.cell();
    if (!c || in.type() != WKS_FORMULA) return false;
    const int col = u16(c + WKS_CELL_COLUMN), row = u16(c + WKS_CELL_ROW);
    return col < kColumns && row < kRows && !reads.read(col, row);
}

class Batches {
public:
    Batches(const char *src, const std::string &dst, int32_t flags, const ReadCells &reads, Values &values)
        : ahead_(src), reads_(reads), values_(values), file_(dst + ".calc"),
          flags_(WKS_CALC_CHECK | (flags & kReproducibleFlag ? WKS_CALC_REPRODUCIBLE : 0)) {}
    Batches(const Batches &) = delete;
    Batches &operator=(const Batches &) = delete;

    // The records of the read cells: 0 and true when they are few enough
    // for batches, else false; or what reading failed with.  The cells come
    // in row order (no batches else), so the reading ends after the last
    // row that holds a read cell.
    int16_t start(const char *src, bool &few) {
        few = false;
        Source in(src);
        if (!in.open()) return in.error();
        if (!ahead_.open()) return ahead_.error();
        long cells = 0;
        for (;;) {
            const int16_t rc = in.next();
            if (rc == -1) break;
            if (rc != 0) return WKS_E_READ;
            const unsigned char *c = in.cell();
            if (!c) continue;
            const int col = u16(c + WKS_CELL_COLUMN), row = u16(c + WKS_CELL_ROW);
            if (col >= kColumns || row >= kRows) continue;
            if (row > reads_.last_row()) break;
            if (!reads_.read(col, row)) continue;
            if (++cells > kMaxReadCells) return WKS_OK;
            append_record(head_, in.type(), c, in.cell_length());
        }
        few = file_.made();
        return few ? next() : WKS_OK;
    }

    // Called on each formula no formula reads, in file order: its value is
    // in `values` after it.  0, or what reading or computing failed with.
    int16_t reached_unread() { return ++seen_ > computed_ ? next() : WKS_OK; }

private:
    Source ahead_;
    const ReadCells &reads_;
    Values &values_;
    NewFile file_;
    int32_t flags_;
    std::string head_;   // the read cells' records
    std::string batch_;  // the records of the file computed now
    long seen_ = 0, computed_ = 0;

    int16_t next() {
        static const unsigned char kBof[2] = {0x06, 0x04}, kNone[1] = {};
        batch_.clear();
        append_record(batch_, 0, kBof, 2);
        batch_ += reads_.setup();
        batch_ += head_;
        for (long n = 0; n < kBatchFormulas;) {
            const int16_t rc = ahead_.next();
            if (rc == -1) break;
            if (rc != 0) return WKS_E_READ;
            if (!is_unread_formula(ahead_, reads_)) continue;
            append_record(batch_, WKS_FORMULA, ahead_.cell(), ahead_.cell_length());
            ++n, ++computed_;
        }
        append_record(batch_, 1, kNone, 0);
        std::FILE *f = std::fopen(file_.path().c_str(), "wb");
        if (!f) return WKS_E_OPEN;
        const bool written = std::fwrite(batch_.data(), 1, batch_.size(), f) == batch_.size();
        if (std::fclose(f) != 0 || !written) return WKS_E_WRITE;
        values_ = Values(values_.kinds());
        if (const int16_t rc = wks_calc_file(file_.path().c_str(), flags_, 1, visit, &values_, nullptr)) return rc;
        values_.sort();
        return WKS_OK;
    }
};

}  // namespace wks::exporting

#endif

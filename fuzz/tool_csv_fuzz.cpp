/*
 * CSV text -> the wks tool's CSV reader and the cells 'wks import' makes of
 * each field.
 *
 * Input: flags (1 byte: bits 0-1 the character set, cp437, cp850, cp1252
 * or latin1), then the text.
 *
 * Every record is read (TextInput, read_csv_record); each non-empty field
 * inside the sheet that is UTF-8 the set holds becomes a cell (csv_cell,
 * formulas compiled by wksform).  A cell made must be one a reader takes
 * back (its body within WKS_MAX_READ_BODY), fit a WK1 file, sit where the
 * field stands, and a formula's code must decode again.
 */
#include "fuzz_support.h"
#include "tools/record_form.h"
#include "tools/text.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace wksfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    begin_input();
    Reader in(data, size);
    const tool::Charset set = static_cast<tool::Charset>(in.u8() & 3);
    std::FILE *text_file = fmemopen(const_cast<uint8_t *>(in.rest()), in.left() ? in.left() : 1, "rb");
    if (!text_file) fail("fmemopen failed");
    {
        tool::TextInput text(text_file);
        std::vector<std::string> fields;
        bool unterminated;
        WKS cell{};
        WKS_RECORD wk1;
        char decoded[16384];
        for (int row = 0; in.left() && row < tool::kRows && tool::read_csv_record(text, fields, &unterminated); ++row) {
            for (std::size_t col = 0; col < fields.size() && col < tool::kColumns; ++col) {
                std::string bytes, why;
                if (fields[col].empty() || !tool::from_utf8(fields[col], set, bytes, why) ||
                    bytes.find('\0') != std::string::npos)
                    continue;
                const auto c = static_cast<int16_t>(col), r = static_cast<int16_t>(row);
                if (!tool::csv_cell(cell, bytes, c, r, set, why)) continue;
                const int length = cell.rec.length[0] | cell.rec.length[1] << 8;
                if (length > WKS_MAX_READ_BODY) fail("a cell no reader takes back", bytes);
                const unsigned char *at = cell.rec.body + WKS_ORX_CELL_PREFIX;
                if ((at[WKS_CELL_COLUMN] | at[WKS_CELL_COLUMN + 1] << 8) != c ||
                    (at[WKS_CELL_ROW] | at[WKS_CELL_ROW + 1] << 8) != r)
                    fail("a cell in the wrong place", bytes);
                if (orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(&cell.rec),
                                       reinterpret_cast<unsigned char *>(&wk1)) != 0)
                    fail("a cell that does not fit a WK1 file", bytes);
                const int type = cell.rec.type[0] | cell.rec.type[1] << 8;
                if (type == WKS_FORMULA &&
                    wksfr(0, c, r, cell.rec.body + WKS_ORX_CELL_PREFIX + WKS_CELL_FORMULA_CODE, decoded,
                          sizeof decoded) != 0)
                    fail("a compiled formula does not decode", bytes);
            }
        }
    }
    std::fclose(text_file);
    end_input();
    return 0;
}

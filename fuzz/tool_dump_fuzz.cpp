/*
 * File bytes -> the wks tool's record reader (Sheet, behind info, dump and
 * csv) and the JSON form 'wks dump --json' writes, read back as
 * 'wks import --json' reads it.
 *
 * Input: flags (1 byte: bits 0-1 the character set), then the file.
 *
 * The file is read as dump reads it (range names first, then every record,
 * those after the EOF record too) and each record put in its JSON form.  A
 * file read to its end must come back byte for byte from those lines: the
 * header block (or the empty one), then the record of each object and the
 * trailing bytes.  Every step is bounded by the records the file can hold.
 */
#include "fuzz_support.h"
#include "tools/json.h"
#include "tools/output.h"
#include "tools/record_form.h"
#include "tools/sheet.h"

#include <string>
#include <vector>

using namespace wksfuzz;

namespace {

// The file's bytes again from the lines of its JSON form.
Bytes rebuilt(const std::vector<std::string> &lines, tool::Format format, tool::Charset set) {
    tool::JsonRecords records(set);
    records.set_target(format);
    Bytes out;
    tool::JsonObject o;
    std::string why;
    WKS_RECORD rec;
    std::vector<unsigned char> trailing, block;
    for (const std::string &line : lines) {
        if (!tool::parse_json_object(line, o, why)) fail("a line of the JSON form does not parse", line + ": " + why);
        if (&line == &lines.front()) {
            if (!records.header(o, block, why)) fail("the BOF object is refused", why);
            if (block.empty() && format == tool::Format::kOrx) block = tool::empty_header_block();
            out.insert(out.end(), block.begin(), block.end());
        }
        switch (records.record(o, rec, trailing, why)) {
        case tool::JsonRecords::kRefused: fail("an object of the JSON form is refused", line + ": " + why);
        case tool::JsonRecords::kTrailing: out.insert(out.end(), trailing.begin(), trailing.end()); break;
        case tool::JsonRecords::kRecord: {
            const auto *p = reinterpret_cast<const uint8_t *>(&rec);
            out.insert(out.end(), p, p + 4 + (rec.length[0] | rec.length[1] << 8));
        }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    begin_input();
    Reader in(data, size);
    const tool::Charset set = static_cast<tool::Charset>(in.u8() & 3);
    const std::string file = path("in");
    const Bytes bytes = write_rest(in, file);
    std::vector<std::string> lines;
    tool::Format format = tool::Format::kNeither;
    int got = -1;
    {
        tool::Sheet sheet;
        if (sheet.open(file) && sheet.load_names()) {
            format = sheet.format();
            sheet.read_past_end(true);
            tool::JsonRecords check(set);
            check.set_source(format);
            check.set_target(format);
            tool::Record r;
            while ((got = sheet.next(r)) == 1) {
                if (lines.size() > bytes.size()) fail("more records than the file can hold");
                lines.push_back(tool::record_json(r, format, sheet.header_block(), set, check));
            }
        }
        tool::take_messages();
    }
    if (got == 0 && rebuilt(lines, format, set) != bytes) fail("the JSON form does not give the file back");
    end_input();
    return 0;
}

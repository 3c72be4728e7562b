/*
 * Text -> the wks tool's JSON reader and the records 'wks import --json'
 * makes of its objects.
 *
 * Input: flags (1 byte: bit 0 a WK1 target, else ORX; bits 1-2 the
 * character set), then the lines.
 *
 * Each line is parsed (parse_json_object); the first object is taken as
 * the BOF record's (JsonRecords::header), every object then makes its
 * record (JsonRecords::record): a record made must be one a reader takes
 * back (its body within WKS_MAX_READ_BODY), and a header block given must
 * be a whole one.
 */
#include "fuzz_support.h"
#include "tools/json.h"
#include "tools/record_form.h"
#include "tools/text.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace wksfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    begin_input();
    Reader in(data, size);
    const uint8_t flags = in.u8();
    std::FILE *text_file = fmemopen(const_cast<uint8_t *>(in.rest()), in.left() ? in.left() : 1, "rb");
    if (!text_file) fail("fmemopen failed");
    {
        tool::TextInput text(text_file);
        tool::JsonRecords records(static_cast<tool::Charset>(flags >> 1 & 3));
        records.set_target(flags & 1 ? tool::Format::kWk1 : tool::Format::kOrx);
        std::string line, why;
        tool::JsonObject o;
        WKS_RECORD rec;
        std::vector<unsigned char> trailing, block;
        bool first = true;
        while (in.left() && tool::read_line(text, line)) {
            if (!tool::parse_json_object(line, o, why)) continue;
            if (first && records.header(o, block, why) && !block.empty() && block.size() != WKS_HEADER_SIZE)
                fail("a header block of the wrong size", line);
            first = false;
            if (records.record(o, rec, trailing, why) != tool::JsonRecords::kRecord) continue;
            if ((rec.length[0] | rec.length[1] << 8) > WKS_MAX_READ_BODY) fail("a record no reader takes back", line);
        }
    }
    std::fclose(text_file);
    end_input();
    return 0;
}

/*
 * Which formulas a conversion rewrote (wks convert).  The converters
 * rewrite references to other files and sheet prefixes inside formulas and
 * keep every other formula byte for byte; the tool finds the rewritten ones
 * by comparing the formula code of the source's records with that of the
 * new file's, record by record, straight from the files' bytes, and decodes
 * only those that differ.  A conversion in place (the destination is the
 * source) keeps the source's formula code in memory before the source is
 * replaced.
 *
 * Each conversion that rewrote formulas says how many on standard error
 * and shows the first few, old and new text; with --report FILE every one
 * goes into FILE instead, as a JSON object on a line of its own:
 *   {"kind":"rewritten","source":S,"destination":D,"cell":"B2",
 *    "formula":OLD,"rewritten":NEW}
 * In a batch, workers send their lines to the tool's process inside their
 * standard error, marked, and the tool's process writes them to FILE in the
 * order of the sources.
 */
#ifndef WKS_TOOL_REWRITE_REPORT_H
#define WKS_TOOL_REWRITE_REPORT_H

#include "tools/common.h"

#include <string>
#include <vector>

namespace tool {

// Starts the report FILE of --report, empty, in the tool's process before
// any conversion.  FILE may name none of the sources and
// destinations, under any spelling or link.  False after saying why on
// standard error.
bool open_rewrite_report(const std::string &path, const std::vector<std::string> &sources,
                         const std::vector<std::string> &destinations);
// Ends the report, if one was started: status as it was, or kFailed after
// saying why when the report could not be written.
int close_rewrite_report(int status);
// A worker's output as it goes to standard error: its report lines taken
// out and written to the report.
std::string without_report_lines(const std::string &output);

// One conversion, watched from before it starts.
class RewriteWatch {
public:
    // source: the path the converter reads, a file of the given format
    // (ORX or WK1); destination: where it writes the other.
    RewriteWatch(const std::string &source, Format format, const std::string &destination);
    // After the conversion succeeded: reports the formulas it rewrote,
    // under the names the user gave (shown_source, the destination).
    void tell(const std::string &shown_source);

private:
    std::string source_, destination_;
    Format format_;
    bool in_place_ = false;
    // For a conversion in place, the source's formula codes one after the
    // other, each from its length word.
    std::vector<unsigned char> kept_;
};

}  // namespace tool

#endif

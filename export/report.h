/*
 * The conversion report: one JSON object per line, for each formula
 * written as its value only ("kind":"value"), each translated with a
 * caveat ("caveat"), each format the workbook has no counterpart for
 * ("format", once per format with its first cell and count), each range
 * name renamed or dropped ("name"), and a summary line last ("summary").
 * Without a file it only counts.  The file is written beside its name and
 * takes that name only on commit(), after the workbook is in place: a
 * failed export leaves no report, nor half of one, and an earlier report
 * under that name as it was.
 */
#ifndef WKS_EXPORT_REPORT_H
#define WKS_EXPORT_REPORT_H

#include "export/new_file.h"
#include "wks_export.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace wks::exporting {

class Report {
public:
    Report() = default;
    ~Report();
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    bool open(const char *path);
    void values_only(const std::string &cell, const std::string &formula, const std::string &reason);
    void caveat(const std::string &cell, const std::string &formula, const std::string &target,
                const std::vector<std::string> &caveats);
    void format(const std::string &what, const std::string &cell);
    void name(const std::string &name, const std::string &renamed, const std::string &reason);
    // Formats and names not carried over.
    int32_t dropped() const;
    // The format lines and the summary; false when the file could not be written.
    bool summary(const WKS_EXPORT_REPORT &counts);
    // The complete report in its place; true without a file.
    bool commit() { return !made_ || made_->commit(); }

private:
    struct Lost {
        std::string first;
        long cells = 0;
    };
    std::unique_ptr<NewFile> made_;
    std::FILE *file_ = nullptr;
    std::map<std::string, Lost> formats_;
    int32_t names_dropped_ = 0;
    void line(const std::string &json);
};

// s as a JSON string, quotes included.
std::string json_string(const std::string &s);

}  // namespace wks::exporting

#endif

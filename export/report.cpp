#include "export/report.h"

namespace wks::exporting {

std::string json_string(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

Report::~Report() {
    if (file_) std::fclose(file_);
}

bool Report::open(const char *path) {
    made_ = std::make_unique<NewFile>(path);
    if (made_->made()) file_ = std::fopen(made_->path().c_str(), "w");
    return file_ != nullptr;
}

void Report::line(const std::string &json) {
    if (file_) std::fputs((json + "\n").c_str(), file_);
}

void Report::values_only(const std::string &cell, const std::string &formula, const std::string &reason) {
    line("{\"kind\":\"value\",\"cell\":" + json_string(cell) + ",\"formula\":" + json_string(formula) +
         ",\"reason\":" + json_string(reason) + "}");
}

void Report::caveat(const std::string &cell, const std::string &formula, const std::string &target,
                    const std::vector<std::string> &caveats) {
    std::string list;
    for (const std::string &c : caveats) list += (list.empty() ? "" : ",") + json_string(c);
    line("{\"kind\":\"caveat\",\"cell\":" + json_string(cell) + ",\"formula\":" + json_string(formula) +
         ",\"target\":" + json_string("=" + target) + ",\"caveats\":[" + list + "]}");
}

void Report::format(const std::string &what, const std::string &cell) {
    Lost &l = formats_[what];
    if (l.cells++ == 0) l.first = cell;
}

void Report::name(const std::string &name, const std::string &renamed, const std::string &reason) {
    if (renamed.empty()) ++names_dropped_;
    line("{\"kind\":\"name\",\"name\":" + json_string(name) +
         (renamed.empty() ? "" : ",\"target\":" + json_string(renamed)) + ",\"reason\":" + json_string(reason) + "}");
}

int32_t Report::dropped() const { return static_cast<int32_t>(formats_.size()) + names_dropped_; }

bool Report::summary(const WKS_EXPORT_REPORT &counts) {
    for (const auto &[what, lost] : formats_)
        line("{\"kind\":\"format\",\"format\":" + json_string(what) + ",\"first\":" + json_string(lost.first) +
             ",\"cells\":" + std::to_string(lost.cells) + "}");
    line("{\"kind\":\"summary\",\"cells\":" + std::to_string(counts.cells) + ",\"formulas\":" +
         std::to_string(counts.formulas) + ",\"values\":" + std::to_string(counts.values) + ",\"caveats\":" +
         std::to_string(counts.caveats) + ",\"dropped\":" + std::to_string(counts.dropped) + "}");
    if (!file_) return true;
    const bool ok = std::ferror(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok && closed;
}

}  // namespace wks::exporting

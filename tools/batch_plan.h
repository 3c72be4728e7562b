/*
 * The destinations of a batch (convert --out DIR), all decided before any
 * file is converted: each source's result is DIR/NAME.EXT, and a source is
 * refused when that would replace a source of the batch (under any
 * spelling or link) or another source's result.
 */
#ifndef WKS_TOOL_BATCH_PLAN_H
#define WKS_TOOL_BATCH_PLAN_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tool {

// A file's name without its folder and its last extension.
std::string base_name(const std::string &path);

// Whether two paths name one existing file (under any spelling or link).
bool same_file(const std::string &a, const std::string &b);

// A source of a batch: its destination, and why it is refused, if it is.
// A repeat (the same file as an earlier source) is taken once: it is only
// noted.
struct Planned {
    std::string destination, refusal;
    bool repeat = false;
};

// Plans sources into dir with extension (".orx").  in_place(i) is the
// refusal for source i whose result would be the source itself ("" for
// the general wording).
std::vector<Planned> plan_batch(const std::vector<std::string> &sources, const std::string &dir,
                                const std::string &extension, const std::function<std::string(std::size_t)> &in_place);

}  // namespace tool

#endif

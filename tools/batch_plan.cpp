#include "tools/batch_plan.h"

#include <map>
#include <sys/stat.h>

namespace tool {
namespace {

// An existing file's identity: one file under any spelling or link.
struct FileId {
    dev_t device;
    ino_t inode;
    bool operator<(const FileId &o) const { return device != o.device ? device < o.device : inode < o.inode; }
};

bool identify(const std::string &path, FileId &id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

}  // namespace

std::string base_name(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool same_file(const std::string &a, const std::string &b) {
    FileId x, y;
    return identify(a, x) && identify(b, y) && !(x < y) && !(y < x);
}

std::vector<Planned> plan_batch(const std::vector<std::string> &sources, const std::string &dir,
                                const std::string &extension, const std::function<std::string(std::size_t)> &in_place) {
    std::vector<Planned> plan(sources.size());
    std::map<FileId, std::size_t> first_of;           // each source file's first place in the list
    std::map<std::string, std::vector<std::size_t>> by_destination;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        Planned &p = plan[i];
        p.destination = dir + "/" + base_name(sources[i]) + extension;
        FileId id;
        if (sources[i] == "-") {
            p.refusal = "has no name to give its result; use 'wks convert - DST'";
        } else if (identify(sources[i], id) && !first_of.emplace(id, i).second) {
            p.repeat = true;
            p.refusal = "listed before as " + sources[first_of[id]] + "; taken once";
        } else {
            by_destination[p.destination].push_back(i);
        }
    }
    for (const auto &[destination, users] : by_destination) {
        for (std::size_t i : users) {
            Planned &p = plan[i];
            FileId id;
            const auto source = identify(destination, id) ? first_of.find(id) : first_of.end();
            if (source != first_of.end() && source->second == i) {
                p.refusal = in_place(i);
                if (p.refusal.empty()) p.refusal = "its result " + destination + " is the source itself";
            } else if (source != first_of.end()) {
                p.refusal = "its result " + destination + " would replace " + sources[source->second] +
                            ", a source of this batch";
            } else if (users.size() > 1) {
                p.refusal = "its result " + destination + " would also be that of " +
                            sources[users[users.front() == i ? 1 : 0]];
            }
        }
    }
    return plan;
}

}  // namespace tool

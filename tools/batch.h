/*
 * Runs a batch of jobs, one per file, each reporting on standard error and
 * returning an exit status: in the tool's own process, or in worker
 * processes, several at once.  The library's state is process-wide, so the
 * jobs of one batch never share a process at the same time.
 *
 * A worker is forked for each job; its standard error goes into a pipe, and
 * the batch prints each job's lines only when every job before it has
 * printed, so that the reports come in the order of the files whatever the
 * order the workers finish in (Windows has no fork: there every batch runs
 * in the tool's process).  A signal that comes during a batch (SIGINT,
 * SIGTERM, SIGHUP) is passed on to the workers, which stop their
 * conversions and leave nothing behind; no further job starts, and once the
 * workers have ended the tool ends with the signal.
 */
#ifndef WKS_TOOL_BATCH_H
#define WKS_TOOL_BATCH_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tool {

// Workers when -j is not given: the processors online.
unsigned default_workers();

// Jobs whose results are put in place a group at a time (the library's held
// results, flushed together): once a process has run up to size jobs, or
// has no other job waiting, place() puts their results in place, and
// settle(i, status) gives each job's final status from the one its job
// returned (reporting a result that could not be placed).  A job's lines
// are kept until then, so that they come with its outcome.
struct Groups {
    std::size_t size = 0;  // 0: no groups, each job stands alone
    std::function<void()> place;
    std::function<int(std::size_t, int)> settle;
};

// Runs job(i) for each of names (the files, as shown in the progress bar)
// with up to workers processes at once; one worker runs every job in this
// process.  A bar of files done is drawn on standard error when
// show_progress.  Returns kOk when every job returned it, else kFailed.
int run_batch(const std::vector<std::string> &names, unsigned workers, bool show_progress,
              const std::function<int(std::size_t)> &job, const Groups &groups = Groups());

}  // namespace tool

#endif

/*
 * Batches of jobs in worker processes (batch.h).  Each worker is forked for
 * one job with the tool's signals blocked, so that the signal relay knows
 * every worker that can be running; a worker leads its own process group,
 * so that a terminal's Ctrl-C reaches it once, through the relay.  Windows
 * has no fork: there every batch runs in the tool's process.
 */
#include "tools/batch.h"

#include "tools/common.h"
#include "tools/signals.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#ifndef _WIN32
#include "tools/rewrite_report.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#endif

namespace tool {
namespace {

constexpr unsigned kMaxWorkers = 64;
constexpr int kBarWidth = 30;

void draw_count(std::size_t done, std::size_t total, const std::string &name) {
    const int filled = static_cast<int>(done * kBarWidth / total);
    std::fprintf(stderr, "\r\033[K[%.*s%*s] %zu/%zu %s", filled, "##############################",
                 kBarWidth - filled, "", done, total, name.c_str());
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

// The jobs of one process, in groups when groups.size is set: each job's
// standard error goes into a scratch file while it runs, and its lines come
// out with its outcome, once the group's results are placed.  Without a
// scratch file (or on Windows) every group is one job.
class GroupRunner {
public:
    GroupRunner(const Groups &groups, const std::function<int(std::size_t)> &job,
                const std::function<void(std::size_t, int)> &done, bool clear_bar)
        : groups_(groups), job_(job), done_(done), clear_bar_(clear_bar) {
#ifndef _WIN32
        if (groups_.size > 1) kept_ = std::tmpfile();
#endif
    }
    ~GroupRunner() {
        if (kept_) std::fclose(kept_);
    }
    GroupRunner(const GroupRunner &) = delete;
    GroupRunner &operator=(const GroupRunner &) = delete;

    // Runs job i; the group ends when it is full.
    void run(std::size_t i) {
        held_.push_back({i, kOk, {}});
        if (!keep_lines(held_.back())) held_.back().status = job_(i);
        if (groups_.size == 0 || held_.size() >= groups_.size || !kept_) finish();
    }

    // Ends the group: its results placed, then each job's lines and outcome.
    void finish() {
        if (held_.empty()) return;
        if (groups_.size > 0) {
            Stoppable stoppable;  // a signal waits until every result is placed or gone
            groups_.place();
        }
        for (const Held &h : held_) {
            if (!h.lines.empty()) {
                if (clear_bar_) std::fputs("\r\033[K", stderr);
                std::fwrite(h.lines.data(), 1, h.lines.size(), stderr);
            }
            const int status = groups_.size > 0 ? groups_.settle(h.index, h.status) : h.status;
            std::fflush(stderr);
            done_(h.index, status);
        }
        held_.clear();
    }

private:
    struct Held {
        std::size_t index;
        int status;
        std::string lines;
    };

    // Runs the job with standard error going to the scratch file, and takes
    // its lines from there: false, with nothing run, when it cannot.
    bool keep_lines(Held &h) {
#ifndef _WIN32
        if (!kept_) return false;
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO), kept = ::fileno(kept_);
        if (saved < 0) return false;
        if (::dup2(kept, STDERR_FILENO) < 0) {
            ::close(saved);
            return false;
        }
        h.status = job_(h.index);
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        char buffer[4096];
        ssize_t got;
        ::lseek(kept, 0, SEEK_SET);
        while ((got = ::read(kept, buffer, sizeof buffer)) > 0) h.lines.append(buffer, static_cast<std::size_t>(got));
        ::lseek(kept, 0, SEEK_SET);
        if (::ftruncate(kept, 0) != 0) {
            std::fclose(kept_);  // lines of this job could come again: no more groups
            kept_ = nullptr;
        }
        return true;
#else
        (void)h;
        return false;
#endif
    }

    const Groups &groups_;
    const std::function<int(std::size_t)> &job_;
    const std::function<void(std::size_t, int)> &done_;
    bool clear_bar_;
    std::FILE *kept_ = nullptr;
    std::vector<Held> held_;
};

int run_here(const std::vector<std::string> &names, bool show_progress, const std::function<int(std::size_t)> &job,
             const Groups &groups) {
    int status = kOk;
    const std::function<void(std::size_t, int)> done = [&](std::size_t, int s) {
        if (s != kOk) status = kFailed;
    };
    {
        GroupRunner runner(groups, job, done, show_progress);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (show_progress) draw_count(i, names.size(), names[i]);
            runner.run(i);
        }
        runner.finish();
    }
    if (groups.size > 0 && stop_requested()) end_with_signal(stop_requested());  // came while results were placed
    if (show_progress) draw_count(names.size(), names.size(), "");
    return status;
}

#ifndef _WIN32

// The running workers' ids, for the signal relay (0: a free place).
volatile pid_t g_workers[kMaxWorkers];

extern "C" void pass_to_workers(int sig) {
    for (const volatile pid_t &pid : g_workers)
        if (pid > 0) ::kill(pid, sig);
}

// The tool's signals, blocked while a worker is forked and its place filled.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsBlocked() { unblock(); }
    void unblock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsBlocked(const SignalsBlocked &) = delete;
    SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
    sigset_t saved_;
};

struct Job {
    std::string output;  // what its worker wrote to standard error
    int status = kOk;
    int signal = 0;  // the signal that ended its worker, if one did
    bool done = false;
};

// A worker process: job numbers go to it through one pipe, its standard
// error comes back through another, each job's lines ended by a NUL byte
// and the job's exit status (no report holds a NUL byte).
struct Worker {
    pid_t pid = 0;
    int commands = -1, results = -1;
    std::deque<std::size_t> assigned;  // sent, not yet reported back
    std::string unread;                // received, not yet given to a job
};

constexpr std::size_t kAhead = 2;  // jobs sent to a worker before it reports

bool write_all(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool read_all(int fd, void *data, std::size_t size) {
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

class Pool {
public:
    Pool(const std::vector<std::string> &names, unsigned workers, bool show_progress,
         const std::function<int(std::size_t)> &job, const Groups &groups)
        : names_(names), jobs_(names.size()), workers_(workers), show_progress_(show_progress), job_(job),
          groups_(groups) {
        for (std::size_t i = 0; i < names.size(); ++i) todo_.push_back(i);
    }

    int run() {
        void (*saved_pipe)(int) = std::signal(SIGPIPE, SIG_IGN);  // a worker gone is seen at its pipe's end
        set_signal_relay(pass_to_workers);
        if (show_progress_) draw_count(0, jobs_.size(), "");
        {
            Stoppable stoppable;
            for (unsigned k = 0; k < workers_; ++k) start_worker(k);
            while (printed_ < jobs_.size() && !(stop_requested() && nothing_assigned())) {
                dispatch();
                wait_for_output();
                print_in_order();
                if (show_progress_ && finished_ != drawn_) draw_count(drawn_ = finished_, jobs_.size(), last_done_);
            }
            end_workers();
        }
        set_signal_relay(nullptr);
        std::signal(SIGPIPE, saved_pipe);
        if (const int sig = stop_requested()) end_with_signal(sig);
        return failed_ ? kFailed : kOk;
    }

private:
    bool nothing_assigned() const {
        for (const Worker &w : workers_list_)
            if (!w.assigned.empty()) return false;
        return true;
    }

    // Starts worker k (again, after one ended before its jobs did).
    void start_worker(unsigned k) {
        if (workers_list_.size() <= k) workers_list_.resize(k + 1);
        int commands[2], results[2];
        if (::pipe2(commands, O_CLOEXEC) != 0) {
            start_error_ = errno;
            return;
        }
        if (::pipe2(results, O_CLOEXEC) != 0) {
            start_error_ = errno;
            ::close(commands[0]);
            ::close(commands[1]);
            return;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        SignalsBlocked blocked;
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (const Worker &other : workers_list_) {  // so that the others see their pipes end
                if (other.commands >= 0) ::close(other.commands);
                if (other.results >= 0) ::close(other.results);
            }
            ::close(commands[1]);
            ::close(results[0]);
            ::dup2(results[1], STDERR_FILENO);
            ::close(results[1]);
            set_signal_relay(nullptr);
            set_progress_line(false);
            std::signal(SIGPIPE, SIG_DFL);
            ::setpgid(0, 0);
            blocked.unblock();  // the worker takes its signals from here on
            serve(commands[0]);
        }
        ::close(commands[0]);
        ::close(results[1]);
        if (pid < 0) {
            start_error_ = errno;
            ::close(commands[1]);
            ::close(results[0]);
            return;
        }
        g_workers[k] = pid;
        Worker &w = workers_list_[k];
        w.pid = pid;
        w.commands = commands[1];
        w.results = results[0];
    }

    // A worker's life: each job number read, its job run, until the pipe
    // ends.  A group ends when no other job number is waiting.
    [[noreturn]] void serve(int commands) {
        bool cut = false;
        const std::function<void(std::size_t, int)> done = [&](std::size_t, int status) {
            const char end[2] = {'\0', static_cast<char>(status)};
            cut = cut || !write_all(STDERR_FILENO, end, sizeof end);
        };
        GroupRunner runner(groups_, job_, done, false);
        uint64_t i;
        while (!cut && read_all(commands, &i, sizeof i)) {
            if (const int sig = stop_requested()) end_with_signal(sig);
            runner.run(static_cast<std::size_t>(i));
            pollfd waiting{commands, POLLIN, 0};
            if (::poll(&waiting, 1, 0) == 0) runner.finish();
        }
        runner.finish();
        std::_Exit(kOk);
    }

    // Keeps every worker kAhead jobs ahead, in the order of the files.  In
    // groups, a worker is sent a whole group at once: what is left split
    // evenly into as few rounds of a group per worker as hold it, so that
    // every flush serves as many results as it can and the workers finish
    // near each other without a tail of small groups, each one more flush.
    void dispatch() {
        if (stop_requested()) return;
        std::size_t ahead = kAhead;
        if (groups_.size > kAhead && !todo_.empty()) {
            const std::size_t round = workers_ * groups_.size;
            const std::size_t rounds = (todo_.size() + round - 1) / round;
            const std::size_t groups = rounds * workers_;
            ahead = std::max(kAhead, (todo_.size() + groups - 1) / groups);
        }
        for (Worker &w : workers_list_) {
            if (w.commands < 0 || w.assigned.size() >= ahead || todo_.empty()) continue;
            const std::size_t more = std::min(ahead - w.assigned.size(), todo_.size());
            const std::vector<uint64_t> sent(todo_.begin(), todo_.begin() + static_cast<std::ptrdiff_t>(more));
            if (!write_all(w.commands, sent.data(), sent.size() * sizeof sent[0])) continue;
            for (uint64_t i : sent) w.assigned.push_back(static_cast<std::size_t>(i)), todo_.pop_front();
        }
        if (!todo_.empty() && live_workers() == 0) {  // no worker could be started: the rest fail
            for (std::size_t i : todo_) {
                jobs_[i].output = "wks: " + names_[i] + ": cannot start a worker: " + std::strerror(start_error_) + "\n";
                jobs_[i].status = kFailed;
                finish(i);
            }
            todo_.clear();
        }
    }

    unsigned live_workers() const {
        unsigned live = 0;
        for (const Worker &w : workers_list_) live += w.results >= 0;
        return live;
    }

    void finish(std::size_t i) {
        jobs_[i].done = true;
        ++finished_;
        last_done_ = names_[i];
    }

    // Gives what a worker wrote to its jobs: each NUL byte and the status
    // after it end the first job it was sent.
    void take_reports(Worker &w) {
        std::size_t from = 0, end;
        while (!w.assigned.empty() && (end = w.unread.find('\0', from)) != std::string::npos &&
               end + 1 < w.unread.size()) {
            Job &j = jobs_[w.assigned.front()];
            j.output.append(w.unread, from, end - from);
            j.status = static_cast<unsigned char>(w.unread[end + 1]);
            finish(w.assigned.front());
            w.assigned.pop_front();
            from = end + 2;
        }
        w.unread.erase(0, from);
    }

    // A worker whose pipe ends has ended: the job it was running, if any,
    // fails with how it ended, and the jobs sent after it go to another.
    void worker_ended(unsigned k) {
        Worker &w = workers_list_[k];
        ::close(w.results);
        ::close(w.commands);
        w.results = w.commands = -1;
        int status = 0;
        {
            SignalsBlocked blocked;  // the relay never meets an id the system may have given again
            while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
            }
            g_workers[k] = 0;
        }
        if (!w.assigned.empty()) {
            Job &j = jobs_[w.assigned.front()];
            j.output += w.unread;
            j.status = kFailed;
            j.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            finish(w.assigned.front());
            w.assigned.pop_front();
            todo_.insert(todo_.begin(), w.assigned.begin(), w.assigned.end());
            w.assigned.clear();
            if (!stop_requested()) start_worker(k);
        }
        w.unread.clear();
    }

    void wait_for_output() {
        std::vector<pollfd> fds;
        std::vector<unsigned> which;
        for (unsigned k = 0; k < workers_list_.size(); ++k) {
            if (workers_list_[k].results < 0) continue;
            fds.push_back({workers_list_[k].results, POLLIN, 0});
            which.push_back(k);
        }
        if (fds.empty() || ::poll(fds.data(), fds.size(), -1) < 0) return;  // a signal: the caller looks at it
        for (std::size_t f = 0; f < fds.size(); ++f) {
            if (fds[f].revents == 0) continue;
            Worker &w = workers_list_[which[f]];
            char buffer[4096];
            const ssize_t got = ::read(w.results, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                worker_ended(which[f]);
                continue;
            }
            w.unread.append(buffer, static_cast<std::size_t>(got));
            take_reports(w);
        }
    }

    // The workers have no more jobs: each ends when its pipe does.
    void end_workers() {
        for (Worker &w : workers_list_)
            if (w.commands >= 0) ::close(w.commands), w.commands = -1;
        for (unsigned k = 0; k < workers_list_.size(); ++k) {
            Worker &w = workers_list_[k];
            char buffer[4096];
            while (w.results >= 0) {
                const ssize_t got = ::read(w.results, buffer, sizeof buffer);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) worker_ended(k);
            }
        }
    }

    void print_in_order() {
        while (printed_ < jobs_.size() && jobs_[printed_].done) {
            const Job &j = jobs_[printed_];
            const std::string output = without_report_lines(j.output);
            if (!output.empty()) {
                if (show_progress_) std::fputs("\r\033[K", stderr);
                drawn_ = 0;  // the bar is drawn again below the lines
                std::fwrite(output.data(), 1, output.size(), stderr);
            }
            if (j.signal && !stop_requested()) {
                drawn_ = 0;
                fail(names_[printed_], "its worker ended with signal " + std::to_string(j.signal));
            }
            if (j.status != kOk) failed_ = true;
            ++printed_;
        }
    }

    const std::vector<std::string> &names_;
    std::vector<Job> jobs_;
    std::vector<Worker> workers_list_;
    std::deque<std::size_t> todo_;
    unsigned workers_;
    bool show_progress_;
    const std::function<int(std::size_t)> &job_;
    const Groups &groups_;
    std::size_t printed_ = 0, finished_ = 0, drawn_ = 0;
    std::string last_done_;  // the file the bar names
    bool failed_ = false;
    int start_error_ = 0;  // why the last worker could not be started
};

#endif  // _WIN32

}  // namespace

unsigned default_workers() {
#ifdef _WIN32
    return 1;
#else
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online < 1 ? 1 : online > static_cast<long>(kMaxWorkers) ? kMaxWorkers : static_cast<unsigned>(online);
#endif
}

int run_batch(const std::vector<std::string> &names, unsigned workers, bool show_progress,
              const std::function<int(std::size_t)> &job, const Groups &groups) {
    if (workers > kMaxWorkers) workers = kMaxWorkers;
    if (workers > names.size()) workers = static_cast<unsigned>(names.size());
    set_progress_line(show_progress);
#ifdef _WIN32
    const int status = run_here(names, show_progress, job, groups);
#else
    const int status = workers <= 1 ? run_here(names, show_progress, job, groups)
                                    : Pool(names, workers, show_progress, job, groups).run();
#endif
    set_progress_line(false);
    return status;
}

}  // namespace tool

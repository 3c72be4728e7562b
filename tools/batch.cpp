/*
 * Batches of jobs in worker processes (batch.h).  Each worker is forked for
 * one job with the tool's signals blocked, so that the signal relay knows
 * every worker that can be running; a worker leads its own process group,
 * so that a terminal's Ctrl-C reaches it once, through the relay.  Windows
 * has no fork: there every batch runs in the tool's process.
 */
#include "tools/batch.h"

#include "tools/common.h"

#include <cstdio>
#include <unistd.h>

#ifndef _WIN32
#include "tools/signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
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

int run_here(const std::vector<std::string> &names, bool show_progress, const std::function<int(std::size_t)> &job) {
    int status = kOk;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (show_progress) draw_count(i, names.size(), names[i]);
        if (job(i) != kOk) status = kFailed;
    }
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
    std::string output;  // the worker's standard error
    int status = -1;     // as waitpid gives it
    bool done = false;
};

struct Worker {
    pid_t pid;
    int fd;  // the read end of its standard error
    std::size_t job;
    unsigned place;  // in g_workers
};

class Pool {
public:
    Pool(const std::vector<std::string> &names, unsigned workers, bool show_progress,
         const std::function<int(std::size_t)> &job)
        : names_(names), jobs_(names.size()), workers_(workers), show_progress_(show_progress), job_(job) {}

    int run() {
        set_signal_relay(pass_to_workers);
        if (show_progress_) draw_count(0, jobs_.size(), "");
        {
            Stoppable stoppable;
            while (printed_ < jobs_.size()) {
                while (!stop_requested() && next_ < jobs_.size() && running_.size() < workers_) start(next_++);
                if (running_.empty()) break;  // stopped
                wait_for_output();
                print_in_order();
                if (show_progress_ && finished_ != drawn_) draw_count(drawn_ = finished_, jobs_.size(), last_done_);
            }
        }
        set_signal_relay(nullptr);
        if (const int sig = stop_requested()) end_with_signal(sig);
        return failed_ ? kFailed : kOk;
    }

private:
    void start(std::size_t i) {
        int pipe_fds[2];
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return refuse(i, std::strerror(errno));
        unsigned place = 0;
        while (g_workers[place] != 0) ++place;
        std::fflush(stdout);
        std::fflush(stderr);
        SignalsBlocked blocked;
        const pid_t pid = ::fork();
        if (pid == 0) {
            set_signal_relay(nullptr);
            set_progress_line(false);
            ::setpgid(0, 0);
            ::dup2(pipe_fds[1], STDERR_FILENO);  // the copy is not closed on exec
            ::close(pipe_fds[0]);
            ::close(pipe_fds[1]);
            blocked.unblock();  // the worker takes its signals from here on
            const int status = job_(i);
            std::fflush(stderr);
            std::_Exit(status);
        }
        const int reason = errno;
        ::close(pipe_fds[1]);
        if (pid < 0) {
            ::close(pipe_fds[0]);
            return refuse(i, std::strerror(reason));
        }
        g_workers[place] = pid;
        running_.push_back({pid, pipe_fds[0], i, place});
    }

    // A job no worker could be started for fails.
    void refuse(std::size_t i, const std::string &why) {
        jobs_[i].output = "wks: " + names_[i] + ": cannot start a worker: " + why + "\n";
        jobs_[i].status = 1 << 8;  // exit status 1
        finish(i);
    }

    void finish(std::size_t i) {
        jobs_[i].done = true;
        ++finished_;
        last_done_ = names_[i];
    }

    // Reads what the workers wrote; a worker whose pipe ends has ended.
    void wait_for_output() {
        std::vector<pollfd> fds;
        for (const Worker &w : running_) fds.push_back({w.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) return;  // a signal: the caller looks at it
        for (std::size_t k = fds.size(); k-- > 0;) {
            if (fds[k].revents == 0) continue;
            Worker &w = running_[k];
            char buffer[4096];
            const ssize_t got = ::read(w.fd, buffer, sizeof buffer);
            if (got > 0) {
                jobs_[w.job].output.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            ::close(w.fd);
            int status = 0;
            {
                SignalsBlocked blocked;  // the relay never meets an id the system may have given again
                while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
                }
                g_workers[w.place] = 0;
            }
            jobs_[w.job].status = status;
            finish(w.job);
            running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }

    void print_in_order() {
        while (printed_ < jobs_.size() && jobs_[printed_].done) {
            const Job &j = jobs_[printed_];
            if (!j.output.empty()) {
                if (show_progress_) std::fputs("\r\033[K", stderr);
                drawn_ = 0;  // the bar is drawn again below the lines
                std::fwrite(j.output.data(), 1, j.output.size(), stderr);
            }
            if (WIFSIGNALED(j.status) && !stop_requested()) {
                drawn_ = 0;
                fail(names_[printed_], "its worker ended with signal " + std::to_string(WTERMSIG(j.status)));
            }
            if (!WIFEXITED(j.status) || WEXITSTATUS(j.status) != kOk) failed_ = true;
            ++printed_;
        }
    }

    const std::vector<std::string> &names_;
    std::vector<Job> jobs_;
    std::vector<Worker> running_;
    unsigned workers_;
    bool show_progress_;
    const std::function<int(std::size_t)> &job_;
    std::size_t next_ = 0, printed_ = 0, finished_ = 0, drawn_ = 0;
    std::string last_done_;  // the file the bar names
    bool failed_ = false;
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
              const std::function<int(std::size_t)> &job) {
    if (workers > kMaxWorkers) workers = kMaxWorkers;
    if (workers > names.size()) workers = static_cast<unsigned>(names.size());
    set_progress_line(show_progress);
#ifdef _WIN32
    const int status = run_here(names, show_progress, job);
#else
    const int status = workers <= 1 ? run_here(names, show_progress, job) : Pool(names, workers, show_progress, job).run();
#endif
    set_progress_line(false);
    return status;
}

}  // namespace tool

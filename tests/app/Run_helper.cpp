// Child-process runner for the end-to-end tests (POSIX; the tests run on the build machine).
#include "Run_helper.h"

#include "Platform_helper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

// A temporary file that is removed when the object goes.
struct temp_file {
    std::string path;
    int fd = -1;
    temp_file() {
        char name[] = "/tmp/traxcon_run_XXXXXX";
        fd = mkstemp(name);
        if (fd >= 0) path = name;
    }
    ~temp_file() {
        if (fd >= 0) close(fd);
        if (!path.empty()) std::remove(path.c_str());
    }
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;
};

// Starts program with argv in cwd (when not empty), standard input empty, standard output and
// error on the given descriptors; -1 (errno set) when it cannot be started. posix_spawn where
// it can change the directory, since a fork of a large (sanitizer) test process is slow.
pid_t start_child(const std::string &program, char *const *argv, const std::string &cwd, int out_fd,
                  int err_fd) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    int rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    if (rc == 0 && !cwd.empty()) rc = posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    if (rc == 0) rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
#else
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) _exit(126);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv);
        _exit(127);
    }
    return pid;
#endif
}

// What a child wrote to one stream: at most the first 16 MB, so that a runaway program cannot
// exhaust the test's memory.
std::string read_output(const std::string &path) {
    constexpr std::size_t LIMIT = 16u << 20;
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    char piece[65536];
    while (bytes.size() < LIMIT && in.read(piece, sizeof piece).gcount() > 0)
        bytes.append(piece, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() >= LIMIT) bytes += "\n[output cut after 16 MB]\n";
    return bytes;
}

} // namespace

std::string read_file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return std::string();
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::string &cwd, double time_limit) {
    run_result result;
    temp_file out, err;
    if (out.fd < 0 || err.fd < 0) {
        ADD_FAILURE() << "cannot create temporary files: " << std::strerror(errno);
        return result;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    std::fflush(nullptr);
    pid_t pid = start_child(program, argv.data(), cwd, out.fd, err.fd);
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(errno);
        return result;
    }

    // With a time limit a watchdog kills the child when it is still running at the limit. The
    // child is reaped only after the watchdog has stood down, so the kill can never reach
    // another process that got the same id.
    std::mutex mutex;
    std::condition_variable ended;
    bool child_ended = false;
    std::thread watchdog;
    if (time_limit > 0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(time_limit));
        watchdog = std::thread([&, deadline] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!ended.wait_until(lock, deadline, [&] { return child_ended; })) {
                kill(pid, SIGKILL);
                result.timed_out = true;
            }
        });
    }
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        child_ended = true;
    }
    ended.notify_all();
    if (watchdog.joinable()) watchdog.join();
    if (result.timed_out)
        ADD_FAILURE() << program << " killed: still running after " << time_limit << " s";

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) {
            ADD_FAILURE() << "waitpid failed: " << std::strerror(errno);
            return result;
        }
    }
    if (WIFEXITED(wstatus)) {
        result.exited = true;
        result.status = WEXITSTATUS(wstatus);
        if (result.status == 126 || result.status == 127)
            ADD_FAILURE() << "could not start " << program << " (status " << result.status << ")";
    } else if (WIFSIGNALED(wstatus)) {
        result.status = WTERMSIG(wstatus);
    }
    result.out = read_output(out.path);
    result.err = read_output(err.path);
    return result;
}

bool traxcon_on_windows() {
    return TRAXCON_WINDOWS != 0;
}

run_result run_traxcon(const std::vector<std::string> &args, const std::string &cwd,
                       double time_limit) {
    run_result r;
    if (TRAXCON_LAUNCHER[0] == '\0') {
        r = run_program(TRAXCON_BIN, args, cwd, time_limit);
    } else {
        std::vector<std::string> line{TRAXCON_BIN};
        line.insert(line.end(), args.begin(), args.end());
        r = run_program(TRAXCON_LAUNCHER, line, cwd, time_limit);
    }
    r.out = traxcon_text(r.out);
    r.err = traxcon_text(r.err);
    return r;
}

bool reference_available() {
    return TRAXCON_REFERENCE_BIN[0] != '\0';
}

run_result run_reference(const std::vector<std::string> &args, const std::string &cwd,
                         double time_limit) {
    return run_program(TRAXCON_REFERENCE_BIN, args, cwd, time_limit);
}

std::string traxcon_text(const std::string &bytes) {
    return traxcon_on_windows() ? from_crlf_text(bytes) : bytes;
}

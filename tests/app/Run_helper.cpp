// Child-process runner for the end-to-end tests (POSIX; the tests run on the build machine).
#include "Run_helper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

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
                       const std::string &cwd) {
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
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork failed: " << std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(out.fd, 1) < 0 || dup2(err.fd, 2) < 0) _exit(126);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
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
    result.out = read_file_bytes(out.path);
    result.err = read_file_bytes(err.path);
    return result;
}

run_result run_traxcon(const std::vector<std::string> &args, const std::string &cwd) {
    return run_program(TRAXCON_BIN, args, cwd);
}

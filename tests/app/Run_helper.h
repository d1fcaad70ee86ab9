// Runs the built traxcon binary (or any program) as a child process and collects what it wrote.
#ifndef TRAXCON_TESTS_APP_RUN_HELPER_H
#define TRAXCON_TESTS_APP_RUN_HELPER_H

#include <string>
#include <vector>

struct run_result {
    bool exited = false;    // ended by exit (else by a signal)
    int status = -1;        // exit status when exited, else the signal number
    std::string out;        // everything written to standard output, byte for byte
    std::string err;        // everything written to standard error, byte for byte
    bool timed_out = false; // killed because it ran longer than its time limit
};

// Runs `program` with `args` (argv[1] ..., passed as they are, no shell) in the directory `cwd`
// (the current one when empty), with standard input empty. Fails the current test (and returns a
// result with exited == false) when the program cannot be started. With a time limit above 0
// seconds a program still running at the limit is killed (timed_out, ended by a signal) and the
// current test fails.
run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::string &cwd = "", double time_limit = 0);

// run_program on the traxcon binary of this build, or on the binary the build was configured to
// test (TRAXCON_TEST_PROGRAM), through its launcher if one was given (TRAXCON_TEST_LAUNCHER;
// traxcon.exe through Wine). Standard output and error with LF line ends.
run_result run_traxcon(const std::vector<std::string> &args, const std::string &cwd = "",
                       double time_limit = 0);

// True when the converter under test is a Windows program (traxcon.exe under Wine): its standard
// output, standard error and ADF file are text-mode files with CR LF line ends.
bool traxcon_on_windows();

// A text file the converter wrote (the ADF file) with LF line ends.
std::string traxcon_text(const std::string &bytes);

// With another converter binary under test (traxcon.exe under Wine), the build's own traxcon is
// the reference whose results it must reproduce: run_reference runs it as run_program does.
bool reference_available();
run_result run_reference(const std::vector<std::string> &args, const std::string &cwd = "",
                         double time_limit = 0);

// Reads a whole file as bytes; fails the current test when it cannot be read.
std::string read_file_bytes(const std::string &path);

#endif

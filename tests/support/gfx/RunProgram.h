#pragma once

// Runs a program of ours through the shell and collects what it prints (standard output and
// error) and its exit code. Under LeakSanitizer a program that drew text keeps fontconfig's
// process-wide caches at exit: `suppressions` names the file that tells the leak checker so.

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ProgramRun
{
    int status = -1;
    std::string out;
};

inline ProgramRun RunProgram(std::string const& commandLine, char const* suppressions = nullptr)
{
    std::string command;
    if (suppressions != nullptr) command = std::string("LSAN_OPTIONS=suppressions=") + suppressions + " ";
    command += commandLine + " 2>&1";
    ProgramRun r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        r.out += buffer;
    int const status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Runs the built orvex command as a user would and collects what it prints
// and how it exits.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex::test {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs a shell command line and collects its standard output and error.
inline ToolRun runShell(const std::string& commandLine)
{
    char outPath[] = "/tmp/orvex_tool_out_XXXXXX";
    char errPath[] = "/tmp/orvex_tool_err_XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    close(outFd);
    close(errFd);
    const std::string command = "{ " + commandLine + "; } >" + outPath + " 2>" + errPath;
    const int status = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    unlink(outPath);
    unlink(errPath);
    return run;
}

// Runs the tool with `arguments` (shell words) in a clean environment for
// the simulator: no world file, so the built-in world, unless `worldFile`
// names one.
inline ToolRun runTool(const std::string& arguments, const std::string& worldFile = "")
{
    const std::string environment =
        worldFile.empty() ? std::string("env -u ORVEX_SIM_WORLD") : "env ORVEX_SIM_WORLD='" + worldFile + "'";
    return runShell(environment + " '" + ORVEX_TOOL_PATH + "' " + arguments);
}

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace orvex::test

// Runs the built xepo tool as a child process, for end-to-end checks of its
// command line, exit codes and files.
#ifndef XEPO_TEST_TOOL_RUN_H
#define XEPO_TEST_TOOL_RUN_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "session_test_dirs.h"

extern char** environ;

struct ToolRun {
    int exitCode = -1;  // -1 when killed or not started
    std::string out;
    std::string err;
    long maxRssKb = 0;  // the child's peak resident memory
};

// Runs `xepo args...` in `workDir`, with standard output and error captured in
// files there. `whileRunning` gets the child's id once it started; the child is
// killed after `timeoutSeconds`.
inline ToolRun runTool(const std::vector<std::string>& args, const std::string& workDir,
                       double timeoutSeconds = 60.0,
                       const std::function<void(pid_t)>& whileRunning = {}) {
    // XEPO_TOOL_COMMAND: an emulator and its options (cross builds), then the
    // tool, separated by '|'.
    std::vector<std::string> argv;
    std::stringstream command(XEPO_TOOL_COMMAND);
    for (std::string part; std::getline(command, part, '|');) {
        argv.push_back(part);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers(argv.size() + 1, nullptr);  // ends with a null
    std::transform(argv.begin(), argv.end(), pointers.begin(),
                   [](std::string& arg) { return arg.data(); });

    const std::string outPath = workDir + "/tool_stdout.txt";
    const std::string errPath = workDir + "/tool_stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = 0;
    const int spawned =
        posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return {-1, "", "cannot start " + argv[0]};
    }
    if (whileRunning) {
        whileRunning(pid);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, WNOHANG, &usage) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);  // then its status is not an exit
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readWholeFile(outPath),
            readWholeFile(errPath), usage.ru_maxrss};
}

#endif  // XEPO_TEST_TOOL_RUN_H

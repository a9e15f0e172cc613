#pragma once

// Real processes for the process monitor's tests: started by the test,
// ended by pid, waited for by condition.
#include "support/Wait.h"

#include <QString>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace proctest {

// Starts argv; -1 when it could not be started.
inline pid_t spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    // posix_spawn returns once the new program's memory is in place, a moment
    // before the kernel has laid out its arguments: wait for them, so tests
    // see the process as every later observer will.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/cmdline", pid);
    testsupport::pollUntil(
        [&] {
            FILE *f = std::fopen(path, "r");
            if (!f)
                return true; // ended already
            const bool any = std::fgetc(f) != EOF;
            std::fclose(f);
            return any;
        },
        5000);
    return pid;
}

// Starts argv as another user (the caller must be root); -1 when it could not be started.
inline pid_t spawnAs(uid_t uid, const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(gid_t(uid)) == 0 && setuid(uid) == 0)
            execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// True while pid names a process that has not ended (a zombie has ended).
inline bool isRunning(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE *f = std::fopen(path, "r");
    if (!f)
        return false;
    char buf[512] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const std::string text(buf, n);
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z'
        && text[close + 2] != 'X';
}

// True once pid runs the program at path (after its exec).
inline bool runs(pid_t pid, const std::string &path)
{
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/%d/exe", pid);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 && std::string(target, size_t(n)) == path;
}

// Direct children of pid, from /proc.
inline std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> found;
    char path[96];
    std::snprintf(path, sizeof path, "/proc/%d/task/%d/children", parent, parent);
    FILE *f = std::fopen(path, "r");
    if (!f)
        return found;
    int pid = 0;
    while (std::fscanf(f, "%d", &pid) == 1)
        found.push_back(pid);
    std::fclose(f);
    return found;
}

// Ends a process the test started (by its pid) and collects it when it is ours.
inline void endProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A started process that is ended when the guard goes.
struct Child
{
    pid_t pid = -1;
    explicit Child(const std::vector<std::string> &args)
        : pid(spawn(args))
    { }
    Child(uid_t uid, const std::vector<std::string> &args)
        : pid(spawnAs(uid, args))
    { }
    ~Child() { endProcess(pid); }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
};

} // namespace proctest

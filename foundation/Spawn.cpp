#include "foundation/Spawn.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>

#include <thread>

#include "foundation/Log.h"

extern char** environ;

namespace {

// Logs the call as the shell-based runner does, then starts the child.
pid_t Spawn(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return -1;
    std::string arguments;
    for (size_t i = 1; i < argv.size(); i++) arguments += (i > 1 ? " " : "") + argv[i];
    PrintMessage("Execute(%s, %s)", argv[0].c_str(), arguments.c_str());
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The agent ignores SIGPIPE, and an ignored signal survives the exec:
    // the program starts with it at its default and nothing blocked.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    fflush(stdout);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        PrintError("Execute(%s): %s", argv[0].c_str(), strerror(rc));
        return -1;
    }
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int RunArgv(const std::vector<std::string>& argv) {
    pid_t pid = Spawn(argv);
    return pid < 0 ? -1 : Reap(pid);
}

bool StartArgv(const std::vector<std::string>& argv) {
    pid_t pid = Spawn(argv);
    if (pid < 0) return false;
    std::thread([pid] { Reap(pid); }).detach();
    return true;
}

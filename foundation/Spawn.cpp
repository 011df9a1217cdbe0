#include "foundation/Spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "foundation/Log.h"

extern char** environ;

pid_t SpawnChild(const std::vector<std::string>& argv, int* output) {
    if (output) *output = -1;
    if (argv.empty() || argv[0].empty()) return -1;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipe_ends[2] = {-1, -1};
    if (output && pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
    // The agent ignores SIGPIPE (a vanished peer must surface as a socket
    // error), and an ignored signal survives the exec: the program starts
    // with it at its default and nothing blocked, or a writer into a closed
    // pipe would never end.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    fflush(stdout);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (output) {
        close(pipe_ends[1]);
        if (rc != 0) close(pipe_ends[0]);
        *output = rc == 0 ? pipe_ends[0] : -1;
    }
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

namespace {

// Logs the call as the shell-based runner does, then starts the child.
pid_t Spawn(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return -1;
    std::string arguments;
    for (size_t i = 1; i < argv.size(); i++) arguments += (i > 1 ? " " : "") + argv[i];
    PrintMessage("Execute(%s, %s)", argv[0].c_str(), arguments.c_str());
    pid_t pid = SpawnChild(argv, nullptr);
    if (pid < 0) PrintError("Execute(%s): %s", argv[0].c_str(), strerror(errno));
    return pid;
}

int Reap(pid_t pid) {
    int status = WaitChild(pid);
    if (status == -1) return -1;
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

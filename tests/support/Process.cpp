#include "support/Process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <stdlib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "support/TestHome.h"

namespace {

// Whatever a test starts (an anonymous daemon announces itself), and
// whatever the test process itself sends, discovery datagrams go to this
// machine only. Set before main, so before any test reads the settings.
// A suite run by a service manager must not hand its INVOCATION_ID to the
// agents it starts either: they would leave a restart to a manager that is
// not theirs. The test that wants it sets it.
const bool kTestEnvironment = [] {
    setenv("ZELAGENT_BROADCAST_ADDRESS", "127.0.0.1", 1);
    unsetenv("INVOCATION_ID");
    return true;
}();

template <typename Test>
bool PollUntil(double seconds, const Test& test) {
    for (double deadline = Now() + seconds; Now() < deadline; usleep(10000))
        if (test()) return true;
    return false;
}

}  // namespace

double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& output_file) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid != 0) return pid;
    int fd = open(output_file.empty() ? "/dev/null" : output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
    }
    // The program starts with the standard three only: any other descriptor
    // its own children hold is then the program's doing.
    for (int other = 3; other < 1024; other++) close(other);
    // Agents started by tests run detached threads that are never joined;
    // leak reports at their exit would be noise, not findings.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int WaitProgram(pid_t pid, double seconds) {
    double deadline = Now() + seconds;
    int status = 0;
    for (; Now() < deadline; usleep(10000))
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output, double seconds) {
    TempDir dir;
    int status = WaitProgram(StartProgram(argv, dir + "/output"), seconds);
    if (output) *output = ReadWholeFile(dir + "/output");
    return status;
}

bool WaitForFile(const std::string& path, double seconds) {
    struct stat st;
    return PollUntil(seconds, [&] { return lstat(path.c_str(), &st) == 0; });
}

bool WaitForText(const std::string& path, const std::string& text, double seconds) {
    return PollUntil(seconds, [&] { return ReadWholeFile(path).find(text) != std::string::npos; });
}

std::string WaitForTextInFolder(const std::string& dir, const std::string& text, double seconds) {
    std::string found;
    PollUntil(seconds, [&] {
        for (const std::string& name : Entries(dir))
            if (ReadWholeFile(dir + "/" + name).find(text) != std::string::npos) { found = name; return true; }
        return false;
    });
    return found;
}

std::string InstallAgent(const std::string& dir) {
    // Whatever the test asks, the machine is never rebooted, halted or given
    // a new clock: the agent started next to these stubs runs them instead.
    const char* kStubbed[][2] = {{"ZELAGENT_PROGRAM_REBOOT", "stub-reboot"},
                                 {"ZELAGENT_PROGRAM_HALT", "stub-halt"},
                                 {"ZELAGENT_PROGRAM_DATE_SET", "stub-date"},
                                 {"ZELAGENT_PROGRAM_NTP", "stub-ntp"},
                                 {"ZELAGENT_PROGRAM_STORAGE_SCRIPT", "stub-storage"}};
    for (auto& stub : kStubbed) {
        std::string path = dir + "/" + stub[1];
        WriteWholeFile(path, "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> \"$(dirname \"$0\")/programs.log\"\n", 0755);
        setenv(stub[0], path.c_str(), 1);
    }
    std::string target = dir + "/zelagent";
    WriteWholeFile(target, ReadWholeFile(ZELAGENT_BINARY), 0755);
    return target;
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&a, sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

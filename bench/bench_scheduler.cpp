// Cost of the daemon's housekeeping loop when nothing happens: the CPU the
// real daemon uses while idle (a pass every 10 ms), beside a bare 10 ms
// sleep loop measured over the same window, and the cost of one pass (the
// status export with nothing changed and the identification check), beside
// an uncontended mutex lock/unlock measured in this run.
//
// Usage: bench_scheduler [--quick]   (30 s idle window, 5 s with --quick)
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "BenchSupport.h"
#include "agent/Lifecycle.h"
#include "agent/Scheduler.h"
#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "foundation/Threads.h"

namespace {

// User + system CPU seconds of a process so far.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; i++) fields >> skip;  // state .. cmajflt
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return (double)(user + system) / sysconf(_SC_CLK_TCK);
}

bool WaitForText(const std::string& path, const char* text, double seconds) {
    for (double end = Now() + seconds; Now() < end; usleep(50000)) {
        std::ifstream in(path);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find(text) != std::string::npos) return true;
    }
    return false;
}

pid_t StartDaemon(const std::string& home) {
    std::string program = home + "/zelagent";
    std::string copy = "cp '" ZELAGENT_BINARY "' '" + program + "'";
    if (system(copy.c_str()) != 0) return -1;
    mkdir((home + "/conf").c_str(), 0755);
    FILE* f = fopen((home + "/conf/config").c_str(), "w");
    if (!f) return -1;
    fprintf(f, "name=bench-agent\nlocal_port=%i\n", FreePort());
    fclose(f);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("ZELAGENT_BROADCAST_ADDRESS", "127.0.0.1", 1);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        execl(program.c_str(), program.c_str(), (char*)nullptr);
        _exit(127);
    }
    return pid;
}

pid_t StartSleepLoop() {
    pid_t pid = fork();
    if (pid == 0) {
        for (;;) usleep(10000);
    }
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200 && waitpid(pid, nullptr, WNOHANG) == 0; i++) usleep(50000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

pthread_mutex_t reference = PTHREAD_MUTEX_INITIALIZER;
long shared_counter = 0;

}  // namespace

int main(int argc, char** argv) {
    double window = QuickRun() || (argc > 1 && strcmp(argv[1], "--quick") == 0) ? 5 : 30;
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;

    pid_t daemon = StartDaemon(dir);
    if (daemon < 0 || !WaitForText(dir + "/conf/logs/messages", "Waiting for connection at port", 30)) {
        fprintf(stderr, "the daemon did not start\n");
        Stop(daemon);
        return 1;
    }
    usleep(500000);  // let the start-up settle
    pid_t loop = StartSleepLoop();
    double d0 = CpuSeconds(daemon), l0 = CpuSeconds(loop), t0 = Now();
    usleep((useconds_t)(window * 1e6));
    double d1 = CpuSeconds(daemon), l1 = CpuSeconds(loop), t1 = Now();
    Stop(loop);
    Stop(daemon);
    printf("idle daemon over %.0f s:        %6.2f %% of one core   (bare 10 ms sleep loop: %.2f %%)\n", t1 - t0,
           100 * (d1 - d0) / (t1 - t0), 100 * (l1 - l0) / (t1 - t0));

    std::string program = dir + "/zelagent";
    std::string option = "--bench";
    char* args[3] = {&program[0], &option[0], nullptr};
    InitVariables(2, args);
    thread_manager->SetState(kStateSchedulerClient);
    SchedulerClock clock{Clock()};
    SchedulerPass(clock);  // the one export that writes
    const long calls = 5000000;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; i++) SchedulerPass(clock);
    double pass = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / calls;
    start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; i++) {
        pthread_mutex_lock(&reference);
        shared_counter++;
        pthread_mutex_unlock(&reference);
    }
    double mutex_ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / calls;
    printf("one pass, nothing changed:     %8.1f ns        (export check + clock read; uncontended mutex lock/unlock: %.1f ns)\n", pass,
           mutex_ns);
    DestroyVariables();
    std::string rm = "rm -rf '" + dir + "'";
    return system(rm.c_str()) == 0 ? 0 : 1;
}

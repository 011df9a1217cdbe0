// Cost of the activity registry on its two hot paths: the scheduler's export
// pass when nothing changed (100 times a second) and the progress setter the
// transfer loops call once per data block, here from 8 threads at once.
// Each figure is printed beside a plain pthread mutex measured in this run.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "core/ThreadManager.h"

namespace {

using Clock = std::chrono::steady_clock;

double NsSince(Clock::time_point start, long calls) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / (double)calls;
}

pthread_mutex_t reference = PTHREAD_MUTEX_INITIALIZER;
long shared_counter = 0;

double MutexReference(long calls) {
    auto start = Clock::now();
    for (long i = 0; i < calls; i++) {
        pthread_mutex_lock(&reference);
        shared_counter++;
        pthread_mutex_unlock(&reference);
    }
    return NsSince(start, calls);
}

// Runs `body(calls)` in `threads` threads started together; ns per call over
// all calls (wall time / total calls).
template <class Body>
double Parallel(int threads, long calls, Body body) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([&] {
            ready++;
            while (!go) std::this_thread::yield();
            body(calls);
        });
    while (ready < threads) std::this_thread::yield();
    auto start = Clock::now();
    go = true;
    for (auto& th : pool) th.join();
    return NsSince(start, calls * threads);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::string program = dir + "/zelagent";
    FILE* f = fopen(program.c_str(), "w");
    if (f) fclose(f);
    chmod(program.c_str(), 0755);
    std::string option = "--bench";
    char* argv[3] = {&program[0], &option[0], nullptr};
    InitVariables(2, argv);

    ThreadManager m;
    m.SetState(0x8000);
    m.Export();

    const long idle_calls = 20000000;
    double idle = 0;
    {
        auto start = Clock::now();
        for (long i = 0; i < idle_calls; i++) m.Export();
        idle = NsSince(start, idle_calls);
    }
    double uncontended = MutexReference(idle_calls);
    printf("export, nothing changed:          %8.1f ns/call   (uncontended mutex lock/unlock: %.1f ns)\n", idle,
           uncontended);

    const int threads = 8;
    const long calls = 1000000;
    double setter = Parallel(threads, calls, [&](long n) {
        m.SetState(0x10);
        for (long i = 0; i < n; i++) m.SetFileSize(i);
        m.RemoveThread();
    });
    double contended = Parallel(threads, calls, [](long n) {
        for (long i = 0; i < n; i++) {
            pthread_mutex_lock(&reference);
            shared_counter++;
            pthread_mutex_unlock(&reference);
        }
    });
    printf("progress setter, %d threads:       %8.1f ns/call   (%d threads on one mutex: %.1f ns/call)\n", threads,
           setter, threads, contended);

    DestroyVariables();
    std::string rm = "rm -rf '" + dir + "'";
    if (system(rm.c_str()) != 0) return 1;
    return 0;
}

#include "foundation/Threads.h"

#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/times.h>
#include <unistd.h>

#include <atomic>

#include "foundation/Log.h"

namespace {

std::atomic<int> live_threads{0};

struct ThreadStart {
    void* (*body)(void*);
    void* argument;
};

void* CountedBody(void* start) {
    ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    void* result = s.body(s.argument);
    live_threads--;
    return result;
}

}  // namespace

bool StartThread(void* (*body)(void*), void* argument) {
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) PrintError("pthread_attr_init: %s", strerror(rc));
    rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (rc != 0) PrintError("pthread_attr_setdetachstate: %s", strerror(rc));
    rc = pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
    if (rc != 0) PrintError("pthread_attr_setinheritsched: %s", strerror(rc));
    pthread_t thread;
    // Counted before it exists, so that a teardown never misses a thread
    // that is just starting.
    live_threads++;
    ThreadStart* start = new ThreadStart{body, argument};
    rc = pthread_create(&thread, &attr, CountedBody, start);
    bool started = true;
    if (rc != 0) {
        live_threads--;
        delete start;
        PrintError("StartThread: Could not create Thread: %s", strerror(rc));
        started = false;
    }
    Wait(0);
    rc = pthread_attr_destroy(&attr);
    if (rc != 0) PrintError("pthread_attr_destroy: %i", rc);
    return started;
}

bool WaitForThreads(double seconds) {
    for (int waited = 0; live_threads.load() > 0; waited++) {
        if (waited >= seconds * 100) return false;
        usleep(10000);
    }
    return true;
}

void mutex_create(pthread_mutex_t& m, const char* /*name*/) { pthread_mutex_init(&m, nullptr); }

void mutex_destroy(pthread_mutex_t& m) { pthread_mutex_destroy(&m); }

// Waits on the mutex itself rather than polling once a second: the results
// are the same, but a busy mutex no longer costs a full second per retry
// (the transfers and the status export share "mutex_threads").
int mutex_lock(pthread_mutex_t& m, const char* /*caller*/) {
    int rc = pthread_mutex_lock(&m);
    if (rc != 0) {
        printf("ERROR: mutex_lock: %s\n", strerror(rc));
        return rc;
    }
    return 0;
}

int mutex_unlock(pthread_mutex_t& m, const char* /*caller*/) { return pthread_mutex_unlock(&m); }

unsigned long GetThreadID() { return (unsigned long)pthread_self(); }

void Wait(double seconds) {
    if (seconds <= 0) {
        sched_yield();
        return;
    }
    unsigned whole = (unsigned)seconds;
    if (whole > 0) sleep(whole);
    useconds_t micro = (useconds_t)((seconds - whole) * 1000000.0);
    if (micro > 0) usleep(micro);
}

long Clock() {
    struct tms t;
    return (long)times(&t);
}

long ClockTickRate() {
    static long rate = sysconf(_SC_CLK_TCK);
    return rate > 0 ? rate : 100;
}

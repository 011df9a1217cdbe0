#include "foundation/Threads.h"

#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/times.h>
#include <unistd.h>

#include "foundation/Log.h"

bool StartThread(void* (*body)(void*), void* argument) {
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) PrintError("pthread_attr_init: %s", strerror(rc));
    rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (rc != 0) PrintError("pthread_attr_setdetachstate: %s", strerror(rc));
    rc = pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
    if (rc != 0) PrintError("pthread_attr_setinheritsched: %s", strerror(rc));
    pthread_t thread;
    rc = pthread_create(&thread, &attr, body, argument);
    bool started = true;
    if (rc != 0) {
        PrintError("StartThread: Could not create Thread: %s", strerror(rc));
        started = false;
    }
    Wait(0);
    rc = pthread_attr_destroy(&attr);
    if (rc != 0) PrintError("pthread_attr_destroy: %i", rc);
    return started;
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

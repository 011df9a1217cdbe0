// Threads, named mutexes and time: the agent's thin layer over POSIX threads
// and the process clock.
#pragma once

#include <pthread.h>

// Starts `body(argument)` in a detached thread; true when the thread exists.
// No thread of the agent is ever joined: completion is reported through the
// objects the thread works on.
bool StartThread(void* (*body)(void*), void* argument);
// Waits at most `seconds` until every thread started by StartThread has
// returned from its body; true when none is left. The process teardown uses
// it: the process-wide objects are freed only once no thread can reach them.
bool WaitForThreads(double seconds);

// A default POSIX mutex; `name` only documents it.
void mutex_create(pthread_mutex_t& m, const char* name);
void mutex_destroy(pthread_mutex_t& m);
// Blocks until the mutex is held; 0 on success. Any error other than
// contention prints "ERROR: mutex_lock: ..." and returns the error code
// without holding the mutex.
int mutex_lock(pthread_mutex_t& m, const char* caller);
int mutex_unlock(pthread_mutex_t& m, const char* caller);

// The calling thread's identifier as printed in log lines ("%06lx").
unsigned long GetThreadID();

// Sleeps the whole seconds, then the fraction in microseconds. Wait(0) yields.
void Wait(double seconds);
// Processor clock ticks from times(); durations divide by ClockTickRate().
long Clock();
long ClockTickRate();

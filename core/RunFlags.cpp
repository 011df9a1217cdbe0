#include "core/RunFlags.h"

#include <signal.h>

#include <atomic>

#include "core/Globals.h"
#include "foundation/Threads.h"

namespace {

// Set by a signal handler that may run on any thread and read by every
// thread: a lock-free atomic, which a handler may touch, rather than a
// volatile flag, which is safe only within the thread the handler interrupts.
std::atomic<int> stop_requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need a lock-free flag");

// Reads or writes one Resource field under one named mutex.
template <typename T>
T Get(T Resource::*field, pthread_mutex_t Mutex::*lock, T fallback) {
    if (!res) return fallback;
    if (!mutex) return res->*field;
    mutex_lock(mutex->*lock, "get");
    T value = res->*field;
    mutex_unlock(mutex->*lock, "get");
    return value;
}

template <typename T>
void Set(T Resource::*field, pthread_mutex_t Mutex::*lock, T value) {
    if (!res) return;
    if (mutex) mutex_lock(mutex->*lock, "set");
    res->*field = value;
    if (mutex) mutex_unlock(mutex->*lock, "set");
}

}  // namespace

void set_kill(int value) { Set(&Resource::kill, &Mutex::mutex_kill, value); }
int get_kill() {
    int value = Get(&Resource::kill, &Mutex::mutex_kill, 1);
    return (value == 0 && stop_requested) ? 1 : value;
}

void request_stop_from_signal() { stop_requested = 1; }
void set_virus_found(bool v) { Set(&Resource::virus_found, &Mutex::mutex_virus_found, v); }
bool get_virus_found() { return Get(&Resource::virus_found, &Mutex::mutex_virus_found, false); }
void set_system_error(bool v) { Set(&Resource::system_error, &Mutex::mutex_system_error, v); }
bool get_system_error() { return Get(&Resource::system_error, &Mutex::mutex_system_error, false); }
void set_files_saved(bool v) { Set(&Resource::files_saved, &Mutex::mutex_saved, v); }
bool get_files_saved() { return Get(&Resource::files_saved, &Mutex::mutex_saved, false); }
void set_files_restored(bool v) { Set(&Resource::files_restored, &Mutex::mutex_restored, v); }
bool get_files_restored() { return Get(&Resource::files_restored, &Mutex::mutex_restored, false); }

void set_files_erased(bool v) {
    if (res) res->files_erased = v;
}
bool get_files_erased() { return res && res->files_erased; }
void set_no_box(bool v) {
    if (res) res->no_box = v;
}
bool get_no_box() { return res && res->no_box; }

void set_thinking(bool value) {
    if (!res) return;
    if (mutex) mutex_lock(mutex->mutex_thinking, "set_thinking");
    res->thinking += value ? 1 : -1;
    if (res->thinking < 0) res->thinking = 0;
    if (mutex) mutex_unlock(mutex->mutex_thinking, "set_thinking");
}

bool get_thinking() { return Get(&Resource::thinking, &Mutex::mutex_thinking, 0) > 0; }

void add_connect_threads() {
    if (!res) return;
    if (mutex) mutex_lock(mutex->mutex_threads, "add_connect_threads");
    res->connect_threads++;
    if (mutex) mutex_unlock(mutex->mutex_threads, "add_connect_threads");
}

void del_connect_threads() {
    if (!res) return;
    if (mutex) mutex_lock(mutex->mutex_threads, "del_connect_threads");
    res->connect_threads--;
    if (mutex) mutex_unlock(mutex->mutex_threads, "del_connect_threads");
}

int get_connect_threads() { return Get(&Resource::connect_threads, &Mutex::mutex_threads, 0); }

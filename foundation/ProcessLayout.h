// What the foundation helpers know of the running agent: its folders and
// files, and the named mutexes of the log writers and of host lookups.
// Foundation sits below the process globals and never reads them: the
// start-up hands these over once the directory layout and the mutex set
// exist, and takes them back at teardown. Until then every entry is null:
// the log writers print to the console only, no lock file is found,
// temporary names and plug-ins give nothing, and no lock is taken.
//
// Threads: handed over and taken back while no other thread works; the
// pointers are swapped atomically, so a thread still leaving at teardown
// sees the whole layout or none.
#pragma once

#include <pthread.h>

struct ProcessFolders {
    // Folders end with the separator.
    const char* app_dir = nullptr;
    const char* data_dir = nullptr;
    const char* logs_dir = nullptr;
    const char* lock_dir = nullptr;
    const char* plugins_dir = nullptr;
    // Files.
    const char* update_program = nullptr;  // removed by the daemon's log rotation
    const char* messages_file = nullptr;
    const char* errors_file = nullptr;
    const char* events_file = nullptr;
    const char* debug_file = nullptr;
    char separator = '/';
};

struct ProcessLocks {
    pthread_mutex_t* print_message = nullptr;  // messages and the progress line
    pthread_mutex_t* print_error = nullptr;
    pthread_mutex_t* print_event = nullptr;
    pthread_mutex_t* print_log = nullptr;
    pthread_mutex_t* print_debug = nullptr;  // used only by rotation
    pthread_mutex_t* resolve = nullptr;      // host name lookups
};

// The caller keeps the object alive until it hands over null.
void SetProcessFolders(const ProcessFolders* folders);
void SetProcessLocks(const ProcessLocks* locks);
// What was handed over last; null when nothing is.
const ProcessFolders* process_folders();
const ProcessLocks* process_locks();

// The process's named mutexes, created in this order at start-up. They are
// never destroyed: threads may still be leaving when the process exits.
#pragma once

#include <pthread.h>

#include "foundation/ProcessLayout.h"

class Mutex {
public:
    Mutex();
    ~Mutex() {}
    // `locks` points into the object itself.
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    pthread_mutex_t mutex_exception;  // one transport failure in flight at a time
    pthread_mutex_t mutex_silent;
    pthread_mutex_t mutex_kill;
    pthread_mutex_t mutex_files_to_save;
    pthread_mutex_t mutex_virus_found;
    pthread_mutex_t mutex_system_error;
    pthread_mutex_t mutex_saved;
    pthread_mutex_t mutex_restored;
    pthread_mutex_t mutex_thinking;
    pthread_mutex_t mutex_saving;
    pthread_mutex_t mutex_print_message;
    pthread_mutex_t mutex_print_debug;
    pthread_mutex_t mutex_print_error;
    pthread_mutex_t mutex_print_event;
    pthread_mutex_t mutex_print_log;
    pthread_mutex_t mutex_threads;  // the activity registry and the connect-thread counter
    pthread_mutex_t mutex_thread_modified;
    pthread_mutex_t mutex_rsa;
    pthread_mutex_t mutex_socket;  // descriptor creation and closing
    pthread_mutex_t mutex_id;
    pthread_mutex_t mutex_resolve;  // host name lookups
    pthread_mutex_t mutex_config;   // writing the configuration file
    pthread_mutex_t mutex_db;
    pthread_mutex_t mutex_fs_locks;
    pthread_mutex_t mutex_sophos;
    pthread_mutex_t mutex_clients;
    pthread_mutex_t mutex_mail;
    pthread_mutex_t mutex_vss;
    pthread_mutex_t mutex_synchronisebackups;

    // The print and resolve mutexes as the foundation helpers see them; the
    // start-up hands them over (SetProcessLocks).
    ProcessLocks locks;
};

#include "core/Mutex.h"

#include "foundation/Threads.h"

Mutex::Mutex() {
    mutex_create(mutex_exception, "mutex_exception");
    mutex_create(mutex_silent, "mutex_silent");
    mutex_create(mutex_kill, "mutex_kill");
    mutex_create(mutex_files_to_save, "mutex_files_to_save");
    mutex_create(mutex_virus_found, "mutex_virus_found");
    mutex_create(mutex_system_error, "mutex_system_error");
    mutex_create(mutex_saved, "mutex_saved");
    mutex_create(mutex_restored, "mutex_restored");
    mutex_create(mutex_thinking, "mutex_thinking");
    mutex_create(mutex_saving, "mutex_saving");
    mutex_create(mutex_print_message, "mutex_print_message");
    mutex_create(mutex_print_debug, "mutex_print_debug");
    mutex_create(mutex_print_error, "mutex_print_error");
    mutex_create(mutex_print_event, "mutex_print_event");
    mutex_create(mutex_print_log, "mutex_print_log");
    mutex_create(mutex_threads, "mutex_threads");
    mutex_create(mutex_thread_modified, "mutex_thread_modified");
    mutex_create(mutex_rsa, "mutex_rsa");
    mutex_create(mutex_socket, "mutex_socket");
    mutex_create(mutex_id, "mutex_id");
    mutex_create(mutex_resolve, "mutex_resolve");
    mutex_create(mutex_config, "mutex_config");
    mutex_create(mutex_db, "mutex_db");
    mutex_create(mutex_fs_locks, "mutex_fs_locks");
    mutex_create(mutex_sophos, "mutex_sophos");
    mutex_create(mutex_clients, "mutex_clients");
    mutex_create(mutex_mail, "mutex_mail");
    mutex_create(mutex_vss, "mutex_vss");
    mutex_create(mutex_synchronisebackups, "mutex_synchronisebackups");

    locks.print_message = &mutex_print_message;
    locks.print_error = &mutex_print_error;
    locks.print_event = &mutex_print_event;
    locks.print_log = &mutex_print_log;
    locks.print_debug = &mutex_print_debug;
    locks.resolve = &mutex_resolve;
}

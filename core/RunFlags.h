// Run flags over the Resource fields. Each getter and setter holds the flag's
// own mutex; files_erased and no_box are plain reads and writes.
#pragma once

// 0 running, 1 stop, 2 restart, 3 self-update. get_kill() is 1 without a
// Resource and skips locking without the mutex set (teardown).
void set_kill(int value);
int get_kill();
void set_virus_found(bool value);
bool get_virus_found();
void set_system_error(bool value);
bool get_system_error();
void set_files_saved(bool value);
bool get_files_saved();
void set_files_restored(bool value);
bool get_files_restored();
void set_files_erased(bool value);
bool get_files_erased();
void set_no_box(bool value);
bool get_no_box();
// Nested busy sections: true increments, false decrements (never below 0).
void set_thinking(bool value);
bool get_thinking();
void add_connect_threads();
void del_connect_threads();
int get_connect_threads();

// Async-signal-safe: records a stop request that get_kill() reports as 1
// while the flag itself is still 0.
void request_stop_from_signal();

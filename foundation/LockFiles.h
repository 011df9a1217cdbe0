// Lock files under the lock folder: their presence is the lock.
#pragma once

// True when the lock file named by the formatted text (at most 399
// characters, relative to lock_dir) exists.
bool CheckLock(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Creates `path` or updates its time with the external touch program.
// Always true. A path holding shell characters is quoted for the shell.
bool Touch(const char* path);

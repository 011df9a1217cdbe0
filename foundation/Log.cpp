#include "foundation/Log.h"

#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include "foundation/Paths.h"
#include "foundation/ProcessLayout.h"
#include "foundation/Threads.h"

FILE* file_message = nullptr;
FILE* file_error = nullptr;
FILE* file_event = nullptr;
FILE* file_debug = nullptr;

namespace {

// Holds one of the named print mutexes for a scope; a no-op before the
// start-up has handed them over (tests and early start-up).
class PrintLock {
public:
    explicit PrintLock(pthread_mutex_t* ProcessLocks::*which) : m_(nullptr) {
        const ProcessLocks* locks = process_locks();
        if (locks) m_ = locks->*which;
        if (m_) mutex_lock(*m_, "print");
    }
    ~PrintLock() {
        if (m_) mutex_unlock(*m_, "print");
    }

private:
    pthread_mutex_t* m_;
};

// The shared shape of PrintMessage and PrintError: console copy, then one
// prefixed line in the writer's file.
void WriteLine(FILE*& stream, const char* path, const char* prefix, const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    fputs(prefix, stdout);
    vfprintf(stdout, fmt, args);
    fputc('\n', stdout);
    struct tm* now = LocalTime(0);
    if (now && path) {
        if (!stream) stream = GetFILE(path, "a", false);
        if (stream) {
            fprintf(stream, "%02i/%02i/%i @ %02i:%02i:%02i (%06lx): ", now->tm_mday, now->tm_mon + 1,
                    now->tm_year + 1900, now->tm_hour, now->tm_min, now->tm_sec, GetThreadID());
            vfprintf(stream, fmt, copy);
            fputc('\n', stream);
        }
    }
    delete now;
    va_end(copy);
}

// Renames `path` to "<path>.old", replacing an earlier copy.
void RotateToOld(const char* path) {
    char old[420];
    snprintf(old, sizeof(old), "%s.old", path);
    if (VerifyFileExists(old)) unlink(old);
    rename(path, old);
}

}  // namespace

void PrintMessage(const char* fmt, ...) {
    PrintLock lock(&ProcessLocks::print_message);
    const ProcessFolders* folders = process_folders();
    va_list args;
    va_start(args, fmt);
    WriteLine(file_message, folders ? folders->messages_file : nullptr, "MESSAGE: ", fmt, args);
    va_end(args);
}

void PrintError(const char* fmt, ...) {
    PrintLock lock(&ProcessLocks::print_error);
    const ProcessFolders* folders = process_folders();
    va_list args;
    va_start(args, fmt);
    WriteLine(file_error, folders ? folders->errors_file : nullptr, "ERROR: ", fmt, args);
    va_end(args);
}

void PrintEvent(const char* category, const char* fmt, ...) {
    PrintLock lock(&ProcessLocks::print_event);
    const ProcessFolders* folders = process_folders();
    va_list args, copy;
    va_start(args, fmt);
    va_copy(copy, args);
    fputs("EVENT: ", stdout);
    vfprintf(stdout, fmt, args);
    fputc('\n', stdout);
    struct tm* now = LocalTime(0);
    if (now && folders) {
        if (!file_event) file_event = GetFILE(folders->events_file, "a", false);
        if (file_event) {
            fprintf(file_event, "%02i/%02i/%i @ %02i:%02i : (%s) ", now->tm_mday, now->tm_mon + 1,
                    now->tm_year + 1900, now->tm_hour, now->tm_min, category ? category : "");
            vfprintf(file_event, fmt, copy);
            fputc('\n', file_event);
        }
    }
    delete now;
    va_end(copy);
    va_end(args);
}

void PrintLog(const char* name, const char* tag, const char* fmt, ...) {
    const ProcessFolders* folders = process_folders();
    if (!folders || !name) return;
    PrintLock lock(&ProcessLocks::print_log);
    struct tm* now = LocalTime(0);
    if (!now) return;
    char path[420];
    snprintf(path, sizeof(path), "%s%s%c%i.%i.%i", folders->logs_dir, name, folders->separator, now->tm_mday,
             now->tm_mon + 1, now->tm_year + 1900);
    FILE* f = GetFILE(path, "a", false);
    if (f) {
        fprintf(f, "%02i/%02i/%i @ %02i:%02i : ", now->tm_mday, now->tm_mon + 1, now->tm_year + 1900,
                now->tm_hour, now->tm_min);
        if (tag) fprintf(f, "(%s) ", tag);
        va_list args;
        va_start(args, fmt);
        vfprintf(f, fmt, args);
        va_end(args);
        fputc('\n', f);
        CloseFILE(f);
    }
    delete now;
}

void PrintScreen(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vfprintf(stdout, fmt, args);
    va_end(args);
}

void PrintProgress(const char* fmt, ...) {
    PrintLock lock(&ProcessLocks::print_message);
    char text[410];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    printf("\r%-90.90s", text);
}

void PrintDebug(const char*, ...) {}
void PrintBox(const char*, ...) {}
void PrintObjects(const char*) {}
void UpdateLogFiles() {}

void ClearLogFiles() {
    const ProcessFolders* folders = process_folders();
    if (!folders) return;
    if (VerifyFileExists(folders->update_program)) {
        for (int attempt = 0; attempt < 50 && unlink(folders->update_program) != 0; attempt++) Wait(0.1);
    }
    MakeDirectories(folders->data_dir);
    MakeDirectories(folders->logs_dir);

    if (VerifyFileExists(folders->messages_file)) {
        PrintLock lock(&ProcessLocks::print_message);
        if (file_message) CloseFILE(file_message);
        file_message = nullptr;
        RotateToOld(folders->messages_file);
        if (VerifyFileExists(folders->messages_file) && unlink(folders->messages_file) != 0) _exit(0);
    }
    if (VerifyFileExists(folders->errors_file)) {
        PrintLock lock(&ProcessLocks::print_error);
        if (file_error) CloseFILE(file_error);
        file_error = nullptr;
        RotateToOld(folders->errors_file);
    }
    if (VerifyFileExists(folders->debug_file)) {
        PrintLock lock(&ProcessLocks::print_debug);
        if (file_debug) CloseFILE(file_debug);
        file_debug = nullptr;
        unlink(folders->debug_file);
    }
}

FILE* GetFILE(const char* path, const char* mode, bool create) {
    if (!path || !mode) return nullptr;
    // Close-on-exec: a command the agent runs never holds its files.
    char flags[16];
    snprintf(flags, sizeof(flags), "%.10se", mode);
    FILE* f = fopen64(path, flags);
    if (!f && (create || mode[0] == 'w' || mode[0] == 'a')) {
        VerifySubFolderExists(path);
        f = fopen64(path, flags);
    }
    if (f && mode[0] == 'a') setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

int CloseFILE(FILE*& stream) {
    if (!stream) return -1;
    int rc = fclose(stream);
    if (rc != 0) {
        PrintError("CloseFILE: fclose(%p): %s", (void*)stream, strerror(errno));
    }
    // A stream is unusable after fclose whatever it returned; forgetting it
    // avoids a second close of freed memory.
    stream = nullptr;
    return rc;
}

struct tm* LocalTime(long t) {
    time_t when = t ? (time_t)t : time(nullptr);
    struct tm* out = new struct tm;
    if (!localtime_r(&when, out)) {
        delete out;
        return nullptr;
    }
    return out;
}

struct tm* GmTime(long t) {
    time_t when = t ? (time_t)t : time(nullptr);
    struct tm* out = new struct tm;
    if (!gmtime_r(&when, out)) {
        delete out;
        return nullptr;
    }
    return out;
}

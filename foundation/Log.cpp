#include "foundation/Log.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "foundation/Paths.h"
#include "foundation/ProcessLayout.h"
#include "foundation/Threads.h"

FILE* file_message = nullptr;
FILE* file_error = nullptr;
FILE* file_event = nullptr;
FILE* file_debug = nullptr;

namespace {

// Bumped by RequestLogReopen from a signal handler on any thread, hence a
// lock-free atomic; each stream remembers the value it was opened under
// (read and written under its writer's mutex).
std::atomic<int> reopen_requests{0};
sig_atomic_t message_opened_at = 0;
sig_atomic_t error_opened_at = 0;
sig_atomic_t event_opened_at = 0;
sig_atomic_t reopen_noticed = 0;

// Closes `stream` when a reopening was asked since it was opened; the
// writer then opens its file again by name.
void ReopenIfAsked(FILE*& stream, sig_atomic_t& opened_at) {
    sig_atomic_t requests = reopen_requests;
    if (opened_at == requests) return;
    opened_at = requests;
    if (stream) CloseFILE(stream);
}

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

// The text of one call, whatever its length.
std::string FormatText(const char* fmt, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(small, sizeof(small), fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if ((size_t)n < sizeof(small)) return std::string(small, (size_t)n);
    std::string text((size_t)n, '\0');
    vsnprintf(&text[0], (size_t)n + 1, fmt, args);
    return text;
}

// One line, one write: the log files are opened for appending, so the lines
// of the daemon and of a "--stats" run writing the same file never
// interleave. A short write (a full disk) goes on with the rest.
void WriteWhole(FILE* stream, const std::string& line) {
    int fd = fileno(stream);
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= (size_t)n;
    }
}

void WriteConsole(const char* prefix, const std::string& text) {
    std::string line = prefix + text + "\n";
    fwrite(line.data(), 1, line.size(), stdout);
}

// The shared shape of PrintMessage and PrintError: console copy, then one
// prefixed line in the writer's file. A caller's errno survives the call.
void WriteLine(FILE*& stream, sig_atomic_t& opened_at, const char* path, const char* prefix, const char* fmt,
               va_list args) {
    int saved = errno;
    ReopenIfAsked(stream, opened_at);
    std::string text = FormatText(fmt, args);
    WriteConsole(prefix, text);
    struct tm* now = LocalTime(0);
    if (now && path) {
        if (!stream) stream = GetFILE(path, "a", false);
        if (stream) {
            char head[64];
            snprintf(head, sizeof(head), "%02i/%02i/%i @ %02i:%02i:%02i (%06lx): ", now->tm_mday,
                     now->tm_mon + 1, now->tm_year + 1900, now->tm_hour, now->tm_min, now->tm_sec,
                     GetThreadID());
            WriteWhole(stream, head + text + "\n");
        }
    }
    delete now;
    errno = saved;
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
    WriteLine(file_message, message_opened_at, folders ? folders->messages_file : nullptr, "MESSAGE: ", fmt, args);
    va_end(args);
}

void PrintError(const char* fmt, ...) {
    PrintLock lock(&ProcessLocks::print_error);
    const ProcessFolders* folders = process_folders();
    va_list args;
    va_start(args, fmt);
    WriteLine(file_error, error_opened_at, folders ? folders->errors_file : nullptr, "ERROR: ", fmt, args);
    va_end(args);
}

void PrintEvent(const char* category, const char* fmt, ...) {
    PrintLock lock(&ProcessLocks::print_event);
    int saved = errno;
    const ProcessFolders* folders = process_folders();
    va_list args;
    va_start(args, fmt);
    std::string text = FormatText(fmt, args);
    va_end(args);
    WriteConsole("EVENT: ", text);
    struct tm* now = LocalTime(0);
    ReopenIfAsked(file_event, event_opened_at);
    if (now && folders) {
        if (!file_event) file_event = GetFILE(folders->events_file, "a", false);
        if (file_event) {
            char head[64];
            snprintf(head, sizeof(head), "%02i/%02i/%i @ %02i:%02i : (", now->tm_mday, now->tm_mon + 1,
                     now->tm_year + 1900, now->tm_hour, now->tm_min);
            WriteWhole(file_event, head + std::string(category ? category : "") + ") " + text + "\n");
        }
    }
    delete now;
    errno = saved;
}

void PrintLog(const char* name, const char* tag, const char* fmt, ...) {
    const ProcessFolders* folders = process_folders();
    if (!folders || !name) return;
    PrintLock lock(&ProcessLocks::print_log);
    int saved = errno;
    struct tm* now = LocalTime(0);
    if (!now) return;
    char path[420];
    snprintf(path, sizeof(path), "%s%s%c%i.%i.%i", folders->logs_dir, name, folders->separator, now->tm_mday,
             now->tm_mon + 1, now->tm_year + 1900);
    FILE* f = GetFILE(path, "a", false);
    if (f) {
        char head[64];
        snprintf(head, sizeof(head), "%02i/%02i/%i @ %02i:%02i : ", now->tm_mday, now->tm_mon + 1,
                 now->tm_year + 1900, now->tm_hour, now->tm_min);
        std::string line = head;
        if (tag) line.append("(").append(tag).append(") ");
        va_list args;
        va_start(args, fmt);
        line += FormatText(fmt, args);
        va_end(args);
        WriteWhole(f, line + "\n");
        CloseFILE(f);
    }
    delete now;
    errno = saved;
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

int ClearLogFiles() {
    const ProcessFolders* folders = process_folders();
    if (!folders) return 0;
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
        if (VerifyFileExists(folders->messages_file) && unlink(folders->messages_file) != 0) return -1;
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
    // The daemon's first line must find its file: open it now, while a
    // failure can still stop the start.
    PrintLock lock(&ProcessLocks::print_message);
    if (!file_message) file_message = GetFILE(folders->messages_file, "a", false);
    return file_message ? 0 : -1;
}

void RequestLogReopen() { reopen_requests++; }

bool TakeLogReopenNotice() {
    sig_atomic_t requests = reopen_requests;
    if (reopen_noticed == requests) return false;
    reopen_noticed = requests;
    return true;
}

void RepeatedError::Report(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = FormatText(fmt, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(mutex_);
    if (text == text_) {
        count_++;
        return;
    }
    if (count_ > 1) PrintError("%s (%u times)", text_.c_str(), count_);
    text_ = text;
    count_ = 1;
    PrintError("%s", text_.c_str());
}

void RepeatedError::Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (count_ == 0) return;
    PrintError("%s (%u times, now cleared)", text_.c_str(), count_);
    text_.clear();
    count_ = 0;
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

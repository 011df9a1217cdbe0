// Logging and console output. Every writer prints to standard output and,
// once the start-up has handed over the files (ProcessLayout.h), appends one
// line to its log file. A log
// file that cannot be opened never stops the caller.
//
// Thread-safety: any thread may log at any time; each writer serialises on
// its own named mutex, so the lines of one file never interleave.
#pragma once

#include <stdio.h>
#include <time.h>

#include <mutex>
#include <string>

// Open log streams, null until first use; closed by rotation and at exit.
extern FILE* file_message;
extern FILE* file_error;
extern FILE* file_event;
extern FILE* file_debug;

void PrintMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void PrintError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void PrintEvent(const char* category, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// One file per `name` and calendar day under the logs folder; no console copy.
void PrintLog(const char* name, const char* tag, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
// Console only, exactly as formatted, no lock.
void PrintScreen(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// "\r" then exactly 90 columns of text, no newline.
void PrintProgress(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Entry points kept for callers; they write nothing in this agent.
void PrintDebug(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void PrintBox(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void PrintObjects(const char* text);
void UpdateLogFiles();

// Rotates the daemon's messages and errors files to ".old", deletes the
// debug file and opens the new messages file. Runs once when the daemon
// starts. 0, or -1 with errno set when the logs folder cannot take the
// daemon's lines (the old messages file cannot be moved or removed, or the
// new one cannot be opened).
int ClearLogFiles();

// Asks every writer to close its log file and open it again by name before
// its next line, so that after a log rotation moved "messages" away the
// daemon writes a fresh "messages" instead of the renamed file.
// Async-signal-safe: the SIGHUP handler calls it.
void RequestLogReopen();
// True once for each request since the last call (one caller: the daemon's
// housekeeping loop, which notes the reopening in the fresh file).
bool TakeLogReopenNotice();

// An error that may come back on every pass of a loop (a full disk under the
// status export would write hundreds of lines a second): the first one is
// logged, its repeats are only counted, and Clear, called when the pass
// succeeds again, logs it once more with its count. A different error is
// logged at once. Thread-safe.
class RepeatedError {
public:
    void Report(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void Clear();

private:
    std::mutex mutex_;
    std::string text_;    // the error being counted; empty when none
    unsigned count_ = 0;  // how many times it happened in a row
};

// Opens `path`; when that fails and `create` is set or the mode writes,
// creates the missing parent folders and tries once more. Append streams are
// unbuffered so a line is on disk when the writer returns.
FILE* GetFILE(const char* path, const char* mode, bool create);
// -1 for a null stream; otherwise closes it and sets it to null.
int CloseFILE(FILE*& stream);

// Broken-down time of `t` (0 = now), newly allocated: the caller deletes it.
// Null when the conversion fails.
struct tm* LocalTime(long t);
struct tm* GmTime(long t);

// Shell commands and directory copies run by detached worker threads, and
// plug-in connectors.
//
// Ownership and threads: the thread that starts a worker owns the Command or
// CopyObject, keeps it alive until `done` reads 1, and then deletes it. The
// worker writes the other fields before it sets `done` and never touches the
// object afterwards.
#pragma once

#include <atomic>

class Command {
public:
    // Copies `line` (an empty command for null).
    explicit Command(const char* line);
    ~Command();
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    char* command;              // owned (delete[])
    std::atomic<int> done;      // 1 once the worker has finished
    int result;                 // exit status of the command
    int error_number;           // errno after a failed command
    char* error;                // owned copy of the system error text (free)
    char* output;               // owned (delete[]); stays null in this agent
};

class CopyObject {
public:
    CopyObject(const char* source, const char* destination);
    ~CopyObject();
    CopyObject(const CopyObject&) = delete;
    CopyObject& operator=(const CopyObject&) = delete;

    char* source;           // owned (delete[])
    char* destination;      // owned (delete[])
    std::atomic<int> done;  // 1 once the copy thread has finished
};

// Thread body over a Command. A line "PLUGIN <name> <action...>" runs the
// plug-in's connector (the result field is left alone); any other line runs
// through the shell and records its status (and errno with its text when it
// is not 0). Always ends by setting `done`.
void* ThreadExecute(void* command);

// Runs the connector of the plug-in `name` (folder plugins_dir + name, whose
// file "config" names it with the key "connector") with the formatted action
// and returns its output (new array, delete[]), or null: for "SYSTEM_STATE"
// with "list" and for "VSS" nothing runs; a missing configuration, key or
// connector gives null.
char* PluginExec(const char* name, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Thread body over a CopyObject. A file source is copied to the destination.
// A directory source has its regular files (not its subdirectories) copied,
// in name order, into the destination directory, which is created with its
// parents. Always ends by setting `done`.
void* ThreadCopy(void* copy_object);

// Copies one regular file, replacing `destination` through ReplacementFile
// (a new one takes the source's permissions; a device or a pipe there is
// written into); a symbolic link there is replaced, never written through
// to a file. True on success.
bool CopyRegularFile(const char* source, const char* destination);

// One entry of a browsing listing (a directory, a drive or a regular file)
// as the server's file browser shows it.
#pragma once

#include <atomic>
#include <string>

// Live FileSystemNode objects (diagnostics only; not locked).
extern std::atomic<int> file_system_node_count;

class FileSystemNode {
public:
    FileSystemNode();
    // Copies `name`; a null name is kept as the empty text.
    FileSystemNode(const char* name, int directory, int file, unsigned time, long long size);
    ~FileSystemNode();
    FileSystemNode(const FileSystemNode&) = delete;
    FileSystemNode& operator=(const FileSystemNode&) = delete;

    // Replaces the name with a copy of `name`; false (nothing changed) for null.
    bool SetName(const char* name);

    // Directory kinds first, then regular files, then other entries; inside a
    // group by name ignoring case.
    bool operator<(const FileSystemNode& other) const;

    // Appends this entry's text to `out`: a newline, the type word ("dir",
    // "drive", "net_drive", "file" or "object"), the size, the modification
    // time and the quoted name, separated by blanks.
    void Print(std::string& out) const;
    const char* TypeWord() const;

    int directory;    // 0 none, 1 directory, 2 drive, 3 network drive
    int file;         // 1 for a regular file
    int other;        // sorts after files; the listings here never set it
    unsigned time;    // modification time, seconds
    long long size;   // bytes
    char* name;       // owned; the entry's name without its directory
};

// Orders pointers by the entries they point to (for std::sort).
bool FileSystemNodeLess(const FileSystemNode* a, const FileSystemNode* b);

// One stored version of a file as the server's catalogue knows it, and the
// pair of names that identifies a file there. The agent fills these from
// catalogue lines (storage evaluation) and uses them to name stored files.
//
// Threads: a record belongs to one user. The live counters are diagnostics
// and are updated without a lock.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern int version_node_count;   // live VersionNode objects
extern int version_node_create;  // VersionNode objects ever made
extern int filename_node_count;  // live FilenameNode objects

class VersionNode {
  public:
    // Every text empty (null) and every number 0.
    VersionNode();
    // A catalogue line of the listing ("0MD5('<path>'), ..., '<mtime>', a,
    // b, c, '<size>', d"): sets full_name, file_date and size, nothing else.
    // A line that does not have that shape leaves the fields it lacks empty.
    explicit VersionNode(const char* line);
    ~VersionNode();
    VersionNode(const VersionNode&) = delete;
    VersionNode& operator=(const VersionNode&) = delete;

    // Each frees the old text and keeps a copy; null leaves the field empty.
    void SetFullName(const char* text);
    void SetHashName(const char* text);
    void SetHashFile(const char* text);
    void SetHashCryptfile(const char* text);
    void SetLastHashFile(const char* text);

    // The record on standard output, one "name == value" line per field.
    void Print();
    // Appends " <size> <file_date> \"<full_name>\"" to `out` (room for
    // `size` bytes in all); cut to fit.
    void Print(char* out, size_t size);

    char* full_name;       // the path in '|' form (owned, delete[])
    char* hash_name;       // MD5 text naming the file (owned)
    char* hash_file;       // digest of the stored content (owned)
    char* hash_cryptfile;  // digest of the encrypted content (owned)
    char* last_hash_file;  // digest of the previous version's content (owned)
    int32_t file_date;     // modification time, seconds since 1970
    uint32_t diff_date;    // date of the difference (patch) version
    int32_t backup_date;   // the backup holding this version; its number in storage names
    int32_t last_date;     // date of last_hash_file
    int64_t size;          // the file's size in bytes
    int64_t stored_size;   // a second size, from the server's database rows
    int32_t row[6];        // further database-row columns (row[0] is a type code)
    uint64_t sort_key;     // order of operator<; nothing in the agent sets it

    bool operator<(const VersionNode& other) const { return sort_key < other.sort_key; }
};

class FilenameNode {
  public:
    FilenameNode(const char* hashName, const char* fullName);
    ~FilenameNode();
    FilenameNode(const FilenameNode&) = delete;
    FilenameNode& operator=(const FilenameNode&) = delete;

    char* hash_name;  // owned (delete[]), may be null
    char* full_name;  // owned (delete[]), may be null
};

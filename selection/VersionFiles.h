// Files around the version catalogue: plain line-list files, the paths of
// restored and stored versions, and differences between two versions.
//
// Threads: any thread may call these; they read the process globals `res`
// and `config` without locking.
#pragma once

#include <stddef.h>

#include <vector>

class Client;
class VersionNode;

// Appends the lines of `path` to `lines`, each a new 1024-byte text (owned
// by the list, delete[]) without its newline. Lines starting with '#' are
// skipped; a line longer than 1023 bytes continues as further entries.
// Returns the list's new length, 0 when the file cannot be opened.
int ReadFile(const char* path, std::vector<char*>* lines);
// Replaces `path` with the lines joined by newlines (none after the last).
// Returns their number; 0 when the file cannot be written or the list is
// empty (the file is then left empty).
int WriteFile(const char* path, const std::vector<char*>* lines);

// The restore folder followed by `relative`, in `out` (`size` bytes).
char* GetRelativePath(char* out, const char* relative, size_t size = 400);

// Where a version is stored (`size` bytes in `out`). For a set of this
// agent (its box_name is our name) the path is data_dir, base_id, then one
// to four levels made from the first characters of the hash name as the
// set's depth (value_3) asks, then "<hash_name>.<backup_date>" and `suffix`.
// For a set mirrored from another box the path goes through that box's
// "backup" tree, one single-character level per unit of depth, no suffix.
char* GetServerPath(char* out, const Client* client, const VersionNode* version, const char* suffix,
                    size_t size = 400);

// Writes to `out` the unified difference that turns `second` into `first`
// (files, or directories of numbered parts) and keeps it only when it is
// smaller than `first`. Returns diff's status: 0 identical (no output
// left), 1 different, -2 directories of more than 5,000 parts, another
// value when diff failed. Parts missing on one side count as empty.
int MakeDiffFile(const char* first, const char* second, const char* out);

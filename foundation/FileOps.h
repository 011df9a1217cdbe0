// The agent's small file-system helpers, used by the browsing and
// administration commands. All take local paths (already converted from the
// server's '|' form), never throw, and report failures through their return
// value after logging. None of them follows a symbolic link when it descends
// into or measures a tree.
//
// Thread-safety: every function works only on its arguments and the file
// system; any thread may call them.
#pragma once

// mkdir with mode 0707; mkdir's result (0 on success).
int MakeDir(const char* path);
// Removes `path` and everything below it; true when nothing of it is left.
// Removal is done in-process (no shell): links are removed, never followed,
// and the path length is not limited.
bool RemoveDir(const char* path);
// unlink; a directory is handed to RemoveDir. False after logging
// "Unlink Error (%s): %s" for anything else that cannot be removed.
bool Unlink(const char* path);
// Copies the bytes of `from` into `to` (created, parent folders included;
// replaced through ReplacementFile when it exists; a device or a pipe there
// is written into). False when either cannot be opened or when a read or
// write fails part-way (a replaced `to` is then as it was).
bool Copy(const char* from, const char* to);
// rename; true when it returns 0.
bool Move(const char* from, const char* to);
// Cuts `text` just after the last `c` (the `c` stays); false when there is
// none (text unchanged).
bool Truncate(char* text, char c);
// The parent folder, keeping its trailing separator: "/a/b/c/" and "/a/b/c"
// both become "/a/b/".
bool TruncateDir(char* path);

// Recursive size of a directory: each subdirectory adds its own total, every
// other entry ("." and ".." and links included) adds its lstat size. 0 when
// `dir` cannot be opened.
long long GetDirSize(const char* dir);
// lstat size of a file, GetDirSize of a directory, -1 on failure (logged).
long long GetFileSize(const char* path);
// Regular files in `dir` (and below when `recursive`); 0 when it cannot be
// opened ("Can't opendir(%s): %s").
int GetFileCount(const char* dir, int recursive);
// Deletes the empty regular files directly in `dir`; returns how many.
int DeleteEmptyFiles(const char* dir);
// lstat modification time; 0 on failure.
unsigned GetFileDate(const char* path);
// No locking scheme is checked on this platform: always true.
bool IsFileLocked(const char* path);

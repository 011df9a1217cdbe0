// Local path and file helpers shared by every subsystem. The server writes
// paths with '|' as separator; the local separator is '/'.
#pragma once

#include <string>

// In place: every '|' becomes '/'.
void ConvertPath(char* p);
// In place: every '/' becomes '|'.
void ConvertPath2(char* p);
// A path from the wire in local form, as a new string of any length
// (null gives the empty path).
std::string LocalPath(const char* wire);

// True for the directory entries "." and "..".
inline bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}
// True when `text` may stand as one component of a path without leaving the
// folder it is put in: not null, not empty, no '/', not "." or "..". Names
// from records and the wire pass this before they become file names.
bool IsSafePathComponent(const char* text);

// True when lstat succeeds (a dangling symbolic link exists too).
bool VerifyFileExists(const char* p);
// True when lstat succeeds and the entry is a directory (never through a link).
bool VerifyFolderExists(const char* p);
bool IsDir(const char* p);
// Creates `p` and its missing parents (each with MakeDir's mode, 0707 less
// the umask, like every folder the agent creates); true when `p` is a
// directory at the end.
// Stops at the first failure other than a missing parent; a path of 400
// characters or more is refused.
bool MakeDirectories(const char* p);
// Creates the folders above the file `path`, whatever its length (restored
// files may lie deeper than 400 characters); a failure shows up when the
// file itself is created.
void MakeParentDirectories(const std::string& path);
// Makes sure the folder holding `p` exists; always true.
bool VerifySubFolderExists(const char* p);
// Sets access and modification time to `t` (a symbolic link's own times,
// never its target's); logs a failure; returns 0.
int SetFileModifyDate(const char* p, unsigned t);

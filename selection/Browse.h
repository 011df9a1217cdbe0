// The browsing listings the server uses to show this machine's disks.
//
// Every text result is a new char array that the caller frees with delete[].
// The `dir` arguments arrive in the server's '|' form and are converted to
// local form in place. Any thread may call these functions.
#pragma once

#include <vector>

#include "selection/FileSystemNode.h"

// The top level: one drive named "|". A 1 MiB buffer whatever its content.
char* ListRoot();
// Appends one node per subdirectory and regular file of `dir` (links,
// devices and entries that vanish while listed are left out); the caller
// owns the nodes. -1 for the process file system, else 0 (also when `dir`
// cannot be opened).
int ListDir(char* dir, std::vector<FileSystemNode*>* entries);
// The listing as text: the entry count, then each entry's text in
// FileSystemNode order.
char* ListDir(char* dir);
// The entry names only, in FileSystemNode order, joined by "\n".
char* ListDirLite(char* dir);

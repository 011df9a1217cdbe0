// The listing of a backup set's files: the walk of the local disk under the
// set's rules, producing one catalogue line per candidate, delivered to a
// CatalogueSink in blocks of at most 2,000 lines.
//
// Threads: a walk runs in the thread serving the connection; it shares no
// state with other walks. Errors of the sink (a dead connection) pass up to
// the caller; every line and rule is freed on the way.
#pragma once

#include <vector>

#include "selection/CatalogueSink.h"
#include "selection/IncludeNode.h"

// Lists every candidate of `rules` and sends the lines to `sink`. Takes the
// rules: `rules` is emptied and every rule deleted before the call returns
// (also when the sink throws). -1 when `rules` is empty (nothing sent), else
// 0. `setNumber` selects the local files that stand for named objects.
int LocalListFilesToSave(CatalogueSink* sink, std::vector<IncludeNode*>* rules, int setNumber);

// Walks the tree of `dir` (the server's '|' form, converted in place),
// appending a line for every regular file and symbolic link that `subRules`
// select (with `defaultResult` when no rule matches) and descending into
// every directory they do not exclude. Links are never followed, devices,
// pipes and sockets are skipped, and so is the process file system. Lines
// go to `lines` and, once 2,000 are held, to `sink`. A directory that cannot
// be opened adds a "-4" line. -1 when `dir` is "/proc", else 0. `prefix` is
// carried for the log only.
int LocalListFilesToSaveFromDir(CatalogueSink* sink, char* dir, std::vector<char*>* lines,
                                const std::vector<IncludeNode*>* subRules, int defaultResult, const char* prefix);

// Appends one line for the newest regular file matching `pattern`, whose last
// component may hold '?' for any one character. Nothing when none matches.
// Always 0.
int LocalListSchizoFile(const char* pattern, std::vector<char*>* lines);

// Rule files: the include and exclude rules of a backup set kept as text
// lines in the configuration folder, with "template" rules that pull in a
// shared file from its templates/ subfolder.
//
// The lists receive new rules (they own them); rules already in the lists
// stay. Any thread may read rule files; the lists belong to the caller.
#pragma once

#include <vector>

#include "selection/IncludeNode.h"

class Client;

// Reads the rule file `path`, appending include rules to `includes` and
// exclude rules to `excludes` in file order, each template expanded where it
// stands. A template already being read (directly or through a chain of
// other templates) is not read again. 0, or -1 when `path` cannot be opened.
int ReadIncludes(const char* path, std::vector<IncludeNode*>* includes, std::vector<IncludeNode*>* excludes);
// Reads "<base_id>/includes.<number>" under the configuration folder and
// logs every rule read. Always 0 (a missing file adds nothing).
int ReadIncludes(Client* client, std::vector<IncludeNode*>* includes, std::vector<IncludeNode*>* excludes);

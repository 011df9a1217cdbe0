#include "selection/RuleFiles.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/Globals.h"
#include "foundation/Log.h"
#include "records/Client.h"

namespace {

// The files being read, outermost first, each by its resolved name when it
// can be resolved, so that a chain of templates cannot lead back to a file
// under another spelling of its path.
typedef std::vector<std::string> ReadingStack;

std::string Identity(const char* path) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved)) return resolved;
    return path;
}

bool BeingRead(const ReadingStack& stack, const std::string& identity) {
    for (const std::string& s : stack)
        if (s == identity) return true;
    return false;
}

int ReadRuleFile(const char* path, std::vector<IncludeNode*>* includes, std::vector<IncludeNode*>* excludes,
                 ReadingStack& stack) {
    PrintMessage("ReadIncludes(%s)", path);
    FILE* in = fopen(path, "re");
    if (!in) {
        PrintError("ReadIncludes(%s): %s", path, strerror(errno));
        return -1;
    }
    stack.push_back(Identity(path));
    // Whole lines, however long: a rule for a deep path must not be cut into
    // two broken rules.
    char* line = nullptr;
    size_t room = 0;
    ssize_t got;
    std::string as_read;
    while ((got = getline(&line, &room, in)) >= 0) {
        as_read.assign(line, (size_t)got);
        while (!as_read.empty() && (as_read.back() == '\n' || as_read.back() == '\r')) as_read.pop_back();
        IncludeNode* node = new IncludeNode(line);
        if (node->error) {
            PrintError("ReadIncludes(%s): Incorrect Include (%s)", path, as_read.c_str());
            delete node;
        } else if (node->is_template) {
            std::string template_path = std::string(res ? res->conf_dir : "") + "templates/" + node->full_name;
            delete node;
            if (template_path == path || BeingRead(stack, Identity(template_path.c_str())))
                PrintError("ReadIncludes(%s): Template recursion detected, not going in", path);
            else
                ReadRuleFile(template_path.c_str(), includes, excludes, stack);
        } else if (node->include) {
            includes->push_back(node);
        } else {
            excludes->push_back(node);
        }
    }
    free(line);
    fclose(in);
    stack.pop_back();
    return 0;
}

}  // namespace

int ReadIncludes(const char* path, std::vector<IncludeNode*>* includes, std::vector<IncludeNode*>* excludes) {
    ReadingStack stack;
    return ReadRuleFile(path, includes, excludes, stack);
}

int ReadIncludes(Client* client, std::vector<IncludeNode*>* includes, std::vector<IncludeNode*>* excludes) {
    PrintMessage("ReadIncludes(%s/%s)", client->name, client->id);
    std::string path = std::string(res ? res->conf_dir : "") + client->base_id + '/' + "includes." +
                       std::to_string(client->number);
    ReadIncludes(path.c_str(), includes, excludes);
    for (IncludeNode* rule : *includes) PrintMessage("INCLUDE %s", rule->full_name);
    for (IncludeNode* rule : *excludes) PrintMessage("EXCLUDE %s", rule->full_name);
    return 0;
}

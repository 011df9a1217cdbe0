#include "selection/IncludeNode.h"

#include <stdio.h>
#include <string.h>

#include "foundation/Text.h"
#include "foundation/Wildcard.h"

std::atomic<int> include_node_count{0};

IncludeNode::IncludeNode()
    : full_name(nullptr),
      include(0),
      file(0),
      directory(0),
      object(0),
      wildcard(0),
      version(0),
      split_file(0),
      is_template(0),
      error(0),
      prefix(nullptr) {
    include_node_count++;
}

IncludeNode::IncludeNode(char* line) : IncludeNode() {
    if (!line) {
        error = 1;
        return;
    }
    char* save = nullptr;
    // Blanks separate the words of a rule line; a tab is part of a word.
    char* keyword = strtok_b(line, " ", &save);
    char* type = keyword ? strtok_b(nullptr, " ", &save) : nullptr;
    // Blanks between the type and the opening quote are not part of the name.
    if (type && save)
        while (*save == ' ') save++;
    char* name = type ? strtok_b(nullptr, "\"", &save) : nullptr;
    if (!keyword || !type || !name) {
        error = 1;
        return;
    }
    if (strcmp(keyword, "include") == 0)
        include = 1;
    else if (strcmp(keyword, "exclude") != 0)
        error = 1;
    if (!SetType(type) || !SetFullName(name)) error = 1;
}

IncludeNode::~IncludeNode() {
    delete[] full_name;
    delete[] prefix;
    include_node_count--;
}

bool IncludeNode::SetType(const char* keyword) {
    file = 0;
    directory = 0;
    object = 0;
    version = 0;
    is_template = 0;
    if (!keyword) return false;
    if (strcmp(keyword, "file") == 0) {
        file = 1;
    } else if (strcmp(keyword, "wfile") == 0) {
        file = 1;
        wildcard = 1;
    } else if (strcmp(keyword, "sfile") == 0) {
        file = 1;
        split_file = 1;
    } else if (strcmp(keyword, "dir") == 0) {
        directory = 1;
    } else if (strcmp(keyword, "wdir") == 0) {
        directory = 1;
        wildcard = 1;
    } else if (strcmp(keyword, "drive") == 0) {
        directory = 2;
    } else if (strcmp(keyword, "net_drive") == 0) {
        directory = 3;
    } else if (strcmp(keyword, "object") == 0) {
        object = 1;
    } else if (strcmp(keyword, "version") == 0) {
        version = 1;
    } else if (strcmp(keyword, "template") == 0) {
        is_template = 1;
    } else {
        return false;
    }
    return true;
}

bool IncludeNode::SetFullName(const char* name) {
    if (!name) return false;
    size_t n = strlen(name);
    char* copy = new char[n + 1];
    memcpy(copy, name, n + 1);
    if (directory && n > 0 && copy[n - 1] == '|') copy[n - 1] = 0;
    delete[] full_name;
    full_name = copy;
    return true;
}

char* IncludeNode::Export() const {
    const char* type = "";
    if (file)
        type = wildcard ? "wfile" : split_file ? "sfile" : "file";
    else if (directory && wildcard)
        type = "wdir";
    else if (directory == 1)
        type = "dir";
    else if (directory == 2)
        type = "drive";
    else if (directory == 3)
        type = "net_drive";
    else if (object)
        type = "object";
    else if (version)
        type = "version";
    else if (is_template)
        type = "template";
    const char* name = full_name ? full_name : "";
    size_t size = strlen(name) + 30;
    char* line = new char[size];
    snprintf(line, size, "%s%s%s \"%s%s\"\n", include ? "include" : "exclude", *type ? " " : "", type, name,
             directory ? "|" : "");
    return line;
}

bool IncludeNode::operator<(const IncludeNode& other) const {
    return casecompare(full_name ? full_name : "", other.full_name ? other.full_name : "") < 0;
}

bool IncludeNodeLess(const IncludeNode* a, const IncludeNode* b) { return *a < *b; }

void ClearRules(std::vector<IncludeNode*>* rules) {
    if (!rules) return;
    for (size_t i = rules->size(); i > 0; i--) delete (*rules)[i - 1];
    rules->clear();
}

namespace {

// The skipping and matching shared by IsIncluded and IsExcluded.
bool Applies(const IncludeNode* rule, int isDirectory) {
    return isDirectory ? !rule->file : !rule->directory;
}

bool Matches(const IncludeNode* rule, const char* path) {
    if (!rule->full_name) return false;
    if (rule->wildcard) return deepwildcompare(path, rule->full_name);
    return strcmp(path, rule->full_name) == 0;
}

}  // namespace

int IsIncluded(const char* path, const std::vector<IncludeNode*>* rules, int defaultResult, int isDirectory) {
    int result = defaultResult;
    if (!path || !rules) return result;
    for (const IncludeNode* rule : *rules) {
        if (!Applies(rule, isDirectory) || !Matches(rule, path)) continue;
        if (!rule->include) return 0;
        result = 1;
    }
    return result;
}

bool IsExcluded(const char* path, const std::vector<IncludeNode*>* rules, int isDirectory) {
    if (!path || !rules) return false;
    for (const IncludeNode* rule : *rules)
        if (Applies(rule, isDirectory) && Matches(rule, path)) return true;
    return false;
}

// One include or exclude rule of a backup set, the rule line syntax, and the
// two tests that decide whether a path is selected by a list of rules.
//
// Rule names use the server's '|' form ("|home|ann"); converting them to
// local paths is the walk's business, never the rule code's.
//
// Ownership: a std::vector<IncludeNode*> owns its rules; ClearRules deletes
// them. Rules are not shared between threads while they are changed.
#pragma once

#include <atomic>
#include <vector>

// Live IncludeNode objects (diagnostics only; not locked).
extern std::atomic<int> include_node_count;

class IncludeNode {
public:
    // All flags 0, no names.
    IncludeNode();
    // Parses `keyword type "name"` (e.g. include dir "|home|ann|"). The line is
    // tokenised in place. On any failure `error` is set and the caller must
    // discard the node.
    explicit IncludeNode(char* line);
    ~IncludeNode();
    IncludeNode(const IncludeNode&) = delete;
    IncludeNode& operator=(const IncludeNode&) = delete;

    // Sets the type flags from a type keyword ("file", "wfile", "sfile",
    // "dir", "wdir", "drive", "net_drive", "object", "version", "template");
    // false for anything else. Must run before SetFullName, which depends on
    // the directory kind.
    bool SetType(const char* keyword);
    // Replaces the name with a copy of `name`; a directory rule loses one
    // trailing '|'. False (nothing changed) for null.
    bool SetFullName(const char* name);
    // The rule as one line ending in "\n", in a new array the caller frees
    // with delete[].
    char* Export() const;

    // By name, ignoring case.
    bool operator<(const IncludeNode& other) const;

    char* full_name;   // owned; null until set
    int include;       // 1 include, 0 exclude
    int file;          // "file", "wfile", "sfile"
    int directory;     // 0 none, 1 "dir"/"wdir", 2 "drive", 3 "net_drive"
    int object;        // a named non-file object
    int wildcard;      // "wfile", "wdir": the name is a pattern
    int version;
    int split_file;    // "sfile": the newest file matching a '?' pattern
    int is_template;   // "template": a template file read in this rule's place
    int error;         // the line could not be parsed
    char* prefix;      // owned, optional; never set by the parser
};

// Orders pointers by the rules they point to (for std::sort).
bool IncludeNodeLess(const IncludeNode* a, const IncludeNode* b);

// Deletes every rule of `rules`, last to first, and empties it.
void ClearRules(std::vector<IncludeNode*>* rules);

// 1 when `path` is selected by `rules`, else 0. Rules with the file flag are
// skipped for directories, rules with a directory kind for files. Any
// matching exclude rule gives 0 at once; a matching include rule gives 1
// unless an exclude matches later; with no match the result is
// `defaultResult`.
int IsIncluded(const char* path, const std::vector<IncludeNode*>* rules, int defaultResult, int isDirectory);
// True at the first applicable rule that matches, include or exclude.
bool IsExcluded(const char* path, const std::vector<IncludeNode*>* rules, int isDirectory);

#include "selection/Walk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/Globals.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/TemporaryNames.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"
#include "foundation/Wildcard.h"
#include "selection/CatalogueLine.h"

namespace {

// Catalogue sizes count a fixed overhead per file, and more for a link.
const long long kFileOverhead = 32;
const long long kLinkOverhead = 14;

// One directory tree walked under one set of sub-rules. The directory being
// read is held open and its children are opened relative to it, so no path
// length limit applies and a link swapped in for a directory is never
// followed.
class TreeWalk {
public:
    TreeWalk(CatalogueSink* sink, std::vector<char*>* lines, const std::vector<IncludeNode*>* rules, int def)
        : sink_(sink), lines_(lines), rules_(rules), default_(def) {}

    // Reads the open directory `d` (closed here) whose logical paths are
    // `local` (local form, for error lines) and `bar` (the server's form).
    void Visit(DIR* d, std::string& local, std::string& bar) {
        int fd = dirfd(d);
        int marker = 0;
        const size_t local_len = local.size(), bar_len = bar.size();
        struct Closer {
            DIR* d;
            ~Closer() { closedir(d); }
        } closer{d};
        while (struct dirent* e = readdir(d)) {
            const char* name = e->d_name;
            if (IsDotOrDotDot(name)) continue;
            struct stat st;
            // Gone or unreadable since readdir: nothing to describe.
            if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            size_t name_len = strlen(name);
            bar.append(1, '|').append(name, name_len);
            if (S_ISDIR(st.st_mode)) {
                local.append(1, '/').append(name, name_len);
                if (IsIncluded(bar.c_str(), rules_, 1, 1) == 1) Descend(fd, name, local, bar);
                local.resize(local_len);
            } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
                if (IsIncluded(bar.c_str(), rules_, default_, 0) == 1) {
                    AddFile(marker, bar, name, name_len, st);
                    marker = 1;
                }
            }
            bar.resize(bar_len);
        }
    }

private:
    void Descend(int parent, const char* name, std::string& local, std::string& bar) {
        if (local == "/proc") return;
        int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
        if (!d) {
            if (fd >= 0) close(fd);
            AppendLine(sink_, lines_, FormatErrorLine(-4, local.c_str()));
            return;
        }
        Visit(d, local, bar);
    }

    void AddFile(int marker, const std::string& bar, const char* name, size_t name_len, const struct stat& st) {
        key_.clear();
        AppendEscaped(key_, bar.c_str(), bar.size());
        short_.clear();
        AppendEscaped(short_, name, name_len);
        long long size = (long long)st.st_size + kFileOverhead;
        if (S_ISLNK(st.st_mode)) {
            size += kLinkOverhead;
            PrintDebug("FOUND LINK (%i): %s", (int)st.st_size, bar.c_str());
        }
        char* line = FormatCatalogueLine(marker, key_.c_str(), kCatalogueFile, CatalogueDepth(key_.c_str()),
                                         short_.c_str(), key_.c_str(), (unsigned)st.st_mtime, size);
        AppendLine(sink_, lines_, line);
    }

    CatalogueSink* sink_;
    std::vector<char*>* lines_;
    const std::vector<IncludeNode*>* rules_;
    int default_;
    std::string key_, short_;  // reused between files
};

// The folder a walk opens for the name it was given: the names SHARE and
// SHARE/... stand for the agent's own share folder.
std::string OpenedPath(const char* dir) {
    if (!*dir) return "/";
    std::string home = res ? res->app_dir : "";
    if (strcmp(dir, "SHARE") == 0) return home + "share";
    if (strncmp(dir, "SHARE/", 6) == 0) return home + "share/" + (dir + 6);
    return dir;
}

typedef std::vector<std::unique_ptr<IncludeNode>> OwnedRules;

// The rules that act inside directory rule `d`, and the default for files
// no rule matches (0 once a wildcard include narrows the directory).
int CollectSubRules(const IncludeNode* d, const OwnedRules& rules, std::vector<IncludeNode*>* sub) {
    int def = 1;
    const char* base = d->full_name;
    size_t base_len = strlen(base);
    for (const auto& r : rules) {
        const char* name = r->full_name;
        if (r->wildcard) {
            if (!wildstartswith(name, base)) continue;
            sub->push_back(r.get());
            if (r->include) def = 0;
        } else if (strncmp(name, base, base_len) == 0 && name[base_len] != 0) {
            sub->push_back(r.get());
        }
    }
    return def;
}

// A single "file" rule: the file itself, or the local file standing for a
// named object of the set.
void ListSingleFile(CatalogueSink* sink, std::vector<char*>* lines, const IncludeNode* rule, int setNumber) {
    std::string copy = rule->full_name;
    std::vector<char> work(copy.begin(), copy.end());
    work.push_back(0);
    bool temporary = false;
    char* mapped = GetTemporaryFilename(work.data(), (unsigned)setNumber, temporary, nullptr);
    std::string path = mapped ? mapped : copy;
    delete[] mapped;
    std::vector<char> local(path.begin(), path.end());
    local.push_back(0);
    ConvertPath(local.data());
    struct stat st;
    if (lstat(local.data(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
        AppendLine(sink, lines, FormatErrorLine(-5, rule->full_name));
        return;
    }
    std::string escaped;
    AppendEscaped(escaped, rule->full_name);
    size_t bar = escaped.rfind('|');
    std::string short_name = bar == std::string::npos ? escaped : escaped.substr(bar + 1);
    long long size = (long long)st.st_size + kFileOverhead;
    if (S_ISLNK(st.st_mode)) {
        size += kLinkOverhead;
        PrintDebug("FOUND LINK (%i): %s", (int)st.st_size, rule->full_name);
    }
    AppendLine(sink, lines,
               FormatCatalogueLine(0, escaped.c_str(), kCatalogueFile, CatalogueDepth(escaped.c_str()),
                                   short_name.c_str(), escaped.c_str(), (unsigned)st.st_mtime, size));
}

// Frees whatever lines are still held when a listing ends, normally or not.
struct LinesGuard {
    std::vector<char*> lines;
    ~LinesGuard() { FreeLines(&lines); }
};

}  // namespace

int LocalListFilesToSaveFromDir(CatalogueSink* sink, char* dir, std::vector<char*>* lines,
                                const std::vector<IncludeNode*>* subRules, int defaultResult, const char* prefix) {
    ConvertPath(dir);
    if (strcmp(dir, "/proc") == 0) return -1;
    std::string opened = OpenedPath(dir);
    DIR* d = opendir(opened.c_str());
    if (!d) {
        AppendLine(sink, lines, FormatErrorLine(-4, dir));
        return 0;
    }
    std::string local = dir;
    std::string bar = dir;
    for (char& c : bar)
        if (c == '/') c = '|';
    TreeWalk walk(sink, lines, subRules, defaultResult);
    walk.Visit(d, local, bar);
    return 0;
}

int LocalListSchizoFile(const char* pattern, std::vector<char*>* lines) {
    PrintMessage("LocalListSchizoFile(%s)", pattern);
    PrintMessage("clean_full == %s", pattern);
    std::string local = pattern;
    for (char& c : local)
        if (c == '|') c = '/';
    size_t cut = local.rfind('/');
    std::string dir = cut == std::string::npos ? std::string() : local.substr(0, cut);
    std::string wanted = cut == std::string::npos ? local : local.substr(cut + 1);
    if (dir.empty() && cut == 0) dir = "/";
    PrintMessage("Searching for %s in %s", wanted.c_str(), dir.c_str());
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;

    std::string escaped;
    AppendEscaped(escaped, pattern);
    size_t last_bar = escaped.rfind('|');
    std::string escaped_dir = last_bar == std::string::npos ? std::string() : escaped.substr(0, last_bar + 1);

    bool found = false;
    time_t best_time = 0;
    struct stat best;
    std::string best_name, clean_full;
    int fd = dirfd(d);
    while (struct dirent* e = readdir(d)) {
        const char* name = e->d_name;
        if (strlen(name) != wanted.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < wanted.size(); i++)
            if (wanted[i] != '?' && wanted[i] != name[i]) same = false;
        if (!same) continue;
        struct stat st;
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (found && st.st_mtime <= best_time) continue;
        found = true;
        best_time = st.st_mtime;
        best = st;
        PrintMessage("Found file: %s", name);
        // The name found comes from the disk: escaped like every other name
        // so that a quote in it cannot break the line.
        best_name.clear();
        AppendEscaped(best_name, name);
        clean_full = escaped_dir + best_name;
        PrintMessage("clean_full == %s", clean_full.c_str());
    }
    closedir(d);
    if (!found) return 0;
    char* line = FormatCatalogueLine(0, pattern, kCatalogueFile, CatalogueDepth(pattern), best_name.c_str(),
                                     clean_full.c_str(), (unsigned)best.st_mtime, (long long)best.st_size);
    PrintMessage("RESULT: %s", line);
    lines->push_back(line);
    return 0;
}

int LocalListFilesToSave(CatalogueSink* sink, std::vector<IncludeNode*>* rules, int setNumber) {
    PrintMessage("LocalListFilesToSave()");
    long start = Clock();
    if (!rules || rules->empty()) return -1;

    OwnedRules objects, files;
    for (IncludeNode* r : *rules) {
        std::unique_ptr<IncludeNode> rule(r);
        if (rule->object) {
            if (rule->full_name && strncmp(rule->full_name, "VSS", 3) == 0) continue;
            objects.push_back(std::move(rule));
        } else {
            files.push_back(std::move(rule));
        }
    }
    rules->clear();
    // A rule without a name cannot select anything; keeping them out spares
    // every test below a null check.
    auto unnamed = [](const std::unique_ptr<IncludeNode>& r) { return r->full_name == nullptr; };
    objects.erase(std::remove_if(objects.begin(), objects.end(), unnamed), objects.end());
    files.erase(std::remove_if(files.begin(), files.end(), unnamed), files.end());

    LinesGuard held;
    std::stable_sort(objects.begin(), objects.end(),
                     [](const std::unique_ptr<IncludeNode>& a, const std::unique_ptr<IncludeNode>& b) { return *a < *b; });
    unsigned now = (unsigned)time(nullptr);
    for (const auto& o : objects) {
        if (!o->include) continue;
        const char* n = o->full_name;
        AppendLine(sink, &held.lines, FormatCatalogueLine(1, n, kCatalogueObject, CatalogueDepth(n), n, n, now, 0));
    }

    for (const auto& rule : files) {
        if (!rule->include) continue;
        if (rule->directory && !rule->wildcard) {
            std::vector<IncludeNode*> sub;
            int def = CollectSubRules(rule.get(), files, &sub);
            if (rule->prefix)
                PrintMessage("Using include: %s (%u excludes) with prefix %s", rule->full_name, (unsigned)sub.size(),
                             rule->prefix);
            else
                PrintMessage("Using include: %s (%u excludes)", rule->full_name, (unsigned)sub.size());
            // The walk converts its argument in place; the rule keeps its name
            // for the sub-rule lists of the rules after it.
            std::vector<char> dir(rule->full_name, rule->full_name + strlen(rule->full_name) + 1);
            LocalListFilesToSaveFromDir(sink, dir.data(), &held.lines, &sub, def, rule->prefix);
        } else if (!rule->file) {
            continue;
        } else if (rule->split_file) {
            if (strcmp(rule->full_name, "*.*") == 0) continue;
            LocalListSchizoFile(rule->full_name, &held.lines);
            if (held.lines.size() >= kCatalogueBlockLines) FlushLines(sink, &held.lines);
        } else if (!rule->wildcard) {
            ListSingleFile(sink, &held.lines, rule.get(), setNumber);
        }
    }

    PrintMessage("Files Listed in %2.2fs", (double)(Clock() - start) / (double)ClockTickRate());
    FlushLines(sink, &held.lines);
    return 0;
}

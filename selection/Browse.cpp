#include "selection/Browse.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>

#include "foundation/Log.h"
#include "foundation/Paths.h"

namespace {

const size_t kRootListingSize = 1048576;

// Owns the nodes of a listing for the span of one call.
struct NodeList {
    std::vector<FileSystemNode*> nodes;
    ~NodeList() {
        for (size_t i = nodes.size(); i > 0; i--) delete nodes[i - 1];
    }
};

char* NewText(const std::string& text) {
    char* out = new char[text.size() + 1];
    memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

}  // namespace

char* ListRoot() {
    PrintMessage("Je suis un UNIX");
    char* out = new char[kRootListingSize];
    snprintf(out, kRootListingSize, "1\ndrive 0 0 \"|\"");
    PrintDebug("DONE");
    return out;
}

int ListDir(char* dir, std::vector<FileSystemNode*>* entries) {
    PrintMessage("ListDir(%s)", dir);
    ConvertPath(dir);
    if (strcmp(dir, "//proc/") == 0) return -1;
    DIR* d = opendir(dir);
    if (!d) {
        PrintMessage("Could not open %s", dir);
        return 0;
    }
    PrintDebug("Opened dir %s", dir);
    size_t len = strlen(dir);
    bool ends_in_separator = len > 0 && dir[len - 1] == '/';
    std::string path;
    while (struct dirent* e = readdir(d)) {
        path.assign(dir);
        if (!ends_in_separator) path.append(1, '/');
        path.append(e->d_name);
        struct stat st;
        // An entry removed since readdir is simply not listed.
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (IsDotOrDotDot(e->d_name)) continue;
            entries->push_back(new FileSystemNode(e->d_name, 1, 0, (unsigned)st.st_mtime, (long long)st.st_size));
        } else if (S_ISREG(st.st_mode)) {
            entries->push_back(new FileSystemNode(e->d_name, 0, 1, (unsigned)st.st_mtime, (long long)st.st_size));
        }
    }
    closedir(d);
    PrintDebug("~ListDir(%s)", dir);
    return 0;
}

char* ListDir(char* dir) {
    NodeList list;
    ListDir(dir, &list.nodes);
    PrintDebug("Creating string from list of files");
    std::sort(list.nodes.begin(), list.nodes.end(), FileSystemNodeLess);
    // Sized by the text itself: a fixed allowance per entry cannot hold
    // every 64-bit size with a long type word.
    std::string text = std::to_string(list.nodes.size());
    for (FileSystemNode* node : list.nodes) node->Print(text);
    PrintDebug("Sending List of Files");
    PrintMessage("%s", text.c_str());
    return NewText(text);
}

char* ListDirLite(char* dir) {
    NodeList list;
    ListDir(dir, &list.nodes);
    std::sort(list.nodes.begin(), list.nodes.end(), FileSystemNodeLess);
    std::string text;
    for (size_t i = 0; i < list.nodes.size(); i++) {
        if (i) text.append(1, '\n');
        text.append(list.nodes[i]->name);
    }
    return NewText(text);
}

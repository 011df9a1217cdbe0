#include "selection/FileSystemNode.h"

#include <stdio.h>
#include <string.h>

#include "foundation/Text.h"

std::atomic<int> file_system_node_count{0};

namespace {

char* CopyOf(const char* text) {
    size_t n = strlen(text);
    char* copy = new char[n + 1];
    memcpy(copy, text, n + 1);
    return copy;
}

}  // namespace

FileSystemNode::FileSystemNode() : directory(0), file(0), other(0), time(0), size(0), name(nullptr) {
    file_system_node_count++;
}

FileSystemNode::FileSystemNode(const char* n, int d, int f, unsigned t, long long s)
    : directory(d), file(f), other(0), time(t), size(s), name(CopyOf(n ? n : "")) {
    file_system_node_count++;
}

FileSystemNode::~FileSystemNode() {
    delete[] name;
    file_system_node_count--;
}

bool FileSystemNode::SetName(const char* n) {
    if (!n) return false;
    char* copy = CopyOf(n);
    delete[] name;
    name = copy;
    return true;
}

// Ranked rather than tested pairwise so that every mix of flags gives a
// strict weak order (std::sort needs one): directory kinds, then plain
// regular files, then everything else (other entries, unflagged objects).
static int Rank(const FileSystemNode& n) {
    if (n.directory) return 0;
    if (n.other) return 2;
    return n.file ? 1 : 2;
}

bool FileSystemNode::operator<(const FileSystemNode& b) const {
    int ra = Rank(*this), rb = Rank(b);
    if (ra != rb) return ra < rb;
    return casecompare(name ? name : "", b.name ? b.name : "") < 0;
}

const char* FileSystemNode::TypeWord() const {
    switch (directory) {
    case 1: return "dir";
    case 2: return "drive";
    case 3: return "net_drive";
    default: return file ? "file" : "object";
    }
}

void FileSystemNode::Print(std::string& out) const {
    char head[80];
    snprintf(head, sizeof(head), "\n%s %lli %u \"", TypeWord(), size, time);
    out.append(head);
    out.append(name ? name : "");
    out.append(1, '"');
}

bool FileSystemNodeLess(const FileSystemNode* a, const FileSystemNode* b) { return *a < *b; }

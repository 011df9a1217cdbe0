#include "selection/VersionNode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

int version_node_count = 0;
int version_node_create = 0;
int filename_node_count = 0;

namespace {

char* Duplicate(const char* text) {
    if (!text) return nullptr;
    size_t n = strlen(text);
    char* copy = new char[n + 1];
    memcpy(copy, text, n + 1);
    return copy;
}

void Replace(char*& field, const char* text) {
    delete[] field;
    field = Duplicate(text);
}

// Index of the quote that closes "MD5('...": the first ')' right after a
// quote that no backslash precedes, searched from the second character.
size_t ClosingQuote(const std::string& line) {
    for (size_t i = 2; i < line.size(); i++) {
        if (line[i] == ')' && line[i - 1] == '\'' && line[i - 2] != '\\') return i - 1;
    }
    return std::string::npos;
}

}  // namespace

VersionNode::VersionNode()
    : full_name(nullptr),
      hash_name(nullptr),
      hash_file(nullptr),
      hash_cryptfile(nullptr),
      last_hash_file(nullptr),
      file_date(0),
      diff_date(0),
      backup_date(0),
      last_date(0),
      size(0),
      stored_size(0),
      row{0, 0, 0, 0, 0, 0},
      sort_key(0) {
    version_node_count++;
    version_node_create++;
}

VersionNode::VersionNode(const char* text) : VersionNode() {
    if (!text) return;
    std::string line = text;
    // "0MD5('" is six characters: the name starts at the seventh.
    size_t close = ClosingQuote(line);
    if (close == std::string::npos || close < 6) return;
    SetFullName(line.substr(6, close - 6).c_str());
    // The fifth ", '" opens the modification time; the size is the fifth
    // token from there.
    size_t at = close + 2;
    for (int found = 0; found < 5; found++) {
        at = line.find(", '", found ? at + 3 : at);
        if (at == std::string::npos) return;
    }
    char* rest = &line[at];
    char* save = nullptr;
    int index = 0;
    for (char* token = strtok_r(rest, ", '", &save); token; token = strtok_r(nullptr, ", '", &save), index++) {
        if (index == 0) file_date = (int32_t)atol(token);
        if (index == 4) {
            long long value = 0;
            if (sscanf(token, "%lli", &value) == 1) size = value;
            break;
        }
    }
}

VersionNode::~VersionNode() {
    delete[] full_name;
    delete[] hash_name;
    delete[] hash_file;
    delete[] hash_cryptfile;
    delete[] last_hash_file;
    version_node_count--;
}

void VersionNode::SetFullName(const char* text) { Replace(full_name, text); }
void VersionNode::SetHashName(const char* text) { Replace(hash_name, text); }
void VersionNode::SetHashFile(const char* text) { Replace(hash_file, text); }
void VersionNode::SetHashCryptfile(const char* text) { Replace(hash_cryptfile, text); }
void VersionNode::SetLastHashFile(const char* text) { Replace(last_hash_file, text); }

void VersionNode::Print() {
    if (full_name) printf("full_name == %s\n", full_name);
    if (hash_name) printf("hash_name == %s\n", hash_name);
    if (hash_file) printf("hash_file == %s\n", hash_file);
    if (hash_cryptfile) printf("hash_cryptfile == %s\n", hash_cryptfile);
    printf("file_date == %i\n", file_date);
    printf("backup_date == %i\n", backup_date);
    printf("diff_date == %i\n", (int)diff_date);
    printf("backup_date == %i\n", backup_date);
}

void VersionNode::Print(char* out, size_t out_size) {
    size_t used = strnlen(out, out_size);
    if (used + 1 >= out_size) return;
    snprintf(out + used, out_size - used, " %lli %u \"%s\"", (long long)size, (unsigned)file_date,
             full_name ? full_name : "");
}

FilenameNode::FilenameNode(const char* hashName, const char* fullName)
    : hash_name(Duplicate(hashName)), full_name(Duplicate(fullName)) {
    filename_node_count++;
}

FilenameNode::~FilenameNode() {
    delete[] hash_name;
    delete[] full_name;
    filename_node_count--;
}

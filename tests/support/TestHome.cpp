#include "support/TestHome.h"

#include <dirent.h>
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "crypto/Md5.h"
#include "foundation/ReplacementFile.h"

std::string MakeTempDir() {
    char tmpl[] = "/tmp/zeltest.XXXXXX";
    char* made = mkdtemp(tmpl);
    return made ? std::string(made) : std::string();
}

static int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveTree(const std::string& path) {
    if (path.size() > 5 && path.compare(0, 5, "/tmp/") == 0) nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SetTime(const std::string& path, long seconds) {
    struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
    lutimes(path.c_str(), tv);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool MakeMemoryDevice(const std::string& path, bool full) {
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, full ? 7 : 3)) == 0;
}

bool IsCharDevice(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool HasTemporaryLeftovers(const std::string& dir) {
    for (const std::string& name : Entries(dir))
        if (name.compare(0, strlen(kReplacementPrefix), kReplacementPrefix) == 0) return true;
    return false;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = (char)(gen() & 0xff);
    return s;
}

std::string Md5Text(const std::string& bytes) {
    MD5 m;
    m.Process(bytes.data(), (int)bytes.size());
    char text[33];
    m.GetHash(text);
    return text;
}

std::string ToWire(std::string path) {
    for (char& c : path)
        if (c == '/') c = '|';
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::stringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string& path, const std::string& content, int mode) {
    // Parent folders are created as needed.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    chmod(path.c_str(), mode);
}

TestHome::TestHome(bool daemon) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd))) old_cwd_ = cwd;
    dir_ = MakeTempDir();
    std::string program = dir_ + "/zelagent", option = "--test";
    WriteWholeFile(program, "#!/bin/sh\n", 0755);
    char* argv[3] = {&program[0], &option[0], nullptr};
    InitVariables(daemon ? 1 : 2, argv);
}

TestHome::~TestHome() {
    DestroyVariables();
    if (!old_cwd_.empty()) (void)!chdir(old_cwd_.c_str());
    RemoveTree(dir_);
}

std::string TestHome::path(const std::string& relative) const { return dir_ + "/" + relative; }

// File and folder diagnostics of the command line. They run as the user who
// typed them and act on the paths given, nothing else.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/CommandLine.h"
#include "agent/Options.h"
#include "crypto/Crc32.h"
#include "crypto/Md5.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/Commands.h"
#include "foundation/Execute.h"
#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"

namespace {

const unsigned long long kDefaultWriteStep = 1048576;
const unsigned long long kMaxWriteStep = 67108864;
const unsigned kFilesPerFolder = 1000;
const size_t kReadBlock = 1048576;

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

bool ParseCount(const char* text, unsigned long long& out) {
    char* end = nullptr;
    errno = 0;
    out = strtoull(text, &end, 10);
    return end != text && !*end && errno == 0 && text[0] != '-';
}

int Usage() {
    PrintHelp();
    return kExitSuccess;
}

// One line of the ".MD5" index of a numbered file: number, digest,
// modification time, size.
bool IndexLine(const std::string& dir, int number, std::string& line) {
    char path[1100];
    snprintf(path, sizeof(path), "%s/%03i", dir.c_str(), number);
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    MD5 md5;
    md5.HashFile(path);
    char digest[33];
    md5.GetHash(digest);
    char text[1200];
    snprintf(text, sizeof(text), "%03i %s %u %lli", number, digest, (unsigned)st.st_mtime, (long long)st.st_size);
    line = text;
    return true;
}

}  // namespace

int OptionSortFile(int, char** argv) {
    FILE* f = fopen(argv[2], "re");
    if (!f) {
        PrintError("Could not open %s for reading", argv[2]);
        return kExitFailure;
    }
    std::vector<std::string> lines;
    char* line = nullptr;
    size_t room = 0;
    ssize_t n;
    while ((n = getline(&line, &room, f)) >= 0) lines.emplace_back(line, strcspn(line, "\r\n"));
    free(line);
    fclose(f);
    PrintMessage("IsRead");
    std::stable_sort(lines.begin(), lines.end(),
                     [](const std::string& a, const std::string& b) { return compareLessChar(a.c_str(), b.c_str()); });
    PrintMessage("Is Sorted");
    for (const std::string& l : lines) PrintMessage("Line is %s", l.c_str());
    return kExitSuccess;
}

int OptionVerifyDirFile(int, char** argv) {
    std::string dir = argv[2];
    if (!VerifyFolderExists(dir.c_str())) {
        PrintMessage("Dir %s does not exist", dir.c_str());
        return kExitFailure;
    }
    std::vector<std::string> current;
    std::string line;
    for (int i = 0; i < 1000 && IndexLine(dir, i, line); i++) current.push_back(line);
    std::string index = dir + "/.MD5";
    FILE* f = fopen(index.c_str(), "re");
    if (!f) {
        PrintMessage("No index found, creating");
        ReplacementFile created(index);
        FILE* out = created.Open() ? created.stream() : nullptr;
        if (!out) {
            PrintError("Could not open %s for writing", index.c_str());
            return kExitFailure;
        }
        for (const std::string& l : current) fprintf(out, "%s\n", l.c_str());
        return created.Commit() ? kExitSuccess : kExitFailure;
    }
    std::vector<std::string> stored;
    char text[1200];
    while (fgets(text, sizeof(text), f)) stored.emplace_back(text, strcspn(text, "\r\n"));
    fclose(f);
    if (stored.size() != current.size()) {
        PrintMessage("Ma pile md5s n'est pas la bonne taille (%i / %i / %s)", (int)stored.size(),
                     (int)current.size(), dir.c_str());
        return kExitFailure;
    }
    bool same = true;
    for (size_t i = 0; i < stored.size(); i++) {
        if (stored[i] == current[i]) continue;
        PrintMessage("Index says %s, file is %s", stored[i].c_str(), current[i].c_str());
        same = false;
    }
    return same ? kExitSuccess : kExitFailure;
}

int OptionWriteFile(int argc, char** argv) {
    unsigned long long size, step = kDefaultWriteStep;
    if (!ParseCount(argv[3], size) || (argc > 4 && !ParseCount(argv[4], step)) || step == 0 ||
        step > kMaxWriteStep)
        return Usage();
    ReplacementFile out(argv[2]);
    if (!out.Open(0644, false, true)) {
        PrintError("Could not open %s for writing: %s", argv[2], strerror(errno));
        return kExitFailure;
    }
    std::vector<char> zeros((size_t)step, 0);
    double began = Seconds();
    unsigned long long written = 0;
    while (written < size) {
        size_t chunk = (size_t)std::min<unsigned long long>(step, size - written);
        ssize_t n = write(out.fd(), zeros.data(), chunk);
        if (n <= 0) break;
        written += (unsigned long long)n;
    }
    // Only a whole file replaces the old one.
    bool ok = written == size && out.Commit(false);
    PrintMessage("Wrote %llu bytes with step %llu in %2.2fs", written, step, Seconds() - began);
    return ok ? kExitSuccess : kExitFailure;
}

int OptionManyFiles(int, char** argv) {
    unsigned long long count;
    if (!ParseCount(argv[3], count) || count > 0xffffffffULL) return Usage();
    double began = Seconds(), last = began;
    for (unsigned i = 0; i < count; i++) {
        char folder[1100], file[1200];
        snprintf(folder, sizeof(folder), "%s/%04u", argv[2], i / kFilesPerFolder);
        snprintf(file, sizeof(file), "%s/%08u", folder, i);
        if (i % kFilesPerFolder == 0 && mkdir(folder, 0755) != 0 && errno != EEXIST) {
            PrintError("Failed with %s (%s)", folder, strerror(errno));
            return kExitFailure;
        }
        int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            PrintError("Failed with %s (%s)", file, strerror(errno));
            return kExitFailure;
        }
        close(fd);
        if ((i + 1) % kFilesPerFolder == 0 || i + 1 == count) {
            double now = Seconds();
            PrintMessage("Counter %u in %2.2fs (%2.2fs)", i + 1, now - began, now - last);
            last = now;
        }
    }
    return kExitSuccess;
}

int OptionRead(int, char** argv) {
    int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PrintError("Could not open %s for reading: %s", argv[2], strerror(errno));
        return kExitFailure;
    }
    std::vector<char> buffer(kReadBlock);
    double began = Seconds();
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) {
    }
    close(fd);
    PrintMessage("It took %2.2fs", Seconds() - began);
    return n == 0 ? kExitSuccess : kExitFailure;
}

int OptionSize(int, char** argv) {
    char format[32];
    snprintf(format, sizeof(format), "%%s: %si", "%ll");
    long long size = GetFileSize(argv[2]);
    if (size < 0) return kExitFailure;
    PrintMessage(format, argv[2], size);
    return kExitSuccess;
}

int OptionCount(int, char** argv) {
    if (!VerifyFolderExists(argv[2])) {
        PrintMessage("Dir %s does not exist", argv[2]);
        return kExitFailure;
    }
    PrintMessage("%s has %i files", argv[2], GetFileCount(argv[2], 0));
    return kExitSuccess;
}

int OptionCopy(int, char** argv) {
    PrintMessage("gonna copy");
    if (!Copy(argv[2], argv[3])) {
        PrintError("Could not copy %s to %s", argv[2], argv[3]);
        return kExitFailure;
    }
    PrintMessage("done");
    return kExitSuccess;
}

int OptionThreadCopy(int, char** argv) {
    CopyObject* copy = new CopyObject(argv[2], argv[3]);
    if (!StartThread(ThreadCopy, copy)) {
        delete copy;
        return kExitFailure;
    }
    while (!copy->done) {
        PrintMessage("Waiting for copy to finish");
        Wait(1);
    }
    PrintMessage("Copy is finished");
    delete copy;
    return kExitSuccess;
}

int OptionUnlink(int, char** argv) {
    struct stat st;
    bool folder = lstat(argv[2], &st) == 0 && S_ISDIR(st.st_mode);
    if ((folder ? rmdir(argv[2]) : unlink(argv[2])) == 0) return kExitSuccess;
    PrintError("Unlink Error (%s): %s", argv[2], strerror(errno));
    return kExitFailure;
}

int OptionRemoveTree(int, char** argv) { return RemoveDir(argv[2]) ? kExitSuccess : kExitFailure; }

int OptionSymlink(int, char** argv) {
    if (symlink(argv[2], argv[3]) == 0) {
        PrintMessage("symlink success");
        return kExitSuccess;
    }
    int error = errno;
    PrintMessage("symlink error %i (%s)", error, strerror(error));
    return kExitFailure;
}

int OptionDeconstruct(int, char** argv) {
    int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PrintError("Could not open %s for reading: %s", argv[2], strerror(errno));
        return kExitFailure;
    }
    std::vector<char> block(kSingleFileBlock);
    ssize_t n;
    while ((n = read(fd, block.data(), block.size())) > 0)
        PrintMessage("READ %i -- %u", (int)n, (unsigned)ltree_crc32_sz(block.data(), (int)n));
    close(fd);
    return n == 0 ? kExitSuccess : kExitFailure;
}

int OptionChmod(int, char** argv) {
    return FormatExecute("chmod +x %s", ShellQuote(argv[2]).c_str()) == 0 ? kExitSuccess : kExitFailure;
}

int OptionFree(int, char**) {
    // Disk space is not measured on this platform.
    char text[kSizeTextLength];
    PrintMessage("Free Space: %s", PrintSize(0LL, text));
    PrintMessage("Disk Size: %s", PrintSize(0LL, text));
    return kExitSuccess;
}

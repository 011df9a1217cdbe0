// Diagnostics of the text helpers, time, processes, threads, memory and the
// platform. The endless ones (--timer, --rand, --printer) end on SIGTERM or
// SIGINT, or when killed.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/CommandLine.h"
#include "agent/Options.h"
#include "core/Globals.h"
#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/Formatting.h"
#include "foundation/Log.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"
#include "foundation/Wildcard.h"

namespace {

const size_t kMegabyte = 1048576;
const unsigned long kMaxVectorCount = 100000000;

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// argv[2..] joined with blanks: a command may be typed unquoted.
std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 2; i < argc; i++) {
        if (i > 2) text += ' ';
        text += argv[i];
    }
    return text;
}

bool ParseLong(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    out = strtol(text, &end, 10);
    return end != text && !*end && errno == 0;
}

int Usage() {
    PrintHelp();
    return kExitSuccess;
}

void* PthreadCheck(void*) { return nullptr; }

}  // namespace

int OptionStorage(int, char** argv) {
    const std::string& script = external_programs().storage_script;
    std::string path = script[0] == '/' ? script : std::string(res->scripts_dir) + script;
    FormatExecute("%s %s &", ShellQuote(path.c_str()).c_str(), ShellQuote(argv[2]).c_str());
    return kExitSuccess;
}

int OptionSophos(int, char**) {
    // The antivirus check does nothing in this agent; what remains to show
    // is the memory the process holds.
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "re");
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        fclose(f);
    }
    char text[kSizeTextLength];
    PrintMessage("Mem (%s)", PrintSize((long long)resident * sysconf(_SC_PAGESIZE), text));
    return kExitSuccess;
}

int OptionWildCompare(int, char** argv) {
    PrintMessage("Est-ce que %s correspond a %s? %s", argv[2], argv[3], wildcompare(argv[2], argv[3]) ? "YES" : "NO");
    return kExitSuccess;
}

int OptionDeepWildCompare(int, char** argv) {
    PrintMessage("Est-ce que %s correspond a %s? %s", argv[2], argv[3],
                 deepwildcompare(argv[2], argv[3]) ? "YES" : "NO");
    return kExitSuccess;
}

int OptionWildStartsWith(int, char** argv) {
    PrintMessage("Est-ce que %s commence par %s? %s", argv[2], argv[3],
                 wildstartswith(argv[2], argv[3]) ? "YES" : "NO");
    return kExitSuccess;
}

int OptionEndsWith(int, char** argv) {
    PrintMessage(endswith(argv[2], argv[3]) ? "OUI" : "NON");
    return kExitSuccess;
}

int OptionIconv(int, char** argv) {
    char* result = StringEncode(argv[2], argv[3], argv[4]);
    if (!result) {
        PrintMessage("ICONV FAILED...");
        return kExitFailure;
    }
    PrintMessage("RESULT IS (%s)", result);
    delete[] result;
    return kExitSuccess;
}

int OptionReplace(int, char** argv) {
    char* result = replacequotes(argv[2]);
    PrintMessage("%s", result ? result : "");
    delete[] result;
    return kExitSuccess;
}

int OptionExecute(int argc, char** argv) {
    int rc = FormatExecute("%s", JoinArguments(argc, argv).c_str());
    PrintMessage("Execute returns %i", rc);
    return rc == 0 ? kExitSuccess : kExitFailure;
}

int OptionExec(int argc, char** argv) {
    char* result = FormatExecuteWithResult("%s", JoinArguments(argc, argv).c_str());
    if (!result) return kExitFailure;
    PrintMessage("RES: %s", result);
    delete[] result;
    return kExitSuccess;
}

int OptionCheckSmb(int, char**) {
    const char* user = getenv("USER");
    PrintMessage("ENV: %s", user ? user : "");
    return kExitSuccess;
}

int OptionUid(int, char**) {
    PrintMessage("Real uid: %u", (unsigned)getuid());
    PrintMessage("Effective uid: %u", (unsigned)geteuid());
    PrintMessage("Real gid: %u", (unsigned)getgid());
    PrintMessage("Effective gid: %u", (unsigned)getegid());
    return kExitSuccess;
}

int OptionPlugins(int, char**) {
    PrintMessage("plugins available...");
    return kExitSuccess;
}

int OptionTimer(int, char**) {
    long start = Clock();
    while (!get_kill()) {
        Wait(1);
        long now = Clock();
        char elapsed[kTimeTextLength];
        PrintTime(start, now, elapsed, sizeof(elapsed));
        PrintMessage("%2.0f %2.0f %s ", (double)clock() / CLOCKS_PER_SEC, (double)(now - start) / ClockTickRate(),
                     elapsed);
    }
    return kExitSuccess;
}

int OptionTime(int, char** argv) {
    long t;
    if (!ParseLong(argv[2], t)) return Usage();
    time_t when = (time_t)t;
    struct tm local;
    if (!localtime_r(&when, &local)) return kExitFailure;
    PrintMessage("On etait le %02i/%02i/%i @ %02i:%02i:%02i", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
                 local.tm_hour, local.tm_min, local.tm_sec);
    return kExitSuccess;
}

int OptionDeb(int, char** argv) {
    // The first time read as UTC and given in local seconds, the second
    // read as local and given in UTC.
    long utc, local;
    if (!ParseLong(argv[2], utc) || !ParseLong(argv[3], local)) return Usage();
    time_t first = (time_t)utc, second = (time_t)local;
    struct tm a, b;
    if (!localtime_r(&first, &a) || !localtime_r(&second, &b)) return kExitFailure;
    PrintMessage("%li / %li", utc + a.tm_gmtoff, local - b.tm_gmtoff);
    return kExitSuccess;
}

int OptionRand(int, char**) {
    srand((unsigned)time(nullptr));
    while (!get_kill()) {
        PrintScreen("rand: %i\n", rand());
        Wait(1);
    }
    return kExitSuccess;
}

int OptionMutex(int, char**) {
    pthread_mutex_t m;
    mutex_create(m, "mutex_test");
    PrintMessage("test1");
    mutex_lock(m, "--mutex");
    PrintMessage("test2");
    mutex_unlock(m, "--mutex");
    PrintMessage("test3");
    mutex_destroy(m);
    return kExitSuccess;
}

int OptionAllocate(int, char**) {
    // Stops at the machine's physical memory: beyond it the kernel would
    // start killing processes rather than refuse the allocation.
    unsigned long limit = (unsigned long)(sysconf(_SC_PHYS_PAGES) * (sysconf(_SC_PAGESIZE) / 1024) / 1024);
    std::vector<char*> blocks;
    bool failed = false;
    while (!get_kill() && blocks.size() < limit) {
        char* block = (char*)malloc(kMegabyte);
        if (!block) {
            failed = true;
            break;
        }
        blocks.push_back(block);
        PrintMessage("Allocated 1MB (%u)", (unsigned)blocks.size());
        memset(block, 1, kMegabyte);
        PrintMessage("filled with ones");
    }
    if (failed || blocks.size() >= limit) PrintMessage("Could not allocate...");
    for (char* block : blocks) free(block);
    return kExitSuccess;
}

int OptionVectors(int, char** argv) {
    long count;
    if (!ParseLong(argv[2], count) || count < 0 || (unsigned long)count > kMaxVectorCount) return Usage();
    double began = Seconds();
    std::vector<long> numbers;
    for (long i = 0; i < count; i++) numbers.push_back(i);
    PrintMessage("Vector creation in %2.2fs", Seconds() - began);
    began = Seconds();
    std::string text;
    for (long i = 0; i < count; i++) text += std::to_string(numbers[(size_t)i]) + " ";
    PrintMessage("String creation in %2.2fs", Seconds() - began);
    began = Seconds();
    int tokens = 0;
    char* save = nullptr;
    for (char* t = strtok_b(&text[0], " ", &save); t; t = strtok_b(nullptr, " ", &save)) tokens++;
    PrintMessage("Tokenisation %i in %2.2fs", tokens, Seconds() - began);
    return kExitSuccess;
}

int OptionBufsiz(int, char**) {
    PrintMessage("Buffer size is %i", (int)BUFSIZ);
    return kExitSuccess;
}

int OptionPrinter(int, char**) {
    while (!get_kill()) {
        PrintMessage("output");
        Wait(2);
    }
    return kExitSuccess;
}

int OptionCheckBugPthread(int, char**) {
    PrintMessage("starting pthread creation");
    pthread_t thread;
    if (pthread_create(&thread, nullptr, PthreadCheck, nullptr) != 0 || pthread_join(thread, nullptr) != 0) {
        PrintError("pthread: %s", strerror(errno));
        return kExitFailure;
    }
    PrintMessage("pthread joined successfuly.  No Bug found");
    return kExitSuccess;
}

int OptionCheckBugReaddir(int, char**) {
    std::string name = "zelagent-" + std::to_string((long)getpid()) + "-";
    name.resize(255, 'x');
    std::string path = "/tmp/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        PrintError("Could not create %s: %s", path.c_str(), strerror(errno));
        return kExitFailure;
    }
    close(fd);
    bool listed = false;
    if (DIR* d = opendir("/tmp")) {
        while (struct dirent* e = readdir(d))
            if (name == e->d_name) listed = true;
        closedir(d);
    }
    unlink(path.c_str());
    if (!listed) {
        PrintError("readdir did not list %s", path.c_str());
        return kExitFailure;
    }
    PrintMessage("Everything is OK");
    return kExitSuccess;
}

int OptionCheckBugException(int, char**) {
    PrintMessage("Before Try");
    try {
        PrintMessage("Throwing exception");
        throw 42;
    } catch (int e) {
        PrintMessage("Exception %i caught", e);
    }
    PrintMessage("Everything is OK");
    return kExitSuccess;
}

int OptionNothing(int, char**) { return kExitSuccess; }

// Listing speed of the backup walk: a generated tree of files is listed with
// one "include dir" rule into a sink that only counts, beside `find` printing
// path, size and time of the same tree, and beside a bare readdir+lstat walk
// (the floor any listing pays). Five alternated runs each, warm cache; the
// medians make the figure.
//
// Usage: bench_walk [files] [folders]
//        (default 200000 files in 2000 folders; 20000 in 200 when quick)
#include <dirent.h>
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

#include "BenchSupport.h"
#include "foundation/FileOps.h"
#include "selection/Walk.h"

namespace {

struct CountingSink : CatalogueSink {
    size_t lines = 0, bytes = 0, blocks = 0;
    void SendBlock(std::vector<char*>& block) override {
        blocks++;
        lines += block.size();
        for (char* l : block) bytes += strlen(l);
    }
};

size_t BareWalk(int parent, const char* name) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) return 0;
    size_t n = 0;
    while (struct dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode))
            n += BareWalk(dirfd(d), e->d_name);
        else
            n++;
    }
    closedir(d);
    return n;
}

double ListOnce(const std::string& root, CountingSink& sink) {
    std::vector<IncludeNode*> rules;
    std::string rule = "include dir \"" + root + "|\"";
    std::replace(rule.begin(), rule.end(), '/', '|');
    std::vector<char> text(rule.begin(), rule.end());
    text.push_back(0);
    rules.push_back(new IncludeNode(text.data()));
    double t = Now();
    LocalListFilesToSave(&sink, &rules, 1);
    return Now() - t;
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? atoi(argv[1]) : QuickRun() ? 20000 : 200000;
    int folders = argc > 2 ? atoi(argv[2]) : files / 100;
    if (files <= 0 || folders <= 0) return 2;
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string root = tmpl;

    double t = Now();
    for (int f = 0; f < folders; f++) {
        std::string dir = root + "/folder" + std::to_string(f);
        mkdir(dir.c_str(), 0755);
        for (int i = f; i < files; i += folders) {
            std::string p = dir + "/file-" + std::to_string(i) + ".dat";
            int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                if (write(fd, p.c_str(), (size_t)(i % 200)) < 0) {
                }
                close(fd);
            }
        }
    }
    fprintf(stderr, "tree of %d files in %d folders built in %.1fs under %s\n", files, folders, Now() - t,
            root.c_str());

    // Keep the walk's progress messages out of the figures.
    fflush(stdout);
    int saved = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    std::string find = "find '" + root + "' -printf '%p %s %T@\\n' > /dev/null";
    if (system(find.c_str()) != 0) fprintf(stderr, "find failed\n");  // warms the cache

    std::vector<double> find_rates, bare_rates, list_rates;
    CountingSink sink;
    for (int run = 0; run < kFigureRuns; run++) {
        t = Now();
        if (system(find.c_str()) != 0) break;
        find_rates.push_back(files / (Now() - t));

        t = Now();
        size_t n = BareWalk(AT_FDCWD, root.c_str());
        bare_rates.push_back(files / (Now() - t));
        if ((int)n != files) fprintf(stderr, "bare walk saw %zu files\n", n);

        sink = CountingSink();
        dup2(null_fd, 1);
        double d = ListOnce(root, sink);
        fflush(stdout);
        dup2(saved, 1);
        list_rates.push_back(files / d);
    }
    close(null_fd);
    close(saved);

    printf("walk listing: %zu lines (%zu blocks, %.1f MB of text)\n", sink.lines, sink.blocks, sink.bytes / 1e6);
    printf("  LocalListFilesToSave   %9.0f files/s\n", Median(list_rates));
    printf("  find -printf (ref)     %9.0f files/s\n", Median(find_rates));
    printf("  bare readdir+lstat     %9.0f files/s\n", Median(bare_rates));
    Figure("walk_vs_find", list_rates, "files/s", find_rates);
    Figure("walk_vs_bare_fstatat", list_rates, "files/s", bare_rates);

    if (!RemoveDir(root.c_str())) fprintf(stderr, "could not remove %s\n", root.c_str());
    return 0;
}

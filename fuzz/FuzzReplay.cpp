// The ordinary build's stand-in for the fuzzing engine: runs every file
// named on the command line, or found in a folder named there, through the
// target once, in name order. ctest runs each target over its corpus, so
// every input that once found a fault is checked again on every run.
#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "%s: missing\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            files.push_back(argv[i]);
            continue;
        }
        DIR* d = opendir(argv[i]);
        std::vector<std::string> found;
        while (dirent* e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.') found.push_back(std::string(argv[i]) + "/" + e->d_name);
        if (d) closedir(d);
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    // Read before the home is made: making it changes the working folder.
    std::vector<std::vector<char>> inputs;
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        inputs.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (size_t i = 0; i < files.size(); i++) {
        fprintf(stderr, "replaying %s (%zu bytes)\n", files[i].c_str(), inputs[i].size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(inputs[i].data()), inputs[i].size());
    }
    fprintf(stderr, "%zu inputs replayed\n", files.size());
    return files.empty() ? 1 : 0;
}

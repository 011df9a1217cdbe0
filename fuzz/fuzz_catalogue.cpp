// Catalogue lines of the server's listing, as a version record reads them.
#include "fuzz/FuzzSupport.h"
#include "selection/VersionNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    VersionNode version(line.c_str());
    char out[128];
    version.Print(out, sizeof(out));
    return 0;
}

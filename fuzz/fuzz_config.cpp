// The configuration file: its lines as the reader cuts them, into a fresh
// configuration that is then copied and written back.
#include "fuzz/FuzzSupport.h"
#include "records/Config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Config read;
    for (const std::string& line : SplitLines(data, size, 1024)) read.ReadLine(line.c_str());
    Config copy(&read);
    copy.WriteConfig();
    return 0;
}

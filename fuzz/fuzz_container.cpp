// The encrypted container reader, on a single file or, when the first byte
// is odd, on a folder of two parts cut where the second byte says.
#include <sys/stat.h>

#include "agent/ContainerOptions.h"
#include "crypto/Container.h"
#include "fuzz/FuzzSupport.h"

namespace {

class CountingSink : public ContainerSink {
  public:
    bool Write(const char*, size_t length) override {
        total += length;
        return true;
    }
    size_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool parts = data[0] & 1;
    size_t cut = (size_t)data[1] * (size - 2) / 255;
    data += 2;
    size -= 2;
    std::string path = FreshWorkDir() + "c.aes";
    if (parts) {
        mkdir(path.c_str(), 0700);
        WriteBytes(path + "/000", data, cut);
        WriteBytes(path + "/001", data + cut, size - cut);
    } else {
        WriteBytes(path, data, size);
    }
    CountingSink sink;
    ContainerFault fault;
    ReadContainer(path.c_str(), kBuiltInCryptKey, sink, fault);
    return 0;
}

// RSA key files, plain and protected with a pass phrase; a key that reads is
// used once.
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FreshWorkDir() + "key";
    WriteBytes(path, data, size);
    RSAKey plain, protected_key;
    ReadKey(path.c_str(), &plain, nullptr);
    ReadKey(path.c_str(), &protected_key, kDefaultKeyPassPhrase);
    return 0;
}

// The texts a handshake receives, one message per line of the input. The
// first byte chooses the side: even accepts (greeting, name, "login", the
// response, "key"), odd connects (greeting, name, the challenge,
// "connected", the key).
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<std::string> messages;
    for (std::string line : SplitLines(data + 1, size - 1, 8192)) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        messages.push_back(line);
    }
    FedSock sock(messages);
    sock->authenticated = false;
    if (data[0] & 1)
        CatchSocketError([&] { sock->Identify(); });
    else
        sock->Authenticate();
    return 0;
}

// Where the walk delivers its catalogue lines. The walk hands over blocks of
// at most 2,000 lines; the dialogue layer sends each block to the server as
// one packet, tests collect them.
#pragma once

#include <vector>

class CatalogueSink {
public:
    virtual ~CatalogueSink() {}
    // Delivers one block. Each line is a NUL-terminated text ending in "\n",
    // allocated with new[]. The sink only reads them: the walk still owns the
    // lines and frees them once this returns (or throws). A network sink
    // throws SocketError when the connection fails; the walk lets it pass.
    virtual void SendBlock(std::vector<char*>& lines) = 0;
};

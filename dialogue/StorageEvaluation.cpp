#include "dialogue/StorageEvaluation.h"

#include <string.h>

#include <string>

#include "core/Globals.h"
#include "dialogue/Connections.h"
#include "foundation/Formatting.h"
#include "foundation/Log.h"
#include "records/Client.h"
#include "selection/CatalogueSize.h"
#include "transport/Sock.h"

namespace {

// A whole listing may take hours on a large machine.
const int kListingTimeout = 14400;

bool Is(Sock* sock, const char* text) {
    return strcmp(sock->read_buffer, text) == 0;
}

}  // namespace

void AddCatalogueLines(const char* block, size_t length, int& count, long long& bytes) {
    const char* end = block + length;
    for (const char* p = block; p < end;) {
        const char* eol = (const char*)memchr(p, '\n', (size_t)(end - p));
        const char* stop = eol ? eol : end;
        if (stop > p) {
            std::string line(p, (size_t)(stop - p));
            count++;
            bytes += CatalogueLineSize(line.c_str());
        }
        p = stop + 1;
    }
}

int EvaluateStorage(Client* set, const char* rules, int& count, long long& bytes) {
    count = 0;
    bytes = 0;
    if (!set) return -1;
    Sock* sock = OpenClientConnection(set, 1, false, 1, 0);
    if (!sock) return -2;
    if (!rules || !rules[0]) {
        sock->CloseConnection();
        delete sock;
        return -3;
    }
    try {
        sock->FormatWrite("list_files_to_save %i", set->number);
        sock->Read();
        if (Is(sock, "UNKNOWN_COMMAND")) {
            sock->Write("list_files_to_save");
            sock->Read();
        }
        if (Is(sock, "UNKNOWN_COMMAND")) {
            sock->CloseConnection();
            delete sock;
            return -4;
        }
        sock->SetTimeout(kListingTimeout);
        sock->Write(rules);
        for (;;) {
            unsigned n = sock->Read();
            if (Is(sock, "LIST_DONE")) {
                PrintMessage("LIST_DONE");
                sock->CloseConnection();
                break;
            }
            AddCatalogueLines(sock->read_buffer, n, count, bytes);
        }
    } catch (SocketError& e) {
        PrintMessage("EvaluateStorage(%s.%i): Socket Exception Caught: %s", set->base_id, set->number,
                     e.message);
        ReleaseSocketError();
    }
    delete sock;
    char size[kSizeTextLength];
    PrintMessage("Analysis: %s : %i fichiers [%s]", set->name, count, PrintSize(bytes, size));
    return 0;
}

#include "foundation/HostLookup.h"

#include <netdb.h>
#include <string.h>
#include <sys/socket.h>

#include "foundation/ProcessLayout.h"
#include "foundation/Threads.h"

int GetHostByName(const char* name, in_addr* out) {
    if (!name || !out) return -1;
    const ProcessLocks* locks = process_locks();
    pthread_mutex_t* resolve = locks ? locks->resolve : nullptr;
    if (resolve) mutex_lock(*resolve, "GetHostByName");
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    int result = -1;
    if (getaddrinfo(name, nullptr, &hints, &found) == 0 && found) {
        for (addrinfo* a = found; a; a = a->ai_next) {
            if (a->ai_family == AF_INET && a->ai_addr && a->ai_addrlen >= sizeof(sockaddr_in)) {
                *out = ((sockaddr_in*)a->ai_addr)->sin_addr;
                result = 0;
                break;
            }
        }
    }
    if (found) freeaddrinfo(found);
    if (resolve) mutex_unlock(*resolve, "GetHostByName");
    return result;
}

#include "transport/SocketError.h"

#include "core/Globals.h"
#include "foundation/Threads.h"

void ThrowSocketError(const char* text) {
    if (mutex) mutex_lock(mutex->mutex_exception, "ThrowSocketError");
    throw SocketError(text, 1);
}

void ReleaseSocketError() {
    if (mutex) mutex_unlock(mutex->mutex_exception, "ReleaseSocketError");
}

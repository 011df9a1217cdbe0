#include "dialogue/Listener.h"

#include "agent/Globals.h"
#include "foundation/Threads.h"

// Until the dispatcher exists the listener only waits for the stop flag.
void* ListenToPort(void*) {
    while (!get_kill()) Wait(0.1);
    return nullptr;
}

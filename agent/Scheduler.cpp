#include "agent/Scheduler.h"

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "foundation/Threads.h"

void* ClientScheduler(void*) {
    while (!get_kill()) {
        if (thread_manager) thread_manager->Export();
        Wait(0.01);
    }
    return nullptr;
}

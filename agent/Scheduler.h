// The daemon's housekeeping loop, run in the main thread.
#pragma once

// Returns when the stop flag is set.
void* ClientScheduler(void* unused);

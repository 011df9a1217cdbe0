// The process-wide objects. All are created by InitVariables before the
// first thread starts and destroyed by KillApplication after main returns;
// threads may rely on them for their whole life.
#pragma once

#include "core/Mutex.h"
#include "core/Resource.h"
#include "core/RunFlags.h"
#include "core/Version.h"

class Config;
class ThreadManager;

extern Resource* res;
extern char* res2;  // catalogue line format: "%s %s %s %u %u %lli\n"
extern Version* this_version;
extern Mutex* mutex;
extern ThreadManager* thread_manager;
extern Config* config;
extern char appname[50];  // product name shown in the banner

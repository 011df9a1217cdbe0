#include "core/Globals.h"

Resource* res = nullptr;
char* res2 = nullptr;
Version* this_version = nullptr;
Mutex* mutex = nullptr;
ThreadManager* thread_manager = nullptr;
Config* config = nullptr;
char appname[50] = "Quillon";

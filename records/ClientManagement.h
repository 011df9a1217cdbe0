// Backup-set management used by the configuration commands and the command
// line. The results are the codes those commands turn into replies.
//
// Threads: any thread; the registry of Config is read without a lock.
#pragma once

#include <stddef.h>

// Asks the machine at `ip` (port `port`) for its "operating_system" answer
// and copies it into `os` (`size` bytes). True when the machine answered.
// The connection layer installs the real probe; until then machines other
// than this one cannot be asked.
using OperatingSystemProbe = bool (*)(const char* ip, int port, char* os, size_t size);
void SetOperatingSystemProbe(OperatingSystemProbe probe);

// Builds the set and hands it to the registry. The machine "127.0.0.1" is
// the box itself (os "Box", no connection). The registry refuses every new
// set in this agent, so the result is -1; `password` is not used.
int AddClient(const char* ip, const char* name, const char* schedule, int setting_1, int crypt,
              const char* password, int setting_2, int setting_3, int setting_4);
// Looks the set up by identifier; none is found, so -1.
int ModifyClient(const char* id, const char* ip, const char* name, const char* schedule, int setting_1,
                 int crypt, int setting_2, int setting_3, int setting_4);
int DeleteClient(const char* id);

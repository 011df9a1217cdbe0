// Dialogues in which this agent sets up another machine: asking its system
// when a backup set is added, and repairing a backup set's keys.
#pragma once

#include <stddef.h>

class Client;

// The fixed pass phrase protecting a repaired set's private GUI key.
extern const char* const kRepairPassPhrase;

// Connects to `ip` (`port`), asks "operating_system" and copies the answer
// into `os`. True when the machine answered. Installed as the probe of the
// backup-set management at start-up.
bool AskOperatingSystem(const char* ip, int port, char* os, size_t size);

// Gives a backup set a fresh key set and installs it on the set's machine.
// 1 on success, 0 otherwise. Nothing in the agent runs it on its own.
int FixBrokenAesKey(Client* client);

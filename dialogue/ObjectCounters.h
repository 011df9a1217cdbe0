// The "objects" diagnostic: live-object counters of every subsystem.
#pragma once

// Logs "Objects: remote_print_objects" and one line per counter whose value
// is unusual (most are expected at 0, a few at 1).
void LogObjectCounters();

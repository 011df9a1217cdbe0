// Asking the server for a backup now (command line "--save").
#pragma once

// Asks the configured server to start a backup of `backup_set`. On
// "SAVE_OK" it answers "all", records the time in the configuration's
// `backup` and rewrites the configuration file. Returns 0 then; 1 when no
// server is configured (nothing is asked, nothing written), when the
// server cannot be reached (the no-box flag is set), when it answers
// anything else ("Sauvegarde annulee: %s"), when the connection fails
// during the exchange, or when the configuration cannot be written.
int SaveThis(const char* backup_set);

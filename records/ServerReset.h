// Forgetting the server: what the agent removes and rewrites when it is
// told to start again as an unadopted machine ("config reset").
#pragma once

// Removes the server's folder "<conf>/<server name>/" (only when the name is
// one safe path component: a name from the wire such as ".." or "a/b" must
// not take a folder outside the configuration with it) and the agent's own
// key files "<conf>/pub" and "<conf>/priv". Missing files are not errors.
void RemoveResetFiles(const char* server_name);

// The reset of the global configuration: the files above, then the name
// "anonymous", no server ("null null"), both times 0, and the file written.
// REQUIRES: the globals `res` and `config` exist.
void ForgetServer();

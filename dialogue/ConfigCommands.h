// The "config " command family, shared by the files that implement it:
// ConfigCommands.cpp (the category table and the agent's own settings),
// ConfigClientCommands.cpp (backup sets), ConfigNetworkCommands.cpp (the
// pending network settings, e-mail recipients, quotas and their test).
//
// Every handler runs in the thread of its connection and answers with one
// framed line (none for a few verbs, as each handler says).
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

struct Session;
class Sock;

// One "config <category> <verb> <values>" line, cut at blanks.
struct ConfigRequest {
    Session& session;
    std::string category;
    std::string verb;
    std::string values;  // the rest of the line after the verb, leading blanks skipped

    Sock* sock() const;
    // `values` split at blanks (runs of blanks count as one).
    std::vector<std::string> Words() const;
    void Reply(const std::string& text) const;
};

typedef void (*ConfigHandler)(ConfigRequest& request);

struct ConfigVerb {
    const char* verb;
    ConfigHandler handler;
};

// Runs the handler of the request's verb, or answers "UNKNOWN_COMMAND".
void DispatchVerb(ConfigRequest& request, const ConfigVerb* verbs, size_t count);
template <size_t N>
void DispatchVerb(ConfigRequest& request, const ConfigVerb (&verbs)[N]) {
    DispatchVerb(request, verbs, N);
}

// A listing index: "0" or a positive decimal (read as atoi reads it).
bool ParseListIndex(const std::string& word, int& index);
// The "get" verb of the route, e-mail and quota lists: "count" (the number
// of lines), "all" (the lines joined by line feeds) or an index; anything
// else, a missing value or an index out of range answers `unknown`.
void ReplyListing(ConfigRequest& request, const std::vector<std::string>& lines, const char* unknown);
// True when `text` may be stored in the configuration: a line break would
// add lines (and so settings) of its own to the configuration file.
bool IsStorableText(const std::string& text);

// Category handlers.
void ConfigClient(ConfigRequest& request);
void ConfigRoute(ConfigRequest& request);
void ConfigIp(ConfigRequest& request);
void ConfigEmail(ConfigRequest& request);
void ConfigQuota(ConfigRequest& request);
void ConfigRate(ConfigRequest& request);
void ConfigTest(ConfigRequest& request);

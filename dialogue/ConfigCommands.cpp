// The "config " dispatcher and the settings the server changes directly in
// the global configuration, each written to the file at once.
#include "dialogue/ConfigCommands.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "core/Globals.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/Identification.h"
#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Spawn.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "records/ConfigClients.h"
#include "records/ServerReset.h"
#include "transport/Sock.h"

Sock* ConfigRequest::sock() const {
    return session.sock;
}

std::vector<std::string> ConfigRequest::Words() const {
    return SplitWords(values);
}

void ConfigRequest::Reply(const std::string& text) const {
    sock()->Write(text.data(), (unsigned)text.size());
}

void DispatchVerb(ConfigRequest& request, const ConfigVerb* verbs, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (request.verb == verbs[i].verb) return verbs[i].handler(request);
    }
    request.Reply("UNKNOWN_COMMAND");
}

bool ParseListIndex(const std::string& word, int& index) {
    index = atoi(word.c_str());
    return index > 0 || word == "0";
}

void ReplyListing(ConfigRequest& request, const std::vector<std::string>& lines, const char* unknown) {
    std::vector<std::string> words = request.Words();
    const std::string which = words.empty() ? std::string() : words[0];
    if (which == "count") return request.Reply(std::to_string(lines.size()));
    if (which == "all") {
        std::string all;
        for (size_t i = 0; i < lines.size(); i++) all += (i ? "\n" : "") + lines[i];
        return request.Reply(all);
    }
    int index;
    if (!ParseListIndex(which, index) || index >= (int)lines.size()) return request.Reply(unknown);
    request.Reply(lines[index]);
}

bool IsStorableText(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

namespace {

const char* const kOk = "CONFIG_OK";
const char* const kError = "CONFIG_ERROR";

// The value of a set verb that takes the rest of the line; false (after
// answering "CONFIG_ERROR") when there is none or it cannot be stored.
bool TextValue(ConfigRequest& r, std::string& value) {
    value = r.values;
    if (value.empty() || !IsStorableText(value)) {
        r.Reply(kError);
        return false;
    }
    return true;
}

// The first word of a set verb that takes a number or a word.
bool WordValue(ConfigRequest& r, std::string& value) {
    std::vector<std::string> words = r.Words();
    if (words.empty()) {
        r.Reply(kError);
        return false;
    }
    value = words[0];
    return true;
}

// A name that also becomes a folder name under the configuration.
bool FolderName(const char* name) {
    return IsSafePathComponent(name) && IsStorableText(name);
}

void Write() {
    config->WriteConfig();
}

void NameGet(ConfigRequest& r) {
    r.Reply(config->name);
}

void NameSet(ConfigRequest& r) {
    std::string value;
    if (!TextValue(r, value)) return;
    char name[sizeof(config->name)];
    CopyText(name, value.c_str());
    if (!FolderName(name)) return r.Reply(kError);
    if (mutex) mutex_lock(mutex->mutex_config, "NameSet");
    CopyText(config->name, name);  // the housekeeping loop polls it
    if (mutex) mutex_unlock(mutex->mutex_config, "NameSet");
    Write();
    r.Reply(kOk);
}

void ClientPortGet(ConfigRequest& r) {
    r.Reply(std::to_string(config->client_port));
}

void ClientPortSet(ConfigRequest& r) {
    std::string value;
    if (!WordValue(r, value)) return;
    long port = atol(value.c_str());
    if (port <= 0 || port > 65535) return r.Reply("CONFIG_BAD_PORT");
    config->client_port = (int)port;
    Write();
    r.Reply(kOk);
}

void MaxSendSizeGet(ConfigRequest& r) {
    r.Reply(std::to_string(config->max_send_size));
}

void MaxSendSizeSet(ConfigRequest& r) {
    std::string value;
    if (!WordValue(r, value)) return;
    int size = atoi(value.c_str());
    // A negative size is ignored, as in the configuration file.
    if (size >= 0) {
        config->max_send_size = size;
        Write();
    }
    r.Reply(kOk);
}

void NtpServerGet(ConfigRequest& r) {
    r.Reply(config->ntpserver);
}

void NtpServerSet(ConfigRequest& r) {
    std::string value;
    if (!TextValue(r, value)) return;
    CopyText(config->ntpserver, value.c_str());
    Write();
    // A failing synchronisation is not reported to the server.
    RunArgv(SplitWords(external_programs().ntp));
    r.Reply(kOk);
}

void SmtpServerGet(ConfigRequest& r) {
    r.Reply(config->smtpserver);
}

void SmtpServerSet(ConfigRequest& r) {
    std::string value;
    if (!TextValue(r, value)) return;
    CopyText(config->smtpserver, value.c_str());
    Write();
    r.Reply(kOk);
}

void SystimeGet(ConfigRequest& r) {
    time_t now = time(nullptr);
    struct tm local;
    char text[16] = "00:00:00";
    if (localtime_r(&now, &local))
        snprintf(text, sizeof(text), "%02i:%02i:%02i", local.tm_hour, local.tm_min, local.tm_sec);
    r.Reply(text);
}

void SystimeSet(ConfigRequest& r) {
    if (r.values.empty()) return r.Reply(kError);
    // The time text is one argument of the date program, never shell text.
    std::vector<std::string> argv = SplitWords(external_programs().date_set);
    argv.push_back(r.values);
    RunArgv(argv);
    r.Reply(kOk);
}

void ServerGet(ConfigRequest& r) {
    r.Reply(std::string(config->server_address) + " " + config->server_name);
}

void ServerSet(ConfigRequest& r) {
    // The first word is not used: the server is where the command came from.
    std::vector<std::string> words = r.Words();
    if (words.size() < 2) return r.Reply(kError);
    char name[sizeof(config->server_name)];
    CopyText(name, words[1].c_str());
    if (!FolderName(name)) return r.Reply(kError);
    CopyText(config->server_address, r.sock()->ip);
    CopyText(config->server_name, name);
    Write();
    r.Reply(kOk);
}

void TimeGet(ConfigRequest& r) {
    r.Reply(std::to_string(config->time[0]) + " " + std::to_string(config->time[1]));
}

void TimeRetrieve(ConfigRequest& r) {
    r.Reply("-1 -1");
}

void TimeSet(ConfigRequest& r) {
    int a, b;
    if (sscanf(r.values.c_str(), "%i %i", &a, &b) != 2) return r.Reply(kError);
    config->time[0] = a;
    config->time[1] = b;
    Write();
    r.Reply(kOk);
}

void CryptGet(ConfigRequest& r) {
    r.Reply(std::to_string(config->crypt));
}

void CryptSet(ConfigRequest& r) {
    std::string value;
    if (!WordValue(r, value)) return;
    config->crypt = atoi(value.c_str());
    Write();
    r.Reply(kOk);
}

const ConfigVerb kNameVerbs[] = {{"get", NameGet}, {"set", NameSet}};
const ConfigVerb kClientPortVerbs[] = {{"get", ClientPortGet}, {"set", ClientPortSet}};
const ConfigVerb kMaxSendSizeVerbs[] = {{"get", MaxSendSizeGet}, {"set", MaxSendSizeSet}};
const ConfigVerb kNtpServerVerbs[] = {{"get", NtpServerGet}, {"set", NtpServerSet}};
const ConfigVerb kSmtpServerVerbs[] = {{"get", SmtpServerGet}, {"set", SmtpServerSet}};
const ConfigVerb kSystimeVerbs[] = {{"get", SystimeGet}, {"set", SystimeSet}};
const ConfigVerb kServerVerbs[] = {{"get", ServerGet}, {"set", ServerSet}};
const ConfigVerb kTimeVerbs[] = {{"get", TimeGet}, {"retrieve", TimeRetrieve}, {"set", TimeSet}};
const ConfigVerb kCryptVerbs[] = {{"get", CryptGet}, {"set", CryptSet}};

void Reload(ConfigRequest& r) {
    PrintMessage("I must reload my config...");
    // The file holds every backup set and route: read over the lists in
    // memory it would add each of them a second time. The settings are read
    // into the configuration as they stand; the sets into a list of their
    // own that takes the old one's place in one step.
    FILE* f = fopen(res->config_file, "re");
    if (f) {
        Config sets;
        config->RemoveRoutes();
        char line[1024];
        while (fgets(line, sizeof(line), f))
            (strncmp(line, "client=", 7) == 0 ? sets : *config).ReadLine(line);
        fclose(f);
        WithConfigClients([&sets](std::vector<Client*>& clients) {
            clients.swap(sets.clients);
            return 0;
        });  // the old records go with `sets`, once nobody can be reading them
    }
    SetUserGroup(config->user);
    r.Reply(kOk);
}

void Reset(ConfigRequest& r) {
    PrintMessage("I am being resetted...");
    ForgetServer();
    r.Reply(kOk);
}

void Update(ConfigRequest& r) {
    IdentifyWithServer(0, 0);
    r.Reply(kOk);
}

void ForceUpdate(ConfigRequest& r) {
    IdentifyWithServer(0, 1);
    r.Reply(kOk);
}

#define VERBS(table) [](ConfigRequest& r) { DispatchVerb(r, table); }

struct ConfigCategory {
    const char* name;
    ConfigHandler handler;
};

// The categories, tried in this order (each name is matched whole).
const ConfigCategory kCategories[] = {
    {"client", ConfigClient},
    {"reload", Reload},
    {"route", ConfigRoute},
    {"ip", ConfigIp},
    {"name", VERBS(kNameVerbs)},
    {"client_port", VERBS(kClientPortVerbs)},
    {"max_send_size", VERBS(kMaxSendSizeVerbs)},
    {"ntpserver", VERBS(kNtpServerVerbs)},
    {"smtpserver", VERBS(kSmtpServerVerbs)},
    {"systime", VERBS(kSystimeVerbs)},
    {"server", VERBS(kServerVerbs)},
    {"time", VERBS(kTimeVerbs)},
    {"crypt", VERBS(kCryptVerbs)},
    {"reset", Reset},
    {"update", Update},
    {"force-update", ForceUpdate},
    {"email", ConfigEmail},
    {"quota", ConfigQuota},
    {"rate", ConfigRate},
    {"test", ConfigTest},
};

#undef VERBS

// Cuts the next blank-separated token off `*p`.
std::string Token(const char** p) {
    while (**p == ' ') (*p)++;
    const char* start = *p;
    while (**p && **p != ' ') (*p)++;
    return std::string(start, (size_t)(*p - start));
}

}  // namespace

namespace commands {

void Configure(Session& s, const char*, const char* rest) {
    const char* p = rest;
    ConfigRequest request{s, Token(&p), Token(&p), std::string()};
    while (*p == ' ') p++;
    request.values = p;
    for (const ConfigCategory& c : kCategories) {
        if (request.category == c.name) return c.handler(request);
    }
    request.Reply("UNKNOWN_COMMAND");
}

}  // namespace commands

#include "records/Config.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "core/Globals.h"
#include "foundation/Execute.h"
#include "foundation/Log.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"

std::atomic<int> config_count{0};
const char* const kDefaultNtpServer = "ntp.example.org";
const char* const kDefaultUrl = "http://www.example.org/";

namespace {

template <typename T>
void FreeAll(std::vector<T*>& list) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) delete *it;
    list.clear();
}

// Copies the next blank-separated word of `*cursor` into `out` (cut to
// `size`), advancing past it; false when no word is left.
bool NextWord(const char** cursor, char* out, size_t size) {
    const char* p = *cursor;
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) return false;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t') p++;
    snprintf(out, size, "%.*s", (int)(p - start), start);
    *cursor = p;
    return true;
}

}  // namespace

ClientsLock::ClientsLock() {
    if (mutex) mutex_lock(mutex->mutex_clients, "ClientsLock");
}

ClientsLock::~ClientsLock() {
    if (mutex) mutex_unlock(mutex->mutex_clients, "ClientsLock");
}

Config::Config() {
    CopyText(type, "client");
    CopyText(name, "anonymous");
    CopyText(server_name, "null");
    CopyText(server_address, "null");
    CopyText(network[0], "0.0.0.0");
    CopyText(network[1], "0.0.0.0");
    CopyText(network[2], "127.0.0.1");
    CopyText(network[3], "127.0.0.1");
    CopyText(ntpserver, kDefaultNtpServer);
    CopyText(smtpserver, "127.0.0.1");
    CopyText(user, "null");
    CopyText(rate, "100Mbit");
    email = nullptr;
    time[0] = time[1] = 0;
    crypt = 1;
    local_port = server_port = client_port = 6666;
    backup = (unsigned)::time(nullptr);
    list_template = new char[1024];
    // The template is itself built from a format so that the 64-bit length
    // modifier appears in one place.
    snprintf(list_template, 1024,
             "%%iMD5('%%s'), %%i, %%i, '%%s', '%%s', 'null', 'null', '%%010u', 0, 0, %i, '%si', 0\n", 1, "%ll");
    no_network = 0;
    silent = 0;
    CopyText(url, kDefaultUrl);
    max_send_size = 0;
    no_patch = 0;
    timeout = 3600;
    strict_auth = 0;
    config_count++;
}

Config::Config(const Config* other) : Config() {
    if (other) CopyFrom(other);
}

void Config::CopyFrom(const Config* o) {
    memcpy(type, o->type, sizeof(type));
    memcpy(name, o->name, sizeof(name));
    memcpy(server_name, o->server_name, sizeof(server_name));
    memcpy(server_address, o->server_address, sizeof(server_address));
    memcpy(network, o->network, sizeof(network));
    memcpy(ntpserver, o->ntpserver, sizeof(ntpserver));
    memcpy(smtpserver, o->smtpserver, sizeof(smtpserver));
    memcpy(user, o->user, sizeof(user));
    memcpy(rate, o->rate, sizeof(rate));
    SetEmail(o->email);
    time[0] = o->time[0];
    time[1] = o->time[1];
    crypt = o->crypt;
    local_port = o->local_port;
    server_port = o->server_port;
    client_port = o->client_port;
    backup = o->backup;
    {
        ClientsLock lock;
        for (Client* c : o->clients) clients.push_back(c ? new Client(c) : nullptr);
    }
    for (Route* r : o->routes) routes.push_back(new Route(r));
    for (Email* e : o->emails) emails.push_back(new Email(e));
    for (Quota* q : o->quotas) quotas.push_back(new Quota(q));
    memcpy(list_template, o->list_template, 1024);
    no_network = o->no_network;
    silent = o->silent;
    memcpy(url, o->url, sizeof(url));
    max_send_size = o->max_send_size;
    no_patch = o->no_patch;
    timeout = o->timeout;
    strict_auth = o->strict_auth;
}

Config::~Config() {
    FreeAll(clients);
    FreeAll(routes);
    FreeAll(emails);
    FreeAll(quotas);
    free(email);
    delete[] list_template;
    config_count--;
}

void Config::ParseClientLine(const char* value) {
    Client* c = new Client();
    const char* p = value;
    char word[300];
    if (NextWord(&p, word, sizeof(word))) CopyText(c->id, word);
    if (NextWord(&p, word, sizeof(word))) CopyText(c->ip, word);
    while (*p == ' ') p++;
    if (*p == '"') {
        const char* close = strchr(p + 1, '"');
        const char* end = close ? close : p + strlen(p);
        snprintf(c->name, sizeof(c->name), "%.*s", (int)(end - p - 1), p + 1);
        p = close ? close + 1 : end;
    } else if (NextWord(&p, word, sizeof(word))) {
        CopyText(c->name, word);
    }
    // The remaining words: os, value_1, value_2, crypt, created, modified,
    // last_save, state. The older form has no last_save: its last word is
    // the state.
    char rest[8][300];
    int n = 0;
    while (n < 8 && NextWord(&p, rest[n], sizeof(rest[n]))) n++;
    if (n >= 1) CopyText(c->os, rest[0]);
    if (n >= 2) c->value_1 = atoi(rest[1]);
    if (n >= 3) c->value_2 = atoi(rest[2]);
    if (n >= 4) c->crypt = atoi(rest[3]);
    if (n >= 5) sscanf(rest[4], "%u", &c->created);
    if (n >= 6) sscanf(rest[5], "%u", &c->modified);
    if (n == 7) c->state = atoi(rest[6]);
    if (n == 8) {
        sscanf(rest[6], "%u", &c->last_save);
        c->state = atoi(rest[7]);
    }
    clients.push_back(c);
}

void Config::ReadLine(const char* raw) {
    if (!raw || raw[0] == '#') return;
    char line[1024];
    snprintf(line, sizeof(line), "%s", raw);
    line[strcspn(line, "\r\n")] = 0;
    char* eq = strchr(line, '=');
    const char* key = line;
    const char* value = "";
    if (eq) {
        *eq = 0;
        value = eq + 1;
    }
    if (strcmp(key, "no_network") == 0) {
        no_network = 1;
        return;
    }
    if (!*value) return;  // a key without a value changes nothing

    if (strcmp(key, "name") == 0) {
        CopyText(name, value);
    } else if (strcmp(key, "server") == 0) {
        const char* blank = strchr(value, ' ');
        if (blank && blank[1]) {
            snprintf(server_address, sizeof(server_address), "%.*s", (int)(blank - value), value);
            CopyText(server_name, blank + 1);
        }
    } else if (strcmp(key, "ntpserver") == 0) {
        if (strlen(value) > 49)
            PrintError("Config::ReadConfig(): ntpserver is longer than 50 characters");
        else
            CopyText(ntpserver, value);
    } else if (strcmp(key, "smtpserver") == 0) {
        if (strlen(value) > 49)
            PrintError("Config::ReadConfig(): smtpserver is longer than 50 characters");
        else
            CopyText(smtpserver, value);
    } else if (strcmp(key, "ip") == 0) {
        const char* p = value;
        for (int i = 0; i < 4; i++) {
            char word[20];
            if (!NextWord(&p, word, sizeof(word))) break;
            CopyText(network[i], word);
        }
    } else if (strcmp(key, "route") == 0) {
        const char* p = value;
        char a[16], b[16], c[16];
        if (NextWord(&p, a, sizeof(a)) && NextWord(&p, b, sizeof(b)) && NextWord(&p, c, sizeof(c)))
            routes.push_back(new Route(a, b, c));
    } else if (strcmp(key, "client") == 0) {
        ParseClientLine(value);
    } else if (strcmp(key, "time") == 0) {
        sscanf(value, "%i %i", &time[0], &time[1]);
    } else if (strcmp(key, "user") == 0) {
        CopyText(user, value);
    } else if (strcmp(key, "server_port") == 0) {
        server_port = atoi(value);
    } else if (strcmp(key, "local_port") == 0) {
        local_port = atoi(value);
    } else if (strcmp(key, "client_port") == 0) {
        client_port = atoi(value);
    } else if (strcmp(key, "crypt") == 0) {
        crypt = atoi(value);
    } else if (strcmp(key, "backup") == 0) {
        sscanf(value, "%u", &backup);
    } else if (strcmp(key, "email") == 0) {
        SetEmail(value);
    } else if (strcmp(key, "rate") == 0) {
        CopyText(rate, value);
    } else if (strcmp(key, "silent") == 0) {
        silent = atoi(value);
    } else if (strcmp(key, "appname") == 0) {
        CopyText(appname, value);
    } else if (strcmp(key, "url") == 0) {
        snprintf(url, sizeof(url), "%.50s", value);
    } else if (strcmp(key, "timeout") == 0) {
        long long t = atoll(value);
        if (t > 0) {
            // Beyond the field: as long as it can say (no limit, for the socket).
            timeout = t > (long long)UINT_MAX ? UINT_MAX : (unsigned)t;
            PrintMessage("Using specific timeout: %lu", (unsigned long)timeout);
        }
    } else if (strcmp(key, "no_patch") == 0) {
        no_patch = atoi(value);
    } else if (strcmp(key, "strict_auth") == 0) {
        strict_auth = atoi(value);
    } else if (strcmp(key, "max_send_size") == 0) {
        int v = atoi(value);
        if (v >= 0) max_send_size = v;
    }
}

int Config::ReadConfig(const char* path) {
    if (!path) path = res ? res->config_file : nullptr;
    FILE* f = path ? fopen(path, "re") : nullptr;
    int result = 0;
    if (f) {
        char line[1024];
        while (fgets(line, sizeof(line), f)) ReadLine(line);
        fclose(f);
        result = 1;
    }
    SetUserGroup(user);
    return result;
}

int Config::WriteConfig() {
    if (!res) return 0;
    if (mutex) mutex_lock(mutex->mutex_config, "WriteConfig");
    // Written beside the final name and renamed over it, so a crash or a full
    // disk never leaves a truncated configuration behind.
    ReplacementFile file(res->config_file);
    FILE* f = file.Open() ? file.stream() : nullptr;
    int result = 0;
    if (f) {
        fprintf(f, "type=%s\n", type);
        fprintf(f, "name=%s\n", name);
        fprintf(f, "appname=%s\n", appname);
        fprintf(f, "server=%s %s\n", server_address, server_name);
        fprintf(f, "user=%s\n", user);
        fprintf(f, "time=%i %i\n", time[0], time[1]);
        fprintf(f, "backup=%u\n", backup);
        fprintf(f, "server_port=%i\n", server_port);
        fprintf(f, "local_port=%i\n", local_port);
        fprintf(f, "client_port=%i\n", client_port);
        fprintf(f, "crypt=%i\n", crypt);
        if (email) fprintf(f, "email=%s\n", email);
        {
            ClientsLock lock;
            for (Client* c : clients) {
                if (!c) continue;
                fprintf(f, "client=%s %s \"%s\" %s %i %i %i %u %u %u %i\n", c->id, c->ip, c->name, c->os,
                        c->value_1, c->value_2, c->crypt, c->created, c->modified, c->last_save, c->state);
            }
        }
        fprintf(f, "silent=%i\n", silent);
        if (url[0]) fprintf(f, "url=%s\n", url);
        if (timeout != 0 && timeout != 3600) fprintf(f, "timeout=%u\n", timeout);
        if (max_send_size > 0) fprintf(f, "max_send_size=%i\n", max_send_size);
        if (no_patch > 0) fprintf(f, "no_patch=%i\n", no_patch);
        if (no_network == 1) fprintf(f, "no_network\n");
        if (strict_auth != 0) fprintf(f, "strict_auth=%i\n", strict_auth);
        if (file.Commit()) result = 1;
    }
    if (mutex) mutex_unlock(mutex->mutex_config, "WriteConfig");
    if (!result) PrintError("Could not open %s for writing", res->config_file);
    return result;
}

void Config::SetIP(const char* a, const char* b, const char* c, const char* d) {
    const char* values[4] = {a, b, c, d};
    for (int i = 0; i < 4; i++)
        if (values[i]) CopyText(network[i], values[i]);
}

void Config::SetEmail(const char* text) {
    free(email);
    email = text ? strdup(text) : nullptr;
}

int Config::CopyNetwork(const Config* other) {
    SetIP(other->network[0], other->network[1], other->network[2], other->network[3]);
    memcpy(rate, other->rate, sizeof(rate));
    SetEmail(other->email);
    RemoveRoutes();
    for (Route* r : other->routes) AddRoute(r->address, r->mask, r->gateway);
    return 0;
}

int Config::AddRoute(const char* a, const char* b, const char* c) {
    routes.push_back(new Route(a, b, c));
    WriteConfig();
    return 0;
}

int Config::RemoveRoutes() {
    FreeAll(routes);
    return 0;
}

Route* Config::GetRouteAt(int i) {
    if (i < 0 || i >= (int)routes.size()) {
        PrintError("GetRouteAt(%i): Out of range %i records", i, (int)routes.size());
        return nullptr;
    }
    return routes[i];
}

Route* Config::GetRoute(const char* a, const char* b, const char* c) {
    for (Route* r : routes)
        if (a && b && c && !strcmp(r->address, a) && !strcmp(r->mask, b) && !strcmp(r->gateway, c)) return r;
    return nullptr;
}

int Config::AddEmail(Email* e) {
    if (!e) return -1;
    emails.push_back(e);
    return 0;
}

int Config::RemoveEmails() {
    FreeAll(emails);
    return 0;
}

Email* Config::GetEmailAt(int i) {
    if (i < 0 || i >= (int)emails.size()) {
        PrintError("GetEmailAt(%i): Out of range %i records", i, (int)emails.size());
        return nullptr;
    }
    return emails[i];
}

int Config::AddQuota(Quota* q) {
    if (!q) return -1;
    quotas.push_back(q);
    return 0;
}

int Config::RemoveQuotas() {
    FreeAll(quotas);
    return 0;
}

Quota* Config::GetQuotaAt(int i) { return (i < 0 || i >= (int)quotas.size()) ? nullptr : quotas[i]; }

Quota* Config::GetQuota(const char* qname, const char* unit) {
    for (Quota* q : quotas)
        if (qname && unit && !strcmp(q->name, qname) && !strcmp(q->unit, unit)) return new Quota(q);
    return nullptr;
}

long long Config::GetQuotaFreeSpace(const char* qname) {
    Quota* q = GetQuota(qname, "OCT");
    if (!q) return -1;
    long long result = -1;
    if (q->flag == 1) {
        std::vector<Client*> sets;
        GetClients(&sets, qname);
        long long used = 0;
        for (Client* c : sets) used += (long long)c->stored_kb * 1024;
        result = q->amount - used;
        if (result <= 0) result = 0;
    }
    delete q;
    return result;
}

Client* Config::GetClientAt(int i) { return (i < 0 || i >= (int)clients.size()) ? nullptr : clients[i]; }

int Config::GetClientCount() const {
    ClientsLock lock;
    return (int)clients.size();
}

void Config::ReplaceClients(std::vector<Client*>& sets) {
    {
        ClientsLock lock;
        clients.swap(sets);
    }
    FreeAll(sets);
}

int Config::GetClients(std::vector<Client*>* list, const char*) { return list ? (int)list->size() : 0; }

Client* Config::AddClient(Client* c) {
    if (c)
        PrintMessage("Config::AddClient(%s, %s, %s, %i, %i, %i, %i)", c->ip, c->name, c->os, c->value_1, c->value_2,
                     c->crypt, c->setting_2);
    PrintMessage("Config::~AddClient()");
    return nullptr;
}

int Config::RemoveClient(Client* c) {
    if (!c) return -1;
    PrintMessage("Config::RemoveClient(%s)", c->name);
    return 0;
}

int Config::RemoveClient(const char* a, const char* b) {
    PrintMessage("Config::RemoveClient(%s, %s)", a ? a : "", b ? b : "");
    PrintError("No such client: %s", b ? b : "");
    return -1;
}

int Config::UpdateLastConnection(const char* text) {
    PrintMessage("Config::UpdateLastConnection(%s)", text ? text : "");
    return 0;
}

void Config::UpdateClients(unsigned count) {
    bool hard = count % 18000 == 0;
    ::time_t start = ::time(nullptr);
    if (hard) PrintMessage("UpdateClients: Hard");
    while (get_connect_threads() >= 1 && !get_kill()) Wait(1);
    if (hard) PrintMessage("~UpdateClients in %li sec", (long)(::time(nullptr) - start));
}

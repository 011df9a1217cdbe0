// Category "client" of the configuration commands: the backup sets of this
// machine, their listings and management, the probe of a new machine and
// the activity controls.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/AesVetrak.h"
#include "dialogue/ConfigCommands.h"
#include "dialogue/Connections.h"
#include "dialogue/StorageEvaluation.h"
#include "foundation/Log.h"
#include "foundation/Text.h"
#include "records/ClientManagement.h"
#include "records/ConfigClients.h"
#include "transport/Sock.h"

namespace {

const char* const kUnknownClient = "CONFIG_UNKNOWN_CLIENT";

// The listing buffer holds 1024 bytes per set plus 10.
const size_t kListingLine = 1024 + 10;
const size_t kActivityText = 1024;

// strtok over the values with a delimiter set per token: runs of
// delimiters before a token are skipped, the one after it is consumed.
class Cursor {
  public:
    explicit Cursor(const std::string& text) : text_(text) {}
    std::string Next(const char* delimiters) {
        while (pos_ < text_.size() && strchr(delimiters, text_[pos_])) pos_++;
        size_t end = text_.find_first_of(delimiters, pos_);
        if (end == std::string::npos) end = text_.size();
        std::string token = text_.substr(pos_, end - pos_);
        pos_ = end < text_.size() ? end + 1 : end;
        return token;
    }
    // Everything not yet taken, leading blanks skipped.
    std::string Rest() {
        while (pos_ < text_.size() && text_[pos_] == ' ') pos_++;
        return text_.substr(pos_);
    }

  private:
    std::string text_;
    size_t pos_ = 0;
};

// What "add" and "modify" send after the address or identifier: a quoted
// name, five schedule words, then setting_1, crypt, (for "add" the
// password,) setting_2, setting_3 (default 3) and setting_4 (default 0).
struct SetDescription {
    std::string name;
    char schedule[101];
    int setting_1, crypt, setting_2, setting_3, setting_4;
    std::string password;
};

int Number(Cursor& c, int fallback) {
    std::string word = c.Next(" ");
    return word.empty() ? fallback : atoi(word.c_str());
}

SetDescription ReadDescription(Cursor& c, bool with_password) {
    SetDescription d;
    d.name = c.Next("\"");
    std::string w[5];
    for (std::string& word : w) word = c.Next(" ");
    snprintf(d.schedule, sizeof(d.schedule), "%s %s %s %s %s", w[0].c_str(), w[1].c_str(), w[2].c_str(),
             w[3].c_str(), w[4].c_str());
    d.setting_1 = Number(c, 0);
    d.crypt = Number(c, 0);
    if (with_password) d.password = c.Next(" ");
    d.setting_2 = Number(c, 0);
    d.setting_3 = Number(c, 3);
    d.setting_4 = Number(c, 0);
    return d;
}

// The set's activity as GetThreadInfo words it, "0" when nobody works on it.
std::string Activity(const Client& c) {
    if (!thread_manager) return "0";
    char info[4096] = "0";
    thread_manager->GetThreadInfo(c.id, info, sizeof(info));
    size_t length = strlen(info);
    if (length >= kActivityText) {
        PrintMessage("GetThreadInfo: %u", (unsigned)length);
        info[kActivityText - 1] = 0;
    }
    return info;
}

std::string ListingLine(const Client& c, bool v2) {
    std::string activity = Activity(c);
    int reachable = (c.state & 1) ? 0 : 1;
    char line[kListingLine];
    int n =
        v2 ? snprintf(line, sizeof(line), "%s %s \"%s\" %s %s %i %i %u %u %i %i %i %u %u %i %i %u %s", c.id,
                      c.ip, c.name, c.os, c.schedule, c.setting_1, c.crypt, c.created, c.modified, c.state,
                      reachable, c.setting_2, c.counter_1, c.stored_kb, c.setting_3, c.setting_4, c.last_save,
                      activity.c_str())
           : snprintf(line, sizeof(line), "%s %s \"%s\" %s %s %i %i %u %u %i %i %i %u %u %i %s", c.id, c.ip,
                      c.name, c.os, c.schedule, c.setting_1, c.crypt, c.created, c.modified, c.state,
                      reachable, c.setting_2, c.counter_1, c.stored_kb, c.setting_3, activity.c_str());
    if (n >= (int)sizeof(line)) PrintMessage("str_result: %u > %u", (unsigned)n, (unsigned)sizeof(line));
    return line;
}

void Listing(ConfigRequest& r, bool v2) {
    std::vector<std::string> words = r.Words();
    const std::string which = words.empty() ? std::string() : words[0];
    if (which == "count") {
        int count = WithConfigClients([](std::vector<Client*>& list) { return (int)list.size(); });
        return r.Reply(std::to_string(count));
    }
    if (which == "all") {
        // The sets of the agent's registry, which keeps none.
        std::vector<Client*> registry;
        int count = config->GetClients(&registry, words.size() > 1 ? words[1].c_str() : nullptr);
        std::string reply = std::to_string(count);
        for (Client* c : registry)
            if (c) reply += "\n" + ListingLine(*c, v2);
        return r.Reply(reply);
    }
    int index;
    if (!ParseListIndex(which, index)) return r.Reply("UNKNOWN_COMMAND");
    // Copied out, so that no lock is held while the activity is asked.
    std::unique_ptr<Client> set(WithConfigClients([index](std::vector<Client*>& list) -> Client* {
        return index < (int)list.size() && list[index] ? new Client(list[index]) : nullptr;
    }));
    r.Reply(set ? ListingLine(*set, v2) : kUnknownClient);
}

void Get(ConfigRequest& r) {
    Listing(r, false);
}
void GetV2(ConfigRequest& r) {
    Listing(r, true);
}

void Stats(ConfigRequest& r) {
    r.Reply(kUnknownClient);
}

void Add(ConfigRequest& r) {
    Cursor c(r.values);
    std::string address = c.Next(" ");
    SetDescription d = ReadDescription(c, true);
    if (!IsValidAesKey(d.password.c_str(), 1)) return r.Reply("BAD_PASSWORD");
    if (AddClient(address.c_str(), d.name.c_str(), d.schedule, d.setting_1, d.crypt, d.password.c_str(),
                  d.setting_2, d.setting_3, d.setting_4) != 0)
        return r.Reply("ERROR_CLIENT_DOWN");
    r.Reply(config->GetClientFromName(d.name.c_str()) ? "CONFIG_OK" : "ERROR_DATABASE");
}

void AddFrom(ConfigRequest& r) {
    Cursor c(r.values);
    std::string source = c.Next(" ");
    PrintMessage("must add client %s from %s", c.Rest().c_str(), source.c_str());
    r.Reply(kUnknownClient);
}

void CopyFrom(ConfigRequest& r) {
    PrintMessage("must create a new jds on id %s", Cursor(r.values).Next(" ").c_str());
    r.Reply("ERROR_UNKNOWN_CLIENT");
}

// Asks a machine what it is: an unconfigured agent tells its system, this
// box is the box; any other machine is not taken.
void Detect(ConfigRequest& r) {
    const std::string address = r.values;
    Sock* peer = OpenConnection(address.c_str(), config->client_port, 1, true, 10, 0);
    if (!peer) return r.Reply("ERROR_CLIENT_DOWN");
    bool found = false;
    char os[sizeof(Client::os)] = "";
    try {
        if (strcmp(peer->name, "anonymous") == 0) {
            peer->Write("operating_system");
            peer->Read();
            CopyText(os, peer->read_buffer);
            found = true;
        } else if (strcmp(peer->ip, "127.0.0.1") == 0) {
            CopyText(os, "Box");
            found = true;
        }
        peer->CloseConnection();
    } catch (SocketError& e) {
        // The machine went away: it is not taken, and the server's own
        // connection goes on.
        PrintMessage("DetectClient(%s): Socket Exception Caught: %s", address.c_str(), e.message);
        ReleaseSocketError();
        found = false;
    }
    delete peer;
    if (found) {
        Client* set = new Client();
        CopyText(set->ip, address.c_str());
        CopyText(set->os, os);
        CopyText(set->box_name, config->name);
        if (!config->AddClient(set)) delete set;  // refused: nobody else holds it
    }
    r.Reply("CONFIG_OK");
}

// A result code and its reply; a null reply sends nothing.
struct ResultReply {
    int code;
    const char* reply;
};

template <size_t N>
void ReplyResult(ConfigRequest& r, int code, const ResultReply (&table)[N], const char* otherwise) {
    const char* reply = otherwise;
    for (const ResultReply& entry : table)
        if (entry.code == code) reply = entry.reply;
    if (reply) r.Reply(reply);
}

void Delete(ConfigRequest& r) {
    static const ResultReply kReplies[] = {
        {0, "CONFIG_OK"},           {-1, kUnknownClient}, {-2, "ERROR_BUNKER_DOWN"},
        {-3, "ERROR_BUNKER_ERROR"}, {-4, nullptr},        {-5, kUnknownClient}};
    ReplyResult(r, DeleteClient(Cursor(r.values).Next(" ").c_str()), kReplies, nullptr);
}

void Evaluate(ConfigRequest& r) {
    Cursor c(r.values);
    std::string id = c.Next(" ");
    std::string rules = c.Rest();
    int count = 0;
    long long bytes = 0;
    int result = EvaluateStorage(config->GetClientFromId(id.c_str(), 0), rules.c_str(), count, bytes);
    if (result == 0) return r.Reply(std::to_string(count) + " " + std::to_string(bytes));
    static const ResultReply kReplies[] = {
        {-1, kUnknownClient}, {-2, "ERROR_CLIENT_DOWN"}, {-3, "0 0"}, {-4, "ERROR_DEPRECATED_CLIENT"}};
    ReplyResult(r, result, kReplies, "ERROR_UNKNOWN_ERROR");
}

void Modify(ConfigRequest& r) {
    Cursor c(r.values);
    std::string id = c.Next(" ");
    SetDescription d = ReadDescription(c, false);
    static const ResultReply kReplies[] = {{0, "CONFIG_OK"},
                                           {-1, kUnknownClient},
                                           {-2, "ERROR_CLIENT_DOWN"},
                                           {-3, "ERROR_BUNKER_DOWN"},
                                           {-4, "ERROR_PROTOCOL_MISMATCH"},
                                           {-5, kUnknownClient}};
    int result = ModifyClient(id.c_str(), "", d.name.c_str(), d.schedule, d.setting_1, d.crypt, d.setting_2,
                              d.setting_3, d.setting_4);
    ReplyResult(r, result, kReplies, nullptr);
}

// Activity states the server sets on a running job.
const uint32_t kPaused = 0x01000000;
const uint32_t kPausedNow = 0x02000000;
const uint32_t kStopped = 0x04000000;
const uint32_t kControlBits = 0x0F000000;

void Pause(ConfigRequest& r) {
    const char* name = r.values.c_str();
    if (thread_manager && !(thread_manager->GetState(name) & kControlBits))
        thread_manager->SetState(kPaused, name);
    r.Reply("CONFIG_OK");
}

void Resume(ConfigRequest& r) {
    const char* name = r.values.c_str();
    if (thread_manager) {
        for (uint32_t bit : {kPaused, kPausedNow, kStopped}) thread_manager->ResetState(bit, name);
    }
    r.Reply("CONFIG_OK");
}

void Stop(ConfigRequest& r) {
    const char* name = r.values.c_str();
    if (thread_manager) {
        uint32_t before = thread_manager->GetState(name);
        thread_manager->ResetState(kPaused, name);
        thread_manager->ResetState(kPausedNow, name);
        if (!(before & kStopped)) thread_manager->SetState(kStopped, name);
    }
    r.Reply("CONFIG_OK");
}

const ConfigVerb kClientVerbs[] = {
    {"get", Get},           {"getv2", GetV2},        {"stats", Stats},   {"add", Add},
    {"add_from", AddFrom},  {"copy_from", CopyFrom}, {"detect", Detect}, {"delete", Delete},
    {"evaluate", Evaluate}, {"modify", Modify},      {"pause", Pause},   {"resume", Resume},
    {"stop", Stop},
};

}  // namespace

void ConfigClient(ConfigRequest& r) {
    DispatchVerb(r, kClientVerbs);
}

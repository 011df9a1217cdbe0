// The backup and restore streams of the dispatcher: the catalogue of a
// set's files, and many files in fast packets in both directions.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/FileStreams.h"
#include "foundation/Log.h"
#include "foundation/Text.h"
#include "selection/CatalogueSink.h"
#include "selection/IncludeNode.h"
#include "selection/Walk.h"
#include "transport/Sock.h"

namespace {

// Each block of catalogue lines travels as one framed packet.
class SockCatalogueSink : public CatalogueSink {
  public:
    explicit SockCatalogueSink(Sock* sock) : sock_(sock) {}
    void SendBlock(std::vector<char*>& lines) override { sock_->WriteVector(&lines); }

  private:
    Sock* sock_;
};

// The rule block: one rule per line; lines the parser refuses are dropped.
std::vector<IncludeNode*> ParseRules(const char* block) {
    std::vector<IncludeNode*> rules;
    for (std::string& line : SplitLines(block)) {
        IncludeNode* rule = new IncludeNode(&line[0]);
        if (rule->error)
            delete rule;
        else
            rules.push_back(rule);
    }
    return rules;
}

}  // namespace

namespace commands {

void ListFilesToSave(Session& s, const char*, const char* rest) {
    int number = atoi(rest);
    s.sock->Write("LIST_OK");
    unsigned n = s.sock->Read();
    std::string block(s.sock->read_buffer, strnlen(s.sock->read_buffer, n));
    PrintMessage("%s", block.c_str());
    std::vector<IncludeNode*> rules = ParseRules(block.c_str());
    SockCatalogueSink sink(s.sock);
    try {
        LocalListFilesToSave(&sink, &rules, number);
    } catch (...) {
        ClearRules(&rules);
        throw;
    }
    s.sock->Write("LIST_DONE");
    ClearRules(&rules);
}

void SendFast(Session& s, const char*, const char* rest) {
    int number = atoi(rest);
    s.sock->Write("SEND_OK");
    unsigned n = s.sock->Read();
    std::string list(s.sock->read_buffer, strnlen(s.sock->read_buffer, n));
    MultiSendFiles(s.sock, &list[0], number);
}

void GetFast(Session& s, const char*, const char* rest) {
    // "<mode word>[ <location>]"
    const char* p = rest;
    while (*p == ' ') p++;
    const char* blank = strchr(p, ' ');
    std::string mode = blank ? std::string(p, blank - p) : std::string(p);
    bool relative = mode == "relative";
    std::string location;
    if (relative && blank) {
        location = blank + 1;
        if (!location.empty()) PrintMessage("Restauration a l'emplacement (%s)", location.c_str());
    }
    s.sock->Write("GET_OK");
    unsigned n = s.sock->Read();
    std::string list(s.sock->read_buffer, strnlen(s.sock->read_buffer, n));
    if (!list.empty())
        MultiGetFiles(s.sock, &list[0], relative ? 1 : 0, location.empty() ? nullptr : location.c_str());
}

}  // namespace commands

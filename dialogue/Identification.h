// Identification of the agent with its server: run at start-up, every hour
// and on request. It fetches the server's view of this machine's backup
// sets, and may update or reset the agent.
#pragma once

#include <vector>

class Client;

// 0, or -1 when the server cannot be reached (the no-box flag is then set).
// The first argument is ignored; `force` asks for the maintenance branch.
int IdentifyWithServer(int unused, int force);

// Parses the reply of "config client getv2 all" (or of the older "get"
// form, `v2` false) into new Client records appended to `out`. Returns the
// announced count.
int ParseClientList(const char* reply, bool v2, const char* server_name, std::vector<Client*>& out);

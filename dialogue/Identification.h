// Identification of the agent with its server.
#pragma once

// Identifies this agent with the server and takes over its view of the
// backup sets. 0 on success.
int IdentifyWithServer(int force, int quiet);

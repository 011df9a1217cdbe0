// One backup set (a JDS) of this machine, as the configuration file and the
// server's rows describe it.
#pragma once

#include <atomic>

extern std::atomic<int> client_count;

class Client {
public:
    Client();
    // Copies every field but `transient`, which starts at 0.
    explicit Client(const Client* other);
    // A server row (identification). `row` always holds at least 19 slots
    // (0-18); `count` tells whether slots 19 and 20 are present too. A count
    // below 18 leaves the defaults.
    Client(char** row, int count);
    ~Client();

    // False when any of `bits` is already set; otherwise sets them.
    bool SetState(int bits);
    // False when none of `bits` is set; otherwise clears them, and with them
    // bits 28 to 31 unless they are among `bits`.
    bool ResetState(int bits);
    int GetState() const { return state; }

    char id[30];
    char ip[20];
    char name[260];
    char os[12];
    char box_name[30];
    char base_id[32];
    int value_1;
    int value_2;
    int state;
    int crypt;
    int setting_2;
    unsigned created;
    unsigned modified;
    unsigned last_save;
    unsigned counter_1;
    unsigned stored_kb;
    int setting_3;
    int number;
    int setting_1;
    char schedule[101];
    int setting_4;
    int transient;
    int value_3;
};

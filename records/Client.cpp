#include "records/Client.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "foundation/Text.h"

std::atomic<int> client_count{0};

namespace {

int ToInt(const char* text) { return text ? atoi(text) : 0; }

unsigned ToUnsigned(const char* text) {
    unsigned value = 0;
    if (text) sscanf(text, "%u", &value);
    return value;
}

}  // namespace

Client::Client() {
    memset(static_cast<void*>(this), 0, sizeof(*this));
    snprintf(ip, sizeof(ip), "127.0.0.1");
    snprintf(name, sizeof(name), "null");
    created = modified = (unsigned)time(nullptr);
    setting_3 = 3;
    setting_1 = 3;
    snprintf(schedule, sizeof(schedule), "0 0 * * *");
    client_count++;
}

Client::Client(const Client* other) : Client() {
    if (other) {
        client_count--;  // the delegated constructor counted already
        memcpy(static_cast<void*>(this), other, sizeof(*this));
        client_count++;
    }
    transient = 0;
}

Client::Client(char** row, int count) : Client() {
    if (!row || count < 18) return;
    CopyText(box_name, row[0]);
    CopyText(base_id, row[1]);
    CopyText(name, row[2]);
    CopyText(ip, row[3]);
    CopyText(os, row[4]);
    value_1 = ToInt(row[5]);
    value_2 = ToInt(row[6]);
    crypt = ToInt(row[7]);
    created = ToUnsigned(row[8]);
    modified = ToUnsigned(row[9]);
    last_save = ToUnsigned(row[10]);
    state = ToInt(row[11]);
    setting_2 = ToInt(row[12]);
    counter_1 = ToUnsigned(row[13]);
    stored_kb = ToUnsigned(row[14]);
    setting_3 = ToInt(row[15]);
    number = ToInt(row[16]);
    setting_1 = ToInt(row[17]);
    CopyText(schedule, row[18]);
    snprintf(id, sizeof(id), "%s.%i", base_id, number);
    setting_4 = count > 19 ? ToInt(row[19]) : 0;
    value_3 = count > 20 ? ToInt(row[20]) : 0;
}

Client::~Client() { client_count--; }

bool Client::SetState(int bits) {
    if (state & bits) return false;
    state |= bits;
    return true;
}

bool Client::ResetState(int bits) {
    if (!(state & bits)) return false;
    state &= (bits ^ 0x0FFFFFFF);
    return true;
}

#include "core/ThreadState.h"

#include <string.h>
#include <time.h>

#include "foundation/Formatting.h"
#include "foundation/Log.h"
#include "foundation/Text.h"

std::atomic<int> thread_state_count{0};
std::atomic<int> thread_node_count{0};

bool IsJobCode(uint32_t code) {
    switch (code) {
    case kStateTreatFiles:
    case kStateSaveCube:
    case kStateSaveWarehouse:
    case kStateRestoreCube:
    case kStateRestoreWarehouse:
    case kStateEraseCube:
    case kStateEraseWarehouse:
    case kStateJob:
    case kStateDeleteClient:
        return true;
    default:
        return false;
    }
}

bool IsFileCode(uint32_t code) { return code == kStateSend || code == kStateReceive || code == kStateTreatFile; }

namespace {

void Replace(char*& field, const char* text) {
    delete[] field;
    field = nullptr;
    if (!text) return;
    size_t n = strlen(text);
    field = new char[n + 1];
    memcpy(field, text, n + 1);
}

const char* Text(const char* s) { return s ? s : ""; }

uint32_t Now() { return (uint32_t)::time(nullptr); }

}  // namespace

ThreadState::ThreadState(uint32_t code)
    : status(code),
      client_ip(nullptr),
      client_name(nullptr),
      name(nullptr),
      filename(nullptr),
      filecount(0),
      total_filecount(0),
      filesize(0),
      total_filesize(0),
      size(0),
      total_size(0),
      time(Now()) {
    thread_state_count++;
}

ThreadState::~ThreadState() {
    delete[] client_ip;
    delete[] client_name;
    delete[] name;
    delete[] filename;
    thread_state_count--;
}

void ThreadState::SetClientIp(const char* text) { Replace(client_ip, text); }
void ThreadState::SetClientName(const char* text) { Replace(client_name, text); }
void ThreadState::SetName(const char* text) { Replace(name, text); }

void ThreadState::SetFilename(const char* text) {
    if (filename) PrintMessage("deleting old filename");
    Replace(filename, text);
}

void ThreadState::Print(char* out, size_t out_size, const char* prefix) const {
    if (!out || out_size == 0) return;
    char job_total[kSizeTextLength], job_done[kSizeTextLength], file_total[kSizeTextLength],
        file_done[kSizeTextLength];
    PrintSize(total_size, job_total);
    PrintSize(filesize + size, job_done);
    PrintSize(total_filesize, file_total);
    PrintSize(filesize, file_done);

    long e = (long)Now() - (long)time;
    if (e < 0) e = 0;
    char elapsed[48];
    snprintf(elapsed, sizeof(elapsed), "%02i:%02i:%02i:%02i", (int)(e / 86400), (int)(e / 3600 % 24),
             (int)(e / 60 % 60), (int)(e % 60));
    char file_rate[40] = "", job_rate[40] = "";
    if (e != 0) {
        snprintf(file_rate, sizeof(file_rate), "%2.2f K/s", (double)filesize / ((double)e * 1024.0));
        snprintf(job_rate, sizeof(job_rate), "%2.2f K/s", (double)(filesize + size) / ((double)e * 1024.0));
    }

    static const struct {
        uint32_t code;
        const char* text;
    } kPlain[] = {
        {kStateMain, "%s: Main\n"},
        {kStateWaitConnection, "%s: Waiting for Connection\n"},
        {kStateBroadcast, "%s: Listening to Broadcasts\n"},
        {kStateConnected, nullptr},
        {kStateSchedulerClient, "%s: Scheduler Client\n"},
        {kStateSchedulerCube, "%s: Scheduler Cube\n"},
        {kStateSchedulerWarehouse, "%s: Scheduler Warehouse\n"},
        {kStateCommand, "%s: Command Interpreter\n"},
        {kStateMessageQueue, "%s: Windows Message Queue\n"},
        {kStateCheckFiles, "%s: Check For Files To Save\n"},
        {kStateSaveCube, "%s: Save Files To Cube for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateRestoreCube, "%s: Restore Files From Cube for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateEraseCube, "%s: Erase Files From Cube for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateSaveWarehouse, "%s: Save Files To Warehouse for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateRestoreWarehouse, "%s: Restore Files From Warehouse for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateEraseWarehouse, "%s: Erase Files From Warehouse for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateTreatFiles, "%s: Treat files for %s (%u / %u) (%s / %s) @ %s\n"},
        {kStateSend, "%s: Send (%s) (%s / %s) @ %s\n"},
        {kStateReceive, "%s: Receive (%s) (%s / %s) @ %s\n"},
        {kStateTreatFile, "%s: Treat File (%s) (%s / %s) @ %s\n"},
        {kStateDeleteClient, "%s: Delete Client %s\n"},
        {kStatePausing, "%s: THREAD IS PAUSING\n"},
        {kStatePaused, "%s: THREAD IS PAUSED\n"},
        {kStateStopping, "%s: THREAD IS STOPPING\n"},
    };

    char line[2048];
    line[0] = 0;
    if (status == 0) {
        snprintf(line, sizeof(line), "%s: idle\n", elapsed);
    } else {
        for (const auto& entry : kPlain) {
            if (!(status & entry.code)) continue;
            uint32_t c = entry.code;
            if (c == kStateConnected)
                snprintf(line, sizeof(line), "%s: Connected to %s @ %s\n", elapsed, Text(client_name), Text(client_ip));
            else if (IsJobCode(c) && c != kStateDeleteClient)
                snprintf(line, sizeof(line), entry.text, elapsed, Text(name), filecount, total_filecount, job_done,
                         job_total, job_rate);
            else if (IsFileCode(c))
                snprintf(line, sizeof(line), entry.text, elapsed, Text(filename), file_done, file_total, file_rate);
            else if (c == kStateDeleteClient)
                snprintf(line, sizeof(line), entry.text, elapsed, Text(name));
            else
                snprintf(line, sizeof(line), entry.text, elapsed);
            break;
        }
    }
    if (!line[0]) return;
    size_t used = strlen(out);
    size_t need = strlen(line) + (prefix ? strlen(prefix) : 0);
    if (used + need >= out_size) return;
    if (prefix) strcat(out, prefix);
    strcat(out, line);
}

void ThreadState::Export(FILE* f) const {
    fprintf(f, "  <state>\n");
    fprintf(f, "   <status>%06x</status>\n", status);
    fprintf(f, "   <time>%012x</time>\n", time);
    if (client_ip) fprintf(f, "   <client_ip>%s</client_ip>\n", client_ip);
    if (client_name) fprintf(f, "   <client_name>%s</client_name>\n", client_name);
    if (name) fprintf(f, "   <name>%s</name>\n", name);
    if (filename) fprintf(f, "   <filename>%s</filename>\n", filename);
    if (filecount || total_filecount) fprintf(f, "   <filecount>%u/%u</filecount>\n", filecount, total_filecount);
    if (filesize || total_filesize)
        fprintf(f, "   <%s>%lli/%lli</%s>\n", "filesize", (long long)filesize, (long long)total_filesize, "filesize");
    if (size || total_size)
        fprintf(f, "   <%s>%lli/%lli</%s>\n", "size", (long long)size, (long long)total_size, "size");
    fprintf(f, "  </state>\n");
}

ThreadNode::ThreadNode(unsigned long thread_id) : id(thread_id) { thread_node_count++; }

ThreadNode::~ThreadNode() {
    for (size_t i = states.size(); i > 0; i--) delete states[i - 1];
    states.clear();
    thread_node_count--;
}

void ThreadNode::SetState(uint32_t code) { states.push_back(new ThreadState(code)); }

bool ThreadNode::ResetState(uint32_t code) {
    for (size_t i = states.size(); i > 0; i--) {
        if (states[i - 1]->status == code) {
            delete states[i - 1];
            states.erase(states.begin() + (long)(i - 1));
            return true;
        }
    }
    return false;
}

uint32_t ThreadNode::GetState() const {
    uint32_t sum = 0;
    for (const ThreadState* s : states) sum += s->status;
    return sum;
}

ThreadState* ThreadNode::LastOf(bool (*group)(uint32_t)) const {
    for (size_t i = states.size(); i > 0; i--)
        if (group(states[i - 1]->status)) return states[i - 1];
    return nullptr;
}

bool ThreadNode::SetFileSize(int64_t bytes) {
    ThreadState* s = LastOf(IsFileCode);
    if (s) s->filesize = bytes;
    return s != nullptr;
}

bool ThreadNode::SetTotalFileSize(int64_t bytes) {
    ThreadState* s = LastOf(IsFileCode);
    if (s) s->total_filesize = bytes;
    return s != nullptr;
}

bool ThreadNode::SetFilename(const char* text) {
    ThreadState* s = LastOf(IsFileCode);
    if (s) s->SetFilename(text);
    return s != nullptr;
}

bool ThreadNode::SetName(const char* text) {
    ThreadState* s = LastOf(IsJobCode);
    if (s) s->SetName(text);
    return s != nullptr;
}

bool ThreadNode::SetConnection(const char* ip, const char* peer_name) {
    ThreadState* s = LastOf([](uint32_t code) { return code == kStateConnected; });
    if (!s) return false;
    s->SetClientIp(ip);
    s->SetClientName(peer_name);
    return true;
}

bool ThreadNode::HasName(const char* n) const {
    for (const ThreadState* s : states)
        if (compare(s->name, n)) return true;
    return false;
}

void ThreadNode::Print(char* out, size_t size) const {
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "%08lx: ", id);
    for (const ThreadState* s : states) s->Print(out, size, prefix);
}

void ThreadNode::Export(FILE* f) const {
    fprintf(f, " <thread>\n");
    fprintf(f, "  <id>%06lx</id>\n", id);
    for (const ThreadState* s : states) s->Export(f);
    fprintf(f, " </thread>\n");
}

bool ReadStatusLine(FILE* f, char* line, size_t size) {
    if (!fgets(line, (int)size, f)) return false;
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] != '\n') {
        // Too long: the rest of the line is not a line of its own.
        int c;
        while ((c = fgetc(f)) != EOF && c != '\n') {
        }
    }
    return true;
}

void SplitStatusLine(char* line, char** tag, char** value) {
    char* save = nullptr;
    *tag = strtok_b(line, "<> \n", &save);
    *value = strtok_b(nullptr, "<>\n", &save);
    // "<name></name>": an empty text, not the closing tag.
    if (*tag && *value && (*value)[0] == '/' && strcmp(*value + 1, *tag) == 0) *value = nullptr;
    if (!*value) *value = const_cast<char*>("");
}

namespace {

// Reads one "<state>" block's lines into `s` up to "</state>"; false when
// the file ended first.
bool ImportState(FILE* f, ThreadState* s) {
    char line[1600];
    while (ReadStatusLine(f, line, sizeof(line))) {
        char *tag, *value;
        SplitStatusLine(line, &tag, &value);
        if (!tag) continue;
        if (strcmp(tag, "/state") == 0) return true;
        if (strcmp(tag, "status") == 0) {
            unsigned v = 0;
            if (sscanf(value, "%x", &v) == 1) s->status = v;
        } else if (strcmp(tag, "time") == 0) {
            unsigned v = 0;
            if (sscanf(value, "%x", &v) == 1) s->time = v;
        } else if (strcmp(tag, "client_ip") == 0) {
            s->SetClientIp(value);
        } else if (strcmp(tag, "client_name") == 0) {
            s->SetClientName(value);
        } else if (strcmp(tag, "name") == 0) {
            s->SetName(value);
        } else if (strcmp(tag, "filename") == 0) {
            s->SetFilename(value);
        } else if (strcmp(tag, "filecount") == 0) {
            unsigned a = 0, b = 0;
            if (sscanf(value, "%u/%u", &a, &b) == 2) {
                s->filecount = a;
                s->total_filecount = b;
            }
        } else if (strcmp(tag, "filesize") == 0 || strcmp(tag, "size") == 0) {
            long long a = 0, b = 0;
            if (sscanf(value, "%lli/%lli", &a, &b) == 2) {
                if (tag[0] == 'f') {
                    s->filesize = a;
                    s->total_filesize = b;
                } else {
                    s->size = a;
                    s->total_size = b;
                }
            }
        }
    }
    return false;
}

}  // namespace

bool ThreadNode::Import(FILE* f) {
    char line[400];
    while (ReadStatusLine(f, line, sizeof(line))) {
        char *tag, *value;
        SplitStatusLine(line, &tag, &value);
        if (!tag) continue;
        if (strcmp(tag, "/thread") == 0) return true;
        if (strcmp(tag, "id") == 0) {
            unsigned long v = 0;
            if (sscanf(value, "%lx", &v) == 1) id = v;
        } else if (strcmp(tag, "state") == 0) {
            ThreadState* s = new ThreadState(0);
            states.push_back(s);
            if (!ImportState(f, s)) return false;
        }
    }
    return false;
}

bool ThreadNode::GetInfo(const char* n, char* out, size_t size) const {
    bool processing = false;
    uint32_t combined = 0;
    const char* file = nullptr;
    uint64_t filecount_sum = 0, total_filecount_sum = 0;
    int64_t size_sum = 0, total_size_sum = 0, file_done = 0, file_total = 0;
    uint32_t start = 0;
    for (const ThreadState* s : states) {
        bool named = compare(s->name, n);
        if (!processing && !named) continue;
        processing = true;
        combined |= s->status;
        if (s->filename) file = s->filename;
        filecount_sum += s->filecount;
        total_filecount_sum += s->total_filecount;
        if (s->size > 0) size_sum += s->size;
        if (s->total_size > 0) total_size_sum += s->total_size;
        if (s->filesize > 0) file_done = s->filesize;
        if (s->total_filesize > 0) file_total = s->total_filesize;
        if (named) start = s->time;
    }
    if (!processing) return false;
    int64_t done = size_sum + file_done;
    int64_t total = total_size_sum;
    if (done > total) total += file_total;
    // Files without bytes still show progress.
    done += (int64_t)filecount_sum;
    total += (int64_t)total_filecount_sum;
    long since = (long)(uint32_t)::time(nullptr) - (long)start;
    snprintf(out, size, "%i %lli %lli \"%s\" %lli %lli %lu", (int)combined, (long long)done, (long long)total,
             file ? file : " ", (long long)file_done, (long long)file_total, (unsigned long)since);
    return true;
}

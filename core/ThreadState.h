// Records of the activity registry: one ThreadState per activity a thread
// has entered and not left, stacked in the thread's ThreadNode.
//
// Threads: these classes hold no lock of their own. The ThreadManager calls
// them with "mutex_threads" held; a node that is not in the manager belongs
// to its creator.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <atomic>
#include <vector>

// Live instance counts for the "objects" diagnostic; changed under
// "mutex_threads" (or by the only thread that sees the object).
extern std::atomic<int> thread_state_count;
extern std::atomic<int> thread_node_count;

// Activity codes (single bits; a thread's combined state is their sum).
enum : uint32_t {
    kStateMain = 0x1,
    kStateWaitConnection = 0x2,
    kStateConnected = 0x4,
    kStateBroadcast = 0x8,
    kStateSend = 0x10,
    kStateReceive = 0x20,
    kStateTreatFile = 0x40,
    kStateTreatFiles = 0x80,
    kStateCheckFiles = 0x100,
    kStateSaveCube = 0x200,
    kStateSaveWarehouse = 0x400,
    kStateRestoreCube = 0x800,
    kStateRestoreWarehouse = 0x1000,
    kStateEraseCube = 0x2000,
    kStateEraseWarehouse = 0x4000,
    kStateSchedulerClient = 0x8000,
    kStateSchedulerCube = 0x10000,
    kStateSchedulerWarehouse = 0x20000,
    kStateCommand = 0x40000,
    kStateMessageQueue = 0x80000,
    kStateJob = 0x100000,
    kStateDeleteClient = 0x400000,
    kStatePausing = 0x1000000,
    kStatePaused = 0x2000000,
    kStateStopping = 0x4000000,
};

// True for the codes whose records take a backup-set name (the job codes
// and the set deletion), and for the codes of one file in transit.
bool IsJobCode(uint32_t code);
bool IsFileCode(uint32_t code);

class ThreadState {
public:
    // All texts and numbers 0, `time` now.
    explicit ThreadState(uint32_t code);
    ~ThreadState();
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;

    // Each replaces (and frees) the previous text; null clears it.
    void SetClientIp(const char* text);
    void SetClientName(const char* text);
    void SetName(const char* text);
    // Replacing an existing file name logs "deleting old filename".
    void SetFilename(const char* text);

    // Appends the record's one-line description to `out` (a text with room
    // for `size` bytes); the whole line is dropped when it would not fit.
    // `prefix` (may be null) goes before the line.
    void Print(char* out, size_t size, const char* prefix = nullptr) const;
    // Writes the record's "<state>" block.
    void Export(FILE* f) const;

    uint32_t status;
    char* client_ip;
    char* client_name;
    char* name;
    char* filename;
    uint32_t filecount;
    uint32_t total_filecount;
    int64_t filesize;
    int64_t total_filesize;
    int64_t size;
    int64_t total_size;
    uint32_t time;  // seconds since 1970: when the activity began
};

class ThreadNode {
public:
    explicit ThreadNode(unsigned long id);
    ~ThreadNode();
    ThreadNode(const ThreadNode&) = delete;
    ThreadNode& operator=(const ThreadNode&) = delete;

    // Appends a new record with `code`.
    void SetState(uint32_t code);
    // Removes the last record with `code`; false when there is none.
    bool ResetState(uint32_t code);
    // Sum of the codes of all records.
    uint32_t GetState() const;

    // Each addresses the innermost record of its group and is false when the
    // node has none: file codes for the file setters, job codes (and 0x400000)
    // for SetName, 0x4 for SetConnection.
    bool SetFileSize(int64_t bytes);
    bool SetTotalFileSize(int64_t bytes);
    bool SetFilename(const char* text);
    bool SetName(const char* text);
    bool SetConnection(const char* ip, const char* peer_name);

    // True when a record's name equals `n`.
    bool HasName(const char* n) const;

    // One line per record, each prefixed with the thread id ("%08lx: ").
    void Print(char* out, size_t size) const;
    // Writes the node's "<thread>" block.
    void Export(FILE* f) const;
    // Reads the node's lines after its "<thread>" line up to "</thread>";
    // false when the file ended first.
    bool Import(FILE* f);
    // The progress answer of the activity named `n` (see ThreadManager::
    // GetThreadInfo); false, `out` untouched, when no record carries `n`.
    bool GetInfo(const char* n, char* out, size_t size) const;

    unsigned long id;
    std::vector<ThreadState*> states;  // owned, in the order entered

private:
    ThreadState* LastOf(bool (*group)(uint32_t)) const;
};

// Reads one line of at most `size` - 1 bytes into `line`; the rest of a
// longer line is skipped. False at the end of the file.
bool ReadStatusLine(FILE* f, char* line, size_t size);
// Splits a status file line into its tag and value (value may be empty).
void SplitStatusLine(char* line, char** tag, char** value);

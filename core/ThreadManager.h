// The activity registry: what every thread of the agent is doing, written to
// the status file for the command line and asked by the server.
//
// Threads: every operation holds "mutex_threads" for its whole duration;
// the `modified` flag has its own "mutex_thread_modified", always taken
// after "mutex_threads" when both are held. The calling thread is found by
// GetThreadID(). The process global `mutex` must exist while the manager is
// used.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <list>

#include "core/ThreadState.h"

extern std::atomic<int> thread_manager_count;

class ThreadManager {
public:
    ThreadManager();
    // Frees every node.
    ~ThreadManager();
    ThreadManager(const ThreadManager&) = delete;
    ThreadManager& operator=(const ThreadManager&) = delete;

    // Appends a record with `code` to the calling thread's node (created when
    // missing) or, with a name, to the first node that has a record with that
    // name (nothing when none).
    void SetState(unsigned code, const char* name = nullptr);
    // Removes the last record with `code` from the same node.
    void ResetState(unsigned code, const char* name = nullptr);
    // The sum of that node's codes, 0 when there is no node.
    uint32_t GetState(const char* name = nullptr);

    // Progress setters of the calling thread's innermost record of the right
    // group (file records for the first three, job records for SetName, the
    // connection record for SetConnection). Nothing without such a record.
    void SetFileSize(int64_t bytes);
    void SetTotalFileSize(int64_t bytes);
    void SetFilename(const char* filename);
    void SetName(const char* name);
    void SetConnection(const char* ip, const char* peer_name);

    // Removes and frees the calling thread's node; every thread body calls it
    // before it ends.
    void RemoveThread();

    void SetModified(bool value);
    bool GetModified();

    // Hook of the transfer loops, once per data block: changes nothing and
    // returns false.
    bool KeepGoing() { return false; }

    // Writes the status file (threads_file) when something changed since the
    // last successful export: a temporary file first (ReplacementFile), then renamed over the file,
    // so a reader never sees a partial file. True when written. An export
    // that fails leaves `modified` set so the next pass retries.
    bool Export();
    // Appends the nodes of a status file to the list; false when the file
    // cannot be opened.
    bool Import(const char* path);
    // Appends one line per record of every node to `out` (room for `size`).
    void Print(char* out, size_t size);
    // The progress of the activity named `name`: "status done total
    // \"file\" filedone filetotal seconds", or "0 " when nobody works on it.
    void GetThreadInfo(const char* name, char* out, size_t size = 410);

    // The job sizes summed over every record: bytes done and bytes in total.
    void SumJobSizes(int64_t& done, int64_t& total);

    // The number of nodes (for tests and diagnostics).
    size_t CountThreads();

private:
    // Callers hold "mutex_threads".
    ThreadNode* FindThread(const char* name, bool create);
    void MarkModified();

    std::list<ThreadNode*> nodes_;  // owned, in creation order
    bool modified_;
};

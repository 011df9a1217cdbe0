#include "core/ThreadManager.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "core/Globals.h"
#include "foundation/Log.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Threads.h"

std::atomic<int> thread_manager_count{0};

namespace {

// Holds a process mutex for one scope; `ok` is false when locking failed.
class Hold {
public:
    Hold(pthread_mutex_t* m, const char* caller) : m_(m), caller_(caller) {
        ok = m_ && mutex_lock(*m_, caller_) == 0;
    }
    ~Hold() {
        if (ok) mutex_unlock(*m_, caller_);
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    bool ok;

private:
    pthread_mutex_t* m_;
    const char* caller_;
};

pthread_mutex_t* Threads() { return mutex ? &mutex->mutex_threads : nullptr; }
pthread_mutex_t* Modified() { return mutex ? &mutex->mutex_thread_modified : nullptr; }

// The export runs on every pass of the housekeeping loop: a lasting failure
// is logged once, then counted.
RepeatedError export_errors;

}  // namespace

ThreadManager::ThreadManager() : modified_(false) { thread_manager_count++; }

ThreadManager::~ThreadManager() {
    Hold lock(Threads(), "ThreadManager::~ThreadManager");
    for (ThreadNode* n : nodes_) delete n;
    nodes_.clear();
    thread_manager_count--;
}

ThreadNode* ThreadManager::FindThread(const char* name, bool create) {
    if (name) {
        for (ThreadNode* n : nodes_)
            if (n->HasName(name)) return n;
        return nullptr;
    }
    unsigned long id = GetThreadID();
    for (ThreadNode* n : nodes_)
        if (n->id == id) return n;
    if (!create) return nullptr;
    ThreadNode* n = new ThreadNode(id);
    nodes_.push_back(n);
    return n;
}

void ThreadManager::MarkModified() {
    Hold lock(Modified(), "ThreadManager::MarkModified");
    modified_ = true;
}

void ThreadManager::SetState(unsigned code, const char* name) {
    Hold lock(Threads(), "ThreadManager::SetState");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(name, name == nullptr);
    if (!n) return;
    n->SetState(code);
    MarkModified();
}

void ThreadManager::ResetState(unsigned code, const char* name) {
    Hold lock(Threads(), "ThreadManager::ResetState");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(name, false);
    if (n && n->ResetState(code)) MarkModified();
}

uint32_t ThreadManager::GetState(const char* name) {
    Hold lock(Threads(), "ThreadManager::GetState");
    if (!lock.ok) return 0;
    ThreadNode* n = FindThread(name, false);
    return n ? n->GetState() : 0;
}

void ThreadManager::SetFileSize(int64_t bytes) {
    Hold lock(Threads(), "ThreadManager::SetFileSize");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(nullptr, false);
    if (n && n->SetFileSize(bytes)) MarkModified();
}

void ThreadManager::SetTotalFileSize(int64_t bytes) {
    Hold lock(Threads(), "ThreadManager::SetTotalFileSize");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(nullptr, false);
    if (n && n->SetTotalFileSize(bytes)) MarkModified();
}

void ThreadManager::SetFilename(const char* filename) {
    Hold lock(Threads(), "ThreadManager::SetFilename");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(nullptr, false);
    if (n && n->SetFilename(filename)) MarkModified();
}

void ThreadManager::SetName(const char* name) {
    Hold lock(Threads(), "ThreadManager::SetName");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(nullptr, false);
    if (n && n->SetName(name)) MarkModified();
}

void ThreadManager::SetConnection(const char* ip, const char* peer_name) {
    Hold lock(Threads(), "ThreadManager::SetConnection");
    if (!lock.ok) return;
    ThreadNode* n = FindThread(nullptr, false);
    if (n && n->SetConnection(ip, peer_name)) MarkModified();
}

void ThreadManager::RemoveThread() {
    Hold lock(Threads(), "ThreadManager::RemoveThread");
    if (!lock.ok) return;
    unsigned long id = GetThreadID();
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
        if ((*it)->id == id) {
            delete *it;
            nodes_.erase(it);
            MarkModified();
            return;
        }
    }
}

void ThreadManager::SumJobSizes(int64_t& done, int64_t& total) {
    done = total = 0;
    Hold lock(Threads(), "ThreadManager::SumJobSizes");
    if (!lock.ok) return;
    for (const ThreadNode* n : nodes_) {
        for (const ThreadState* s : n->states) {
            done += s->size;
            total += s->total_size;
        }
    }
}

void ThreadManager::SetModified(bool value) {
    Hold lock(Modified(), "ThreadManager::SetModified");
    modified_ = value;
}

bool ThreadManager::GetModified() {
    Hold lock(Modified(), "ThreadManager::GetModified");
    return modified_;
}

bool ThreadManager::Export() {
    if (!GetModified()) return false;
    if (!res) return false;
    Hold lock(Threads(), "ThreadManager::Export");
    if (!lock.ok) return false;
    ReplacementFile file(res->threads_file);
    FILE* f = file.Open() ? file.stream() : nullptr;
    if (!f) {
        export_errors.Report("ThreadManager::Export: Could not open %s for writing", res->threads_file);
        return false;
    }
    fprintf(f, "<thread_manager>\n");
    for (const ThreadNode* n : nodes_) n->Export(f);
    fprintf(f, "</thread_manager>\n");
    // Only a complete file replaces the previous one; otherwise the next pass
    // tries again. A progress report is rewritten on every change and need
    // not outlive a crash: no wait for the disk.
    if (!file.Commit(false)) {
        export_errors.Report("ThreadManager::Export: Could not write %s", res->threads_file);
        return false;
    }
    export_errors.Clear();
    SetModified(false);
    return true;
}

bool ThreadManager::Import(const char* path) {
    if (!path) return false;
    Hold lock(Threads(), "ThreadManager::Import");
    if (!lock.ok) return false;
    FILE* f = fopen(path, "re");
    if (!f) return false;
    char line[400];
    bool added = false;
    while (ReadStatusLine(f, line, sizeof(line))) {
        char *tag, *value;
        SplitStatusLine(line, &tag, &value);
        if (!tag) continue;
        if (strcmp(tag, "/thread_manager") == 0) break;
        if (strcmp(tag, "thread") != 0) continue;
        ThreadNode* n = new ThreadNode(0);
        if (!n->Import(f)) {
            // The file ended inside the node: keep nothing of it.
            delete n;
            break;
        }
        nodes_.push_back(n);
        added = true;
    }
    fclose(f);
    if (added) MarkModified();
    return true;
}

void ThreadManager::Print(char* out, size_t size) {
    Hold lock(Threads(), "ThreadManager::Print");
    if (!lock.ok) return;
    for (const ThreadNode* n : nodes_) n->Print(out, size);
}

void ThreadManager::GetThreadInfo(const char* name, char* out, size_t size) {
    if (!out || size == 0) return;
    snprintf(out, size, "0 ");
    Hold lock(Threads(), "ThreadManager::GetThreadInfo");
    if (!lock.ok) return;
    for (const ThreadNode* n : nodes_)
        if (n->GetInfo(name, out, size)) return;
}

size_t ThreadManager::CountThreads() {
    Hold lock(Threads(), "ThreadManager::CountThreads");
    return nodes_.size();
}

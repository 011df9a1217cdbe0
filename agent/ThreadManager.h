// Activity registry (placeholder until the full registry lands).
#pragma once

class ThreadManager {
public:
    ThreadManager() {}
    ~ThreadManager() {}
    void SetState(unsigned code, const char* name = nullptr) {}
    void ResetState(unsigned code, const char* name = nullptr) {}
    void RemoveThread() {}
    bool Export() { return false; }
};

// Detached threads and the named mutexes every subsystem relies on.
#include <gtest/gtest.h>

#include <atomic>

#include "foundation/Threads.h"

namespace {

struct Shared {
    pthread_mutex_t m;
    std::atomic<int> entered{0}, finished{0};
    long counter = 0;
};

TEST(DetachedThreadsLoseUpdatesUnderMutex, FourThreads) {
    Shared s;
    mutex_create(s.m, "mutex_test");
    // Held while the threads start: they must wait, not fail.
    ASSERT_EQ(mutex_lock(s.m, "test"), 0);
    auto body = [](void* argument) -> void* {
        Shared* s = static_cast<Shared*>(argument);
        s->entered++;
        for (int i = 0; i < 1000; i++) { mutex_lock(s->m, "Body"); s->counter++; mutex_unlock(s->m, "Body"); }
        s->finished++;
        return nullptr;
    };
    for (int i = 0; i < 4; i++) ASSERT_TRUE(StartThread(body, &s));
    for (int i = 0; i < 1000 && s.entered < 4; i++) Wait(0.01);
    EXPECT_EQ(s.counter, 0);
    mutex_unlock(s.m, "test");
    for (int i = 0; i < 1000 && s.finished < 4; i++) Wait(0.01);
    ASSERT_EQ(s.finished, 4);
    EXPECT_EQ(s.counter, 4000);
    mutex_destroy(s.m);
}

}  // namespace

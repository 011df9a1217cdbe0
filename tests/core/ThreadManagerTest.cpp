// The activity registry: setters must hit the innermost record of their
// group, and the status file must round-trip and never be seen half-written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <thread>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "support/TestHome.h"

namespace {

struct ThreadManagerTest : ::testing::Test {
    std::string Status() { return ReadWholeFile(res->threads_file); }
    TestHome home_;
};

TEST_F(ThreadManagerTest, SettersAddressInnermostRecordOfTheirGroup) {
    ThreadManager m;
    m.SetState(0x4);
    m.SetConnection("127.0.0.1", "peer");
    m.SetState(0x200);
    m.SetName("set1");  // must land on 0x200, not the connection
    m.SetState(0x10);
    m.SetFilename("|a|b.txt");
    m.SetFileSize(100);
    m.SetTotalFileSize(400);
    EXPECT_EQ(m.GetState(), 0x214u);
    EXPECT_EQ(m.GetState("set1"), 0x214u);

    char info[410];
    m.GetThreadInfo("set1", info, sizeof(info));
    // status, done, total (+ file total as done > 0), file, file sizes, seconds
    EXPECT_EQ(std::string(info).substr(0, 34), "528 100 400 \"|a|b.txt\" 100 400 0");

    char out[2000] = "";
    m.Print(out, sizeof(out));
    std::string text = out;
    EXPECT_NE(text.find(": Connected to peer @ 127.0.0.1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Save Files To Cube for set1 (0 / 0) (0 B / 0 B) @ "), std::string::npos) << text;
    EXPECT_NE(text.find(": Send (|a|b.txt) (100 B / 400 B) @ "), std::string::npos) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("^[0-9a-f]{8,16}: "))) << text;
}

TEST_F(ThreadManagerTest, UnknownNamesAndMissingRecordsChangeNothingAndResetRemovesTheLaterOfTwoEqualCodes) {
    ThreadManager m;
    char info[410] = "garbage";
    m.GetThreadInfo("nobody", info, sizeof(info));
    EXPECT_STREQ(info, "0 ");
    m.SetFileSize(5);  // no node, no record
    m.SetState(0x8, "nobody");
    EXPECT_EQ(m.CountThreads(), 0u);
    EXPECT_FALSE(m.GetModified());
    m.SetState(0x10);
    m.SetFilename("first");
    m.SetState(0x10);
    m.SetFilename("second");
    m.ResetState(0x10);
    m.SetFileSize(7);  // now addresses "first"
    EXPECT_EQ(m.GetState(), 0x10u);
    ASSERT_TRUE(m.Export());
    std::string status = Status();
    EXPECT_EQ(status.find("second"), std::string::npos);
    EXPECT_NE(status.find("<filename>first</filename>\n   <filesize>7/0</filesize>"), std::string::npos) << status;
    m.ResetState(0x10);
    m.ResetState(0x10);  // nothing left: no effect
    EXPECT_EQ(m.GetState(), 0u);
}

TEST_F(ThreadManagerTest, SecondExportWithoutChangeWritesNothingAndAFailedOneIsRetried) {
    ThreadManager m;
    m.SetState(0x8000);
    ASSERT_TRUE(m.Export());
    ASSERT_EQ(unlink(res->threads_file), 0);
    EXPECT_FALSE(m.Export());
    EXPECT_NE(access(res->threads_file, F_OK), 0);

    m.SetState(0x2);
    WriteWholeFile(home_.path("blocker"), "x");
    const std::string saved = res->threads_file;
    snprintf(res->threads_file, sizeof(res->threads_file), "%s/threads", home_.path("blocker").c_str());
    EXPECT_FALSE(m.Export());
    EXPECT_TRUE(m.GetModified());
    snprintf(res->threads_file, sizeof(res->threads_file), "%s", saved.c_str());
    EXPECT_TRUE(m.Export());
    EXPECT_FALSE(m.GetModified());
    EXPECT_EQ(access(res->threads_file, F_OK), 0);
}

TEST_F(ThreadManagerTest, ImportReproducesEveryField) {
    const std::string file =
        "<thread_manager>\n <thread>\n  <id>00abcd</id>\n  <state>\n   <status>000004</status>\n"
        "   <time>0000656e1234</time>\n   <client_ip>127.0.0.1</client_ip>\n"
        "   <client_name>box one</client_name>\n  </state>\n  <state>\n   <status>000200</status>\n"
        "   <time>0000656e1240</time>\n   <name>set 1</name>\n   <filecount>3/9</filecount>\n"
        "   <size>1000/5000000000</size>\n  </state>\n  <state>\n   <status>000010</status>\n"
        "   <time>0000656e1241</time>\n   <name></name>\n   <filename>|etc|passwd</filename>\n"
        "   <filesize>-1/4096</filesize>\n  </state>\n </thread>\n <thread>\n  <id>000001</id>\n"
        " </thread>\n</thread_manager>\n";
    std::string in = home_.path("in");
    WriteWholeFile(in, file);
    ThreadManager m;
    ASSERT_TRUE(m.Import(in.c_str()));
    EXPECT_EQ(m.CountThreads(), 2u);
    ASSERT_TRUE(m.Export());
    EXPECT_EQ(Status(), file);

    char info[410];
    m.GetThreadInfo("set 1", info, sizeof(info));
    // 0x210; done 1000 (+3 files); total 5000000000 (+9); file sizes taken only when positive.
    EXPECT_EQ(std::string(info).substr(0, 40), "528 1003 5000000009 \"|etc|passwd\" 0 4096");

    EXPECT_FALSE(m.Import(home_.path("missing").c_str()));
}

TEST_F(ThreadManagerTest, ImportSurvivesLongAndTruncatedFiles) {
    std::string longname(3000, 'n');
    std::string in = home_.path("in");
    for (const char* cut : {"  <state>\n", "  <state>\n  </state>\n"}) {  // inside a state, after one
        WriteWholeFile(in,
                       "<thread_manager>\n <thread>\n  <id>000002</id>\n  <state>\n   <status>000010</status>\n"
                       "   <filename>" + longname + " /state x</filename>\n   <filecount>1/2</filecount>\n"
                       "  </state>\n </thread>\n <thread>\n  <id>000003</id>\n" + cut);
        ThreadManager m;
        ASSERT_TRUE(m.Import(in.c_str()));
        EXPECT_EQ(m.CountThreads(), 1u) << cut;  // the cut-off second node is dropped
        ASSERT_TRUE(m.Export());
        std::string out = Status();
        EXPECT_NE(out.find("<filecount>1/2</filecount>"), std::string::npos);
        EXPECT_EQ(out.find("000003"), std::string::npos);
    }
}

TEST_F(ThreadManagerTest, PrintDropsLinesThatDoNotFit) {
    ThreadManager m;
    m.SetState(0x1);
    m.SetState(0x0);
    char out[2000] = "";
    m.Print(out, sizeof(out));
    EXPECT_NE(std::string(out).find(": Main\n"), std::string::npos) << out;
    EXPECT_NE(std::string(out).find(": idle\n"), std::string::npos) << out;
    char small[30] = "";
    m.Print(small, sizeof(small));
    EXPECT_STREQ(small, "");  // prefix + elapsed + ": Main\n" needs 30 bytes
}

TEST_F(ThreadManagerTest, RemoveThreadLeavesOtherThreadsNodes) {
    ThreadManager m;
    m.SetState(0x1);
    std::thread worker([&m] {
        m.SetState(0x4);
        m.RemoveThread();
        m.SetState(0x2);
    });
    worker.join();
    EXPECT_EQ(m.CountThreads(), 2u);
    EXPECT_EQ(m.GetState(), 0x1u);
    m.RemoveThread();
    EXPECT_EQ(m.CountThreads(), 1u);
}

TEST_F(ThreadManagerTest, ReaderNeverSeesPartialStatusFile) {
    ThreadManager m;
    m.SetState(0x1);
    ASSERT_TRUE(m.Export());
    std::atomic<bool> stop{false};
    std::atomic<int> exports{0};
    std::thread writer([&] {
        m.SetState(0x10);
        for (int i = 0; !stop && i < 100000; i++) {
            m.SetFilename(i % 2 ? "|short" : "|a|much|longer|file|name|to|change|the|size");
            m.SetFileSize(i);
            if (m.Export()) exports++;
        }
        m.RemoveThread();
    });
    const std::string head = "<thread_manager>\n", tail = "</thread_manager>\n";
    int reads = 0, bad = 0;
    for (std::string s; reads < 3000; reads++, bad += s.size() < head.size() + tail.size() || s.find(head) != 0 ||
                                                     s.compare(s.size() - tail.size(), tail.size(), tail) != 0)
        s = Status();
    stop = true;
    writer.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_GT(exports, 1);
}

}  // namespace

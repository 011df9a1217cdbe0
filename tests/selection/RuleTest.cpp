// Rule lines, rule files with templates, and the selection tests.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include "core/Globals.h"
#include "records/Client.h"
#include "selection/IncludeNode.h"
#include "selection/RuleFiles.h"
#include "support/TestHome.h"

namespace {

struct Rules {
    std::vector<IncludeNode*> list;
    ~Rules() { ClearRules(&list); }
    Rules& Add(const char* line) {
        std::vector<char> text(line, line + strlen(line) + 1);
        IncludeNode* node = new IncludeNode(text.data());
        EXPECT_FALSE(node->error) << line;
        list.push_back(node);
        return *this;
    }
};

std::string Exported(const IncludeNode& node) {
    char* text = node.Export();
    std::string s = text;
    delete[] text;
    return s;
}

struct RoundTrip { const char* line; const char* name; int directory; const char* exported; };

TEST(IncludeNodeLine, ParsesAndExportsWithoutLosingTheDirectoryBar) {
    const RoundTrip cases[] = {
        {"include dir \"|home|ann|\"", "|home|ann", 1, "include dir \"|home|ann|\"\n"},
        {"include file \"|etc|passwd\"", "|etc|passwd", 0, "include file \"|etc|passwd\"\n"},
        {"exclude wfile \"|home|ann|...|*.tmp\"", "|home|ann|...|*.tmp", 0, "exclude wfile \"|home|ann|...|*.tmp\"\n"},
        {"include file \"|home|ann|my file.txt\"", "|home|ann|my file.txt", 0,
         "include file \"|home|ann|my file.txt\"\n"},
        {"include drive \"|\"", "", 2, "include drive \"|\"\n"},
        {"include net_drive \"|mnt|\"", "|mnt", 3, "include net_drive \"|mnt|\"\n"},
        {"exclude wdir \"|a|*|\"", "|a|*", 1, "exclude wdir \"|a|*|\"\n"},
        {"include sfile \"|v|app-??.log\"", "|v|app-??.log", 0, "include sfile \"|v|app-??.log\"\n"},
        {"include   object   \"SYSTEM_STATE\"", "SYSTEM_STATE", 0, "include object \"SYSTEM_STATE\"\n"},
        {"include template \"base\"\n", "base", 0, "include template \"base\"\n"},
    };
    for (const RoundTrip& c : cases) {
        std::vector<char> text(c.line, c.line + strlen(c.line) + 1);
        IncludeNode node(text.data());
        ASSERT_FALSE(node.error) << c.line;
        EXPECT_STREQ(node.full_name, c.name) << c.line;
        EXPECT_EQ(node.directory, c.directory) << c.line;
        EXPECT_EQ(Exported(node), c.exported) << c.line;
    }
}

TEST(IncludeNodeLine, RejectsMalformedLines) {
    const char* bad[] = {"Include dir \"|x|\"", "include folder \"|x|\"", "include dir", "", "\n",
                         "include \"|x|\"",     "exclude  ",            "remove file \"|x\"",
                         "include\tdir \"|x|\"", "include dir\t\"|x|\""};  // a tab separates nothing
    for (const char* line : bad) {
        std::vector<char> text(line, line + strlen(line) + 1);
        IncludeNode node(text.data());
        EXPECT_TRUE(node.error) << "[" << line << "]";
    }
}

TEST(IncludeNodeLine, SetFullNameOrderMattersAndNullIsRefused) {
    IncludeNode node;
    EXPECT_TRUE(node.SetFullName("|a|"));
    EXPECT_STREQ(node.full_name, "|a|");  // no type yet: not a directory
    EXPECT_TRUE(node.SetType("dir"));
    EXPECT_TRUE(node.SetFullName("|a|"));
    EXPECT_FALSE(node.SetFullName(nullptr));
    EXPECT_STREQ(node.full_name, "|a");
    EXPECT_FALSE(node.SetType("DIR"));
    EXPECT_EQ(node.directory, 0);
    IncludeNode unnamed;
    EXPECT_EQ(Exported(unnamed), "exclude \"\"\n");
}

struct Selection { const char* path; int isDirectory; int defaultResult; int expected; };

TEST(IsIncluded, ExclusionWinsInEitherOrder) {
    Rules a, b;
    a.Add("include dir \"|a|\"").Add("exclude dir \"|a|\"");
    b.Add("exclude dir \"|a|\"").Add("include dir \"|a|\"");
    EXPECT_EQ(IsIncluded("|a", &a.list, 1, 1), 0);
    EXPECT_EQ(IsIncluded("|a", &b.list, 1, 1), 0);
}

TEST(IsIncluded, FileAndDirectoryRulesApplyOnlyToTheirKind) {
    Rules r;
    r.Add("include dir \"|a|\"")
        .Add("exclude dir \"|a|tmp|\"")
        .Add("include wfile \"|a|*.log\"")
        .Add("exclude file \"|a|x.log\"")
        .Add("include wdir \"|a|*|src|\"");
    const Selection cases[] = {
        {"|a|b.txt", 0, 0, 0},      // only directory rules would name it
        {"|a|b.txt", 0, 1, 1},      // default decides
        {"|a|y.log", 0, 0, 1},      // wildcard include
        {"|a|x.log", 0, 1, 0},      // exclude after include
        {"|a|tmp", 1, 1, 0},        // directory exclude
        {"|a|tmp|z.log", 0, 0, 0},  // a directory rule does not reach below it
        {"|a|y.log", 1, 0, 0},      // file rules are not applied to directories
        {"|a|q|src", 1, 0, 1},      // wildcard directory rule
        {"|a", 1, 0, 1},
    };
    for (const Selection& c : cases)
        EXPECT_EQ(IsIncluded(c.path, &r.list, c.defaultResult, c.isDirectory), c.expected) << c.path;
}

struct RuleFileTest : ::testing::Test {
    TestHome home;
    std::vector<IncludeNode*> includes, excludes;
    void TearDown() override {
        ClearRules(&includes);
        ClearRules(&excludes);
    }
    std::string Names(const std::vector<IncludeNode*>& list) {
        std::string s;
        for (IncludeNode* n : list) s += std::string(n->full_name) + ";";
        return s;
    }
    void Write(const std::string& relative, const std::string& text) {
        WriteWholeFile(std::string(res->conf_dir) + relative, text);
    }
};

TEST_F(RuleFileTest, TemplatesExpandInPlaceBadLinesAreSkippedAndLongLinesStayWhole) {
    std::string name = "|" + std::string(3000, 'x');
    Write("templates/base", "include file \"|t1\"\nexclude file \"|t2\"\n");
    Write("rules", "include file \"|a\"\nnonsense\n\ninclude template \"base\"\ninclude file \"" + name + "\"\n");
    EXPECT_EQ(ReadIncludes((std::string(res->conf_dir) + "rules").c_str(), &includes, &excludes), 0);
    EXPECT_EQ(Names(includes), "|a;|t1;" + name + ";");
    EXPECT_EQ(Names(excludes), "|t2;");
}

TEST_F(RuleFileTest, TemplateChainsLeadingBackAreNotFollowed) {
    // self, two-step and three-step loops, one spelt through "..".
    Write("templates/self", "include file \"|s\"\ninclude template \"self\"\n");
    Write("templates/a", "include file \"|a\"\ninclude template \"b\"\n");
    Write("templates/b", "include file \"|b\"\ninclude template \"c\"\n");
    Write("templates/c", "include file \"|c\"\ninclude template \"../templates/a\"\n");
    Write("rules", "include template \"self\"\ninclude template \"a\"\ninclude file \"|end\"\n");
    EXPECT_EQ(ReadIncludes((std::string(res->conf_dir) + "rules").c_str(), &includes, &excludes), 0);
    EXPECT_EQ(Names(includes), "|s;|a;|b;|c;|end;");
}

TEST_F(RuleFileTest, MissingFilesLeaveTheListsAlone) {
    EXPECT_EQ(ReadIncludes((std::string(res->conf_dir) + "none").c_str(), &includes, &excludes), -1);
    Client client;
    snprintf(client.base_id, sizeof(client.base_id), "pc12");
    client.number = 2;
    EXPECT_EQ(ReadIncludes(&client, &includes, &excludes), 0);
    EXPECT_TRUE(includes.empty());
    Write("pc12/includes.2", "include dir \"|home|\"\nexclude dir \"|home|tmp|\"\n");
    EXPECT_EQ(ReadIncludes(&client, &includes, &excludes), 0);
    EXPECT_EQ(Names(includes), "|home;");
    EXPECT_EQ(Names(excludes), "|home|tmp;");
}

}  // namespace

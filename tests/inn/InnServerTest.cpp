// Checks that the private INN test server behaves the way the integration tests rely on: groups
// can be made, posted articles show in overview with a full Xref, NEWNEWS is allowed, the login
// reader demands authentication, and stopping leaves nothing behind.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/InnServer.h"
#include "support/InnServerSuite.h"
#include "support/RawNntpClient.h"

namespace qm::test {
namespace {

std::string Article(const std::string& group, const std::string& subject,
                    const std::string& messageId, const std::string& body,
                    const std::string& eol = "\n") {
    return "From: poster@example.com" + eol + "Newsgroups: " + group + eol + "Subject: " + subject +
           eol + "Message-ID: " + messageId + eol + eol + body;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}

// Processes whose environment names the given state directory: whatever a server left running.
std::vector<int> ProcessesUsing(const std::string& stateDir) {
    std::vector<int> pids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream environ(entry.path() / "environ");
        std::string variables((std::istreambuf_iterator<char>(environ)), {});
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state;
        stat >> pid >> comm >> state;
        if (state != "Z" && variables.find("INNCONF=" + stateDir + "/") != std::string::npos) {
            pids.push_back(std::stoi(name));
        }
    }
    return pids;
}

class InnServerTest : public InnServerSuite {};

TEST_F(InnServerTest, PostedArticlesShowInGroupAndOverview) {
    const std::string group = "alt.binaries.qm.harness";
    ASSERT_TRUE(server().CreateGroup(group)) << server().error();
    ASSERT_TRUE(server().Post(
        Article(group, "first (1/1)", "<first@qm.test>", "line one\n.starts with a dot\n")))
        << server().error();
    ASSERT_TRUE(server().PostAll({Article(group, "second", "<second@qm.test>", "b\r\n", "\r\n"),
                                  Article(group, "third", "<third@qm.test>", "c\n")}))
        << server().error();
    ASSERT_TRUE(server().WaitForArticles(group, 3)) << server().error();

    RawNntpClient client;
    ASSERT_TRUE(client.Connect(server().port()));
    EXPECT_EQ(client.Command("GROUP " + group), "211 3 1 3 " + group);

    ASSERT_EQ(RawNntpClient::Code(client.Command("LIST OVERVIEW.FMT")), 215);
    std::vector<std::string> format;
    ASSERT_TRUE(client.ReadBlock(format));
    ASSERT_FALSE(format.empty());
    EXPECT_EQ(format.back(), "Xref:full");

    ASSERT_EQ(RawNntpClient::Code(client.Command("XOVER 1-3")), 224);
    std::vector<std::string> overview;
    ASSERT_TRUE(client.ReadBlock(overview));
    ASSERT_EQ(overview.size(), 3u);
    std::vector<std::string> fields = SplitTabs(overview[0]);
    ASSERT_EQ(fields.size(), 9u);
    EXPECT_EQ(fields[0], "1");
    EXPECT_EQ(fields[1], "first (1/1)");
    EXPECT_EQ(fields[4], "<first@qm.test>");
    EXPECT_NE(fields[8].find(group + ":1"), std::string::npos) << fields[8];

    // Dot-stuffing done by Post must not alter the stored body.
    ASSERT_EQ(RawNntpClient::Code(client.Command("BODY 1")), 222);
    std::vector<std::string> body;
    ASSERT_TRUE(client.ReadBlock(body));
    EXPECT_EQ(body, (std::vector<std::string>{"line one", ".starts with a dot"}));
}

TEST_F(InnServerTest, NewnewsIsAllowed) {
    const std::string group = "alt.qm.newnews";
    ASSERT_TRUE(server().CreateGroup(group));
    ASSERT_TRUE(server().Post(Article(group, "fresh", "<fresh@qm.test>", "x\n")));
    ASSERT_TRUE(server().WaitForArticles(group, 1));

    RawNntpClient client;
    ASSERT_TRUE(client.Connect(server().port()));
    ASSERT_EQ(RawNntpClient::Code(client.Command("NEWNEWS " + group + " 20000101 000000 GMT")),
              230);
    std::vector<std::string> ids;
    ASSERT_TRUE(client.ReadBlock(ids));
    EXPECT_EQ(ids, std::vector<std::string>{"<fresh@qm.test>"});
}

TEST_F(InnServerTest, PostReportsRejectedArticles) {
    EXPECT_FALSE(server().Post("Subject: no newsgroups header\n\nbody\n"));
    EXPECT_NE(server().error().find("not accepted"), std::string::npos) << server().error();
}

TEST_F(InnServerTest, AuthReaderDemandsLogin) {
    const std::string group = "alt.qm.auth";
    ASSERT_TRUE(server().CreateGroup(group));
    int port = server().StartAuthReader("reader", "pass:word 1");
    ASSERT_NE(port, 0) << server().error();
    ASSERT_NE(port, server().port());

    RawNntpClient wrong;
    ASSERT_TRUE(wrong.Connect(port));
    EXPECT_EQ(RawNntpClient::Code(wrong.Command("GROUP " + group)), 480);
    EXPECT_EQ(RawNntpClient::Code(wrong.Command("AUTHINFO USER reader")), 381);
    EXPECT_EQ(RawNntpClient::Code(wrong.Command("AUTHINFO PASS pass:word 2")), 481);
    EXPECT_EQ(RawNntpClient::Code(wrong.Command("GROUP " + group)), 480);

    RawNntpClient right;
    ASSERT_TRUE(right.Connect(port));
    EXPECT_EQ(RawNntpClient::Code(right.Command("AUTHINFO USER reader")), 381);
    EXPECT_EQ(RawNntpClient::Code(right.Command("AUTHINFO PASS pass:word 1")), 281);
    EXPECT_EQ(RawNntpClient::Code(right.Command("GROUP " + group)), 211);
}

TEST_F(InnServerTest, StopLeavesNothingBehind) {
    std::string stateDir;
    int port = 0;
    {
        RawNntpClient lingering;  // a reader that never hangs up; outlives the server below
        InnServer own;
        ASSERT_TRUE(own.Start()) << own.error();
        ASSERT_NE(own.port(), server().port());
        ASSERT_NE(own.StartAuthReader("u", "p"), 0) << own.error();
        stateDir = own.stateDir();
        port = own.port();
        ASSERT_TRUE(lingering.Connect(port));
        EXPECT_FALSE(ProcessesUsing(stateDir).empty());
    }  // the destructor stops it
    EXPECT_TRUE(ProcessesUsing(stateDir).empty());
    EXPECT_FALSE(std::filesystem::exists(stateDir));
    RawNntpClient client;
    EXPECT_FALSE(client.Connect(port));
}

}  // namespace
}  // namespace qm::test

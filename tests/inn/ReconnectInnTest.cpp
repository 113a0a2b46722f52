// A real news server restarting under a harvest: the engine reconnects, selects the group again
// and goes on, with every picture saved once and byte for byte and the read mark at the end.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/EngineHarness.h"
#include "support/InnServer.h"
#include "support/RealEncoders.h"

namespace qm::test {
namespace {

TEST(ReconnectInn, AHarvestSurvivesTheServerRestarting) {
    if (!InnServer::Available()) {
        if (InnServer::RequiredByEnvironment()) FAIL() << "INN missing";
        GTEST_SKIP() << "INN not installed or not root";
    }
    InnServer server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string group = "alt.binaries.qm.restart";
    ASSERT_TRUE(server.CreateGroup(group)) << server.error();
    constexpr long kArticles = 40;
    std::vector<std::string> articles, names, data;
    for (long n = 1; n <= kArticles; ++n) {
        names.push_back("r" + std::to_string(n) + ".jpg");
        data.push_back(RandomBytes(30000, static_cast<unsigned>(n)));
        articles.push_back("From: poster@example.com\nNewsgroups: " + group + "\nSubject: " +
                           names.back() + "\n\n" + UuencodeBody(data.back(), names.back()));
    }
    ASSERT_TRUE(server.PostAll(articles)) << server.error();
    ASSERT_TRUE(server.WaitForArticles(group, kArticles));

    EngineHarness h(server.port());
    h.SetGroups({group});
    h.Set("Reconnect", "5");
    h.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (h.status.Count("saved") < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    h.Pause();  // held with commands in flight while the server goes away
    ASSERT_TRUE(server.Restart(std::chrono::milliseconds(300))) << server.error();
    h.engine().Resume();
    h.Wait();

    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    bool reconnected = false;
    for (const std::string& s : h.status.Values("status")) {
        if (s.starts_with("  Connection to 127.0.0.1 lost -- reconnecting (attempt 1 of 5)")) {
            reconnected = true;
        }
    }
    EXPECT_TRUE(reconnected);
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(h.SavedFiles(), sorted);
    for (long n = 0; n < kArticles; ++n) {
        EXPECT_EQ(TempDir::ReadFile(h.DownloadDir() + names[n]), data[n]) << names[n];
    }
    EXPECT_EQ(h.ReadMark(group), kArticles);
}

}  // namespace
}  // namespace qm::test

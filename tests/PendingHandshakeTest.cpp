// The pending-articles handshake: a thread plays the dialog while the engine retrieves. The
// engine parks before its next article while the dialog is open and always runs on once it closes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "engine/OverviewLine.h"
#include "engine/PendingDialogSession.h"
#include "support/EngineHarness.h"
#include "support/NntpFixtures.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Plays the engine's side up to its retrieval loop: the list filled and the loop begun.
void Fill(SharedState& shared, int count) {
    shared.BeginRetrieval();
    for (int n = 1; n <= count; ++n) {
        shared.AppendPending(
            OverviewLine(n, "Subject " + std::to_string(n), "f@x.org", "d", 10, 100));
    }
}

TEST(PendingHandshake, EngineParksWhileOpenAndSeesTheRemovalsAfterOk) {
    SharedState shared;
    Fill(shared, 10);
    std::vector<std::string> taken;
    long removedSeen = 0;
    PendingDialogSession* session = nullptr;
    std::promise<void> opened;
    std::thread engine([&] {
        std::string line;
        long removed = 0;
        opened.get_future().wait();
        while (shared.TakeNextPending(line, removed)) {
            removedSeen += removed;
            taken.emplace_back(ParseOverviewLine(line).number);
        }
        removedSeen += removed;
    });
    {
        PendingDialogSession dialog(shared);
        session = &dialog;
        opened.set_value();
        ASSERT_TRUE(WaitFor([&] { return shared.EngineParked(); }));
        EXPECT_EQ(session->Remove({"3", "5", "99", "7"}), 3);
        dialog.Ok(true);
    }
    engine.join();
    EXPECT_EQ(taken, (std::vector<std::string>{"1", "2", "4", "6", "8", "9", "10"}));
    EXPECT_EQ(removedSeen, 3);
    for (const char* removed : {"subject 3", "subject 5", "subject 7"}) {
        EXPECT_TRUE(shared.SubjectCacheContains(removed)) << removed;
    }
    EXPECT_FALSE(shared.SubjectCacheContains("subject 4"));
    EXPECT_FALSE(shared.PendingDialogOpen());
}

TEST(PendingHandshake, CancelPutsEveryRemovedRecordBack) {
    SharedState shared;
    Fill(shared, 5);
    {
        PendingDialogSession dialog(shared);
        EXPECT_EQ(dialog.Remove({"2", "4"}), 2);
        EXPECT_EQ(shared.PendingCount(), 3u);
        dialog.Cancel();
    }
    EXPECT_EQ(shared.PendingCount(), 5u);
    std::string line;
    long removed = -1;
    ASSERT_TRUE(shared.TakeNextPending(line, removed));
    EXPECT_EQ(removed, 0);
    EXPECT_FALSE(shared.SubjectCacheContains("subject 2"));
}

TEST(PendingHandshake, EngineNeverStaysParkedWhenTheDialogClosesAtOnce) {
    // The dialog closes in every window around the engine's check, many times over.
    for (int round = 0; round < 200; ++round) {
        SharedState shared;
        Fill(shared, 3);
        std::vector<std::string> taken;
        long removedSeen = 0;
        std::thread engine([&] {
            std::string line;
            long removed = 0;
            while (shared.TakeNextPending(line, removed)) {
                taken.emplace_back(ParseOverviewLine(line).number);
                removedSeen += removed;
            }
        });
        { PendingDialogSession dialog(shared); }
        engine.join();
        // A dialog that closed without a change leaves the list whole and the engine free.
        EXPECT_EQ(taken, (std::vector<std::string>{"1", "2", "3"}));
        EXPECT_EQ(removedSeen, 0);
        EXPECT_FALSE(shared.EngineParked());
        EXPECT_FALSE(shared.PendingDialogOpen());
    }
}

TEST(PendingHandshake, StopReleasesTheEngineAndALateSessionChangesNothing) {
    SharedState shared;
    Fill(shared, 4);
    std::vector<std::string> taken;
    std::thread engine;
    {
        PendingDialogSession dialog(shared);
        ASSERT_TRUE(dialog.IsOpen());
        engine = std::thread([&] {
            std::string line;
            long removed = 0;
            while (shared.TakeNextPending(line, removed)) {
                taken.emplace_back(ParseOverviewLine(line).number);
            }
        });
        ASSERT_TRUE(WaitFor([&] { return shared.EngineParked(); }));
        shared.ReleasePendingDialog();  // Stop, with the dialog still on the screen
        engine.join();
        EXPECT_FALSE(dialog.IsOpen());
        shared.AppendPending(OverviewLine(9, "Next group", "f", "d", 10, 100));
        EXPECT_EQ(dialog.Remove({"9"}), 0);
        dialog.Cancel();  // must not put the old records back
    }
    EXPECT_EQ(taken, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(shared.PendingCount(), 1u);
    shared.EndRetrieval();
    PendingDialogSession late(shared);  // after the loop: nothing opens
    EXPECT_FALSE(late.IsOpen());
    EXPECT_FALSE(shared.PendingDialogOpen());
}

TEST(PendingHandshake, StopAnswersAQuestionTheEngineIsWaitingOn) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("DownloadDirectory", h.dir / "missing/");
    h.prompt.waitForAnswer = true;
    h.Start();
    ASSERT_TRUE(WaitFor([&] { return !h.prompt.Questions().empty(); }));
    h.engine().RequestStop();
    h.Wait();  // returns: the question was answered No
    EXPECT_EQ(h.status.Count("finished"), 1);
    EXPECT_EQ(h.server.Connections(), 0);
}

// At depth 4 the removed articles' commands have already gone out: their replies are dropped.
class PendingDuringHarvest : public ::testing::TestWithParam<int> {};

TEST_P(PendingDuringHarvest, DialogRemovesArticlesAndLowersTheTotal) {
    const int depth = GetParam();
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("PipelineDepth", std::to_string(depth));
    for (long n = 1; n <= 8; ++n) {
        ModelArticle a;
        a.subject = "pic" + std::to_string(n) + ".jpg";
        a.body = UuencodeBody("data" + std::to_string(n), "pic" + std::to_string(n) + ".jpg");
        h.model.AddArticle("alt.pics", n, a);
    }
    std::promise<void> atSecond, opened;
    std::atomic<bool> signalled{false};
    h.server.On("ARTICLE 2", ScriptServer::TextResponder([&](const std::string&) {
                    if (!signalled.exchange(true)) {
                        atSecond.set_value();
                        opened.get_future().wait();  // answer only once the dialog is open
                    }
                    return std::string("430 gone\r\n");
                }));
    std::thread dialog([&] {
        atSecond.get_future().wait();
        PendingDialogSession session(h.shared);  // opened while article 2 is being fetched
        opened.set_value();
        ASSERT_TRUE(WaitFor([&] { return h.shared.EngineParked(); }));
        session.Remove({"4", "5", "6"});
        session.Ok(false);
    });
    h.Run();
    dialog.join();
    // ARTICLE 4 went out with the first article's at depth 4, before the dialog removed it.
    EXPECT_EQ(h.CountCommands("ARTICLE 4"), depth == 1 ? 0 : 1);
    if (depth == 1) {
        EXPECT_EQ(h.CountCommands("ARTICLE"), 5);
    }
    EXPECT_EQ(h.SavedFiles(),
              (std::vector<std::string>{"pic1.jpg", "pic3.jpg", "pic7.jpg", "pic8.jpg"}));
    EXPECT_EQ(h.status.Values("progress1").back(), "reset");
    auto progress = h.status.Values("progress1");
    EXPECT_NE(std::find(progress.begin(), progress.end(), "3/5"), progress.end());
    EXPECT_EQ(h.ReadMark("alt.pics"), 8);
}

INSTANTIATE_TEST_SUITE_P(Depths, PendingDuringHarvest, ::testing::Values(1, 4));

// Over two connections each article is taken from the list when its command goes out: the
// dialog, opened while one article is on its way on each connection, removes only articles no
// connection has asked for, and both connections wait while it is open.
TEST(PendingOverConnections, RemovalTakesOutArticlesNoConnectionAskedFor) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.server.ServeConcurrently();
    h.SetServer("Connections", "2");
    for (long n = 1; n <= 8; ++n) {
        ModelArticle a;
        a.subject = "pic" + std::to_string(n) + ".jpg";
        a.body = UuencodeBody("data" + std::to_string(n), "pic" + std::to_string(n) + ".jpg");
        h.model.AddArticle("alt.pics", n, a);
    }
    std::promise<void> opened;
    std::shared_future<void> dialogOpen = opened.get_future().share();
    auto held = [&](long number) {
        return ScriptServer::TextResponder([&h, dialogOpen, number](const std::string&) {
            dialogOpen.wait_for(5s);  // answered once the dialog is open
            std::string text = "220 " + std::to_string(number) + " <a@b>\r\n";
            for (char c : h.model.ArticleText("alt.pics", number)) {
                if (c == '\n') text += '\r';
                text += c;
            }
            return text + ".\r\n";
        });
    };
    h.server.On("ARTICLE 1", held(1));
    h.server.On("ARTICLE 2", held(2));
    h.Start();
    ASSERT_TRUE(WaitFor(
        [&] { return h.CountCommands("ARTICLE 1") == 1 && h.CountCommands("ARTICLE 2") == 1; }));
    {
        PendingDialogSession session(h.shared);
        opened.set_value();
        ASSERT_TRUE(WaitFor([&] { return h.shared.EngineParked(); }));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(h.CountCommands("ARTICLE"), 2);  // nothing more while the dialog is open
        session.Remove({"4", "5", "6"});
        session.Ok(false);
    }
    h.Wait();
    EXPECT_EQ(h.CountCommands("ARTICLE"), 5);
    EXPECT_EQ(
        h.CountCommands("ARTICLE 4") + h.CountCommands("ARTICLE 5") + h.CountCommands("ARTICLE 6"),
        0);
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"pic1.jpg", "pic2.jpg", "pic3.jpg",
                                                        "pic7.jpg", "pic8.jpg"}));
    auto progress = h.status.Values("progress1");
    EXPECT_NE(std::find(progress.begin(), progress.end(), "5/5"), progress.end());
    EXPECT_EQ(h.ReadMark("alt.pics"), 8);
}

}  // namespace
}  // namespace qm::test

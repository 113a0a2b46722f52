// The engine's run from start to end against the scripted server: the checks before connecting,
// the walk over the groups, passes, lost connections and the final status.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/RunLock.h"
#include "support/EngineHarness.h"
#include "support/LoopbackPort.h"
#include "util/TextFiles.h"

namespace qm::test {
namespace {

TEST(EngineRun, GroupFileMissingOrEmptyEndsBeforeConnecting) {
    EngineHarness h;
    h.Run();
    ASSERT_EQ(h.prompt.Messages().size(), 1u);
    EXPECT_EQ(h.prompt.Messages()[0],
              "Group list for host '127.0.0.1' not found\n\nPlease select 'Groups'");
    EXPECT_EQ(h.status.Count("finished"), 1);
    EXPECT_EQ(h.server.Connections(), 0);

    h.SetGroups({});
    h.Run();
    ASSERT_EQ(h.prompt.Messages().size(), 2u);
    EXPECT_EQ(h.prompt.Messages()[1],
              "Active group list for host '127.0.0.1' is empty\n\nPlease select 'Groups'");
    EXPECT_EQ(h.status.Count("finished"), 2);
    EXPECT_EQ(h.server.Connections(), 0);
}

TEST(EngineRun, MissingDownloadDirectoryIsCreatedOnlyWhenTheUserSaysYes) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    std::string target = h.dir / "new";
    h.Set("DownloadDirectory", target + "/");
    h.Run();
    ASSERT_EQ(h.prompt.Questions().size(), 1u);
    EXPECT_EQ(h.prompt.Questions()[0],
              "Directory " + target + "/ does not exist.\n\nWould you like to create it?");
    EXPECT_FALSE(DirectoryExists(target));
    EXPECT_EQ(h.server.Connections(), 0);
    EXPECT_EQ(h.status.Count("finished"), 1);

    h.prompt.yes = true;
    h.Run();
    EXPECT_TRUE(DirectoryExists(target));
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    h.Set("DownloadDirectory", h.dir / "no/such/levels/");
    h.Run();
    ASSERT_EQ(h.prompt.Messages().size(), 1u);
    EXPECT_EQ(h.prompt.Messages()[0], "Unable to create directory " + (h.dir / "no/such/levels/"));
    EXPECT_EQ(h.status.Count("finished"), 3);
}

TEST(EngineRun, WalksEveryGroupOnTheConfiguredPortAndCompletes) {
    EngineHarness h;
    h.SetGroups({"alt.one ", "\talt.two"});  // blanks around a name are not part of it
    h.Run();
    EXPECT_EQ(h.Commands(), (std::vector<std::string>{"GROUP alt.one", "GROUP alt.two"}));
    auto statuses = h.status.Values("status");
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses[0], "Connecting to 127.0.0.1");
    EXPECT_EQ(statuses[1], "Connected to 127.0.0.1");
    EXPECT_EQ(statuses.back(), "Operation complete");
    EXPECT_EQ(h.status.Values("progress0"),
              (std::vector<std::string>{"reset", "1/2", "reset", "2/2", "reset"}));
    EXPECT_EQ(h.status.Calls().back().op, "finished");
}

TEST(EngineRun, UnreachableServersEndWithCantConnect) {
    EngineHarness h;
    h.SetGroups({"alt.one"});
    h.Set("NNTPPort", std::to_string(UnusedLoopbackPort()));
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Can't connect to server");
    EXPECT_EQ(h.status.Count("finished"), 1);

    h.Set("NNTPHost", "no-such-host.invalid");
    h.SetGroups({"alt.one"});
    std::rename("Groups.127.0.0.1", "Groups.no-such-host.invalid");
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Can't connect to server");
}

TEST(EngineRun, LoopOnListRunsAgainOnlyWhileAPassScannedHeaders) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("LoopOnList", "1");
    h.Run();  // nothing on the server: exactly one pass
    EXPECT_EQ(h.CountCommands("GROUP"), 1);

    h.model.AddArticle("alt.pics", 5, Picture("a.jpg"));
    h.model.AddArticle("alt.pics", 6, Picture("b.jpg"));
    h.Run();  // the first pass scans two headers, the second finds nothing new
    EXPECT_EQ(h.CountCommands("GROUP"), 3);
    EXPECT_EQ(h.CountCommands("XOVER"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 6);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

TEST(EngineRun, ConnectionLostEndsTheRunAfterTheGroup) {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    h.server.On("GROUP alt.one", Reply{.text = "211 5 1 5 alt.one\r\n", .closeAfter = true});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
    EXPECT_EQ(h.CountCommands("GROUP alt.two"), 0);
    EXPECT_EQ(h.status.Count("finished"), 1);

    h.SetGroups({"alt.one"});  // the last group too: no success after a lost connection
    h.server.On("GROUP alt.one", Reply{.closeAfter = true});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
}

TEST(EngineRun, ServerThatClosesOrTalksNonsenseEndsCleanly) {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    h.server.SetGreeting(Reply{.text = "200 hello\r\n", .closeAfter = true});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");

    h.server.SetGreeting(Reply{.text = "200 hello\r\n"});
    h.server.SetDefault(Reply{.text = "garbage without a code\r\n"});
    h.server.On("GROUP ", "@@@\r\n");
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.ReadMark("alt.one"), 1);
}

TEST(EngineRun, StopEndsWithinSecondsWhileTheServerIsSilentOrTalksWithoutEnd) {
    std::string endless = "215 format\r\n", ids = "230 ids\r\n";
    while (endless.size() < (8u << 20)) endless += "Subject:\r\n";
    for (int i = 0; ids.size() < (8u << 20); ++i) ids += "<" + std::to_string(i) + "@x>\r\n";
    const std::vector<std::pair<std::string, Reply>> servers{
        {"GROUP ", Reply{.silent = true}},
        // 8 MiB at 8 KiB every 10 ms: ten seconds of data arriving without pause.
        {"LIST OVERVIEW.FMT", Reply{.text = endless, .chunkSize = 8 << 10, .chunkDelayMs = 10}},
        {"NEWNEWS ", Reply{.text = ids, .chunkSize = 8 << 10, .chunkDelayMs = 10}}};
    for (const auto& [command, reply] : servers) {
        EngineHarness h;
        h.SetGroups({"alt.one"});
        h.Set("UseMaxDays", "1");
        h.model.AddArticle("alt.one", 1, Picture("a.jpg"));
        h.server.On(command, reply);
        h.Start();
        ::usleep(300 * 1000);
        auto before = std::chrono::steady_clock::now();
        h.engine().RequestStop();
        h.Wait();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4)) << command;
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
        EXPECT_EQ(h.CountCommands("ARTICLE"), 0);
    }
}

TEST(EngineRun, PausedRunHoldsUntilResumedAndStopStillWorks) {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    h.model.AddArticle("alt.one", 1, Picture("a.jpg"));
    h.server.On("LIST OVERVIEW.FMT", ScriptServer::TextResponder([&h](const std::string&) {
                    h.Pause();
                    return h.model.overviewFormat;
                }));
    h.server.On("ARTICLE ", "430 gone\r\n");
    h.Start();
    while (h.CountCommands("LIST OVERVIEW.FMT") == 0) ::usleep(10 * 1000);
    ::usleep(300 * 1000);
    const auto heldAt = h.Commands();
    ::usleep(300 * 1000);
    EXPECT_EQ(h.Commands(), heldAt);  // nothing goes out while paused
    EXPECT_EQ(h.CountCommands("ARTICLE"), 0);
    EXPECT_EQ(h.status.Count("finished"), 0);
    h.engine().Resume();
    h.Wait();
    EXPECT_EQ(h.CountCommands("ARTICLE 1"), 1);
    EXPECT_EQ(h.CountCommands("GROUP alt.two"), 1);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    h.Start();
    h.engine().Pause();
    ::usleep(200 * 1000);
    h.engine().RequestStop();
    h.Wait();
    EXPECT_EQ(h.status.Count("finished"), 2);
}

TEST(EngineRun, ASecondRunOrAnUnwritableDirectoryIsRefusedAtOnce) {
    EngineHarness h;
    h.SetGroups({"alt.one"});
    {
        RunLock other;
        std::string error;
        ASSERT_TRUE(other.Acquire({h.profile.Path()}, error));
        h.Run();
        EXPECT_EQ(h.FinalStatus(), "Error--another run (process " + std::to_string(::getpid()) +
                                       ") is using " + h.profile.Path());
        EXPECT_EQ(h.server.Connections(), 0);
    }
    if (::mount("tmpfs", h.DownloadDir().c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a file system here";
    }
    h.Run();
    ::umount2(h.DownloadDir().c_str(), MNT_DETACH);
    EXPECT_EQ(h.FinalStatus(),
              "Error--unable to write to " + h.DownloadDir() + ": Read-only file system");
    EXPECT_EQ(h.server.Connections(), 0);
}

TEST(EngineRun, PriorityLevelsMapToNiceValues) {
    EXPECT_EQ(CProcessGroups::NiceForPriority(1), 10);
    EXPECT_EQ(CProcessGroups::NiceForPriority(2), 5);
    EXPECT_EQ(CProcessGroups::NiceForPriority(3), 0);
    EXPECT_EQ(CProcessGroups::NiceForPriority(4), -5);
    EXPECT_EQ(CProcessGroups::NiceForPriority(5), -10);
    EXPECT_EQ(CProcessGroups::NiceForPriority(0), 0);  // out of range: normal, not the nearest end
    EXPECT_EQ(CProcessGroups::NiceForPriority(9), 0);
}

}  // namespace
}  // namespace qm::test

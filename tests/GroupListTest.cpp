// Group management without a display: the list and category files, per-group directories, the
// reset of read marks, and the group list worker against the scripted server.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "groups/GroupCategories.h"
#include "groups/GroupDirectories.h"
#include "groups/GroupListFile.h"
#include "groups/GroupListWorker.h"
#include "groups/ReadMarks.h"
#include "support/FakeKeyring.h"
#include "support/NntpFixtures.h"
#include "support/RecordingStatus.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

TEST(GroupListFiles, ReadBothLineEndsKeepEmptyLinesWriteCrLfAndReportFailures) {
    TempDir dir;
    TempDir::WriteFile(dir / "Groups.h", "alt.a\r\n\r\nalt.b\nalt.c");
    EXPECT_EQ(ReadListLines(dir / "Groups.h"), (Lines{"alt.a", "", "alt.b", "alt.c"}));
    EXPECT_TRUE(ReadListLines(dir / "missing").empty());

    ASSERT_TRUE(WriteListLines(dir / "Groups.h", {"alt.b", "", " alt.x"}));
    EXPECT_EQ(TempDir::ReadFile(dir / "Groups.h"), "alt.b\r\n\r\n alt.x\r\n");
    ASSERT_TRUE(WriteListLines(dir / "Groups.h", {}));
    EXPECT_EQ(TempDir::ReadFile(dir / "Groups.h"), "");
    EXPECT_EQ(ActiveGroupFileName("news.example"), "Groups.news.example");
    EXPECT_EQ(AllGroupFileName("news.example"), "AllGroups.news.example");
    // A file that cannot be written is reported.
    EXPECT_FALSE(WriteListLines("/nonexistent-dir/Groups.h", {"alt.new"}));
    EXPECT_FALSE(WriteListLines("", {"alt.new"}));
}

TEST(GroupCategories, BlocksAreReadAddedUpdatedAndDeletedByTheirHeaders) {
    TempDir dir;
    // A file whose last block lacks its closing line, with a header missing its bracket and a
    // line before the first header.
    TempDir::WriteFile(dir / "GroupCat.h",
                       "stray\r\n[Photos]\r\nalt.a\r\nalt.b\r\n\r\n[Cars\r\nalt.c");
    GroupCategories cats;
    cats.Load(dir / "GroupCat.h");
    EXPECT_EQ(cats.Names(), (Lines{"Photos", "Car"}));
    EXPECT_EQ(cats.Block("Photos"), (Lines{"alt.a", "alt.b"}));
    EXPECT_FALSE(cats.Block("Car").has_value());
    EXPECT_FALSE(cats.Block("Nothing").has_value());

    cats.Add("Art", {"alt.art"});  // closes the open block first
    EXPECT_EQ(cats.Lines(), (Lines{"stray", "[Photos]", "alt.a", "alt.b", "", "[Cars", "alt.c", "",
                                   "[Art]", "alt.art", ""}));
    cats.Add("Art", {"alt.second"});
    cats.Add("", {});
    EXPECT_EQ(cats.Names(), (Lines{"Photos", "Car", "Art", "Art", ""}));
    EXPECT_EQ(cats.Block("Art"), (Lines{"alt.art"}));
    EXPECT_EQ(cats.Block(""), Lines{});

    cats.Update("Photos", "Pics", {"alt.p"});  // lines before the first header stay
    EXPECT_EQ(cats.Block("Pics"), (Lines{"alt.p"}));
    EXPECT_FALSE(cats.Block("Photos").has_value());
    EXPECT_EQ(cats.Lines().front(), "stray");

    cats.Delete("Art");  // both blocks, and the stray line
    EXPECT_EQ(cats.Lines(), (Lines{"[Cars", "alt.c", "", "[]", "", "[Pics]", "alt.p", ""}));
    ASSERT_TRUE(cats.Save(dir / "GroupCat.h"));
    EXPECT_EQ(TempDir::ReadFile(dir / "GroupCat.h"),
              "[Cars\r\nalt.c\r\n\r\n[]\r\n\r\n[Pics]\r\nalt.p\r\n\r\n");
}

TEST(GroupCategories, DeletingTheLastCategoryEmptiesTheFile) {
    TempDir dir;
    TempDir::WriteFile(dir / "GroupCat.h", "[Photos]\r\nalt.a\r\n\r\n");
    GroupCategories cats;
    cats.Load(dir / "GroupCat.h");
    cats.Delete("Photos");
    ASSERT_TRUE(cats.Save(dir / "GroupCat.h"));
    EXPECT_EQ(TempDir::ReadFile(dir / "GroupCat.h"), "");

    // Nothing read and nothing made: no file appears.
    GroupCategories none;
    none.Load(dir / "GroupCat.other");
    ASSERT_TRUE(none.Save(dir / "GroupCat.other"));
    EXPECT_FALSE(TempDir::Exists(dir / "GroupCat.other"));
}

TEST(GroupDirectories, SubPathsThatLeaveTheDownloadDirectoryAreRefused) {
    for (const char* inside : {"", "pics", "a/b", "a..b", "..a/b", "a/.../b", " x "}) {
        EXPECT_TRUE(SubPathStaysInside(inside)) << inside;
    }
    for (const char* outside : {"..", "../x", "a/../../b", "a/..", "/etc", "/"}) {
        EXPECT_FALSE(SubPathStaysInside(outside)) << outside;
    }
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    EXPECT_EQ(StoreGroupSubPath(profile, "alt.a", "../up"), SubPathResult::Refused);
    EXPECT_EQ(profile.Keys("DownloadDirs"), Lines{});
    EXPECT_EQ(StoreGroupSubPath(profile, "alt.a", "a/b"), SubPathResult::Stored);
    EXPECT_EQ(GroupSubPath(profile, "alt.a"), "a/b");
    EXPECT_EQ(StoreGroupSubPath(profile, "alt.a", ""), SubPathResult::Stored);
    EXPECT_EQ(GroupSubPath(profile, "alt.a"), "");

    std::vector<ProfileStore::Change> changes;
    AddDirectorySwitchChanges({.enable = true, .useGroupName = false}, changes);
    ASSERT_TRUE(profile.Apply(changes));
    ProfileStore reread(dir / "p.ini");
    DirectorySwitches s = ReadDirectorySwitches(reread);
    EXPECT_TRUE(s.enable);
    EXPECT_FALSE(s.useGroupName);
}

TEST(ReadMarks, UnreadIsZeroAndMarksArePerServer) {
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    profile.WriteInt("news.one", "alt.done", 250);
    profile.WriteInt("news.one", "alt.first", 1);
    profile.WriteInt("news.one", "alt.zero", 0);
    profile.WriteInt("news.two", "alt.done", 90);

    EXPECT_EQ(MarkGroupUnread(profile, "news.one", "alt.never"),
              "Group alt.never already marked unread or never processed");
    EXPECT_EQ(MarkGroupUnread(profile, "news.one", "alt.zero"),
              "Group alt.zero already marked unread or never processed");
    EXPECT_EQ(profile.Keys("news.one"), (Lines{"alt.done", "alt.first", "alt.zero"}));
    // 1 is "article 1 handled": winding it back rescans that article.
    EXPECT_EQ(MarkGroupUnread(profile, "news.one", "alt.first"), "Group alt.first marked unread");
    EXPECT_EQ(profile.GetInt("news.one", "alt.first", -1), 0);
    EXPECT_EQ(MarkGroupUnread(profile, "news.one", "alt.done"), "Group alt.done marked unread");
    EXPECT_EQ(profile.GetInt("news.one", "alt.done", -1), 0);
    EXPECT_EQ(profile.GetInt("news.two", "alt.done", -1), 90);
}

TEST(ReadMarks, MarkAllUnreadRewritesTheProfileOnce) {
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    Lines groups;
    std::vector<ProfileStore::Change> marks;
    for (int i = 0; i < 2000; ++i) {
        groups.push_back("alt.g" + std::to_string(i));
        if (i % 2 == 0) marks.push_back({"news.one", groups.back(), std::to_string(i + 5)});
    }
    marks.push_back({"news.two", "alt.g0", "77"});
    ASSERT_TRUE(profile.Apply(marks));
    const auto saves = profile.SaveCount();
    EXPECT_EQ(MarkGroupsUnread(profile, "news.one", groups), "All groups in list marked unread");
    EXPECT_EQ(profile.SaveCount(), saves + 1);
    ProfileStore reread(dir / "p.ini");
    EXPECT_EQ(reread.GetInt("news.one", "alt.g0", -1), 0);
    EXPECT_EQ(reread.GetInt("news.one", "alt.g1998", -1), 0);
    EXPECT_EQ(reread.GetInt("news.one", "alt.g1", -1), -1);  // no key made
    EXPECT_EQ(reread.GetInt("news.two", "alt.g0", -1), 77);
    // Nothing to reset: the same report, no rewrite.
    EXPECT_EQ(MarkGroupsUnread(profile, "news.one", groups), "All groups in list marked unread");
    EXPECT_EQ(profile.SaveCount(), saves + 1);
}

TEST(GroupFilter, TermsAreSplitAsTypedAndMatchCaseAndAll) {
    EXPECT_EQ(SplitList("pictures:photos", ':'), (Lines{"pictures", "photos"}));
    EXPECT_EQ(SplitList("pictures:", ':'), (Lines{"pictures", ""}));
    EXPECT_EQ(SplitList("", ':'), Lines{""});
    EXPECT_EQ(SplitList("::", ':'), (Lines{"", "", ""}));

    EXPECT_TRUE(PassesGroupFilter("alt.binaries.pictures.misc", {"pictures"}));
    EXPECT_FALSE(PassesGroupFilter("comp.lang.c", {"pictures"}));
    EXPECT_TRUE(PassesGroupFilter("comp.lang.c", SplitList("pictures:", ':')));
    EXPECT_FALSE(PassesGroupFilter("alt.binaries.pictures", {"Pictures"}));
    EXPECT_FALSE(PassesGroupFilter("alt.binaries.pictures", {" pictures"}));

    EXPECT_EQ(GroupNameOfListLine("alt.a 0000000010 0000000001 y\r\n"), "alt.a");
    EXPECT_EQ(GroupNameOfListLine("alt.b\t10 1 y\r\n"), "alt.b");
    EXPECT_EQ(GroupNameOfListLine("alt.bare\r\n"), "alt.bare");
}

// Records what the worker tells, acknowledging each name unless told not to.
class RecordingSink : public GroupListSink {
public:
    GroupListWorker* worker = nullptr;
    bool acknowledge = true;

    void ListStatus(std::string text) override { Record("status:" + text); }
    void ListCleared() override { Record("cleared"); }
    void ListGroup(std::string name) override {
        Record("group:" + name);
        if (acknowledge) worker->Acknowledge();
    }
    void ListSelectFirst() override { Record("first"); }
    void ListDone() override { Record("done"); }

    Lines Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    Lines Groups() const { return Only("group:"); }
    Lines Statuses() const { return Only("status:"); }
    bool WaitFor(const std::string& event, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::find(events_.begin(), events_.end(), event) != events_.end();
        });
    }

private:
    void Record(std::string event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }
    Lines Only(const std::string& prefix) const {
        Lines out;
        for (const std::string& e : Events()) {
            if (e.starts_with(prefix)) out.push_back(e.substr(prefix.size()));
        }
        return out;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Lines events_;
};

struct ListRig {
    ScriptServer server;
    TempDir dir;
    ProfileStore profile{dir / "p.ini"};
    ScriptedPrompt prompt;
    RecordingSink sink;
    GroupListWorker worker{profile, prompt, sink};

    ListRig() {
        sink.worker = &worker;
        profile.WriteString("Quarrymoth", "NNTPHost", "127.0.0.1");
        profile.WriteString("Quarrymoth", "NNTPPort", std::to_string(server.port()));
    }
    void Server(const std::string& key, const std::string& value) {
        profile.WriteString("127.0.0.1", key, value);
    }
    void Run(const std::string& filter = "pictures") {
        ASSERT_TRUE(worker.Start(SplitList(filter, ':')));
        worker.Join();
    }
    std::string FinalStatus() const {
        Lines s = sink.Statuses();
        return s.empty() ? "" : s.back();
    }
};

const Lines kSomeGroups = {"alt.binaries.pictures.misc 0000000020 0000000001 y",
                           "comp.lang.c 0000000005 0000000001 y",
                           "alt.binaries.pictures.cars 0000000001 0000000001 m"};

TEST(GroupListWorker, ListsOnlyTheReplyBodyThroughTheFilterInOrder) {
    ListRig rig;
    rig.server.On("LIST", MultiLineReply("215 pictures list follows", kSomeGroups));
    rig.Run();
    EXPECT_EQ(rig.server.Received(), Lines{"LIST"});
    // The 215 line carries the term too, yet it is no group.
    EXPECT_EQ(
        rig.sink.Events(),
        (Lines{"status:  Connecting to 127.0.0.1", "cleared", "status:  Connected to 127.0.0.1",
               "group:alt.binaries.pictures.misc", "group:alt.binaries.pictures.cars", "first",
               "status:  Operation complete -- 3 groups scanned; 2 groups added", "done"}));

    ListRig all;
    all.server.On("LIST", MultiLineReply("215 list", kSomeGroups));
    all.Run("Pictures:");  // the empty second term lets everything through
    EXPECT_EQ(all.sink.Groups().size(), 3u);
}

TEST(GroupListWorker, ReportsProgressEveryTenLines) {
    ListRig rig;
    Lines groups;
    for (int i = 0; i < 25; ++i) {
        groups.push_back((i % 8 == 0 ? "alt.pictures.g" : "comp.g") + std::to_string(i) + " 1 1 y");
    }
    rig.server.On("LIST", MultiLineReply("215 list", groups));
    rig.Run();
    Lines statuses = rig.sink.Statuses();
    ASSERT_EQ(statuses.size(), 5u);
    EXPECT_EQ(statuses[2], "     10 groups scanned --     2 added");
    EXPECT_EQ(statuses[3], "     20 groups scanned --     3 added");
    EXPECT_EQ(statuses[4], "  Operation complete -- 25 groups scanned; 4 groups added");
}

TEST(GroupListWorker, Authentication) {
    {  // No credentials: the user is told where to enter them, and the run ends normally.
        ListRig rig;
        rig.server.On("LIST", "480 authentication required\r\n");
        rig.Run();
        ASSERT_EQ(rig.prompt.Messages().size(), 1u);
        EXPECT_TRUE(rig.prompt.Messages()[0].ends_with("username and password\nfor 127.0.0.1"));
        EXPECT_EQ(rig.server.Received(), Lines{"LIST"});
        EXPECT_EQ(rig.FinalStatus(), "  Operation complete -- 0 groups scanned; 0 groups added");
    }
    {  // With credentials the 480 is answered and LIST sent again; the 480 is no group line.
        ListRig rig;
        rig.Server("UserAuthentication", "1");
        rig.Server("Username", "joe");
        rig.Server("Password", "secret");
        rig.server.OnSequence(
            "LIST", {"480 authentication required\r\n", MultiLineReply("215 list", kSomeGroups)});
        rig.server.On("AUTHINFO USER", "381 more\r\n");
        rig.server.On("AUTHINFO PASS", "281 ok\r\n");
        rig.Run("");
        EXPECT_EQ(rig.server.Received(),
                  (Lines{"LIST", "AUTHINFO USER joe", "AUTHINFO PASS secret", "LIST"}));
        EXPECT_EQ(rig.sink.Groups().size(), 3u);
        EXPECT_EQ(rig.FinalStatus(), "  Operation complete -- 3 groups scanned; 3 groups added");
    }
    {  // A refused password ends the retrieval without the select-first notice.
        ListRig rig;
        rig.Server("UserAuthentication", "1");
        rig.Server("ForceAuthInfo", "1");
        rig.Server("Username", "joe");
        rig.server.On("AUTHINFO USER", "381 more\r\n");
        rig.server.On("AUTHINFO PASS", "481 no\r\n");
        rig.Run();
        EXPECT_EQ(rig.server.Received(), (Lines{"AUTHINFO USER joe", "AUTHINFO PASS "}));
        EXPECT_EQ(rig.sink.Events(), (Lines{"status:  Connecting to 127.0.0.1", "cleared",
                                            "status:  Connected to 127.0.0.1",
                                            "status:  Authentication failed", "done"}));
    }
    {  // A password kept in the keyring logs Refresh in; out of reach, nothing is sent.
        for (bool reachable : {true, false}) {
            ListRig rig;
            FakeKeyring keyring;
            rig.worker.UseKeyring(keyring);
            rig.Server("UserAuthentication", "1");
            rig.Server("ForceAuthInfo", "1");
            rig.Server("Username", "joe");
            rig.Server("PasswordInKeyring", "1");
            keyring.Put("127.0.0.1", "joe", "kept");
            if (!reachable) keyring.MakeUnreachable("no session bus");
            rig.server.On("AUTHINFO USER", "381 more\r\n");
            rig.server.On("AUTHINFO PASS", "281 ok\r\n");
            rig.server.On("LIST", MultiLineReply("215 list", kSomeGroups));
            rig.Run("");
            if (reachable) {
                EXPECT_EQ(rig.server.Received(),
                          (Lines{"AUTHINFO USER joe", "AUTHINFO PASS kept", "LIST"}));
                continue;
            }
            EXPECT_TRUE(rig.server.Received().empty());
            EXPECT_EQ(rig.FinalStatus(),
                      "  Error--the password for 127.0.0.1 is in the desktop keyring, which "
                      "cannot be reached: no session bus");
        }
    }
    {  // A server that asks again after an accepted login is not asked for ever.
        ListRig rig;
        rig.Server("UserAuthentication", "1");
        rig.server.On("LIST", "480 authentication required\r\n");
        rig.server.On("AUTHINFO USER", "281 ok\r\n");
        rig.Run();
        EXPECT_EQ(rig.server.Received(), (Lines{"LIST", "AUTHINFO USER ", "LIST"}));
        EXPECT_EQ(rig.FinalStatus(), "  Authentication failed");
    }
}

TEST(GroupListWorker, ConnectionFailuresAndRefusalsAreNotReportedAsComplete) {
    {
        ListRig rig;
        rig.profile.WriteString("Quarrymoth", "NNTPPort", "1");
        rig.Run();
        EXPECT_EQ(rig.sink.Events(), (Lines{"status:  Connecting to 127.0.0.1", "cleared",
                                            "status:  Can't connect to server", "done"}));
    }
    {
        ListRig rig;
        std::string reply = MultiLineReply("215 list", kSomeGroups);
        rig.server.On("LIST", Reply{.text = reply, .dropAfterBytes = 70});
        rig.Run();
        EXPECT_EQ(rig.sink.Groups(), Lines{"alt.binaries.pictures.misc"});
        EXPECT_EQ(rig.FinalStatus(), "  Error -- Connection to 127.0.0.1 lost");
    }
    {
        ListRig rig;
        rig.server.On("LIST", "503 program fault\r\n");
        rig.Run();
        EXPECT_EQ(rig.FinalStatus(), "  Error -- 503 program fault");
    }
}

TEST(GroupListWorker, StopEndsTheRetrievalAndIsForgottenByTheNext) {
    ListRig rig;
    // A Stop pressed after the last test of an earlier retrieval is left over...
    rig.worker.Stop();
    rig.server.On("LIST", MultiLineReply("215 list", kSomeGroups));
    rig.Run();
    EXPECT_EQ(rig.FinalStatus(), "  Operation complete -- 3 groups scanned; 2 groups added");

    // ...and a Stop while the server holds the reply ends it at once, keeping what came.
    ListRig held;
    held.server.On("LIST", "215 list\r\nalt.pictures.a 1 1 y\r\n");
    ASSERT_TRUE(held.worker.Start({"pictures"}));
    ASSERT_TRUE(held.sink.WaitFor("group:alt.pictures.a", std::chrono::seconds(5)));
    held.worker.Stop();
    ASSERT_TRUE(held.sink.WaitFor("done", std::chrono::seconds(5)));
    held.worker.Join();
    EXPECT_EQ(held.FinalStatus(), "  Operation complete -- 1 groups scanned; 1 groups added");
}

// A Stop while the server holds its answer to the login is a Stop, not a refused login: the
// retrieval ends as every Stop does, whether the login was forced or asked for by a 480.
TEST(GroupListWorker, StopDuringTheLoginEndsAsAnyStop) {
    for (const bool forced : {true, false}) {
        SCOPED_TRACE(forced ? "forced login" : "login after a 480");
        ListRig rig;
        rig.Server("UserAuthentication", "1");
        rig.Server("ForceAuthInfo", forced ? "1" : "0");
        rig.Server("Username", "joe");
        rig.server.On("LIST", "480 authentication required\r\n");
        rig.server.On("AUTHINFO USER", Reply{.text = "381 more\r\n", .silent = true});
        ASSERT_TRUE(rig.worker.Start({"pictures"}));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (rig.server.Received().empty() ||
               rig.server.Received().back() != "AUTHINFO USER joe") {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        rig.worker.Stop();
        ASSERT_TRUE(rig.sink.WaitFor("done", std::chrono::seconds(5)));
        rig.worker.Join();
        const Lines events = rig.sink.Events();
        EXPECT_NE(std::find(events.begin(), events.end(), "first"), events.end());
        EXPECT_EQ(rig.FinalStatus(), "  Operation complete -- 0 groups scanned; 0 groups added");
    }
}

TEST(GroupListWorker, AbandonedWhileWaitingForAnAcknowledgementPostsNothingMore) {
    ListRig rig;
    rig.sink.acknowledge = false;
    rig.server.On("LIST", MultiLineReply("215 list", kSomeGroups));
    ASSERT_TRUE(rig.worker.Start({""}));
    ASSERT_TRUE(rig.sink.WaitFor("group:alt.binaries.pictures.misc", std::chrono::seconds(5)));
    const auto start = std::chrono::steady_clock::now();
    rig.worker.Abandon();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(rig.sink.Events().back(), "group:alt.binaries.pictures.misc");
    EXPECT_FALSE(rig.worker.Running());
}

TEST(GroupListWorker, AWindowOfHandOversNeverRunsFurtherAheadOfTheReceiver) {
    ScriptServer server;
    server.On("LIST", MultiLineReply("215 list", kSomeGroups));
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    profile.WriteString("Quarrymoth", "NNTPHost", "127.0.0.1");
    profile.WriteString("Quarrymoth", "NNTPPort", std::to_string(server.port()));
    ScriptedPrompt prompt;
    RecordingSink sink;
    sink.acknowledge = false;
    GroupListWorker worker(profile, prompt, sink, 2);
    sink.worker = &worker;
    ASSERT_TRUE(worker.Start({""}));
    ASSERT_TRUE(sink.WaitFor("group:comp.lang.c", std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sink.Groups().size(), 2u);  // the third waits for an acknowledgement
    worker.Acknowledge();
    worker.Acknowledge();
    ASSERT_TRUE(sink.WaitFor("done", std::chrono::seconds(5)));
    worker.Join();
    EXPECT_EQ(sink.Groups().size(), 3u);
}

}  // namespace
}  // namespace qm::test

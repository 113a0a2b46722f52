// The group list from the real INN server: LIST through the group filter, plainly and through a
// reader that wants a login first.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "groups/GroupListWorker.h"
#include "settings/SettingsKeys.h"
#include "support/InnServerSuite.h"
#include "support/RecordingStatus.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

// Takes every name at once, as the dialog does, and keeps the last status line.
class CollectingSink : public GroupListSink {
public:
    GroupListWorker* worker = nullptr;
    std::vector<std::string> names;
    std::string status;
    bool done = false;

    void ListStatus(std::string text) override { status = std::move(text); }
    void ListCleared() override { names.clear(); }
    void ListGroup(std::string name) override {
        names.push_back(std::move(name));
        worker->Acknowledge();
    }
    void ListSelectFirst() override {}
    void ListDone() override { done = true; }
};

class GroupListInn : public InnServerSuite {};

TEST_F(GroupListInn, ListsTheServersGroupsThroughTheFilterAlsoBehindALogin) {
    for (const char* group :
         {"alt.binaries.pictures.qmlist", "alt.binaries.pictures.qmother", "comp.lang.qmlist"}) {
        ASSERT_TRUE(server().CreateGroup(group)) << server().error();
    }
    const int authPort = server().StartAuthReader("lister", "pw 1");
    ASSERT_NE(authPort, 0) << server().error();

    for (int port : {server().port(), authPort}) {
        SCOPED_TRACE(port);
        TempDir dir;
        ProfileStore profile(dir / "p.ini");
        profile.WriteString(kMainSection, "NNTPHost", "127.0.0.1");
        profile.WriteString(kMainSection, "NNTPPort", std::to_string(port));
        profile.WriteString("127.0.0.1", kUserAuthentication.Key(), "1");
        profile.WriteString("127.0.0.1", kUsername.Key(), "lister");
        profile.WriteString("127.0.0.1", kPassword.Key(), "pw 1");
        ScriptedPrompt prompt;
        CollectingSink sink;
        GroupListWorker worker(profile, prompt, sink);
        sink.worker = &worker;
        ASSERT_TRUE(worker.Start(SplitList("pictures:qmlist", ':')));
        worker.Join();
        std::sort(sink.names.begin(), sink.names.end());
        EXPECT_EQ(sink.names,
                  (std::vector<std::string>{"alt.binaries.pictures.qmlist",
                                            "alt.binaries.pictures.qmother", "comp.lang.qmlist"}));
        EXPECT_TRUE(sink.status.starts_with("  Operation complete -- ")) << sink.status;
        EXPECT_TRUE(sink.status.ends_with("; 3 groups added")) << sink.status;
        EXPECT_TRUE(sink.done);
        EXPECT_TRUE(prompt.Messages().empty());
    }
}

}  // namespace
}  // namespace qm::test

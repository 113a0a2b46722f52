// The window program from end to end, met as a screen reader user meets it: a real INN server
// carries real pictures in two groups, drive_window.py starts the program on a private X server
// and presses Go and then Close through the accessibility tree, and what the window showed is
// checked against what was posted and what landed on disk.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/EngineHarness.h"
#include "support/InnServerSuite.h"
#include "support/NewsModel.h"
#include "support/RealEncoders.h"
#include "support/ScriptServer.h"
#include "support/Subprocess.h"

namespace qm::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";  // where Debian's python3-pyatspi lives
constexpr const char* kTimeout = "/usr/bin/timeout";
constexpr int kDriverMissingTool = 77;

struct Picture {
    std::string group, name;
    int width = 0, height = 0;
    bool mime = false;  // base64 in a MIME article, else uuencoded
    std::string jpeg;
};

// One field of the driver's flat JSON object: a string's text, a number's digits, or "" when
// the field is absent or null.
std::string JsonField(const std::string& json, const std::string& key) {
    const std::regex field("\"" + key + R"re(": (?:"((?:[^"\\]|\\.)*)"|(-?[0-9.]+)))re");
    std::smatch m;
    if (!std::regex_search(json, m, field)) return "";
    return m[1].matched ? m[1].str() : m[2].str();
}

std::string Article(const Picture& p, std::string& error) {
    std::string text =
        "From: poster@example.com\nNewsgroups: " + p.group + "\nSubject: " + p.name + " (1/1)\n";
    if (p.mime) {
        const std::string body = CoreutilsBase64(p.jpeg, error);
        return body.empty() ? ""
                            : text + "MIME-Version: 1.0\nContent-Type: image/jpeg; name=\"" +
                                  p.name + "\"\nContent-Transfer-Encoding: base64\n\n" + body;
    }
    const std::string body = GnuUuencode(p.jpeg, p.name, error);
    return body.empty() ? "" : text + "\nA picture for the group.\n\n" + body;
}

class MainWindowGui : public InnServerSuite {
protected:
    void SetUp() override {
        InnServerSuite::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!RealEncodersAvailable() || ::access(kPython, X_OK) != 0 ||
            ::access(kTimeout, X_OK) != 0) {
            NeedTools("cjpeg, uuencode, base64, python3 or timeout missing");
        }
    }

    // Runs the driver on the program with its steps first; false when it could not run here
    // (the test is then skipped or failed already).
    static bool Drive(const std::vector<std::string>& steps, const std::string& profile,
                      const std::string& dataDir, ProcessResult& run) {
        std::vector<std::string> args{kTimeout, "-k", "30", "260", kPython, QM_GUI_DRIVER};
        args.insert(args.end(), steps.begin(), steps.end());
        args.insert(args.end(), {QM_GUI_PATH, "--profile", profile, "--datadir", dataDir});
        run = RunProcess(args);
        if (run.exitCode != kDriverMissingTool) return true;
        NeedTools("Xvfb, dbus-daemon or python3-pyatspi missing");
        return false;
    }

    static void NeedTools(const std::string& why) {
        if (InnServer::RequiredByEnvironment()) {
            FAIL() << why << "; run scripts/install-deps.sh";
        }
        GTEST_SKIP() << why << " (scripts/install-deps.sh)";
    }
};

TEST_F(MainWindowGui, GoHarvestsBothGroupsAndTheWindowShowsWhatWasSaved) {
    const std::vector<std::string> groups{"alt.binaries.pictures.qm.gui.landscapes",
                                          "alt.binaries.pictures.qm.gui.abstract"};
    std::vector<Picture> pictures;
    std::vector<std::string> articles;
    for (int i = 0; i < 12; ++i) {
        // Sizes and noise differ, so that every picture has its own size on screen and on disk.
        const int width = 96 + 37 * i, height = 64 + 23 * i;
        std::string error, jpeg = CjpegEncode(PpmImage(width, height, 700 + i), 85, error);
        ASSERT_FALSE(jpeg.empty()) << error;
        const std::string name = "picture" + std::to_string(i + 1) + ".jpg";
        Picture p{groups[i % 2], name, width, height, i % 4 >= 2, std::move(jpeg)};
        articles.push_back(Article(p, error));
        ASSERT_FALSE(articles.back().empty()) << error;
        pictures.push_back(std::move(p));
    }
    for (const std::string& g : groups) ASSERT_TRUE(server().CreateGroup(g)) << server().error();
    ASSERT_TRUE(server().PostAll(articles)) << server().error();
    for (const std::string& g : groups) {
        ASSERT_TRUE(server().WaitForArticles(g, 6)) << server().error();
    }

    EngineHarness h(server().port());  // only its directory, profile and group file are used
    h.SetGroups(groups);
    h.Set("MaxLines", "20000");
    h.Set("ShowThumbnail", "1");
    ProcessResult run;
    if (!Drive({}, h.dir / "quarrymoth.ini", h.dir.path(), run)) return;
    const std::string& json = run.output;
    ASSERT_EQ(run.exitCode, 0) << json << "\n" << run.errors;

    EXPECT_EQ(JsonField(json, "statusAtStart"), "  Ready...") << json;
    EXPECT_EQ(JsonField(json, "exitCode"), "0") << json;
    EXPECT_EQ(JsonField(json, "articlesSaved"), std::to_string(pictures.size())) << json;
    std::vector<std::string> posted;
    for (const Picture& p : pictures) {
        posted.push_back(p.name);
        EXPECT_EQ(TempDir::ReadFile(h.DownloadDir() + p.name), p.jpeg) << p.name;
    }
    std::sort(posted.begin(), posted.end());
    EXPECT_EQ(h.SavedFiles(), posted);

    // The thumbnail frame names the picture it shows, with that picture's true size.
    const std::string caption = JsonField(json, "thumbnailCaption");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(caption, m, std::regex(R"((.+) \(([0-9]+) x ([0-9]+)\))")))
        << json;
    const auto shown = std::find_if(pictures.begin(), pictures.end(),
                                    [&](const Picture& p) { return p.name == m[1].str(); });
    ASSERT_NE(shown, pictures.end()) << caption;
    EXPECT_EQ(m[2].str(), std::to_string(shown->width)) << caption;
    EXPECT_EQ(m[3].str(), std::to_string(shown->height)) << caption;
    std::cout << "[   INFO   ] " << json;  // the driver's timings, for slow builds
}

// No group is chosen yet: the group selection lists the server's groups on Refresh, >> makes two
// of them active and a drag with the mouse puts the second first; Go then harvests both.
TEST_F(MainWindowGui, GroupsChosenAndOrderedInTheDialogAreHarvested) {
    const std::vector<std::string> groups{"alt.binaries.pictures.qm.gui.chosen.first",
                                          "alt.binaries.pictures.qm.gui.chosen.second"};
    std::vector<Picture> pictures;
    std::vector<std::string> articles;
    for (int i = 0; i < 4; ++i) {
        std::string error, jpeg = CjpegEncode(PpmImage(64 + 8 * i, 48, 900 + i), 85, error);
        ASSERT_FALSE(jpeg.empty()) << error;
        Picture p{groups[i % 2],  "chosen" + std::to_string(i + 1) + ".jpg", 0, 0, i >= 2,
                  std::move(jpeg)};
        articles.push_back(Article(p, error));
        ASSERT_FALSE(articles.back().empty()) << error;
        pictures.push_back(std::move(p));
    }
    for (const std::string& g : groups) ASSERT_TRUE(server().CreateGroup(g)) << server().error();
    ASSERT_TRUE(server().PostAll(articles)) << server().error();
    for (const std::string& g : groups) {
        ASSERT_TRUE(server().WaitForArticles(g, 2)) << server().error();
    }

    EngineHarness h(server().port());  // no group file: the dialog writes it
    h.Set("MaxLines", "20000");
    const std::string groupFile = h.dir / "Groups.127.0.0.1";
    ASSERT_FALSE(TempDir::Exists(groupFile));
    ProcessResult run;
    if (!Drive({"--add-groups", groups[0] + "," + groups[1], "--raise-last"},
               h.dir / "quarrymoth.ini", h.dir.path(), run)) {
        return;
    }
    const std::string& json = run.output;
    ASSERT_EQ(run.exitCode, 0) << json << "\n" << run.errors;
    // The dragged group comes first in the file (its line ends are the group files' own affair).
    std::vector<std::string> written;
    std::istringstream file(TempDir::ReadFile(groupFile));
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        written.push_back(line);
    }
    EXPECT_EQ(written, (std::vector<std::string>{groups[1], groups[0]}));
    EXPECT_EQ(JsonField(json, "articlesSaved"), std::to_string(pictures.size())) << json;
    for (const Picture& p : pictures) {
        EXPECT_EQ(TempDir::ReadFile(h.DownloadDir() + p.name), p.jpeg) << p.name;
    }
    std::cout << "[   INFO   ] " << json;
}

// A first start: no server is named. Setup names the scripted one and the download directory; an
// article the user takes out of the pending list while the slow retrieval runs is never fetched.
TEST_F(MainWindowGui, SetupNamesTheServerAndAnArticleRemovedFromPendingIsNeverFetched) {
    const std::string group = "alt.binaries.pictures.qm.gui.pending";
    NewsModel model;  // before the server, which answers from it until it stops
    ScriptServer server;
    ASSERT_TRUE(server.Listening());
    model.Serve(server);
    std::vector<std::string> jpegs;
    for (long n = 1; n <= 6; ++n) {
        std::string error;
        jpegs.push_back(
            CjpegEncode(PpmImage(80 + 10 * static_cast<int>(n), 60, 40 + n), 80, error));
        ASSERT_FALSE(jpegs.back().empty()) << error;
        const std::string name = "slow" + std::to_string(n) + ".jpg";
        ModelArticle a = qm::test::Picture(name + " (1/1)");
        a.body = UuencodeBody(jpegs.back(), name);
        model.AddArticle(group, n, std::move(a));
    }
    // Every article comes slowly, so that the list is still long when the user opens it.
    server.On("ARTICLE ", ScriptServer::Responder([&model, group](const std::string& command) {
                  const long n = std::stol(command.substr(8));
                  std::string text =
                      "220 " + std::to_string(n) + " <" + std::to_string(n) + "@test>\r\n";
                  std::string line;
                  std::istringstream body(model.ArticleText(group, n));
                  while (std::getline(body, line)) {
                      text += (line.rfind('.', 0) == 0 ? "." : "") + line + "\r\n";
                  }
                  return Reply{.text = text + ".\r\n", .delayMs = 1500};
              }));

    TempDir dir;
    const std::string download = dir / "pictures/";
    std::filesystem::create_directory(download);
    TempDir::WriteFile(dir / "quarrymoth.ini", "");
    TempDir::WriteFile(dir / "Groups.127.0.0.1", group + "\n");

    ProcessResult run;
    if (!Drive({"--setup", "127.0.0.1", std::to_string(server.port()), download, "--remove-pending",
                "slow6.jpg"},
               dir / "quarrymoth.ini", dir.path(), run)) {
        return;
    }
    const std::string& json = run.output;
    ASSERT_EQ(run.exitCode, 0) << json << "\n" << run.errors;
    // The list's own count went down by the article taken out.
    const std::string before = JsonField(json, "pendingBeforeRemoval");
    const std::string after = JsonField(json, "pendingAfterRemoval");
    ASSERT_FALSE(before.empty() || after.empty()) << json;
    EXPECT_LT(std::stol(after), std::stol(before)) << json;
    EXPECT_EQ(JsonField(json, "exitCode"), "0") << json;
    EXPECT_EQ(JsonField(json, "articlesSaved"), "5") << json;

    const std::vector<std::string> commands = server.Received();
    auto asked = [&](long n) {
        return std::count(commands.begin(), commands.end(), "ARTICLE " + std::to_string(n)) > 0;
    };
    EXPECT_FALSE(asked(6)) << "the removed article was fetched";
    for (long n = 1; n <= 5; ++n) {
        EXPECT_TRUE(asked(n)) << n;
        const std::string name = "slow" + std::to_string(n) + ".jpg";
        EXPECT_EQ(TempDir::ReadFile(download + name), jpegs[static_cast<size_t>(n - 1)]) << name;
    }
    EXPECT_FALSE(TempDir::Exists(download + "slow6.jpg"));
    const std::string profile = TempDir::ReadFile(dir / "quarrymoth.ini");
    EXPECT_NE(profile.find("NNTPHost=127.0.0.1"), std::string::npos) << profile;
    EXPECT_NE(profile.find("NNTPPort=" + std::to_string(server.port())), std::string::npos)
        << profile;
    std::cout << "[   INFO   ] " << json;
}

}  // namespace
}  // namespace qm::test

// The window program from end to end, met as a screen reader user meets it: a real INN server
// carries real pictures in two groups, drive_window.py starts the program on a private X server
// and presses Go and then Close through the accessibility tree, and what the window showed is
// checked against what was posted and what landed on disk.

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/EngineHarness.h"
#include "support/InnServerSuite.h"
#include "support/RealEncoders.h"
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
    const ProcessResult run =
        RunProcess({kTimeout, "-k", "30", "260", kPython, QM_GUI_DRIVER, QM_GUI_PATH, "--profile",
                    h.dir / "quarrymoth.ini", "--datadir", h.dir.path()});
    if (run.exitCode == kDriverMissingTool) {
        NeedTools("Xvfb, dbus-daemon or python3-pyatspi missing");
        return;
    }
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

}  // namespace
}  // namespace qm::test

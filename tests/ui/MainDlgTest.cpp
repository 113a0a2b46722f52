// The main window as a person uses it: its states and their controls, runs against a scripted
// news server, the confirmations, AutoStart, the thumbnail and the file actions.

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "UiTestSupport.h"
#include "app/ui/FullSizeDlg.h"
#include "app/ui/MainDlg.h"
#include "app/ui/PendingDlg.h"
#include "app/ui/ThumbnailLoader.h"
#include "groups/ui/GroupSelectDlg.h"
#include "settings/SettingsKeys.h"
#include "settings/ui/SetupSheet.h"
#include "support/EngineHarness.h"
#include "support/LoopbackPort.h"
#include "support/NntpFixtures.h"
#include "ui/Controls.h"
#include "ui/ElidedText.h"
#include "ui/PasswordDlg.h"
#include "ui/WindowPrompt.h"

using qm::CMainDlg;
using qm::test::BoxAnswerer;
using qm::test::EngineHarness;
using qm::test::Find;
using qm::test::Jpeg;
using qm::test::LabelText;
using qm::test::Reply;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void AddPicture(EngineHarness& h, long number, const std::string& subject, const std::string& name,
                const std::string& data, const std::string& from = "poster@example.com") {
    qm::test::ModelArticle article;
    article.subject = subject;
    article.from = from;
    article.body = "A picture.\n\n" + qm::test::UuencodeBody(data, name);
    article.lines = static_cast<long>(std::count(article.body.begin(), article.body.end(), '\n'));
    h.model.AddArticle("alt.pics", number, article);
}

// A window whose engine can never get a thread.
class NoThreadWindow : public CMainDlg {
public:
    using CMainDlg::CMainDlg;

protected:
    void StartEngine(qm::CProcessGroups&, int) override {
        throw std::system_error(EAGAIN, std::generic_category(), "no thread");
    }
};

// Takes the calling thread's right to raise a priority away (true) or gives it back, so a root test
// meets the refusal an ordinary user meets. False when the system does not allow it.
bool WithoutNiceRight(bool without) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    const auto bit = 1u << CAP_SYS_NICE;
    data[0].effective = without ? data[0].effective & ~bit : data[0].effective | bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Which of the run controls are enabled, in a fixed order, for comparing with the state table.
QString Enabled(QWidget& window) {
    QString out;
    for (const char* name :
         {"goButton", "stopButton", "catchUpButton", "setupButton", "groupsButton", "closeButton",
          "pauseButton", "setButton", "prioritySlider"}) {
        out += Find<QWidget>(window, name)->isEnabled() ? '1' : '0';
    }
    return out;
}
const QString kIdle = QStringLiteral("100111000");
const QString kRunning = QStringLiteral("011000111");

// Go, and the run's end (false when it did not end in time).
bool Harvest(CMainDlg& window) {
    QSignalSpy finished(&window, &CMainDlg::RunFinished);
    Find<QPushButton>(window, "goButton")->click();
    return QTest::qWaitFor([&] { return finished.size() == 1; }, 10000);
}

}  // namespace

class MainDlgTest : public QObject {
    Q_OBJECT
private slots:
    void IdleWindowAtStartUp();
    void GoWithoutServerAsksForSetupAndStaysOpen();
    void HarvestRunsAndAutoStartCloses();
    void StopConfirmationPauseAndClosing();
    void RefusedPriorityChangeIsReported();
    void CatchUpAsksFirst();
    void EngineWithoutThreadReturnsToIdle();
    void EngineQuestionsAndSignals();
    void ThumbnailTextsAndFileActions();
    void LongTextsElideAndNeverWidenTheWindow();
    void ThumbnailsAreScaledOffTheWindowThread();
    void FromExcludes();
    void SlideShow();
    void ViewerSize();
    void ControlsAreSpokenByTheirCaptions();
};

void MainDlgTest::IdleWindowAtStartUp() {
    EngineHarness h;
    h.Set("NNTPHost", "news.example.net");
    h.Set("Priority", "9");  // out of range: normal priority
    h.Set("ShowThumbnail", "1");
    CMainDlg window(h.profile, false);
    window.show();
    QCOMPARE(window.windowTitle(), QStringLiteral("Quarrymoth V2.7c2 [news.example.net]"));
    QCOMPARE(Enabled(window), kIdle);
    QVERIFY(Find<QPushButton>(window, "goButton")->isDefault());
    QVERIFY(!Find<QPushButton>(window, "pendingButton")->isEnabled());
    QCOMPARE(Find<QSlider>(window, "prioritySlider")->value(), 3);
    QVERIFY(Find<QPushButton>(window, "showButton")->isChecked());
    QVERIFY(Find<QGroupBox>(window, "thumbnailFrame")->isVisible());
    QCOMPARE(LabelText(window, "statusLine"), QStringLiteral("  Ready..."));
    QCOMPARE(Find<QPushButton>(window, "fullSizeButton")->text(), QStringLiteral("&Full Size"));
    QCOMPARE(Find<QPushButton>(window, "stopButton")->accessibleName(), QStringLiteral("Stop"));
    Find<QPushButton>(window, "showButton")->click();
    QVERIFY(!Find<QGroupBox>(window, "thumbnailFrame")->isVisible());
    // The window closes only when idle: here Escape ends it.
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
}

void MainDlgTest::GoWithoutServerAsksForSetupAndStaysOpen() {
    EngineHarness h;
    h.Set("NNTPHost", "");
    CMainDlg window(h.profile, true);
    QCOMPARE(window.windowTitle(), QStringLiteral("Quarrymoth V2.7c2 []"));
    BoxAnswerer boxes;
    boxes.Press(QMessageBox::Ok);
    window.show();
    QTRY_COMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.texts[0], QStringLiteral("No news server specified\n\nPlease choose 'Setup'"));
    QVERIFY(window.isVisible());
    QCOMPARE(Enabled(window), kIdle);
}

void MainDlgTest::HarvestRunsAndAutoStartCloses() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    const std::string a = Jpeg(40, 30), b = Jpeg(64, 48);
    AddPicture(h, 1, "Tom & Jerry a.jpg", "a.jpg", a);
    AddPicture(h, 2, "b.jpg", "b.jpg", b);
    AddPicture(h, 3, "c.gif", "c.gif", "GIF89a not really a picture");
    h.server.SetGreeting(Reply{.text = "200 slow server\r\n", .delayMs = 400});
    CMainDlg window(h.profile, true);
    QSignalSpy finished(&window, &CMainDlg::RunFinished);
    window.show();
    QTRY_COMPARE(Enabled(window), kRunning);
    QVERIFY(Find<QPushButton>(window, "stopButton")->isDefault());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);

    QCOMPARE(LabelText(window, "statusLine"), QStringLiteral("  Operation complete"));
    QCOMPARE(LabelText(window, "articlesSavedValue"), QStringLiteral("3"));
    QVERIFY(QRegularExpression(QStringLiteral("^[ 0-9]\\d:\\d\\d:\\d\\d$"))
                .match(LabelText(window, "elapsedTimeValue"))
                .hasMatch());
    QCOMPARE(ReadAll(h.DownloadDir() + "b.jpg"), b);
    // The GIF saved last leaves the thumbnail on the last JPEG.
    QTRY_COMPARE(Find<QGroupBox>(window, "thumbnailFrame")->accessibleName(),
                 QStringLiteral("b.jpg (64 x 48)"));
    BoxAnswerer boxes;
    boxes.Press(QMessageBox::Ok);
    window.OnProperties();
    QVERIFY(boxes.texts.value(0).startsWith(
        QString::fromStdString("Filename:\t" + h.DownloadDir() + "b.jpg\n")));
    // AutoStart closes the window after a run that nobody stopped, with success.
    QVERIFY(!window.isVisible());
    QCOMPARE(window.ExitCode(), 0);
    QCOMPARE(Enabled(window), kIdle);

    // Any other ending closes it too, with failure, so a scheduled harvest can be checked.
    h.Set("NNTPPort", std::to_string(qm::test::UnusedLoopbackPort()));
    CMainDlg failing(h.profile, true);
    failing.show();
    QTRY_VERIFY_WITH_TIMEOUT(!failing.isVisible(), 20000);
    QCOMPARE(failing.ExitCode(), 1);
}

void MainDlgTest::StopConfirmationPauseAndClosing() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.server.On("GROUP ", Reply{.silent = true});
    CMainDlg window(h.profile, true);
    BoxAnswerer boxes;
    window.show();
    QTRY_COMPARE(Enabled(window), kRunning);

    // Closing is refused during a run.
    window.close();
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(window.isVisible());

    auto* pause = Find<QPushButton>(window, "pauseButton");
    pause->click();
    QVERIFY(pause->isChecked());
    Find<QSlider>(window, "prioritySlider")->setValue(2);  // lower: any user may
    Find<QPushButton>(window, "setButton")->click();
    QCOMPARE(h.profile.GetInt(qm::kMainSection, "Priority", 0), 2L);

    // No keeps the run going; it still cancels the automatic close.
    boxes.Press(QMessageBox::No);
    Find<QPushButton>(window, "stopButton")->click();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Are you sure you want to stop?")});
    QTest::qWait(300);
    QCOMPARE(Enabled(window), kRunning);

    // Stop works while paused; the run ends, Pause comes back up, the window stays.
    h.Set("ConfirmStop", "0");
    QSignalSpy finished(&window, &CMainDlg::RunFinished);
    Find<QPushButton>(window, "stopButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(!pause->isChecked());
    QCOMPARE(Enabled(window), kIdle);
    QVERIFY(window.isVisible());
}

// Going back up from Low needs a right an ordinary user lacks: the refusal is said on the status
// line, and the slider and the stored level stay at what the engine runs at.
void MainDlgTest::RefusedPriorityChangeIsReported() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("Priority", "1");
    h.server.On("GROUP ", Reply{.silent = true});
    CMainDlg window(h.profile, true);
    window.show();
    QTRY_COMPARE(Enabled(window), kRunning);
    QTRY_VERIFY(h.CountCommands("GROUP") > 0);  // the engine's thread runs at Low
    QVERIFY(WithoutNiceRight(true));
    auto* slider = Find<QSlider>(window, "prioritySlider");
    slider->setValue(3);
    Find<QPushButton>(window, "setButton")->click();
    const bool privileged = WithoutNiceRight(false);  // false: an ordinary user never had it
    QCOMPARE(LabelText(window, "statusLine"),
             QStringLiteral("  Unable to change the priority: Permission denied"));
    QCOMPARE(slider->value(), 1);
    QCOMPARE(h.profile.GetInt(qm::kMainSection, "Priority", 0), 1L);
    if (privileged) {
        // With the right, the same change is made and kept.
        slider->setValue(3);
        Find<QPushButton>(window, "setButton")->click();
        QCOMPARE(h.profile.GetInt(qm::kMainSection, "Priority", 0), 3L);
    }
    h.Set("ConfirmStop", "0");
    QSignalSpy finished(&window, &CMainDlg::RunFinished);
    window.OnStop();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
}

void MainDlgTest::CatchUpAsksFirst() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.server.On("GROUP ", Reply{.silent = true});
    CMainDlg window(h.profile, false);
    BoxAnswerer boxes;
    window.show();
    Find<QPushButton>(window, "goButton")->click();
    QTRY_COMPARE(Enabled(window), kRunning);
    boxes.Press(QMessageBox::No);
    Find<QPushButton>(window, "catchUpButton")->click();
    QTRY_COMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts[0].startsWith(QStringLiteral("This will cause all articles")));
    QTest::qWait(300);
    QCOMPARE(Enabled(window), kRunning);
    QSignalSpy finished(&window, &CMainDlg::RunFinished);
    boxes.Press(QMessageBox::Yes);
    Find<QPushButton>(window, "catchUpButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(Enabled(window), kIdle);
}

void MainDlgTest::EngineWithoutThreadReturnsToIdle() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    NoThreadWindow window(h.profile, false);
    BoxAnswerer boxes;
    boxes.Press(QMessageBox::Ok);
    window.show();
    Find<QPushButton>(window, "goButton")->click();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts[0].startsWith(QStringLiteral("Unable to start the download")));
    QCOMPARE(Enabled(window), kIdle);
}

void MainDlgTest::EngineQuestionsAndSignals() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    AddPicture(h, 1, "a.jpg", "a.jpg", Jpeg(40, 30));
    h.Set("DownloadDirectory", h.dir / "new/");
    {
        // The engine's question is the window's box; Yes lets the run go on.
        CMainDlg window(h.profile, false);
        BoxAnswerer boxes;
        boxes.Press(QMessageBox::Yes);
        QSignalSpy finished(&window, &CMainDlg::RunFinished);
        window.show();
        Find<QPushButton>(window, "goButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts[0].contains(QStringLiteral("does not exist")));
        QCOMPARE(LabelText(window, "articlesSavedValue"), QStringLiteral("1"));
    }
    {
        // A termination signal while the engine waits on a question: the box goes, the run
        // stops, the window closes with failure.
        h.Set("DownloadDirectory", h.dir / "newer/");
        CMainDlg window(h.profile, false);
        window.show();
        Find<QPushButton>(window, "goButton")->click();
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        window.StopForSignal();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
        QCOMPARE(window.ExitCode(), 1);
        QCOMPARE(Enabled(window), kIdle);
    }
    {
        // A password the keyring cannot give: the engine's reason in a box, then the password
        // prompt, whose password the engine gets.
        QWidget window;
        qm::WindowPrompt prompt(&window);
        const std::string why =
            "Error--the password for news.example.net is in the desktop keyring, which cannot "
            "be reached: the keyring is locked";
        std::string typed;
        std::atomic<bool> given{false};
        std::thread engine([&] { given = prompt.AskPasswordInstead(why, typed); });
        BoxAnswerer boxes;
        boxes.Press(QMessageBox::Ok);
        QTRY_VERIFY(qobject_cast<qm::CPasswordDlg*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<qm::CPasswordDlg*>(QApplication::activeModalWidget());
        QTest::keyClicks(Find<QLineEdit>(*dialog, "passwordEdit"), QStringLiteral("typed pw"));
        dialog->accept();
        engine.join();
        QCOMPARE(boxes.texts, QStringList{QString::fromStdString(why)});
        QVERIFY(given);
        QCOMPARE(typed, std::string("typed pw"));
    }
}

// The thumbnail and the file actions after harvests from the scripted server. The window shows
// the latest texts; Properties speaks of the picture shown and of its own article.
void MainDlgTest::ThumbnailTextsAndFileActions() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("ConfirmDelete", "1");
    AddPicture(h, 1, "first a&b.jpg", "a&b.jpg", Jpeg(32, 24), "First <first@example.com>");
    CMainDlg window(h.profile, false);
    window.show();
    auto* frame = Find<QGroupBox>(window, "thumbnailFrame");
    QVERIFY(Harvest(window));
    const std::string good = h.DownloadDir() + "a&b.jpg";
    QTRY_COMPARE(frame->accessibleName(), QStringLiteral("a&b.jpg (32 x 24)"));
    QCOMPARE(frame->title(), QStringLiteral("a&&b.jpg (32 x 24)"));  // shows one "&"

    // A GIF and an unreadable JPEG leave the picture and its caption alone.
    AddPicture(h, 2, "c.gif", "c.gif", "GIF89a", "Ann <ann@example.com>");
    AddPicture(h, 3, "Tom & Jerry broken.jpg", "broken.jpg", "not a picture", "last@example.com");
    QVERIFY(Harvest(window));
    QCOMPARE(LabelText(window, "articlesSavedValue"), QStringLiteral("2"));
    QCOMPARE(LabelText(window, "fromValue"), QStringLiteral("last@example.com"));
    QTest::qWait(200);
    QCOMPARE(frame->accessibleName(), QStringLiteral("a&b.jpg (32 x 24)"));

    BoxAnswerer boxes;
    boxes.Press(QMessageBox::Ok);
    window.OnProperties();
    QCOMPARE(boxes.texts.last(), QString::fromStdString("Filename:\t" + good +
                                                        "\n\nSubject:\tfirst a&b.jpg"
                                                        "\n\nFrom:\tFirst <first@example.com>"));
    QCOMPARE(boxes.formats.last(), Qt::PlainText);  // "<first@example.com>" is no markup

    // Delete File asks, removes the file and empties the thumbnail; the second does nothing.
    boxes.Press(QMessageBox::Yes);
    window.OnDeleteFile();
    QCOMPARE(boxes.texts.last(), QString::fromStdString("Delete " + good + "?"));
    QVERIFY(::access(good.c_str(), F_OK) != 0);
    QCOMPARE(frame->title(), QString());
    QCOMPARE(frame->accessibleName(), QString());
    const auto asked = boxes.texts.size();
    window.OnDeleteFile();
    QCOMPARE(boxes.texts.size(), asked);

    // A removal the system refuses is reported with its reason; the thumbnail stays.
    h.Set("ConfirmDelete", "0");
    AddPicture(h, 4, "gone.jpg", "gone.jpg", Jpeg(20, 20));
    QVERIFY(Harvest(window));
    const std::string gone = h.DownloadDir() + "gone.jpg";
    QTRY_COMPARE(frame->accessibleName(), QStringLiteral("gone.jpg (20 x 20)"));
    ::unlink(gone.c_str());
    boxes.Press(QMessageBox::Ok);
    window.OnDeleteFile();
    QVERIFY(boxes.texts.last().contains(QStringLiteral("No such file or directory")));
    QCOMPARE(frame->accessibleName(), QStringLiteral("gone.jpg (20 x 20)"));
    boxes.Press(QMessageBox::Ok);
    window.OnProperties();
    QVERIFY(boxes.texts.last().startsWith(QString::fromStdString("Filename:\t" + gone + "\n")));
}

// A picture name of 103 characters and a long sender: the window keeps its size, the texts are
// elided to the room they have, and their whole text stays the accessible one.
void MainDlgTest::LongTextsElideAndNeverWidenTheWindow() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    const std::string name = std::string(96, 'n') + "end.jpg";
    const std::string from = "A Very Long Sender Name " + std::string(80, 's') + "@example.com";
    AddPicture(h, 1, name, name, Jpeg(64, 48), from);
    h.Set("ShowThumbnail", "1");
    CMainDlg window(h.profile, false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize size = window.size();
    QVERIFY(Harvest(window));
    auto* frame = Find<qm::ElidedTitleBox>(window, "thumbnailFrame");
    const QString caption = QString::fromStdString(name) + QStringLiteral(" (64 x 48)");
    QTRY_COMPARE(frame->accessibleName(), caption);
    QTest::qWait(100);  // the window's layout answers a new caption on a later turn of the loop
    QCOMPARE(window.size(), size);  // nor the counters, nor the caption's first line
    QVERIFY(window.minimumSizeHint().width() <= size.width());
    // The middle goes, so the name's end and the size stay in sight.
    QVERIFY(frame->title().contains(QChar(0x2026)));
    QVERIFY(frame->title().endsWith(QStringLiteral("end.jpg (64 x 48)")));
    QCOMPARE(frame->toolTip(), caption);
    auto* sender = Find<qm::ElidedLabel>(window, "fromValue");
    QCOMPARE(sender->text(), QString::fromStdString(from));
    QCOMPARE(sender->accessibleDescription(), QString::fromStdString(from));
    QVERIFY(sender->DisplayedText().endsWith(QChar(0x2026)));
    QVERIFY(sender->fontMetrics().horizontalAdvance(sender->DisplayedText()) <=
            sender->contentsRect().width());
    // A short text is shown whole.
    qm::SetValue(sender, QStringLiteral("ann@example.com"));
    QCOMPARE(sender->DisplayedText(), QStringLiteral("ann@example.com"));
}

// The loader hands the window pictures already at the size they are drawn in the screen's pixels
// (at 200% twice the logical size), with the subject and sender they came with.
void MainDlgTest::ThumbnailsAreScaledOffTheWindowThread() {
    qm::test::TempDir dir;
    const std::string path = dir / "big.jpg";
    qm::test::TempDir::WriteFile(path, Jpeg(800, 600));
    qm::ThumbnailLoader loader(QSize(640, 480));
    QSignalSpy loaded(&loader, &qm::ThumbnailLoader::Loaded);
    loader.SetDisplaySize(QSize(320, 200));
    loader.Request(path, qm::PictureOrigin{"big.jpg (1/1)", "ann@example.com"});
    QTRY_COMPARE(loaded.size(), 1);
    QCOMPARE(loaded[0][1].value<QImage>().size(), QSize(266, 200));
    QCOMPARE(loaded[0][2].toSize(), QSize(800, 600));
    const auto origin = loaded[0][3].value<qm::PictureOrigin>();
    QCOMPARE(origin.subject, std::string("big.jpg (1/1)"));
    QCOMPARE(origin.from, std::string("ann@example.com"));
}

void MainDlgTest::FromExcludes() {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    AddPicture(h, 1, "a.jpg", "a.jpg", Jpeg(20, 20), "spammer@example.com");
    AddPicture(h, 2, "b.gif", "b.gif", "GIF89a", "other@example.com");
    CMainDlg window(h.profile, false);
    window.show();
    QVERIFY(Harvest(window));  // the GIF leaves the spammer's picture shown: his is the sender
    QTRY_COMPARE(Find<QGroupBox>(window, "thumbnailFrame")->accessibleName(),
                 QStringLiteral("a.jpg (20 x 20)"));
    auto addWith = [&](const QString& text) {
        QTimer::singleShot(50, [text] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Edit From Exclude"));
            auto* edit = dialog->findChild<QLineEdit*>();
            QCOMPARE(edit->text(), QStringLiteral("spammer@example.com"));
            edit->setText(text);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        window.OnAddFromExclude();
    };
    // The file is made when missing, an unfinished last line is ended first, an empty or blank
    // entry is never written (it would exclude every sender).
    addWith(QStringLiteral("spammer@"));
    QCOMPARE(ReadAll("FromExcludes"), std::string("spammer@\n"));
    qm::test::TempDir::WriteFile("FromExcludes", "first");
    addWith(QStringLiteral("second"));
    addWith(QString());
    addWith(QStringLiteral("  \t "));
    QCOMPARE(ReadAll("FromExcludes"), std::string("first\nsecond\n"));
}

void MainDlgTest::SlideShow() {
    EngineHarness h;
    qm::test::TempDir::WriteFile("QMSlideshow", "#!/bin/sh\ntouch started\n");
    ::chmod("QMSlideshow", 0755);
    CMainDlg window(h.profile, false);
    auto* button = Find<QPushButton>(window, "fullSizeButton");
    QCOMPARE(button->text(), QStringLiteral("Slide Show"));
    button->click();
    QTRY_VERIFY(::access("started", F_OK) == 0);
    ::chmod("QMSlideshow", 0644);
    BoxAnswerer boxes;
    boxes.Press(QMessageBox::Ok);
    button->click();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Error--Unable to open slide show")});
}

void MainDlgTest::ViewerSize() {
    const QSize screen(1280, 1024);
    QVERIFY(qm::LayOutFullSize(30, 30, screen).closeAtOnce);  // 33 is below 50
    QVERIFY(qm::LayOutFullSize(0, 0, screen).closeAtOnce);    // a picture that did not load
    auto small = qm::LayOutFullSize(200, 100, screen);
    QCOMPARE(small.client, QSize(213, 105));
    QCOMPARE(small.picture, QRect(2, 1, 203, 103));
    QVERIFY(!small.tallerThanScreen);
    auto wide = qm::LayOutFullSize(5000, 100, screen);
    QCOMPARE(wide.client.width(), 1280);  // exactly the screen's width
    QCOMPARE(wide.picture.width(), 1270);
    auto tall = qm::LayOutFullSize(100, 3000, screen);
    QCOMPARE(tall.picture.height(), 974);
    QVERIFY(tall.tallerThanScreen);

    qm::test::TempDir dir;
    qm::test::TempDir::WriteFile(dir / "broken.jpg", "nothing");
    qm::CFullSizeDlg viewer;
    viewer.SetPath(QString::fromStdString(dir / "broken.jpg"));
    viewer.Run(QRect(QPoint(0, 0), screen));  // returns at once, never shown
    QVERIFY(!viewer.isVisible());
}

// Every button and box the windows build is spoken as its caption without "&", no push button
// becomes the default by taking the focus, and every labelled control has a spoken name.
void MainDlgTest::ControlsAreSpokenByTheirCaptions() {
    EngineHarness h;
    CMainDlg window(h.profile, false);
    qm::CSetupSheet sheet(h.profile);
    qm::CGroupSelectDlg groups(h.profile);
    qm::SharedState shared;
    shared.BeginRetrieval();
    shared.AppendPending(qm::test::OverviewLine(1, "a.jpg", "x@example.com", "d", 1000, 10));
    qm::CPendingDlg pending(shared, h.profile);
    QVERIFY(pending.Opened());
    for (QWidget* dialog : std::initializer_list<QWidget*>{&window, &sheet, &groups, &pending}) {
        int buttons = 0;
        for (auto* button : dialog->findChildren<QAbstractButton*>()) {
            // The standard OK and Cancel of a button box are named by Qt itself.
            if (button->text().isEmpty() || qobject_cast<QDialogButtonBox*>(button->parent())) {
                continue;
            }
            ++buttons;
            QCOMPARE(button->accessibleName(), QString(button->text()).remove(QLatin1Char('&')));
            if (auto* push = qobject_cast<QPushButton*>(button)) {
                QVERIFY2(!push->autoDefault(), qPrintable(push->objectName()));
            }
        }
        QVERIFY2(buttons >= 3, qPrintable(dialog->objectName()));
        for (auto* label : dialog->findChildren<QLabel*>()) {
            if (label->buddy()) {
                QVERIFY2(!label->buddy()->accessibleName().isEmpty(), qPrintable(label->text()));
            }
        }
    }
    pending.reject();
}

QTEST_MAIN(MainDlgTest)
#include "MainDlgTest.moc"

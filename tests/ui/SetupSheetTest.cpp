// The setup sheet as a person uses it: each page's fields against the profile, the rules that tie
// controls together, the files the pages write or clear, and the main window after OK.

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <cstdint>
#include <fstream>
#include <list>
#include <sstream>

#include "UiTestSupport.h"
#include "app/ui/MainDlg.h"
#include "engine/ContentIndex.h"
#include "engine/RunLock.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "settings/ui/SetupSheet.h"
#include "support/FakeKeyring.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

using qm::CSetupSheet;
using qm::ProfileStore;
using qm::test::BoxAnswerer;
using qm::test::FakeKeyring;
using qm::test::Find;
using qm::test::Jpeg;
using qm::test::TempDir;
using qm::test::WhenModal;

namespace {

enum Page { kGeneral, kConfirmations, kHistory, kIncludes, kExcludes, kLogging, kAuthentication };
const char* const kServer = "news.example.net";
const std::initializer_list<const char*> kHosts = {"NNTPHost", "NNTPHost2", "NNTPHost3",
                                                   "NNTPHost4"};

QString FieldText(QWidget& sheet, const char* name) {
    return Find<QLineEdit>(sheet, name)->text();
}

void Type(QWidget& sheet, const char* name, const QString& text) {
    auto* field = Find<QLineEdit>(sheet, name);
    field->clear();
    QTest::keyClicks(field, text);
}

bool Checked(QWidget& sheet, const char* name) {
    return Find<QCheckBox>(sheet, name)->isChecked();
}

bool Enabled(QWidget& sheet, const char* name) {
    return Find<QWidget>(sheet, name)->isEnabled();
}

void Click(QWidget& sheet, const char* name) {
    Find<QAbstractButton>(sheet, name)->click();
}

QTabWidget* Tabs(QWidget& sheet) {
    return Find<QTabWidget>(sheet, "setupTabs");
}

// The items of the host list as the drop-down shows them.
QStringList HostItems(QWidget& sheet) {
    auto* host = Find<QComboBox>(sheet, "hostCombo");
    QStringList hosts;
    for (int i = 0; i < host->count(); ++i) hosts << host->itemText(i);
    return hosts;
}

std::string ReadAll(const std::string& path) {
    return TempDir::ReadFile(path);
}

// A fresh profile in a fresh current directory (where the pages' plain files live).
struct Fixture {
    Fixture() {
        dir.Enter();
        profile.Load(dir / "quarrymoth.ini");
    }
    void Set(const char* key, const std::string& value) {
        profile.WriteString(qm::kMainSection, key, value);
    }
    void SetServer(const char* key, const std::string& value) {
        profile.WriteString(kServer, key, value);
    }
    std::string Get(const char* key) const {
        return profile.GetString(qm::kMainSection, key, "<none>");
    }
    std::vector<std::string> MainKeys() const { return profile.Keys(qm::kMainSection); }
    // The stored values of these keys in the main section (or a server's), "<none>" for none.
    std::vector<std::string> Values(std::initializer_list<const char*> keys,
                                    const std::string& section = qm::kMainSection) const {
        std::vector<std::string> values;
        for (const char* key : keys) values.push_back(profile.GetString(section, key, "<none>"));
        return values;
    }

    TempDir dir;
    ProfileStore profile;
};

// A keyring in memory for one test. The page asks it from threads of its own that are never
// waited for, so it lives as long as the program.
FakeKeyring& NewKeyring() {
    static std::list<FakeKeyring> keyrings;
    return keyrings.emplace_back();
}

std::vector<std::string> Sorted(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace

class SetupSheetTest : public QObject {
    Q_OBJECT
private slots:
    void GeneralDefaultsAndOnlyShownPagesWrite();
    void HostHistory();
    void UseTlsBelongsToEachServer();
    void ConnectionsAndCompressionBelongToEachServer();
    void DownloadDirectoryGetsTrailingSlash();
    void ConfirmationsAndHistory();
    void HistoryRebuildsContentIndex();
    void IncludesLimits();
    void ExcludesAndFromList();
    void FilesThatCannotBeWritten();
    void Logging();
    void AuthenticationRules();
    void AuthenticationFollowsCurrentHost();
    void AuthenticationPasswordInKeyring();
    void MnemonicsUniquePerPage();
    void MainWindowFollowsOk();
    void TextInTheSystemCodePageRoundTrips();
};

void SetupSheetTest::GeneralDefaultsAndOnlyShownPagesWrite() {
    Fixture f;
    {
        CSetupSheet sheet(f.profile);
        QCOMPARE(sheet.windowTitle(), QStringLiteral("Quarrymoth Setup"));
        QStringList captions;
        for (int i = 0; i < Tabs(sheet)->count(); ++i) captions << Tabs(sheet)->tabText(i);
        QCOMPARE(captions, QStringList({"General", "Confirmations", "History", "Includes",
                                        "Excludes", "Logging", "Authentication"}));
        QCOMPARE(Tabs(sheet)->currentIndex(), 0);
        QCOMPARE(Find<QComboBox>(sheet, "hostCombo")->currentText(), QString());
        QCOMPARE(FieldText(sheet, "portEdit"), QStringLiteral("119"));
        QCOMPARE(FieldText(sheet, "downloadDirectoryEdit"),
                 qEnvironmentVariable("HOME") + QStringLiteral("/QMDownloadDir/"));
        QCOMPARE(FieldText(sheet, "minLinesEdit"), QStringLiteral("500"));
        QCOMPARE(FieldText(sheet, "maxLinesEdit"), QStringLiteral("2500"));
        QCOMPARE(FieldText(sheet, "reconnectEdit"), QStringLiteral("0"));
        QVERIFY(!Checked(sheet, "showThumbnailCheck"));
        sheet.show();
        QVERIFY(Find<QLineEdit>(sheet, "reconnectEdit")->isVisible());
        QCOMPARE(Find<QComboBox>(sheet, "useTlsCombo")->currentText(), QStringLiteral("None"));
        QCOMPARE(FieldText(sheet, "connectionsEdit"), QStringLiteral("4"));
        QVERIFY(Checked(sheet, "useCompressionCheck"));
        QCOMPARE(Find<QLineEdit>(sheet, "connectionsEdit")->accessibleName(),
                 QStringLiteral("Connections:"));
        QCOMPARE(Find<QCheckBox>(sheet, "useCompressionCheck")->accessibleName(),
                 QStringLiteral("Use compression"));
        // The server's own settings follow its encryption in the tab order.
        QWidget* next = Find<QComboBox>(sheet, "useTlsCombo")->nextInFocusChain();
        QStringList order;
        for (; order.size() < 3; next = next->nextInFocusChain()) {
            if (next->focusPolicy() & Qt::TabFocus) order << next->objectName();
        }
        QCOMPARE(order,
                 QStringList({"connectionsEdit", "useCompressionCheck", "downloadDirectoryEdit"}));
        Click(sheet, "showThumbnailCheck");
        // Visiting other pages and changing them, then Cancel: nothing is written.
        Tabs(sheet)->setCurrentIndex(kConfirmations);
        Click(sheet, "confirmStopCheck");
        Tabs(sheet)->setCurrentIndex(kExcludes);
        Type(sheet, "subjectExclEdit", "spam");
        Click(sheet, "cancelButton");
    }
    QVERIFY(!TempDir::Exists(f.dir / "quarrymoth.ini"));
    QVERIFY(!TempDir::Exists(f.dir / "FromExcludes"));

    // Only the General and Logging pages shown: only their keys, in one rewrite. Edit fields are
    // stored as typed, letters too.
    CSetupSheet sheet(f.profile);
    sheet.show();
    Type(sheet, "maxLinesEdit", "lots");
    Tabs(sheet)->setCurrentIndex(kLogging);
    Click(sheet, "okButton");
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    QCOMPARE(f.profile.SaveCount(), std::uint64_t{1});
    QCOMPARE(Sorted(f.MainKeys()),
             Sorted({"ShowThumbnail", "NNTPPort", "DownloadDirectory", "MinLines", "MaxLines",
                     "Reconnect", "ACDSeeDescription", "EnableLogging", "LogFile"}));
    QCOMPARE(f.Values({"MaxLines", "Reconnect", "LogFile", "ShowThumbnail"}),
             (std::vector<std::string>{"lots", "0", "DownloadLog", "0"}));
    QVERIFY(!TempDir::Exists(f.dir / "FromExcludes"));  // the Excludes page was never shown
}

void SetupSheetTest::HostHistory() {
    Fixture f;
    // A new host typed while two earlier ones are remembered, without a look at the list.
    f.Set("NNTPHost", "a.example");
    f.Set("NNTPHost2", "b.example");
    {
        CSetupSheet sheet(f.profile);
        auto* host = Find<QComboBox>(sheet, "hostCombo");
        QCOMPARE(host->currentText(), QStringLiteral("a.example"));
        host->setEditText(QStringLiteral("c.example"));
        sheet.accept();
    }
    QCOMPARE(f.Values(kHosts),
             (std::vector<std::string>{"c.example", "a.example", "b.example", "<none>"}));

    // Four remembered and a new one: the oldest is dropped.
    f.Set("NNTPHost4", "d.example");
    {
        CSetupSheet sheet(f.profile);
        sheet.show();
        auto* host = Find<QComboBox>(sheet, "hostCombo");
        host->showPopup();
        host->hidePopup();
        QTest::qWait(20);
        QCOMPARE(HostItems(sheet),
                 QStringList({"c.example", "a.example", "b.example", "d.example"}));
        QCOMPARE(host->currentText(), QStringLiteral("c.example"));  // filling kept the text
        host->setEditText(QStringLiteral("e.example"));
        sheet.accept();
    }
    QCOMPARE(f.Values(kHosts),
             (std::vector<std::string>{"e.example", "c.example", "a.example", "b.example"}));

    // A host picked from further down moves to the top; the others keep their order.
    {
        CSetupSheet sheet(f.profile);
        sheet.show();
        auto* host = Find<QComboBox>(sheet, "hostCombo");
        host->showPopup();
        host->setCurrentIndex(2);
        host->hidePopup();
        QTRY_COMPARE(host->itemText(0), QStringLiteral("a.example"));
        QCOMPARE(HostItems(sheet),
                 QStringList({"a.example", "e.example", "c.example", "b.example"}));
        QCOMPARE(host->currentIndex(), 0);
        QCOMPARE(host->currentText(), QStringLiteral("a.example"));
        // Enter in the field presses OK and never adds to the list.
        QTest::keyClick(host->lineEdit(), Qt::Key_Return);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(host->count(), 4);
    }
    QCOMPARE(f.Values(kHosts),
             (std::vector<std::string>{"a.example", "e.example", "c.example", "b.example"}));

    // An emptied host field leaves the host as it was.
    {
        CSetupSheet sheet(f.profile);
        Find<QComboBox>(sheet, "hostCombo")->setEditText(QString());
        sheet.accept();
    }
    QCOMPARE(f.Get("NNTPHost"), std::string("a.example"));
}

void SetupSheetTest::UseTlsBelongsToEachServer() {
    Fixture f;
    f.Set("NNTPHost", "a.example");
    f.Set("NNTPHost2", "b.example");
    f.profile.WriteString("a.example", qm::kUseTLS.Key(), "2");
    f.profile.WriteString("b.example", qm::kUseTLS.Key(), "1");
    auto useTls = [&] {
        return std::vector<std::string>{
            f.profile.GetString("a.example", qm::kUseTLS.Key(), "<none>"),
            f.profile.GetString("b.example", qm::kUseTLS.Key(), "<none>"),
            f.profile.GetString("c.example", qm::kUseTLS.Key(), "<none>")};
    };
    {
        CSetupSheet sheet(f.profile);
        sheet.show();
        auto* tls = Find<QComboBox>(sheet, "useTlsCombo");
        QCOMPARE(tls->currentText(), QStringLiteral("STARTTLS"));
        // The other server picked from the list brings its own choice along.
        auto* host = Find<QComboBox>(sheet, "hostCombo");
        host->showPopup();
        host->setCurrentIndex(1);
        host->hidePopup();
        QTest::qWait(20);
        QCOMPARE(host->currentText(), QStringLiteral("b.example"));
        QCOMPARE(tls->currentText(), QStringLiteral("TLS"));
        tls->setCurrentIndex(0);
        sheet.accept();
    }
    QCOMPARE(useTls(), (std::vector<std::string>{"2", "0", "<none>"}));
    {
        CSetupSheet sheet(f.profile);
        auto* tls = Find<QComboBox>(sheet, "useTlsCombo");
        QCOMPARE(tls->currentText(), QStringLiteral("None"));  // b.example, now first
        Find<QComboBox>(sheet, "hostCombo")->setEditText(QStringLiteral("c.example"));
        tls->setCurrentIndex(2);
        sheet.accept();
    }
    QCOMPARE(useTls(), (std::vector<std::string>{"2", "0", "2"}));
}

// Connections and compression belong to each server too; a server without them shows the
// defaults, and a number outside 1 to 16 is stored as the nearest one.
void SetupSheetTest::ConnectionsAndCompressionBelongToEachServer() {
    Fixture f;
    f.Set("NNTPHost", "a.example");
    f.Set("NNTPHost2", "b.example");
    f.profile.WriteString("a.example", qm::kConnections.Key(), "2");
    f.profile.WriteString("a.example", qm::kUseCompression.Key(), "0");
    auto stored = [&](const char* host) {
        return std::vector<std::string>{
            f.profile.GetString(host, qm::kConnections.Key(), "<none>"),
            f.profile.GetString(host, qm::kUseCompression.Key(), "<none>")};
    };
    {
        CSetupSheet sheet(f.profile);
        sheet.show();
        QCOMPARE(FieldText(sheet, "connectionsEdit"), QStringLiteral("2"));
        QVERIFY(!Checked(sheet, "useCompressionCheck"));
        auto* host = Find<QComboBox>(sheet, "hostCombo");
        host->showPopup();
        host->setCurrentIndex(1);
        host->hidePopup();
        QTest::qWait(20);
        QCOMPARE(host->currentText(), QStringLiteral("b.example"));
        QCOMPARE(FieldText(sheet, "connectionsEdit"), QStringLiteral("4"));
        QVERIFY(Checked(sheet, "useCompressionCheck"));
        Type(sheet, "connectionsEdit", "99");
        Click(sheet, "useCompressionCheck");
        sheet.accept();
    }
    QCOMPARE(stored("a.example"), (std::vector<std::string>{"2", "0"}));
    QCOMPARE(stored("b.example"), (std::vector<std::string>{"16", "0"}));
    for (const char* typed : {"0", ""}) {
        CSetupSheet sheet(f.profile);
        sheet.show();
        Type(sheet, "connectionsEdit", typed);
        sheet.accept();
    }
    QCOMPARE(stored("b.example"), (std::vector<std::string>{"1", "0"}));  // empty keeps it
}

void SetupSheetTest::DownloadDirectoryGetsTrailingSlash() {
    Fixture f;
    TempDir chosen;
    CSetupSheet sheet(f.profile);
    sheet.show();
    // The chooser starts at the nearest directory that exists.
    Type(sheet, "downloadDirectoryEdit", QString::fromStdString(chosen / "not/yet/made/"));
    QString title;
    WhenModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        auto* chooser = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(chooser);
        QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
        QCOMPARE(chooser->directory().absolutePath(), QString::fromStdString(chosen.path()));
        // The person types the directory's whole path into the name field. (selectFile() with
        // an absolute path moves the chooser to the path's parent and fills the name field only
        // while that field lacks the focus, which it gains when the chooser's window is
        // activated, sooner or later: then the parent was chosen.)
        auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(QString::fromStdString(chosen.path()));
        static_cast<QDialog*>(chooser)->accept();
    });
    Click(sheet, "findButton");
    QCOMPARE(title, QStringLiteral("Please choose the directory"));
    QCOMPARE(FieldText(sheet, "downloadDirectoryEdit"),
             QString::fromStdString(chosen.path() + "/"));

    // Typed without the "/": stored with it, and the field shows it too.
    Type(sheet, "downloadDirectoryEdit", "/srv/pictures");
    sheet.accept();
    QCOMPARE(f.Get("DownloadDirectory"), std::string("/srv/pictures/"));
    QCOMPARE(FieldText(sheet, "downloadDirectoryEdit"), QStringLiteral("/srv/pictures/"));
}

void SetupSheetTest::ConfirmationsAndHistory() {
    Fixture f;
    f.Set("ConfirmCatchup", "0");
    TempDir::WriteFile("HistList", "one.jpg\ntwo.jpg\n");
    CSetupSheet sheet(f.profile);
    sheet.show();
    Tabs(sheet)->setCurrentIndex(kConfirmations);
    QVERIFY(Checked(sheet, "confirmStopCheck"));
    QVERIFY(!Checked(sheet, "confirmCatchupCheck"));
    QVERIFY(Checked(sheet, "confirmDeleteCheck"));
    Click(sheet, "confirmDeleteCheck");

    Tabs(sheet)->setCurrentIndex(kHistory);
    QCOMPARE(FieldText(sheet, "maxHistEdit"), QStringLiteral("20000"));
    QCOMPARE(FieldText(sheet, "histSaveFrequencyEdit"), QStringLiteral("5"));
    Type(sheet, "maxHistEdit", "300");
    // Near-duplicates are saved by default; the larger copy matters only once they are skipped.
    QVERIFY(!Checked(sheet, "skipNearDuplicatesCheck"));
    QVERIFY(!Checked(sheet, "keepLargerCopyCheck"));
    QVERIFY(!Enabled(sheet, "keepLargerCopyCheck"));
    QCOMPARE(Find<QCheckBox>(sheet, "keepLargerCopyCheck")->accessibleName(),
             QStringLiteral("Keep the larger copy"));
    Click(sheet, "skipNearDuplicatesCheck");
    QVERIFY(Enabled(sheet, "keepLargerCopyCheck"));
    Click(sheet, "keepLargerCopyCheck");

    // No keeps the history; Yes empties it at once, before any OK.
    BoxAnswerer boxes;
    boxes.Press(QMessageBox::No);
    Click(sheet, "clearHistoryButton");
    QCOMPARE(boxes.texts, QStringList{"Are you sure you want to clear\nthe history file?"});
    QCOMPARE(boxes.icons.front(), QMessageBox::Question);
    QCOMPARE(boxes.titles.front(), QStringLiteral("Quarrymoth"));
    QCOMPARE(boxes.defaults.front(), QMessageBox::No);
    QCOMPARE(ReadAll("HistList"), std::string("one.jpg\ntwo.jpg\n"));
    boxes.Press(QMessageBox::Yes);
    Click(sheet, "clearHistoryButton");
    QCOMPARE(boxes.texts.size(), 2);
    QVERIFY(TempDir::Exists("HistList"));
    QCOMPARE(ReadAll("HistList"), std::string());
    QCOMPARE(f.profile.SaveCount(), std::uint64_t{1});  // only the key set above

    // A history file that cannot be replaced (here a directory stands in its place).
    ::unlink("HistList");
    QDir().mkdir(QStringLiteral("HistList"));
    boxes.Press(QMessageBox::Yes);
    boxes.Press(QMessageBox::Ok);
    Click(sheet, "clearHistoryButton");
    QCOMPARE(boxes.texts.size(), 4);
    QCOMPARE(boxes.texts.back(), QStringLiteral("Error clearing history"));

    sheet.accept();
    QCOMPARE(f.Values({"ConfirmStop", "ConfirmCatchup", "ConfirmDelete", "MaxHist",
                       "HistSaveFrequency", "SkipNearDuplicates", "KeepLargerCopy"}),
             (std::vector<std::string>{"1", "0", "0", "300", "5", "1", "1"}));

    // Shown again as saved; turning near-duplicates back on saves them again.
    CSetupSheet again(f.profile);
    again.show();
    Tabs(again)->setCurrentIndex(kHistory);
    QVERIFY(Checked(again, "skipNearDuplicatesCheck"));
    QVERIFY(Checked(again, "keepLargerCopyCheck"));
    QVERIFY(Enabled(again, "keepLargerCopyCheck"));
    Click(again, "skipNearDuplicatesCheck");
    QVERIFY(!Enabled(again, "keepLargerCopyCheck"));
    again.accept();
    QCOMPARE(f.Values({"SkipNearDuplicates", "KeepLargerCopy"}),
             (std::vector<std::string>{"0", "1"}));
}

// The rebuild reads the pictures below the download directory on a thread of its own: the page
// answers at once, shows the count at the end, can be stopped, and keeps off a running harvest.
void SetupSheetTest::HistoryRebuildsContentIndex() {
    Fixture f;
    QDir().mkpath(QStringLiteral("pictures/sub"));
    for (int i = 0; i < 3; ++i) {
        TempDir::WriteFile("pictures/sub/p" + std::to_string(i) + ".jpg", Jpeg(20 + i, 10));
    }
    TempDir::WriteFile("pictures/notes.txt", "not a picture");
    f.Set("DownloadDirectory", f.dir / "pictures/");
    CSetupSheet sheet(f.profile);
    sheet.show();
    Tabs(sheet)->setCurrentIndex(kHistory);
    auto* button = Find<QPushButton>(sheet, "rebuildContentIndexButton");
    QCOMPARE(button->text(), QStringLiteral("Rebuild Content Index"));

    button->click();
    // Still running when the click returns: the window thread did not do the work.
    QCOMPARE(button->text(), QStringLiteral("Cancel Rebuild"));
    QVERIFY(!Enabled(sheet, "clearHistoryButton"));
    QTRY_COMPARE(qm::test::LabelText(sheet, "rebuildStatusLabel"),
                 QStringLiteral("Indexed 3 pictures"));
    QCOMPARE(button->text(), QStringLiteral("Rebuild Content Index"));
    QVERIFY(Enabled(sheet, "clearHistoryButton"));
    {
        qm::ContentIndex index(f.dir / "ContentIndex");
        index.Load(1000);
        QCOMPARE(index.Size(), std::size_t{3});
        QCOMPARE(index.Entries()[0].width + index.Entries()[1].width + index.Entries()[2].width,
                 std::uint32_t{63});
    }

    // Stopped before it is through, the old index stays as it was.
    const std::string before = ReadAll("ContentIndex");
    for (int i = 0; i < 400; ++i) {
        TempDir::WriteFile("pictures/many" + std::to_string(i) + ".jpg", Jpeg(8 + i, 8));
    }
    button->click();
    button->click();
    QVERIFY(!button->isEnabled());
    QTRY_COMPARE(qm::test::LabelText(sheet, "rebuildStatusLabel"),
                 QStringLiteral("Rebuild cancelled; the index is as it was"));
    QVERIFY(button->isEnabled());
    QCOMPARE(ReadAll("ContentIndex"), before);

    // The run lock is free again after a rebuild; while a harvest holds it, none starts.
    qm::RunLock harvest;
    std::string error;
    QVERIFY(harvest.Acquire({qm::CurrentDirectory(), f.profile.Path()}, error));
    BoxAnswerer boxes;
    boxes.Press(QMessageBox::Ok);
    button->click();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.front().startsWith(QStringLiteral("Error--another run")),
             qPrintable(boxes.texts.front()));
    QCOMPARE(button->text(), QStringLiteral("Rebuild Content Index"));
    QCOMPARE(ReadAll("ContentIndex"), before);
    harvest.Release();

    // The index keeps the newest MaxHist pictures, as a run does; one that cannot be written is
    // said in a box.
    f.Set("DownloadDirectory", f.dir / "pictures/sub/");
    f.Set("MaxHist", "2");
    button->click();
    QTRY_COMPARE(qm::test::LabelText(sheet, "rebuildStatusLabel"),
                 QStringLiteral("Indexed 2 pictures"));
    ::unlink("ContentIndex");
    QDir().mkdir(QStringLiteral("ContentIndex"));
    boxes.Press(QMessageBox::Ok);
    button->click();
    QTRY_COMPARE(boxes.texts.size(), 2);
    QVERIFY2(boxes.texts.back().startsWith(QStringLiteral("Error writing the content index: ")),
             qPrintable(boxes.texts.back()));
    QVERIFY(button->isEnabled());
}

void SetupSheetTest::IncludesLimits() {
    Fixture f;
    f.Set("UseMaxDays", "1");
    f.Set("MaxDays", "14");
    CSetupSheet sheet(f.profile);
    sheet.show();
    Tabs(sheet)->setCurrentIndex(kIncludes);
    QCOMPARE(FieldText(sheet, "subjectInclEdit"), QStringLiteral("jpg:gif"));
    QCOMPARE(FieldText(sheet, "subjectIncl2Edit"), QStringLiteral("1/1:01/01"));
    QVERIFY(!Checked(sheet, "useMaxCountCheck"));
    QVERIFY(!Enabled(sheet, "maxCountEdit"));
    QVERIFY(Checked(sheet, "useMaxDaysCheck"));
    QVERIFY(Enabled(sheet, "maxDaysEdit"));
    QCOMPARE(FieldText(sheet, "maxDaysEdit"), QStringLiteral("14"));

    Click(sheet, "useMaxCountCheck");
    QVERIFY(Enabled(sheet, "maxCountEdit"));
    Type(sheet, "maxCountEdit", "12ab3");  // numbers only
    QCOMPARE(FieldText(sheet, "maxCountEdit"), QStringLiteral("123"));
    Type(sheet, "maxDaysEdit", "7d");  // stored as typed
    Click(sheet, "useMaxDaysCheck");
    QVERIFY(!Enabled(sheet, "maxDaysEdit"));

    // The two header limits exclude each other.
    Click(sheet, "useMaxHeaderCountCheck");
    QVERIFY(Enabled(sheet, "maxHeaderCountEdit"));
    Type(sheet, "maxHeaderCountEdit", "5000");
    Click(sheet, "useFirstHeaderCountCheck");
    QVERIFY(Checked(sheet, "useFirstHeaderCountCheck"));
    QVERIFY(Enabled(sheet, "firstHeaderCountEdit"));
    QVERIFY(!Checked(sheet, "useMaxHeaderCountCheck"));
    QVERIFY(!Enabled(sheet, "maxHeaderCountEdit"));
    Click(sheet, "useMaxHeaderCountCheck");
    QVERIFY(Checked(sheet, "useMaxHeaderCountCheck"));
    QVERIFY(!Checked(sheet, "useFirstHeaderCountCheck"));
    QVERIFY(!Enabled(sheet, "firstHeaderCountEdit"));

    // Multi-part posts: on, 7 days and 1024 MB unless stored otherwise; the values follow the box.
    QVERIFY(Checked(sheet, "multiPartCheck"));
    QCOMPARE(FieldText(sheet, "multiPartWaitDaysEdit"), QStringLiteral("7"));
    QCOMPARE(FieldText(sheet, "multiPartStoreMBEdit"), QStringLiteral("1024"));
    Type(sheet, "multiPartWaitDaysEdit", "3x");
    Click(sheet, "multiPartCheck");
    QVERIFY(!Enabled(sheet, "multiPartWaitDaysEdit"));
    QVERIFY(!Enabled(sheet, "multiPartStoreMBEdit"));

    Type(sheet, "subjectInclEdit", "png");
    sheet.accept();
    QCOMPARE(f.Values({"SubjectIncl", "SubjectIncl2", "UseMaxCount", "MaxCount", "UseMaxDays",
                       "MaxDays", "UseMaxHeaderCount", "MaxHeaderCount", "UseFirstHeaderCount",
                       "FirstHeaderCount", "MultiPart", "MultiPartWaitDays", "MultiPartStoreMB"}),
             (std::vector<std::string>{"png", "1/1:01/01", "1", "123", "0", "7d", "1", "5000", "0",
                                       "", "0", "3", "1024"}));
}

void SetupSheetTest::ExcludesAndFromList() {
    Fixture f;
    TempDir::WriteFile("FromExcludes", "zeta@example.org\r\nAlpha\n\nbeta@\nalpha\n");
    CSetupSheet sheet(f.profile);
    sheet.show();
    Tabs(sheet)->setCurrentIndex(kExcludes);
    auto* list = Find<QListView>(sheet, "fromExcludeList");
    // The entries as the list shows them, top to bottom.
    auto entries = [&] {
        std::vector<std::string> shown;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            shown.push_back(list->model()->index(row, 0).data().toString().toStdString());
        }
        return shown;
    };
    auto selected = [&] { return list->currentIndex().data().toString(); };
    // Sorted without regard to case, equal ones in file order, empty lines no entries.
    QCOMPARE(entries(), (std::vector<std::string>{"Alpha", "alpha", "beta@", "zeta@example.org"}));
    QCOMPARE(selected(), QStringLiteral("Alpha"));
    QVERIFY(!Checked(sheet, "limitCrosspostsCheck"));
    QVERIFY(!Enabled(sheet, "crosspostLimitEdit"));
    Click(sheet, "limitCrosspostsCheck");
    QVERIFY(Enabled(sheet, "crosspostLimitEdit"));
    Type(sheet, "crosspostLimitEdit", "3");
    Type(sheet, "subjectExclEdit", "wanted:sale");

    // Add through the entry dialog; an empty or blank text adds nothing.
    auto addThroughDialog = [&](const QString& text) {
        QString note;
        WhenModal([&note, text](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Enter From Field Exclude"));
            note = Find<QLabel>(*dialog, "fromExcludeNote")->text();
            Find<QLineEdit>(*dialog, "fromExcludeEdit")->setText(text);
            qobject_cast<QDialog*>(dialog)->accept();
        });
        Click(sheet, "addFromExcludeButton");
        QCOMPARE(note, QStringLiteral("To add an entire domain and ensure that it is matched "
                                      "properly, include the '@' character."));
    };
    addThroughDialog(QStringLiteral("Gamma@spam.example"));
    addThroughDialog(QString());
    addThroughDialog(QStringLiteral("   "));
    QCOMPARE(entries(), (std::vector<std::string>{"Alpha", "alpha", "beta@", "Gamma@spam.example",
                                                  "zeta@example.org"}));

    // Remove: the entry at the same place is selected next, the new last one after the last.
    list->setCurrentIndex(list->model()->index(4, 0));
    Click(sheet, "removeFromExcludeButton");
    QCOMPARE(selected(), QStringLiteral("Gamma@spam.example"));
    list->setCurrentIndex(list->model()->index(1, 0));
    Click(sheet, "removeFromExcludeButton");
    QCOMPARE(selected(), QStringLiteral("beta@"));
    QCOMPARE(entries(), (std::vector<std::string>{"Alpha", "beta@", "Gamma@spam.example"}));

    // The engine reading the old file while OK replaces it still reads the whole old list.
    std::ifstream reader("FromExcludes", std::ios::binary);
    sheet.accept();
    std::stringstream old;
    old << reader.rdbuf();
    QCOMPARE(old.str(), std::string("zeta@example.org\r\nAlpha\n\nbeta@\nalpha\n"));
    QCOMPARE(ReadAll("FromExcludes"), std::string("Alpha\nbeta@\nGamma@spam.example\n"));
    QCOMPARE(f.Values({"SubjectExcl", "LimitCrossposts", "CrosspostLimit"}),
             (std::vector<std::string>{"wanted:sale", "1", "3"}));

    // Removing every entry leaves an empty file, and the page opens with nothing selected.
    {
        CSetupSheet again(f.profile);
        again.show();
        Tabs(again)->setCurrentIndex(kExcludes);
        auto* view = Find<QListView>(again, "fromExcludeList");
        for (int i = 0; i < 3; ++i) Click(again, "removeFromExcludeButton");
        QCOMPARE(view->model()->rowCount(), 0);
        Click(again, "removeFromExcludeButton");  // nothing left to remove
        again.accept();
    }
    QCOMPARE(ReadAll("FromExcludes"), std::string());
}

void SetupSheetTest::FilesThatCannotBeWritten() {
    Fixture f;
    {
        QDir().mkdir(QStringLiteral("FromExcludes"));  // a directory where the file belongs
        CSetupSheet sheet(f.profile);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kExcludes);
        Type(sheet, "subjectExclEdit", "spam");
        BoxAnswerer boxes;
        boxes.Press(QMessageBox::Ok);
        Click(sheet, "okButton");
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("Unable to save the From excludes")),
                 qPrintable(boxes.texts[0]));
        // Said so, and the sheet stays open with nothing of the profile written.
        QVERIFY(sheet.isVisible());
        QCOMPARE(f.profile.SaveCount(), std::uint64_t{0});
        QCOMPARE(f.Get("SubjectExcl"), std::string("<none>"));
    }

    // A profile that cannot be saved: said so, and the values hold for the session.
    {
        ProfileStore lost(f.dir / "missing-dir/quarrymoth.ini");
        CSetupSheet sheet(lost);
        sheet.show();
        BoxAnswerer boxes;
        boxes.Press(QMessageBox::Ok);
        Click(sheet, "okButton");
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].contains(QStringLiteral("could not be saved")) &&
                     boxes.texts[0].contains(QStringLiteral("No such file or directory")),
                 qPrintable(boxes.texts[0]));
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(lost.GetString(qm::kMainSection, "NNTPPort", ""), std::string("119"));
    }
}

void SetupSheetTest::Logging() {
    Fixture f;
    f.Set("LogFile", "old.log");
    TempDir::WriteFile("old.log", "saved a.jpg\n");
    TempDir::WriteFile("new.log", "kept\n");
    CSetupSheet sheet(f.profile);
    sheet.show();
    Tabs(sheet)->setCurrentIndex(kLogging);
    QVERIFY(!Checked(sheet, "enableLoggingCheck"));
    QVERIFY(!Checked(sheet, "acdseeDescriptionCheck"));
    QVERIFY(!Enabled(sheet, "logFileEdit"));
    QVERIFY(!Enabled(sheet, "clearLogButton"));
    Click(sheet, "enableLoggingCheck");
    QVERIFY(Enabled(sheet, "logFileEdit"));
    QVERIFY(Enabled(sheet, "clearLogButton"));
    QCOMPARE(FieldText(sheet, "logFileEdit"), QStringLiteral("old.log"));

    // Clear Contents empties the log the profile names, not the name typed but not yet saved.
    Type(sheet, "logFileEdit", "new.log");
    Click(sheet, "clearLogButton");
    QCOMPARE(ReadAll("old.log"), std::string());
    QCOMPARE(ReadAll("new.log"), std::string("kept\n"));
    Click(sheet, "acdseeDescriptionCheck");
    sheet.accept();
    QCOMPARE(f.Values({"EnableLogging", "ACDSeeDescription", "LogFile"}),
             (std::vector<std::string>{"1", "1", "new.log"}));

    // With no log name stored the page shows the default name.
    f.profile.RemoveKey(qm::kMainSection, "LogFile");
    CSetupSheet fresh(f.profile);
    Tabs(fresh)->setCurrentIndex(kLogging);
    QCOMPARE(FieldText(fresh, "logFileEdit"), QStringLiteral("DownloadLog"));
}

void SetupSheetTest::AuthenticationRules() {
    Fixture f;
    f.Set("NNTPHost", kServer);
    f.SetServer("UserAuthentication", "1");
    f.SetServer("Username", "joe");
    f.SetServer("Password", "secret");
    f.SetServer("PromptForPasswd", "1");
    f.SetServer("alt.pics", "4711");  // a read mark beside them stays
    const char* const followers[] = {"usernameEdit", "passwordEdit", "promptForPasswdCheck",
                                     "forceAuthInfoCheck", "keyringCheck"};
    FakeKeyring& keyring = NewKeyring();
    {
        CSetupSheet sheet(f.profile, nullptr, &keyring);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        QCOMPARE(Find<QCheckBox>(sheet, "keyringCheck")->text(),
                 QStringLiteral("Keep the password in the desktop &keyring"));
        QCOMPARE(Find<QCheckBox>(sheet, "keyringCheck")->accessibleName(),
                 QStringLiteral("Keep the password in the desktop keyring"));
        QVERIFY(Checked(sheet, "userAuthenticationCheck"));
        QVERIFY(Checked(sheet, "promptForPasswdCheck"));
        QCOMPARE(FieldText(sheet, "usernameEdit"), QStringLiteral("joe"));
        QCOMPARE(FieldText(sheet, "passwordEdit"), QStringLiteral("secret"));
        QCOMPARE(Find<QLineEdit>(sheet, "passwordEdit")->echoMode(), QLineEdit::Password);
        QVERIFY(Find<QLabel>(sheet, "passwordNote")->isVisible());
        QCOMPARE(Find<QLabel>(sheet, "passwordNote")->text(),
                 QStringLiteral("The password is kept in the profile file, readable by this "
                                "user only."));
        // Loaded with the prompt box on: the password waits for the session, and no keyring
        // keeps it.
        QVERIFY(Enabled(sheet, "usernameEdit"));
        QVERIFY(!Enabled(sheet, "passwordEdit"));
        QTest::qWait(50);
        QVERIFY(!Enabled(sheet, "keyringCheck"));
        Click(sheet, "promptForPasswdCheck");
        QVERIFY(Enabled(sheet, "passwordEdit"));
        QTRY_VERIFY(Enabled(sheet, "keyringCheck"));
        Click(sheet, "userAuthenticationCheck");
        for (const char* name : followers) QVERIFY2(!Enabled(sheet, name), name);
        Click(sheet, "userAuthenticationCheck");
        for (const char* name : followers) QVERIFY2(Enabled(sheet, name), name);

        // Checking "Always send" warns and stays checked; unchecking says nothing.
        BoxAnswerer boxes;
        boxes.Press(QMessageBox::Ok);
        boxes.Press(QMessageBox::Ok);
        Click(sheet, "forceAuthInfoCheck");
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts[0].startsWith(
            "This option is only intended for use on news\nservers that don't properly request "
            "authentication.\n\nIt is STRONGLY recommended"));
        QVERIFY(boxes.texts[0].endsWith("may cause the server\nto reject your connection."));
        QCOMPARE(boxes.icons.front(), QMessageBox::Information);
        QVERIFY(Checked(sheet, "forceAuthInfoCheck"));
        Click(sheet, "forceAuthInfoCheck");
        QTest::qWait(50);
        QCOMPARE(boxes.texts.size(), 1);
        Click(sheet, "forceAuthInfoCheck");
        QCOMPARE(boxes.texts.size(), 2);

        Type(sheet, "passwordEdit", "n3w pass");
        sheet.accept();
    }
    // Nothing moves to the keyring unless asked to.
    QCOMPARE(f.Values({"UserAuthentication", "PromptForPasswd", "ForceAuthInfo", "Password",
                       "PasswordInKeyring"},
                      kServer),
             (std::vector<std::string>{"1", "0", "1", "n3w pass", "<none>"}));
    QCOMPARE(keyring.Kept(kServer, "joe"), std::string("<none>"));

    // Prompting stores no password; without "requires password" name and password stay as they
    // were, and the fields start disabled.
    {
        CSetupSheet sheet(f.profile);
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        Click(sheet, "promptForPasswdCheck");
        sheet.accept();
    }
    QCOMPARE(f.Values({"Password", "Username"}, kServer), (std::vector<std::string>{"", "joe"}));
    f.SetServer("Password", "kept");
    {
        CSetupSheet sheet(f.profile);
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        Click(sheet, "userAuthenticationCheck");
        Type(sheet, "usernameEdit", "ignored");
        sheet.accept();
    }
    QCOMPARE(f.Values({"UserAuthentication", "Username", "Password", "alt.pics"}, kServer),
             (std::vector<std::string>{"0", "joe", "kept", "4711"}));
    CSetupSheet sheet(f.profile);
    Tabs(sheet)->setCurrentIndex(kAuthentication);
    for (const char* name : followers) QVERIFY2(!Enabled(sheet, name), name);
}

// The keyring box: offered only where the session has a keyring; checked, OK keeps the password
// there and none in the profile, and unchecked moves it back.
void SetupSheetTest::AuthenticationPasswordInKeyring() {
    Fixture f;
    f.Set("NNTPHost", kServer);
    f.SetServer("UserAuthentication", "1");
    f.SetServer("Username", "joe");
    f.SetServer("Password", "secret");
    const QString inProfile =
        QStringLiteral("The password is kept in the profile file, readable by this user only.");
    const QString inKeyring = QStringLiteral("The password is kept in the desktop keyring.");
    FakeKeyring& keyring = NewKeyring();
    {
        CSetupSheet sheet(f.profile, nullptr, &keyring);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        QTRY_VERIFY(Enabled(sheet, "keyringCheck"));
        QVERIFY(!Checked(sheet, "keyringCheck"));
        QCOMPARE(Find<QLabel>(sheet, "passwordNote")->text(), inProfile);
        Click(sheet, "keyringCheck");
        QCOMPARE(Find<QLabel>(sheet, "passwordNote")->text(), inKeyring);
        QCOMPARE(Find<QLineEdit>(sheet, "passwordEdit")->accessibleDescription(), inKeyring);
        Click(sheet, "okButton");
    }
    QCOMPARE(f.Values({"Password", "PasswordInKeyring"}, kServer),
             (std::vector<std::string>{"", "1"}));
    QCOMPARE(keyring.Kept(kServer, "joe"), std::string("secret"));
    QVERIFY(TempDir::ReadFile(f.dir / "quarrymoth.ini").find("secret") == std::string::npos);

    // Shown again: read from the keyring; a new user name takes the password along.
    {
        CSetupSheet sheet(f.profile, nullptr, &keyring);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        QVERIFY(Checked(sheet, "keyringCheck"));
        QTRY_COMPARE(FieldText(sheet, "passwordEdit"), QStringLiteral("secret"));
        Type(sheet, "usernameEdit", "jo");
        Click(sheet, "okButton");
    }
    QCOMPARE(keyring.Kept(kServer, "jo"), std::string("secret"));
    QCOMPARE(keyring.Kept(kServer, "joe"), std::string("<none>"));

    // Unchecked: back in the profile, and out of the keyring.
    {
        CSetupSheet sheet(f.profile, nullptr, &keyring);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        QTRY_COMPARE(FieldText(sheet, "passwordEdit"), QStringLiteral("secret"));
        QTRY_VERIFY(Enabled(sheet, "keyringCheck"));
        Click(sheet, "keyringCheck");
        QCOMPARE(Find<QLabel>(sheet, "passwordNote")->text(), inProfile);
        Click(sheet, "okButton");
    }
    QCOMPARE(f.Values({"Password", "PasswordInKeyring"}, kServer),
             (std::vector<std::string>{"secret", "0"}));
    QCOMPARE(keyring.Kept(kServer, "jo"), std::string("<none>"));

    // Kept in a keyring out of reach: said so, the box cannot be used, and OK leaves it there.
    f.SetServer("PasswordInKeyring", "1");
    f.SetServer("Password", "");
    keyring.Put(kServer, "jo", "secret");
    keyring.MakeUnreachable("no session bus");
    {
        CSetupSheet sheet(f.profile, nullptr, &keyring);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        QTRY_COMPARE(Find<QLabel>(sheet, "passwordNote")->text(),
                     QStringLiteral("The password is kept in the desktop keyring, which cannot be "
                                    "reached: no session bus"));
        QVERIFY(Checked(sheet, "keyringCheck"));
        QVERIFY(!Enabled(sheet, "keyringCheck"));
        QCOMPARE(FieldText(sheet, "passwordEdit"), QString());
        Click(sheet, "okButton");
        QVERIFY(!sheet.isVisible());
    }
    QCOMPARE(f.Values({"Password", "PasswordInKeyring"}, kServer),
             (std::vector<std::string>{"", "1"}));

    // A keyring that refuses the password on OK: said so, and nothing of the profile changes.
    keyring.MakeUnreachable("");
    f.SetServer("PasswordInKeyring", "0");
    f.SetServer("Password", "secret");
    {
        CSetupSheet sheet(f.profile, nullptr, &keyring);
        sheet.show();
        Tabs(sheet)->setCurrentIndex(kAuthentication);
        QTRY_VERIFY(Enabled(sheet, "keyringCheck"));
        Click(sheet, "keyringCheck");
        keyring.MakeUnreachable("the keyring is locked");
        const std::uint64_t saves = f.profile.SaveCount();
        BoxAnswerer boxes;
        boxes.Press(QMessageBox::Ok);
        Click(sheet, "okButton");
        QCOMPARE(boxes.texts,
                 QStringList{"The password could not be kept in the desktop keyring: the "
                             "keyring is locked"});
        QVERIFY(sheet.isVisible());
        QCOMPARE(f.profile.SaveCount(), saves);
    }
    QCOMPARE(f.Values({"Password", "PasswordInKeyring"}, kServer),
             (std::vector<std::string>{"secret", "0"}));
}

void SetupSheetTest::AuthenticationFollowsCurrentHost() {
    Fixture f;
    f.Set("NNTPHost", kServer);
    f.SetServer("UserAuthentication", "1");
    f.SetServer("Username", "joe");
    f.profile.WriteString("other.example", "Username", "ann");
    CSetupSheet sheet(f.profile);
    sheet.show();
    Tabs(sheet)->setCurrentIndex(kAuthentication);
    QCOMPARE(FieldText(sheet, "usernameEdit"), QStringLiteral("joe"));
    Type(sheet, "usernameEdit", "joe2");
    // Back to the same server: what was typed stays.
    Tabs(sheet)->setCurrentIndex(kGeneral);
    Tabs(sheet)->setCurrentIndex(kAuthentication);
    QCOMPARE(FieldText(sheet, "usernameEdit"), QStringLiteral("joe2"));
    // Another server named on the General page: its own section is shown.
    Tabs(sheet)->setCurrentIndex(kGeneral);
    Find<QComboBox>(sheet, "hostCombo")->setEditText(QStringLiteral("other.example"));
    Tabs(sheet)->setCurrentIndex(kAuthentication);
    QCOMPARE(FieldText(sheet, "usernameEdit"), QStringLiteral("ann"));
    QVERIFY(!Checked(sheet, "userAuthenticationCheck"));
    QVERIFY(!Enabled(sheet, "usernameEdit"));
    Click(sheet, "userAuthenticationCheck");
    sheet.accept();
    QCOMPARE(f.Get("NNTPHost"), std::string("other.example"));
    QCOMPARE(f.Values({"UserAuthentication", "Username"}, "other.example"),
             (std::vector<std::string>{"1", "ann"}));
    QCOMPARE(f.Values({"Username"}, kServer), std::vector<std::string>{"joe"});  // typed only
}

// Each page's Alt keys reach one control each, the sheet's own buttons included.
void SetupSheetTest::MnemonicsUniquePerPage() {
    Fixture f;
    FakeKeyring& keyring = NewKeyring();
    CSetupSheet sheet(f.profile, nullptr, &keyring);
    sheet.show();
    for (int page = 0; page < Tabs(sheet)->count(); ++page) {
        Tabs(sheet)->setCurrentIndex(page);
        QStringList captions;
        for (auto* button : sheet.findChildren<QAbstractButton*>()) {
            if (button->isVisible()) captions << button->text();
        }
        for (auto* label : sheet.findChildren<QLabel*>()) {
            if (label->isVisible() && label->buddy()) captions << label->text();
        }
        QSet<QChar> keys;
        for (const QString& caption : captions) {
            const qsizetype amp = caption.indexOf(QLatin1Char('&'));
            if (amp < 0 || amp + 1 >= caption.size()) continue;
            const QChar key = caption[amp + 1].toLower();
            QVERIFY2(!keys.contains(key), qPrintable(Tabs(sheet)->tabText(page) + ": " + caption));
            keys.insert(key);
        }
    }
}

void SetupSheetTest::MainWindowFollowsOk() {
    Fixture f;
    f.Set("NNTPHost", kServer);
    qm::CMainDlg window(f.profile, false);
    window.show();
    auto* frame = Find<QGroupBox>(window, "thumbnailFrame");
    auto* show = Find<QPushButton>(window, "showButton");
    QVERIFY(!frame->isVisible());

    WhenModal([](QWidget* sheet) {
        QCOMPARE(sheet->windowTitle(), QStringLiteral("Quarrymoth Setup"));
        Find<QComboBox>(*sheet, "hostCombo")->setEditText(QStringLiteral("news.example.org"));
        Click(*sheet, "showThumbnailCheck");
        Click(*sheet, "cancelButton");
    });
    Click(window, "setupButton");
    QCOMPARE(window.windowTitle(), QStringLiteral("Quarrymoth V2.7c2 [news.example.net]"));
    QVERIFY(!frame->isVisible());

    WhenModal([](QWidget* sheet) {
        Find<QComboBox>(*sheet, "hostCombo")->setEditText(QStringLiteral("news.example.org"));
        Click(*sheet, "showThumbnailCheck");
        Click(*sheet, "okButton");
    });
    Click(window, "setupButton");
    QCOMPARE(window.windowTitle(), QStringLiteral("Quarrymoth V2.7c2 [news.example.org]"));
    QVERIFY(show->isChecked());
    QVERIFY(frame->isVisible());
}

// A profile written in the system code page: text that is not UTF-8 is shown as Latin-1 and goes
// back byte for byte; edited, it stays in Latin-1 while it fits. UTF-8 text is UTF-8 as before.
void SetupSheetTest::TextInTheSystemCodePageRoundTrips() {
    Fixture f;
    f.Set("NNTPHost", kServer);
    f.Set("DownloadDirectory", "/srv/bilder-\xe4/");
    f.Set("SubjectIncl", "caf\xe9");
    f.Set("SubjectIncl2", "gr\xfcn");
    f.Set("SubjectExcl", "caf\xc3\xa9");
    f.SetServer("UserAuthentication", "1");
    f.SetServer("Username", "j\xfcrgen");
    f.SetServer("Password", "s\xe9same");
    CSetupSheet sheet(f.profile);
    sheet.show();
    QCOMPARE(FieldText(sheet, "downloadDirectoryEdit"), QStringLiteral("/srv/bilder-\u00e4/"));
    Tabs(sheet)->setCurrentIndex(kIncludes);
    QCOMPARE(FieldText(sheet, "subjectInclEdit"), QStringLiteral("caf\u00e9"));
    Find<QLineEdit>(sheet, "subjectIncl2Edit")->setText(QStringLiteral("gr\u00fcn:b\u00e4r"));
    Tabs(sheet)->setCurrentIndex(kExcludes);
    QCOMPARE(FieldText(sheet, "subjectExclEdit"), QStringLiteral("caf\u00e9"));
    Tabs(sheet)->setCurrentIndex(kAuthentication);
    QCOMPARE(FieldText(sheet, "usernameEdit"), QStringLiteral("j\u00fcrgen"));
    QCOMPARE(FieldText(sheet, "passwordEdit"), QStringLiteral("s\u00e9same"));
    sheet.accept();
    QCOMPARE(f.Values({"DownloadDirectory", "SubjectIncl", "SubjectIncl2", "SubjectExcl"}),
             (std::vector<std::string>{"/srv/bilder-\xe4/", "caf\xe9", "gr\xfcn:b\xe4r",
                                       "caf\xc3\xa9"}));
    QCOMPARE(f.Values({"Username", "Password"}, kServer),
             (std::vector<std::string>{"j\xfcrgen", "s\xe9same"}));
}

QTEST_MAIN(SetupSheetTest)
#include "SetupSheetTest.moc"

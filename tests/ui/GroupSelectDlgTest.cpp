// The group selection dialog as a person uses it: opening from the files, moving and ordering
// groups, categories, directories, read marks, Refresh against the scripted server, and what OK
// and Cancel leave behind.

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "UiTestSupport.h"
#include "groups/ui/GroupSelectDlg.h"
#include "settings/SettingsKeys.h"
#include "support/NntpFixtures.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

using qm::CGroupSelectDlg;
using qm::test::Find;
using qm::test::Reply;
using qm::test::TempDir;
using Names = std::vector<std::string>;

namespace {

constexpr const char* kHost = "news.test";

// Does what a person would do with the next modal window or menu that opens.
class Answerer : public QObject {
public:
    Answerer() {
        connect(&poll_, &QTimer::timeout, this, [this] { Look(); });
        poll_.start(10);
    }
    void Then(std::function<bool(QWidget*)> step) { steps_.push_back(std::move(step)); }
    QStringList boxTexts;
    bool Done() const { return steps_.empty(); }

private:
    void Look() {
        QWidget* open = QApplication::activePopupWidget();
        if (!open) open = QApplication::activeModalWidget();
        if (!open || !open->isVisible() || steps_.empty() || open == last_) return;
        if (auto* box = qobject_cast<QMessageBox*>(open)) boxTexts << box->text();
        if (steps_.front()(open)) {
            last_ = open;
            steps_.erase(steps_.begin());
        }
    }
    QTimer poll_;
    std::vector<std::function<bool(QWidget*)>> steps_;
    QPointer<QWidget> last_;
};

bool PressOk(QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return false;
    box->button(QMessageBox::Ok)->click();
    return true;
}

std::function<bool(QWidget*)> PickMenuItem(const QString& text) {
    return [text](QWidget* w) {
        auto* menu = qobject_cast<QMenu*>(w);
        if (!menu) return false;
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                menu->close();
                action->trigger();
                return true;
            }
        }
        return false;
    };
}

}  // namespace

class GroupSelectDlgTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<qm::ProfileStore> profile_;

    void Host(const std::string& host, int port = 119) {
        profile_->WriteString(qm::kMainSection, "NNTPHost", host);
        profile_->WriteString(qm::kMainSection, "NNTPPort", std::to_string(port));
    }
    static std::string Status(CGroupSelectDlg& d) {
        return Find<QLabel>(d, "statusField")->text().toStdString();
    }
    static void Choose(QListView* list, int row) {
        list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect);
    }
    // The names a list shows, top to bottom.
    static Names Shown(CGroupSelectDlg& d, const char* list) {
        QAbstractItemModel* model = Find<QListView>(d, list)->model();
        Names names;
        for (int row = 0; row < model->rowCount(); ++row) {
            names.push_back(model->index(row, 0).data().toString().toStdString());
        }
        return names;
    }
    static Names Active(CGroupSelectDlg& d) { return Shown(d, "activeGroupsList"); }
    static Names All(CGroupSelectDlg& d) { return Shown(d, "allGroupsList"); }
    // A retrieval runs while its Stop button is the one to press.
    static bool Retrieving(CGroupSelectDlg& d) {
        return Find<QPushButton>(d, "stopButton")->isEnabled();
    }
    static std::string LabelOf(CGroupSelectDlg& d, QListView* list) {
        for (QLabel* label : d.findChildren<QLabel*>()) {
            if (label->buddy() == list) return label->text().toStdString();
        }
        return "";
    }

private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        dir_->Enter();
        profile_ = std::make_unique<qm::ProfileStore>(*dir_ / "p.ini");
    }
    void cleanup() {
        profile_.reset();
        dir_.reset();
    }

    void OpeningReadsTheFilesAndAppliesTheEnablingRules() {
        Host(kHost);
        profile_->WriteString(qm::kMainSection, "DownloadDirectory", "/srv/pics/");
        profile_->WriteString("DownloadDirs", "Enable", "1");
        profile_->WriteString("DownloadDirs", "alt.b", "b-pics");
        TempDir::WriteFile("Groups.news.test", "alt.b\r\n\r\nalt.a\n");
        TempDir::WriteFile("AllGroups.news.test", "Beta\r\n\r\nalpha\r\ngamma\r\n");
        CGroupSelectDlg d(*profile_);
        QCOMPARE(Active(d), (Names{"alt.b", "", "alt.a"}));
        QCOMPARE(All(d), (Names{"alpha", "Beta", "gamma"}));
        auto* active = Find<QListView>(d, "activeGroupsList");
        auto* all = Find<QListView>(d, "allGroupsList");
        QCOMPARE(LabelOf(d, active), std::string("A&ctive Groups: [3] (Drag to arrange)"));
        QCOMPARE(LabelOf(d, all), std::string("A&ll Groups: [3]"));
        QCOMPARE(Find<QLabel>(d, "baseDirValue")->text(), QStringLiteral("/srv/pics/"));
        QCOMPARE(Find<QLineEdit>(d, "groupFilterEdit")->text(), QStringLiteral("pictures"));
        QCOMPARE(Find<QLineEdit>(d, "groupDirectoryEdit")->text(), QStringLiteral("b-pics"));
        QVERIFY(!Find<QPushButton>(d, "stopButton")->isEnabled());

        auto* useNames = Find<QCheckBox>(d, "useGroupNamesCheck");
        auto* dirEdit = Find<QLineEdit>(d, "groupDirectoryEdit");
        QVERIFY(useNames->isEnabled() && dirEdit->isEnabled());
        useNames->click();
        QVERIFY(!dirEdit->isEnabled());
        QVERIFY(!Find<QPushButton>(d, "updateDirectoryButton")->isEnabled());
        Find<QCheckBox>(d, "enableSeparateDirsCheck")->click();
        QVERIFY(!useNames->isEnabled() && !dirEdit->isEnabled());

        // The field follows the selection, also when a removal moves it.
        Choose(active, 0);
        d.OnRemoveGroup();
        QCOMPARE(dirEdit->text(), QString());  // the empty item now selected has no sub-path
        profile_->WriteString("DownloadDirs", "alt.a", "a-pics");
        Choose(active, 1);
        QCOMPARE(dirEdit->text(), QStringLiteral("a-pics"));
    }

    void AddRemoveAndManualAdd() {
        Host(kHost);
        TempDir::WriteFile("AllGroups.news.test", "alt.m\r\nalt.z\r\n");
        CGroupSelectDlg d(*profile_);
        auto* all = Find<QListView>(d, "allGroupsList");
        auto* active = Find<QListView>(d, "activeGroupsList");
        auto* remove = Find<QPushButton>(d, "removeButton");
        Choose(all, 1);
        d.OnAddGroup();
        Choose(all, 0);
        d.OnAddGroup();
        Choose(all, 1);
        d.OnAddGroup();  // already active: not doubled, the last item selected
        QCOMPARE(Active(d), (Names{"alt.z", "alt.m"}));
        QCOMPARE(active->currentIndex().row(), 1);
        QCOMPARE(All(d).size(), size_t{2});

        Answerer person;
        person.Then([](QWidget* w) {
            auto* add = qobject_cast<qm::CAddGroupDlg*>(w);
            if (!add) return false;
            add->findChild<QLineEdit*>(QStringLiteral("groupNameEdit"))->setText(" alt.Hand");
            add->accept();
            return true;
        });
        Find<QPushButton>(d, "manualAddButton")->click();
        QVERIFY(person.Done());
        QCOMPARE(Active(d), (Names{"alt.z", "alt.m", " alt.Hand"}));

        // A manual group removed goes into All Groups in its sorted place.
        d.OnRemoveGroup();
        QCOMPARE(All(d), (Names{" alt.Hand", "alt.m", "alt.z"}));
        QCOMPARE(LabelOf(d, all), std::string("A&ll Groups: [3]"));
        QCOMPARE(active->currentIndex().row(), 1);
        d.OnRemoveGroup();
        d.OnRemoveGroup();
        QVERIFY(Active(d).empty());
        QVERIFY(!remove->isEnabled());
        QCOMPARE(LabelOf(d, active), std::string("A&ctive Groups: [0] (Drag to arrange)"));
        QCOMPARE(All(d).size(), size_t{3});
    }

    void ReorderingChangesTheFileOrder() {
        Host(kHost);
        TempDir::WriteFile("Groups.news.test", "g1\r\ng2\r\ng3\r\ng4\r\n");
        CGroupSelectDlg d(*profile_);
        auto* active = Find<QListView>(d, "activeGroupsList");
        QAbstractItemModel* model = active->model();
        // A drop as the view makes it: the dragged row's data, dropped into the gap before row 0.
        std::unique_ptr<QMimeData> drag(model->mimeData({model->index(2, 0)}));
        QVERIFY(!model->dropMimeData(drag.get(), Qt::MoveAction, 0, 0, {}));
        QCOMPARE(Active(d), (Names{"g3", "g1", "g2", "g4"}));
        drag.reset(model->mimeData({model->index(0, 0)}));
        model->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, {});  // below the last item
        QCOMPARE(Active(d), (Names{"g1", "g2", "g4", "g3"}));
        QCOMPARE(model->rowCount(), 4);

        Choose(active, 0);
        QTest::keyClick(active, Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(active, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(Active(d), (Names{"g2", "g4", "g1", "g3"}));
        QCOMPARE(active->currentIndex().row(), 2);
        QTest::keyClick(active, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(Active(d), (Names{"g2", "g1", "g4", "g3"}));
        d.accept();
        QCOMPARE(TempDir::ReadFile("Groups.news.test"), std::string("g2\r\ng1\r\ng4\r\ng3\r\n"));
    }

    void OkWritesFilesAndKeysAndStaysOpenWhenAFileCannotBeWritten() {
        Host(kHost);
        TempDir::WriteFile("AllGroups.news.test", "alt.x\r\n");
        // A directory in the file's place: no rename can replace it, whoever runs the test.
        QVERIFY(QDir().mkpath(QStringLiteral("Groups.news.test/keep")));
        CGroupSelectDlg d(*profile_);
        d.AddActiveGroup("alt.x");
        Find<QLineEdit>(d, "groupFilterEdit")->setText(QStringLiteral("pics:"));
        Find<QPushButton>(d, "loopOnListButton")->click();
        Find<QCheckBox>(d, "enableSeparateDirsCheck")->click();
        d.show();
        Find<QPushButton>(d, "okButton")->click();
        QVERIFY(d.isVisible());
        QCOMPARE(Status(d), std::string("  Unable to create GroupList"));
        QCOMPARE(profile_->GetString(qm::kMainSection, "GroupIncl", ""), std::string("pics:"));
        QCOMPARE(profile_->GetInt(qm::kMainSection, "LoopOnList", 0), 1L);
        QCOMPARE(profile_->GetInt("DownloadDirs", "Enable", 0), 1L);

        QVERIFY(QDir(QStringLiteral("Groups.news.test")).removeRecursively());
        QVERIFY(QFile::remove(QStringLiteral("AllGroups.news.test")));
        QVERIFY(QDir().mkpath(QStringLiteral("AllGroups.news.test/keep")));
        Find<QPushButton>(d, "okButton")->click();
        QCOMPARE(Status(d), std::string("  Unable to create AllGroups"));
        QCOMPARE(TempDir::ReadFile("Groups.news.test"), std::string("alt.x\r\n"));
        QVERIFY(d.isVisible());

        QVERIFY(QDir(QStringLiteral("AllGroups.news.test")).removeRecursively());
        Find<QPushButton>(d, "okButton")->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(TempDir::ReadFile("AllGroups.news.test"), std::string("alt.x\r\n"));
    }

    void CancelKeepsOnlyWhatWasWrittenAtOnce() {
        Host(kHost);
        TempDir::WriteFile("Groups.news.test", "alt.a\r\n");
        profile_->WriteInt(kHost, "alt.a", 40);
        profile_->WriteString("DownloadDirs", "Enable", "1");
        CGroupSelectDlg d(*profile_);
        d.AddActiveGroup("alt.new");
        Find<QLineEdit>(d, "groupDirectoryEdit")->setText(QStringLiteral("new pics"));
        d.OnUpdateDirectory();
        // A path that would leave the download directory is refused, naming the group.
        Answerer person;
        person.Then(PressOk);
        Find<QLineEdit>(d, "groupDirectoryEdit")->setText(QStringLiteral("a/../../etc"));
        d.OnUpdateDirectory();
        QVERIFY(person.Done());
        QVERIFY(person.boxTexts.value(0).contains(QStringLiteral("alt.new")));
        QCOMPARE(profile_->GetString("DownloadDirs", "alt.new", "?"), std::string("new pics"));

        d.MarkAllUnread(Find<QListView>(d, "activeGroupsList"));
        QCOMPARE(Status(d), std::string("All groups in list marked unread"));
        Find<QCheckBox>(d, "enableSeparateDirsCheck")->click();
        d.reject();
        QCOMPARE(TempDir::ReadFile("Groups.news.test"), std::string("alt.a\r\n"));
        qm::ProfileStore reread(*dir_ / "p.ini");
        QCOMPARE(reread.GetString("DownloadDirs", "alt.new", "?"), std::string("new pics"));
        QCOMPARE(reread.GetInt("DownloadDirs", "Enable", 0), 1L);
        QCOMPARE(reread.GetInt(kHost, "alt.a", -1), 0L);
    }

    void RightClickMarksTheGroupUnderTheMouse() {
        Host(kHost);
        TempDir::WriteFile("Groups.news.test", "alt.a\r\nalt.b\r\nalt.c\r\n");
        profile_->WriteInt(kHost, "alt.a", 10);
        profile_->WriteInt(kHost, "alt.c", 30);
        CGroupSelectDlg d(*profile_);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto* active = Find<QListView>(d, "activeGroupsList");
        Answerer person;
        person.Then(PickMenuItem(QStringLiteral("&Mark Unread")));
        const QPoint at = active->visualRect(active->model()->index(2, 0)).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, active->viewport()->mapToGlobal(at));
        QApplication::sendEvent(active->viewport(), &click);
        QVERIFY(person.Done());
        QCOMPARE(Status(d), std::string("Group alt.c marked unread"));
        QCOMPARE(profile_->GetInt(kHost, "alt.c", -1), 0L);
        QCOMPARE(profile_->GetInt(kHost, "alt.a", -1), 10L);

        d.MarkUnread(active);
        QCOMPARE(Status(d), std::string("Group alt.c already marked unread or never processed"));
    }

    // The Menu key (the window system sends its request to the list that has the focus) and
    // Shift+F10 open the same menu, on the current group of either list.
    void TheKeyboardOpensTheContextMenu() {
        Host(kHost);
        TempDir::WriteFile("Groups.news.test", "alt.a\r\nalt.b\r\n");
        TempDir::WriteFile("AllGroups.news.test", "alt.x\r\nalt.y\r\n");
        profile_->WriteInt(kHost, "alt.b", 20);
        profile_->WriteInt(kHost, "alt.x", 5);
        profile_->WriteInt(kHost, "alt.y", 7);
        CGroupSelectDlg d(*profile_);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto* active = Find<QListView>(d, "activeGroupsList");
        active->setFocus();
        active->setCurrentIndex(active->model()->index(1, 0));
        Answerer person;
        QStringList offered;
        person.Then([&offered](QWidget* w) {
            auto* menu = qobject_cast<QMenu*>(w);
            if (!menu) return false;
            for (QAction* action : menu->actions()) offered << action->text();
            return PickMenuItem(QStringLiteral("&Mark Unread"))(w);
        });
        const QPoint at = active->visualRect(active->currentIndex()).center();
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, at, active->mapToGlobal(at));
        QApplication::sendEvent(active, &menuKey);
        QVERIFY(person.Done());
        QCOMPARE(offered, QStringList({"&Mark Unread", "Mark &All Unread"}));
        QCOMPARE(Status(d), std::string("Group alt.b marked unread"));
        QCOMPARE(profile_->GetInt(kHost, "alt.b", -1), 0L);

        auto* all = Find<QListView>(d, "allGroupsList");
        all->setFocus();
        person.Then(PickMenuItem(QStringLiteral("Mark &All Unread")));
        QTest::keyClick(all, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(person.Done());
        QCOMPARE(Status(d), std::string("All groups in list marked unread"));
        QCOMPARE(profile_->GetInt(kHost, "alt.x", -1), 0L);
        QCOMPARE(profile_->GetInt(kHost, "alt.y", -1), 0L);
    }

    // Files and settings in the system code page: a name that is not UTF-8 is shown as Latin-1,
    // loads, updates and deletes like any other, and everything goes back byte for byte.
    void TextInTheSystemCodePageRoundTrips() {
        Host(kHost);
        profile_->WriteString(qm::kMainSection, "GroupIncl", "bilder:f\xf6to");
        TempDir::WriteFile("Groups.news.test", "alt.a\r\n");
        TempDir::WriteFile("GroupCat.news.test",
                           "[Caf\xe9]\r\nalt.cafe\r\n\r\n[B\xe4r]\r\nalt.baer\r\n\r\n"
                           "[Gr\xc3\xbcn]\r\nalt.gruen\r\n\r\n");
        CGroupSelectDlg d(*profile_);
        QCOMPARE(Find<QLineEdit>(d, "groupFilterEdit")->text(), QStringLiteral("bilder:f\u00f6to"));
        auto* combo = Find<QComboBox>(d, "categoryCombo");
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
        QCOMPARE(shown, QStringList({"B\u00e4r", "Caf\u00e9", "Gr\u00fcn"}));
        d.OnCategoryChosen(1);
        QCOMPARE(Active(d), Names{"alt.cafe"});
        d.OnCategoryChosen(2);
        QCOMPARE(Active(d), Names{"alt.gruen"});
        d.OnCategoryChosen(combo->findText(QStringLiteral("Caf\u00e9")));
        d.AddActiveGroup("alt.more");
        d.OnUpdateCategory();  // under its name as shown
        combo->setCurrentIndex(combo->findText(QStringLiteral("B\u00e4r")));
        d.OnDeleteCategory();
        d.accept();
        QCOMPARE(TempDir::ReadFile("GroupCat.news.test"),
                 std::string("[Gr\xc3\xbcn]\r\nalt.gruen\r\n\r\n"
                             "[Caf\xe9]\r\nalt.cafe\r\nalt.more\r\n\r\n"));
        QCOMPARE(profile_->GetString(qm::kMainSection, "GroupIncl", "?"),
                 std::string("bilder:f\xf6to"));
    }

    void CategoriesLoadSaveAndDelete() {
        Host(kHost);
        TempDir::WriteFile("Groups.news.test", "alt.a\r\nalt.b\r\n");
        TempDir::WriteFile("GroupCat.news.test", "[Zoo]\r\nalt.z\r\n\r\n[Art]\r\nalt.art\r\n\r\n");
        CGroupSelectDlg d(*profile_);
        auto* combo = Find<QComboBox>(d, "categoryCombo");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Art"));  // sorted
        d.OnCategoryChosen(1);
        QCOMPARE(Active(d), Names{"alt.z"});
        QCOMPARE(combo->itemText(0), QStringLiteral("Zoo"));  // chosen: to the top

        combo->setEditText(QStringLiteral("Mine"));
        d.OnAddCategory();
        QCOMPARE(combo->itemText(0), QStringLiteral("Mine"));
        // An entry whose block is gone (Update renamed it) leaves the user's list alone.
        combo->setCurrentIndex(0);
        combo->setEditText(QStringLiteral("Renamed"));
        d.OnUpdateCategory();
        d.AddActiveGroup("alt.keep");
        d.OnCategoryChosen(0);
        QCOMPARE(Active(d), (Names{"alt.z", "alt.keep"}));
        QVERIFY(Status(d).find("Mine") != std::string::npos);

        while (combo->count() > 0) {
            combo->setCurrentIndex(0);
            d.OnDeleteCategory();
        }
        d.OnCategoryChosen(-1);
        d.accept();
        // "Renamed" had no entry of its own to delete it by; every other block went.
        QCOMPARE(TempDir::ReadFile("GroupCat.news.test"),
                 std::string("[Renamed]\r\nalt.z\r\n\r\n"));
    }

    void RefreshFillsAllGroupsAndOkWritesThem() {
        qm::test::ScriptServer server;
        server.On("LIST", qm::test::MultiLineReply(
                              "215 list", {"alt.pictures.b 1 1 y", "comp.lang.c 1 1 y",
                                           "alt.pictures.A 1 1 y", "alt.pictures.c 1 1 y"}));
        Host("127.0.0.1", server.port());
        CGroupSelectDlg d(*profile_);
        auto* refresh = Find<QPushButton>(d, "refreshButton");
        auto* stop = Find<QPushButton>(d, "stopButton");
        auto* ok = Find<QPushButton>(d, "okButton");
        refresh->click();
        QVERIFY(!refresh->isEnabled() && !ok->isEnabled() && stop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!Retrieving(d), 5000);
        QVERIFY(refresh->isEnabled() && ok->isEnabled() && !stop->isEnabled());
        QCOMPARE(All(d), (Names{"alt.pictures.A", "alt.pictures.b", "alt.pictures.c"}));
        QCOMPARE(Status(d),
                 std::string("  Operation complete -- 4 groups scanned; 3 groups added"));
        QCOMPARE(LabelOf(d, Find<QListView>(d, "allGroupsList")), std::string("A&ll Groups: [3]"));
        QCOMPARE(Find<QListView>(d, "allGroupsList")->currentIndex().row(), 0);
        ok->click();
        QCOMPARE(TempDir::ReadFile("AllGroups.127.0.0.1"),
                 std::string("alt.pictures.A\r\nalt.pictures.b\r\nalt.pictures.c\r\n"));
    }

    void ClosingDuringARefreshEndsTheWorkerFirst() {
        qm::test::ScriptServer server;
        server.On("LIST", Reply{.text = "215 list\r\nalt.pictures.a 1 1 y\r\n"});  // and no end
        Host("127.0.0.1", server.port());
        auto d = std::make_unique<CGroupSelectDlg>(*profile_);
        d->show();
        d->OnRefresh();
        QTRY_COMPARE_WITH_TIMEOUT(All(*d).size(), size_t{1}, 5000);
        d->reject();  // Escape is refused like the disabled Cancel
        QVERIFY(d->isVisible());
        QVERIFY(d->close());
        QVERIFY(!d->isVisible());
        d.reset();  // nothing the worker posted may reach the dialog now
        QTest::qWait(50);
    }

    void RefreshWithoutAServerSaysWhereToNameOne() {
        CGroupSelectDlg d(*profile_);
        Answerer person;
        person.Then(PressOk);
        Find<QPushButton>(d, "refreshButton")->click();
        QVERIFY(person.Done());
        QCOMPARE(
            person.boxTexts.value(0),
            QStringLiteral("No news server specified\n\nPlease choose 'Setup' from main window"));
        QVERIFY(!Retrieving(d));
        d.accept();
        QCOMPARE(Status(d), std::string("  Unable to create GroupList"));
    }
};

QTEST_MAIN(GroupSelectDlgTest)
#include "GroupSelectDlgTest.moc"

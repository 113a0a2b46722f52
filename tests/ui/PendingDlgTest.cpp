// The pending-articles dialog as a person uses it: sorting by the column headers, removing in
// both counting modes, Cancel and OK, the From excludes, the time left, and the engine waiting
// while the dialog is open and running on however it closes.

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <sys/stat.h>

#include "UiTestSupport.h"
#include "app/ui/FromExcludeEditDlg.h"
#include "app/ui/MainDlg.h"
#include "app/ui/PendingDlg.h"
#include "engine/OverviewLine.h"
#include "settings/SettingsKeys.h"
#include "support/EngineHarness.h"
#include "support/NntpFixtures.h"
#include "support/TempDir.h"

using qm::CPendingDlg;
using qm::SharedState;
using qm::test::EngineHarness;
using qm::test::Find;
using qm::test::LabelText;
using qm::test::OverviewLine;
using qm::test::TempDir;

namespace {

struct Article {
    long number;
    std::string subject;
    std::string from = "poster@example.com";
    long lines = 100;
};

// Plays the engine up to its retrieval loop: the list filled and the loop begun.
void Fill(SharedState& shared, const std::vector<Article>& articles) {
    shared.BeginRetrieval();
    for (const Article& a : articles) {
        shared.AppendPending(OverviewLine(a.number, a.subject, a.from, "d", 1000, a.lines));
    }
}

std::vector<Article> Numbered(int count, long lines = 100) {
    std::vector<Article> articles;
    for (int n = 1; n <= count; ++n)
        articles.push_back({n, "Subject " + std::to_string(n), "", lines});
    for (Article& a : articles) a.from = "poster" + std::to_string(a.number) + "@example.com";
    return articles;
}

QTableView* List(QWidget& dialog) {
    return Find<QTableView>(dialog, "pendingList");
}

QStringList Column(QWidget& dialog, int column) {
    QAbstractItemModel* model = List(dialog)->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts << model->index(row, column).data().toString();
    }
    return texts;
}

// The article numbers left in the engine's list, in fetch order.
QStringList EngineList(const SharedState& shared) {
    QStringList numbers;
    for (const std::string& line : shared.PendingSnapshot()) {
        numbers << QString::fromStdString(std::string(qm::ParseOverviewLine(line).number));
    }
    return numbers;
}

// The Pending, Removed and Selected figures, in that order.
QStringList Counts(QWidget& dialog) {
    return {LabelText(dialog, "pendingValue"), LabelText(dialog, "removedValue"),
            LabelText(dialog, "selectedValue")};
}

void ClickHeader(QWidget& dialog, int column) {
    QHeaderView* header = List(dialog)->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void Select(QWidget& dialog, const std::vector<int>& rows) {
    QTableView* list = List(dialog);
    list->clearSelection();
    for (int row : rows) {
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QAction* MenuAction(QWidget& dialog, const QString& text) {
    for (QAction* action : Find<QMenu>(dialog, "pendingMenu")->actions()) {
        if (action->text() == text) return action;
    }
    qFatal("no menu item %s", qPrintable(text));
}

// Plays the engine's next step on a thread of its own: it parks while the dialog is open and
// takes the next record when it runs on.
class EngineStep {
public:
    explicit EngineStep(SharedState& shared)
        : done_(std::async(std::launch::async, [&shared] {
              std::string line;
              long removed = 0;
              shared.TakeNextPending(line, removed);
              return removed;
          })) {}
    bool RanOn() { return done_.wait_for(std::chrono::seconds(5)) == std::future_status::ready; }
    long Removed() { return done_.get(); }

private:
    std::future<long> done_;
};

// Answers the From-exclude editors as they come up: each answer is the text to confirm, or
// nullopt for Cancel. Notes the text each editor offered.
class EditorAnswerer : public QObject {
public:
    explicit EditorAnswerer(std::vector<std::optional<QString>> answers)
        : answers_(std::move(answers)) {
        connect(&poll_, &QTimer::timeout, this, [this] { Look(); });
        poll_.start(10);
    }
    QStringList offered;

private:
    void Look() {
        auto* editor = qobject_cast<qm::CFromExcludeEditDlg*>(QApplication::activeModalWidget());
        if (!editor || !editor->isVisible() || seen_ == editor) return;
        seen_ = editor;
        offered << editor->Text();
        std::optional<QString> answer;
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.erase(answers_.begin());
        }
        if (answer) {
            editor->SetText(*answer);
            editor->accept();
        } else {
            editor->reject();
        }
    }
    QTimer poll_;
    std::vector<std::optional<QString>> answers_;
    QPointer<QDialog> seen_;
};

}  // namespace

class PendingDlgTest : public QObject {
    Q_OBJECT
private slots:
    void init() { CPendingDlg::RememberedSort() = {}; }
    void SortingByTheHeaders();
    void SortIsRememberedAcrossOpeningsExceptMsgNumber();
    void TiesKeepTheirOrder();
    void RemoveInBothCountingModes();
    void RemoveEdgeCases();
    void RemovingAPartRemovesItsPost();
    void CancelRestoresEveryRemoval();
    void TimeLeft();
    void AddToFromExcludes();
    void EngineRunsOnAfterEveryWayOfClosing();
    void OkWritesTheFromExcludesBeforeTheEngineRunsOn();
    void TheEndOfTheRetrievalKeepsWhatTheUserChose();
    void NothingOpensOutsideARetrieval();
    void OkWithCacheSubjectsSkipsTheSubjectsInLaterGroups();
};

void PendingDlgTest::SortingByTheHeaders() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, {{1, "beta", "b@x", 1200},
                  {2, "Alpha", "c@x", 900},
                  {3, "gamma", "a@x", 50},
                  {99, "ALPHA", "d@x", 900},
                  {100, "alpha", "e@x", 7}});
    CPendingDlg dialog(shared, profile);
    QVERIFY(dialog.Opened());
    dialog.show();
    QCOMPARE(Column(dialog, 3), QStringList({"1", "2", "3", "99", "100"}));  // fetch order
    QCOMPARE(List(dialog)->model()->headerData(3, Qt::Horizontal).toString(),
             QStringLiteral("Msg #"));

    // Subject: case-insensitive, equal subjects stay in fetch order; a second click reverses.
    ClickHeader(dialog, 0);
    QCOMPARE(Column(dialog, 0), QStringList({"Alpha", "ALPHA", "alpha", "beta", "gamma"}));
    ClickHeader(dialog, 0);
    QCOMPARE(Column(dialog, 0), QStringList({"gamma", "beta", "Alpha", "ALPHA", "alpha"}));
    // Another column starts ascending again.
    ClickHeader(dialog, 1);
    QCOMPARE(Column(dialog, 1), QStringList({"a@x", "b@x", "c@x", "d@x", "e@x"}));
    // Lines and Msg # compare as numbers: 900 before 1200, 99 before 100.
    ClickHeader(dialog, 2);
    QCOMPARE(Column(dialog, 2), QStringList({"7", "50", "900", "900", "1200"}));
    QCOMPARE(Column(dialog, 3), QStringList({"100", "3", "2", "99", "1"}));
    ClickHeader(dialog, 3);
    QCOMPARE(Column(dialog, 3), QStringList({"1", "2", "3", "99", "100"}));
    // The Sort menu does the same as the headers, and a selected item stays selected.
    Select(dialog, {0});
    MenuAction(dialog, QStringLiteral("&Sort"))
        ->menu()
        ->actions()
        .at(3)
        ->trigger();  // "&Msg #" again: descending
    QCOMPARE(Column(dialog, 3), QStringList({"100", "99", "3", "2", "1"}));
    QCOMPARE(List(dialog)->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(List(dialog)->selectionModel()->selectedRows().at(0).row(), 4);
    // Sorting shows the list in another order; the engine's list keeps its order.
    QCOMPARE(EngineList(shared), QStringList({"1", "2", "3", "99", "100"}));
}

void PendingDlgTest::SortIsRememberedAcrossOpeningsExceptMsgNumber() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, {{1, "b", "z@x"}, {2, "c", "y@x"}, {3, "a", "x@x"}});
    {
        CPendingDlg dialog(shared, profile);
        dialog.show();
        ClickHeader(dialog, 1);
        ClickHeader(dialog, 1);  // From, descending
        dialog.reject();
    }
    {
        CPendingDlg dialog(shared, profile);
        dialog.show();
        QCOMPARE(Column(dialog, 1), QStringList({"z@x", "y@x", "x@x"}));
        // The remembered order is the current one: a click on From reverses it.
        ClickHeader(dialog, 1);
        QCOMPARE(Column(dialog, 1), QStringList({"x@x", "y@x", "z@x"}));
        ClickHeader(dialog, 3);
        ClickHeader(dialog, 3);  // Msg #, descending
        QCOMPARE(Column(dialog, 3), QStringList({"3", "2", "1"}));
        dialog.reject();
    }
    CPendingDlg dialog(shared, profile);
    dialog.show();
    QCOMPARE(Column(dialog, 3), QStringList({"1", "2", "3"}));  // the fetch order
    ClickHeader(dialog, 3);                                     // not a reversal
    QCOMPARE(Column(dialog, 3), QStringList({"1", "2", "3"}));
}

// Enough rows that an unstable sort would shuffle the equal ones.
void PendingDlgTest::TiesKeepTheirOrder() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    std::vector<Article> articles = Numbered(60);
    for (Article& a : articles) a.lines = a.number % 2 == 0 ? 20 : 10;
    Fill(shared, articles);
    CPendingDlg dialog(shared, profile);
    dialog.show();
    QStringList odd, even;
    for (int n = 1; n <= 60; ++n) (n % 2 == 0 ? even : odd) << QString::number(n);
    dialog.SortBy(2);
    QCOMPARE(Column(dialog, 3), odd + even);
    dialog.SortBy(2);  // reversed keys; the equal ones keep the order they had
    QCOMPARE(Column(dialog, 3), even + odd);
}

void PendingDlgTest::RemoveInBothCountingModes() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    for (const bool lines : {true, false}) {
        SharedState shared;
        std::vector<Article> articles = Numbered(6);
        articles[4].lines = 250;  // takes the place of the last removed item
        Fill(shared, articles);
        profile.WriteInt(qm::kMainSection, "UseArticles", lines ? 0 : 1);
        CPendingDlg dialog(shared, profile);
        dialog.show();
        QCOMPARE(Find<QRadioButton>(dialog, "linesRadio")->isChecked(), lines);
        QCOMPARE(LabelText(dialog, "pendingValue"),
                 lines ? QStringLiteral("750") : QStringLiteral("6"));
        Select(dialog, {1, 2, 3});
        QCOMPARE(LabelText(dialog, "selectedValue"),
                 lines ? QStringLiteral("300") : QStringLiteral("3"));
        if (lines) {
            QTest::keyClick(List(dialog), Qt::Key_Delete);
        } else {
            MenuAction(dialog, QStringLiteral("&Remove"))->trigger();
        }
        QCOMPARE(Column(dialog, 3), QStringList({"1", "5", "6"}));
        QCOMPARE(EngineList(shared), QStringList({"1", "5", "6"}));
        QCOMPARE(Counts(dialog),
                 lines ? QStringList({"450", "300", "250"}) : QStringList({"3", "3", "1"}));
        QCOMPARE(List(dialog)->currentIndex().row(), 1);
        // The other mode shows the same state in the other unit.
        Find<QRadioButton>(dialog, lines ? "articlesRadio" : "linesRadio")->click();
        QCOMPARE(Counts(dialog),
                 lines ? QStringList({"3", "3", "1"}) : QStringList({"450", "300", "250"}));

        EngineStep engine(shared);
        QTest::mouseClick(Find<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        QVERIFY(engine.RanOn());
        QCOMPARE(engine.Removed(), 3L);  // the article bar's total drops by three
        QCOMPARE(profile.GetInt(qm::kMainSection, "UseArticles", -1), lines ? 1 : 0);
    }
}

void PendingDlgTest::RemoveEdgeCases() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, {{7, "same", "a@x"}, {7, "same", "b@x"}, {8, "other", "c@x"}});
    CPendingDlg dialog(shared, profile);
    dialog.show();
    // Nothing selected: nothing goes, the first item is selected.
    List(dialog)->clearSelection();
    QTest::keyClick(List(dialog), Qt::Key_Delete);
    QCOMPARE(EngineList(shared), QStringList({"7", "7", "8"}));
    QCOMPARE(List(dialog)->selectionModel()->selectedRows().at(0).row(), 0);
    QCOMPARE(LabelText(dialog, "selectedValue"), QStringLiteral("1"));
    // Two records with one number: each removal takes one of them.
    Select(dialog, {1});
    QTest::keyClick(List(dialog), Qt::Key_Delete);
    QCOMPARE(EngineList(shared), QStringList({"7", "8"}));
    // Everything: an empty list, nothing left to select.
    List(dialog)->selectAll();
    QTest::keyClick(List(dialog), Qt::Key_Delete);
    QCOMPARE(List(dialog)->model()->rowCount(), 0);
    QVERIFY(EngineList(shared).isEmpty());
    QCOMPARE(Counts(dialog), QStringList({"0", "3", "0"}));
    dialog.accept();
    std::string line;
    long removed = 0;
    QVERIFY(!shared.TakeNextPending(line, removed));
    QCOMPARE(removed, 3L);
}

void PendingDlgTest::RemovingAPartRemovesItsPost() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, {{1, "P.jpg (1/3)", "a@x"},
                  {2, "single", "a@x"},
                  {3, "P.jpg (3/3)", "a@x"},
                  {4, "P.jpg (2/3)", "b@x"}});  // another sender: another post
    CPendingDlg dialog(shared, profile);
    dialog.show();
    Select(dialog, {2});
    QTest::keyClick(List(dialog), Qt::Key_Delete);
    QCOMPARE(EngineList(shared), QStringList({"2", "4"}));
    QCOMPARE(Counts(dialog).at(1), QStringLiteral("2"));  // each part counts
    dialog.findChild<QCheckBox*>(QStringLiteral("cacheSubjectsCheck"))->setChecked(true);
    dialog.accept();
    QVERIFY(shared.SubjectCacheContains("p.jpg "));  // the post's subject, without its counter
    // Not put together: a part is an article like any other.
    profile.WriteString("Quarrymoth", "MultiPart", "0");
    SharedState apart;
    Fill(apart, {{1, "P.jpg (1/3)", "a@x"}, {3, "P.jpg (3/3)", "a@x"}});
    CPendingDlg single(apart, profile);
    single.show();
    Select(single, {0});
    QTest::keyClick(List(single), Qt::Key_Delete);
    QCOMPARE(EngineList(apart), QStringList({"3"}));
    single.reject();
}

void PendingDlgTest::CancelRestoresEveryRemoval() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, Numbered(8));
    const QStringList before = EngineList(shared);
    CPendingDlg dialog(shared, profile);
    dialog.show();
    Find<QCheckBox>(dialog, "cacheSubjectsCheck")->setChecked(true);
    ClickHeader(dialog, 2);
    Select(dialog, {0, 5});
    QTest::keyClick(List(dialog), Qt::Key_Delete);
    Select(dialog, {2});
    QTest::keyClick(List(dialog), Qt::Key_Delete);
    QCOMPARE(EngineList(shared).size(), 5);
    EngineStep engine(shared);
    QTRY_VERIFY(shared.EngineParked());
    QTest::mouseClick(Find<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
    QVERIFY(engine.RanOn());
    QCOMPARE(engine.Removed(), 0L);               // the article bar keeps its total
    QCOMPARE(EngineList(shared), before.mid(1));  // the engine took the head of the whole list
    QVERIFY(!shared.SubjectCacheContains("subject 1"));
    QCOMPARE(profile.GetString(qm::kMainSection, "CacheSubjects", "unset"), std::string("unset"));
}

void PendingDlgTest::TimeLeft() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, {{1, "a", "x", 3000}, {2, "b", "x", 725}});
    {
        CPendingDlg dialog(shared, profile);  // no second counted yet: rate 0
        QCOMPARE(LabelText(dialog, "timeLeftValue"), QStringLiteral("00:00:00"));
        dialog.reject();
    }
    shared.SetBinaryRate(60);  // one line a second
    CPendingDlg dialog(shared, profile);
    QCOMPARE(LabelText(dialog, "timeLeftValue"), QStringLiteral("01:02:05"));
    Select(dialog, {0});
    dialog.RemoveSelected();
    QCOMPARE(LabelText(dialog, "timeLeftValue"), QStringLiteral("00:12:05"));
}

void PendingDlgTest::AddToFromExcludes() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    TempDir::WriteFile(dir / "FromExcludes", "spam@\r\n\nold entry\n");
    SharedState shared;
    Fill(shared, {{1, "a", "spam@junk.example"},
                  {2, "b", "Bob <bob@y.example>"},
                  {3, "c", "carol@z.example"},
                  {4, "d", "dave@w.example"},
                  {5, "e", "Bob <bob@y.example>"}});
    {
        CPendingDlg dialog(shared, profile);
        dialog.show();
        Select(dialog, {0, 1, 2, 3, 4});
        // Item 1 holds an entry already; Bob is cut down to his address; Carol's text is
        // cleared (an empty entry would exclude everybody); Dave is cancelled; the second Bob
        // now holds the new entry.
        EditorAnswerer editors({QStringLiteral("bob@y.example"), QString(), std::nullopt});
        MenuAction(dialog, QStringLiteral("&Add to 'From' excludes"))->trigger();
        QCOMPARE(editors.offered,
                 QStringList({"Bob <bob@y.example>", "carol@z.example", "dave@w.example"}));
        QCOMPARE(List(dialog)->model()->rowCount(), 5);  // nothing removed
        // Nothing is written until OK.
        QCOMPARE(TempDir::ReadFile(dir / "FromExcludes"), std::string("spam@\r\n\nold entry\n"));
        dialog.accept();
    }
    // Written as every other writer of the file writes it: CR LF and blank lines are not kept.
    QCOMPARE(TempDir::ReadFile(dir / "FromExcludes"),
             std::string("spam@\nold entry\nbob@y.example\n"));
    // Cancel loses what was added.
    {
        CPendingDlg dialog(shared, profile);
        dialog.show();
        Select(dialog, {3});
        EditorAnswerer editors({QStringLiteral("dave")});
        MenuAction(dialog, QStringLiteral("&Add to 'From' excludes"))->trigger();
        QCOMPARE(editors.offered.size(), 1);
        MenuAction(dialog, QStringLiteral("Cancel"))->trigger();
    }
    // Written as every other writer of the file writes it: CR LF and blank lines are not kept.
    QCOMPARE(TempDir::ReadFile(dir / "FromExcludes"),
             std::string("spam@\nold entry\nbob@y.example\n"));
    // Without the file and without an addition, OK creates nothing.
    ::unlink((dir / "FromExcludes").c_str());
    {
        CPendingDlg dialog(shared, profile);
        dialog.accept();
    }
    QVERIFY(!TempDir::Exists(dir / "FromExcludes"));
    // A sender sent in Latin-1 is offered as shown and excluded in the bytes it came in, or the
    // entry would never match it.
    shared.ClearPending();
    Fill(shared, {{7, "g", "J\xfcrgen <j@x.example>"}});
    {
        CPendingDlg dialog(shared, profile);
        Select(dialog, {0});
        EditorAnswerer editors({QStringLiteral("J\u00fcrgen")});
        MenuAction(dialog, QStringLiteral("&Add to 'From' excludes"))->trigger();
        QCOMPARE(editors.offered, QStringList({QStringLiteral("J\u00fcrgen <j@x.example>")}));
        dialog.accept();
    }
    QCOMPARE(TempDir::ReadFile(dir / "FromExcludes"), std::string("J\xfcrgen\n"));
}

void PendingDlgTest::EngineRunsOnAfterEveryWayOfClosing() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    const std::vector<std::pair<const char*, std::function<void(CPendingDlg&, SharedState&)>>>
        ways = {
            {"OK", [](CPendingDlg& d, SharedState&) { Find<QPushButton>(d, "okButton")->click(); }},
            {"Cancel",
             [](CPendingDlg& d, SharedState&) { Find<QPushButton>(d, "cancelButton")->click(); }},
            {"menu Ok", [](CPendingDlg& d, SharedState&) { MenuAction(d, "Ok")->trigger(); }},
            {"close box", [](CPendingDlg& d, SharedState&) { d.close(); }},
            {"Escape", [](CPendingDlg& d, SharedState&) { QTest::keyClick(&d, Qt::Key_Escape); }},
            {"Stop", [](CPendingDlg&, SharedState& s) { s.ReleasePendingDialog(); }},
            {"end of the retrieval", [](CPendingDlg&, SharedState& s) { s.EndRetrieval(); }},
        };
    for (const auto& [way, close] : ways) {
        SharedState shared;
        Fill(shared, Numbered(4));
        CPendingDlg dialog(shared, profile);
        dialog.show();
        Select(dialog, {1});
        dialog.RemoveSelected();
        EngineStep engine(shared);
        QTRY_VERIFY2(shared.EngineParked(), way);
        close(dialog, shared);
        QVERIFY2(engine.RanOn(), way);
        QTRY_VERIFY2(!dialog.isVisible(), way);  // the last two close the dialog by themselves
        QVERIFY2(!shared.PendingDialogOpen(), way);
    }
    // The program ends with the dialog open: the dialog goes, the list is as it was.
    SharedState shared;
    Fill(shared, Numbered(4));
    auto* dialog = new CPendingDlg(shared, profile);
    dialog->show();
    Select(*dialog, {0});
    dialog->RemoveSelected();
    EngineStep engine(shared);
    QTRY_VERIFY(shared.EngineParked());
    delete dialog;
    QVERIFY(engine.RanOn());
    QCOMPARE(EngineList(shared), QStringList({"2", "3", "4"}));
}

// The engine reads the From excludes when its next group starts. A write that fails shows its
// box before the engine is let go, so the engine cannot have run on before the write was tried.
void PendingDlgTest::OkWritesTheFromExcludesBeforeTheEngineRunsOn() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    SharedState shared;
    Fill(shared, {{1, "a", "Bob <bob@y.example>"}, {2, "b"}});
    CPendingDlg dialog(shared, profile);
    dialog.show();
    Select(dialog, {0});
    {
        EditorAnswerer editors({QStringLiteral("bob@y.example")});
        MenuAction(dialog, QStringLiteral("&Add to 'From' excludes"))->trigger();
    }
    EngineStep engine(shared);
    QTRY_VERIFY(shared.EngineParked());
    QVERIFY(::mkdir((dir / "FromExcludes").c_str(), 0700) == 0);  // cannot be replaced
    int boxes = 0;
    bool parkedDuringBox = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        ++boxes;
        parkedDuringBox = shared.EngineParked();
        box->close();
    });
    poll.start(10);
    Find<QPushButton>(dialog, "okButton")->click();
    QCOMPARE(boxes, 1);
    QVERIFY(parkedDuringBox);
    QVERIFY(engine.RanOn());
}

// The group's retrieval ends (or Stop comes) while the dialog is open: the options and the From
// excludes of this sitting are kept as OK keeps them, and an open editor waits for its answer.
void PendingDlgTest::TheEndOfTheRetrievalKeepsWhatTheUserChose() {
    TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    {
        SharedState shared;
        Fill(shared, {{1, "a", "Bob <bob@y.example>"}, {2, "b"}});
        CPendingDlg dialog(shared, profile);
        dialog.show();
        Find<QCheckBox>(dialog, "cacheSubjectsCheck")->click();
        Find<QRadioButton>(dialog, "linesRadio")->click();
        Select(dialog, {0});
        EditorAnswerer editors({QStringLiteral("bob@y.example")});
        MenuAction(dialog, QStringLiteral("&Add to 'From' excludes"))->trigger();
        shared.EndRetrieval();
        QTRY_VERIFY(!dialog.isVisible());
    }
    QVERIFY(qm::kCacheSubjects.IsOn(profile));
    QVERIFY(!qm::kUseArticles.IsOn(profile));
    QCOMPARE(TempDir::ReadFile(dir / "FromExcludes"), std::string("bob@y.example\n"));
    {
        SharedState shared;
        Fill(shared, {{1, "a", "carol@z.example"}});
        CPendingDlg dialog(shared, profile);
        dialog.show();
        Select(dialog, {0});
        bool stayed = false;
        std::chrono::steady_clock::time_point ended{};
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* editor =
                qobject_cast<qm::CFromExcludeEditDlg*>(QApplication::activeModalWidget());
            if (!editor || !editor->isVisible()) return;
            if (ended == std::chrono::steady_clock::time_point{}) {
                ended = std::chrono::steady_clock::now();
                shared.EndRetrieval();
            } else if (std::chrono::steady_clock::now() - ended > std::chrono::milliseconds(400)) {
                stayed = true;
                editor->SetText(QStringLiteral("carol"));
                editor->accept();
            }
        });
        poll.start(10);
        MenuAction(dialog, QStringLiteral("&Add to 'From' excludes"))->trigger();
        QVERIFY(stayed);
        QTRY_VERIFY(!dialog.isVisible());
    }
    QCOMPARE(TempDir::ReadFile(dir / "FromExcludes"), std::string("bob@y.example\ncarol\n"));
}

void PendingDlgTest::NothingOpensOutsideARetrieval() {
    EngineHarness h;
    h.SetGroups({"alt.one"});
    h.model.AddArticle("alt.one", 1, qm::test::Picture("Alpha.jpg"));
    qm::CMainDlg window(h.profile, false);
    window.show();
    int opened = 0;
    QTimer guard;  // would end a dialog that opened, so that the test fails instead of hanging
    connect(&guard, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CPendingDlg*>(QApplication::activeModalWidget())) {
            ++opened;
            dialog->reject();
        }
    });
    guard.start(20);
    window.OnPending();  // a click that arrived after the group's retrieval ended
    QCOMPARE(opened, 0);
    // Nothing was left open for the engine to wait on: the next run fetches and ends.
    QSignalSpy finished(&window, &qm::CMainDlg::RunFinished);
    Find<QPushButton>(window, "goButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(h.CountCommands("ARTICLE 1"), 1);
    QCOMPARE(opened, 0);
}

// The window, the engine and the scripted server: Pending during the first group's retrieval,
// two articles removed with Cache Subjects, OK. The removed articles are not fetched, and the
// second group's articles with the same subjects are skipped.
void PendingDlgTest::OkWithCacheSubjectsSkipsTheSubjectsInLaterGroups() {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    const std::vector<std::pair<long, std::string>> one = {
        {1, "Alpha.jpg"}, {2, "Beta.jpg"}, {3, "Gamma.jpg"}, {4, "Delta.jpg"}};
    const std::vector<std::pair<long, std::string>> two = {
        {11, "BETA.JPG"}, {12, "Epsilon.jpg"}, {13, "Gamma.jpg"}, {14, "delta.jpg"}};
    for (const auto& [number, subject] : one)
        h.model.AddArticle("alt.one", number, qm::test::Picture(subject));
    for (const auto& [number, subject] : two)
        h.model.AddArticle("alt.two", number, qm::test::Picture(subject));
    // The first article is held until the dialog is open, so the list it shows is known.
    h.server.On("ARTICLE ", qm::test::ScriptServer::Responder([](const std::string& command) {
                    const std::string number = command.substr(8);
                    return qm::test::Reply{
                        .text = "220 " + number + " <" + number +
                                "@test>\r\nSubject: x\r\n\r\nno picture here\r\n.\r\n",
                        .silent = number == "1"};
                }));
    qm::CMainDlg window(h.profile, false);
    window.show();
    Find<QPushButton>(window, "goButton")->click();
    QPushButton* pending = Find<QPushButton>(window, "pendingButton");
    QTRY_VERIFY_WITH_TIMEOUT(pending->isEnabled(), 10000);
    QTRY_VERIFY(h.CountCommands("ARTICLE 1") == 1);

    QStringList shown;
    bool parkedWhileOpen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CPendingDlg*>(QApplication::activeModalWidget());
        if (!dialog) return;
        shown = Column(*dialog, 0);
        Find<QCheckBox>(*dialog, "cacheSubjectsCheck")->setChecked(true);
        Select(*dialog, {0, 2});  // Beta and Delta
        QTest::keyClick(List(*dialog), Qt::Key_Delete);
        h.server.Release();  // the first article ends; the engine must wait before the next
        QTest::qWait(500);
        parkedWhileOpen = h.CountCommands("ARTICLE ") == 1;
        QTest::mouseClick(Find<QPushButton>(*dialog, "okButton"), Qt::LeftButton);
    });
    pending->click();  // runs the dialog modally
    QCOMPARE(shown, QStringList({"Beta.jpg", "Gamma.jpg", "Delta.jpg"}));
    QVERIFY(parkedWhileOpen);
    QTRY_VERIFY_WITH_TIMEOUT(Find<QPushButton>(window, "goButton")->isEnabled(), 20000);

    std::vector<std::string> fetched;
    for (const std::string& command : h.Commands()) {
        if (command.rfind("ARTICLE ", 0) == 0) fetched.push_back(command.substr(8));
    }
    QCOMPARE(fetched, (std::vector<std::string>{"1", "3", "12", "13"}));
    QCOMPARE(h.profile.GetInt(qm::kMainSection, "CacheSubjects", 0), 1L);
}

QTEST_MAIN(PendingDlgTest)
#include "PendingDlgTest.moc"

#include "app/ui/PendingDlg.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>

#include "app/StatusFormat.h"
#include "app/ui/FromExcludeEditDlg.h"
#include "engine/PendingDialogSession.h"
#include "engine/SharedState.h"
#include "settings/FromExcludes.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "ui/Controls.h"
#include "ui/DisplayText.h"
#include "ui/MessageBoxes.h"
#include "ui/WaitCursor.h"
#include "util/TextFiles.h"

namespace qm {

namespace {

// How often the dialog looks whether the engine still waits for it (the group's retrieval may
// end, or Stop may let the engine go, while the dialog is on the screen).
constexpr int kWatchMilliseconds = 100;

}  // namespace

// The list: the Delete key removes, and a context menu request says whether it came from the
// keyboard (the menu then opens at the dialog's corner, not where the mouse happens to be).
class CPendingDlg::ListView : public QTableView {
public:
    using QTableView::QTableView;
    std::function<void()> onDelete;
    std::function<void(QPoint, bool)> onMenu;

    // Wide enough for every column and tall enough for sixteen rows, where the screen allows;
    // on a small screen the dialog may be narrower and the columns scroll.
    QSize sizeHint() const override {
        int width = verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
        for (int column = 0; column < horizontalHeader()->count(); ++column) {
            width += columnWidth(column);
        }
        const int height = horizontalHeader()->sizeHint().height() +
                           verticalHeader()->defaultSectionSize() * 16 + 2 * frameWidth();
        return {width, height};
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
            if (onDelete) onDelete();
            return;
        }
        QTableView::keyPressEvent(event);
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        if (onMenu) onMenu(event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
    }
};

PendingSort& CPendingDlg::RememberedSort() {
    static PendingSort sort;
    return sort;
}

CPendingDlg::CPendingDlg(SharedState& shared, ProfileStore& profile, QWidget* parent)
    : QDialog(parent),
      shared_(shared),
      profile_(profile),
      session_(std::make_unique<PendingDialogSession>(shared)),
      model_(new PendingModel(this)) {
    BuildControls();
    if (!Opened()) return;
    cacheSubjects_->setChecked(kCacheSubjects.IsOn(profile_));
    (kUseArticles.IsOn(profile_) ? articles_ : lines_)->setChecked(true);
    Fill();
    fromExcludes_ = ReadFromExcludes();
    connect(&watch_, &QTimer::timeout, this, &CPendingDlg::WatchEngine);
    watch_.start(kWatchMilliseconds);
}

// A dialog that goes without OK or Cancel (the program ends) leaves the list as it found it.
CPendingDlg::~CPendingDlg() = default;

bool CPendingDlg::Opened() const {
    return session_->IsOpen();
}

// ---- building the dialog

void CPendingDlg::BuildControls() {
    setObjectName(QStringLiteral("pendingDialog"));
    setWindowTitle(QStringLiteral("Quarrymoth"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    BuildList();
    auto* hint = new QLabel(
        QStringLiteral(
            "Select unwanted files and press 'Delete' key or right-click for popup menu"),
        this);
    hint->setObjectName(QStringLiteral("hintText"));
    hint->setWordWrap(true);
    BuildOptions();
    QWidget* status = BuildStatusBox();
    BuildButtons();
    BuildMenu();
    LayOut(hint, status);
    SetTabOrder();
}

// The list of articles: rows selected whole, sorted by the dialog on a header click, and the
// Delete key and the context menu handed to the dialog.
void CPendingDlg::BuildList() {
    list_ = new ListView(this);
    list_->setObjectName(QStringLiteral("pendingList"));
    list_->setAccessibleName(QStringLiteral("Pending articles"));
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->setSortingEnabled(false);  // the dialog sorts: its own rules, not the view's
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    QHeaderView* header = list_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    SizeColumns();
    list_->onDelete = [this] { RemoveSelected(); };
    list_->onMenu = [this](QPoint pos, bool fromKeyboard) { ShowMenu(pos, fromKeyboard); };
    connect(header, &QHeaderView::sectionClicked, this, &CPendingDlg::SortBy);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CPendingDlg::CountSelection);
}

void CPendingDlg::SizeColumns() {
    const int ch = list_->fontMetrics().averageCharWidth();
    const int widths[] = {50 * ch, 26 * ch, 8 * ch, 9 * ch};
    for (int column = 0; column < PendingModel::kColumns; ++column) {
        list_->setColumnWidth(column, widths[column]);
    }
    list_->setMinimumSize(ch * 30, list_->verticalHeader()->defaultSectionSize() * 6);
}

// Cache Subjects, and whether the figures count articles or lines.
void CPendingDlg::BuildOptions() {
    cacheSubjects_ = MakeCheckBox("&Cache Subjects", "cacheSubjectsCheck", this);
    articles_ = MakeRadioButton("&Articles", "articlesRadio", this);
    lines_ = MakeRadioButton("&Lines", "linesRadio", this);
    connect(articles_, &QRadioButton::toggled, this, [this] { UpdateStatus(); });
}

QWidget* CPendingDlg::BuildStatusBox() {
    auto* status = new QGroupBox(QStringLiteral("Status"), this);
    status->setObjectName(QStringLiteral("statusBox"));
    pending_ = MakeValue("pendingValue", "Pending:", "0", status);
    selected_ = MakeValue("selectedValue", "Selected:", "0", status);
    removed_ = MakeValue("removedValue", "Removed:", "0", status);
    timeLeft_ = MakeValue("timeLeftValue", "Time Left:", "0", status);
    auto* grid = new QGridLayout(status);
    int line = 0;
    for (QLabel* value : {pending_, selected_, removed_, timeLeft_}) {
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* caption = new QLabel(value->accessibleName(), status);
        caption->setBuddy(value);
        grid->addWidget(caption, line, 0);
        grid->addWidget(value, line++, 1);
    }
    grid->setColumnStretch(1, 1);
    return status;
}

void CPendingDlg::BuildButtons() {
    ok_ = MakeButton("OK", "okButton", this);
    cancel_ = MakeButton("Cancel", "cancelButton", this);
    help_ = MakeButton("Help", "helpButton", this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CPendingDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &CPendingDlg::reject);
    connect(help_, &QPushButton::clicked, this, &CPendingDlg::ShowHelp);
}

// The list's context menu: the dialog's commands, the sorts and the two ways out.
void CPendingDlg::BuildMenu() {
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("pendingMenu"));
    menu_->addAction(QStringLiteral("&Remove"), this, &CPendingDlg::RemoveSelected);
    menu_->addAction(QStringLiteral("&Add to 'From' excludes"), this,
                     &CPendingDlg::AddToFromExcludes);
    QMenu* sort = menu_->addMenu(QStringLiteral("&Sort"));
    const char* sortCaptions[] = {"Su&bject", "&From", "&Lines", "&Msg #"};
    for (int column = 0; column < PendingModel::kColumns; ++column) {
        sort->addAction(QString::fromUtf8(sortCaptions[column]), this,
                        [this, column] { SortBy(column); });
    }
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Ok"), this, &CPendingDlg::accept);
    menu_->addAction(QStringLiteral("Cancel"), this, &CPendingDlg::reject);
}

// The list with its hint and options on the left; the buttons and the figures on the right.
void CPendingDlg::LayOut(QWidget* hint, QWidget* status) {
    auto* options = new QHBoxLayout;
    options->addWidget(cacheSubjects_);
    options->addSpacing(list_->fontMetrics().averageCharWidth() * 3);
    options->addWidget(articles_);
    options->addWidget(lines_);
    options->addStretch(1);

    auto* left = new QVBoxLayout;
    left->addWidget(list_, 1);
    left->addWidget(hint);
    left->addLayout(options);

    auto* right = new QVBoxLayout;
    for (QPushButton* button : {ok_, cancel_, help_}) right->addWidget(button);
    right->addSpacing(fontMetrics().height());
    right->addWidget(status);
    right->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right);
}

void CPendingDlg::SetTabOrder() {
    QWidget* order[] = {list_, cacheSubjects_, articles_, lines_, ok_, cancel_, help_};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    list_->setFocus();
}

// ---- opening

void CPendingDlg::Fill() {
    model_->SetRecords(session_->Snapshot());
    pendingLines_ = 0;
    for (int row = 0; row < model_->Count(); ++row) pendingLines_ += model_->At(row).lines;
    current_ = PendingSort{};
    const PendingSort remembered = RememberedSort();
    // A sort by "Msg #" is not put back: the list then shows the order of fetching.
    if (remembered.column >= 0 && remembered.column < PendingModel::kNumber) {
        WaitCursor wait;
        current_ = remembered;
        model_->Sort(current_);
        list_->horizontalHeader()->setSortIndicatorShown(true);
        list_->horizontalHeader()->setSortIndicator(
            current_.column, current_.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
    removedArticles_ = selectedArticles_ = 0;
    removedLines_ = selectedLines_ = 0;
    UpdateStatus();
}

// ---- commands

void CPendingDlg::SortBy(int column) {
    if (column < 0 || column >= PendingModel::kColumns) return;
    WaitCursor wait;
    PendingSort sort;
    sort.column = column;
    sort.text = column == PendingModel::kSubject || column == PendingModel::kFrom;
    // A second click on the same column reverses the order.
    sort.ascending = column != current_.column || !current_.ascending;
    current_ = sort;
    RememberedSort() = sort;
    model_->Sort(sort);
    QHeaderView* header = list_->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, sort.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    const std::vector<int> selected = SelectedRows();
    if (model_->Count() > 0) list_->scrollTo(model_->index(selected.empty() ? 0 : selected[0], 0));
}

void CPendingDlg::RemoveSelected() {
    if (EngineLetGo()) return;
    WaitCursor wait;
    // A part stands for its post: the post's other listed parts go with it.
    const std::vector<int> rows =
        kMultiPart.IsOn(profile_) ? model_->WithWholePosts(SelectedRows()) : SelectedRows();
    std::vector<std::string> numbers;
    numbers.reserve(rows.size());
    std::int64_t lines = 0;
    for (int row : rows) {
        numbers.push_back(model_->At(row).number);
        lines += model_->At(row).lines;
    }
    session_->Remove(numbers);
    model_->RemoveRows(rows);
    // The item that took the place of the last one removed (each removal moved it up by one).
    const int next = rows.empty() ? 0 : rows.back() - static_cast<int>(rows.size()) + 1;
    if (next < model_->Count()) {
        const QModelIndex index = model_->index(next, 0);
        list_->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list_->scrollTo(index);
    }
    pendingLines_ -= lines;
    removedArticles_ += static_cast<long>(rows.size());
    removedLines_ += lines;
    CountSelection();
}

void CPendingDlg::AddToFromExcludes() {
    if (EngineLetGo()) return;
    for (int row : SelectedRows()) {
        const QString from = model_->At(row).from;
        bool known = false;
        for (const std::string& entry : fromExcludes_) {
            // An empty line in the file excludes nothing (the engine skips it), so it must not
            // hide every sender from this action either.
            if (!entry.empty() && from.contains(DisplayText(entry))) {
                known = true;
                break;
            }
        }
        if (!known && !EditFromExclude(from, model_->At(row).fromNotUtf8)) return;
    }
}

// One sender in the editor; false when the dialog has gone meanwhile. The editor stays up when
// the engine lets go (the watch waits for it): what the user confirms there is kept all the same.
bool CPendingDlg::EditFromExclude(const QString& from, const std::string& fromNotUtf8) {
    CFromExcludeEditDlg edit(this);
    edit.SetText(from);
    editing_ = true;
    const bool accepted = edit.exec() == QDialog::Accepted;
    editing_ = false;
    // An empty entry would occur in every sender and reject every article.
    if (accepted && !edit.Text().isEmpty()) {
        fromExcludes_.push_back(StoredText(edit.Text(), fromNotUtf8));
        fromExcludesAdded_ = true;
    }
    if (!EngineLetGo()) return true;
    CloseForEngine();
    return false;
}

// The profile's choices and the added From excludes; the error number of a failed write, or 0.
int CPendingDlg::KeepChoices() {
    WaitCursor wait;
    profile_.Apply({kCacheSubjects.ChangeFlag(cacheSubjects_->isChecked()),
                    kUseArticles.ChangeFlag(articles_->isChecked())});
    if (!fromExcludesAdded_ || WriteFromExcludes(fromExcludes_)) return 0;
    return errno != 0 ? errno : EIO;
}

void CPendingDlg::ShowWriteError(int error) {
    if (error == 0) return;
    ShowError(this, QStringLiteral("Unable to write the file FromExcludes\n\n%1")
                        .arg(QString::fromLocal8Bit(std::strerror(error))));
}

void CPendingDlg::accept() {
    watch_.stop();  // the session ends here: what follows must not read as the engine letting go
    // The engine reads the From excludes when its next group starts: they are on disk before
    // it runs on.
    ShowWriteError(KeepChoices());
    {
        WaitCursor wait;
        session_->Ok(cacheSubjects_->isChecked());
    }
    QDialog::accept();
}

void CPendingDlg::reject() {
    watch_.stop();
    {
        WaitCursor wait;
        session_->Cancel();
    }
    QDialog::reject();
}

// ---- the selection and the status

std::vector<int> CPendingDlg::SelectedRows() const {
    std::vector<int> rows;
    const QItemSelection selection = list_->selectionModel()->selection();
    if (selection.isEmpty()) return rows;
    // Ranges may overlap after clicks with Ctrl and Shift; each row counts once, in list order.
    std::vector<char> marked(static_cast<size_t>(model_->Count()), 0);
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom() && row < model_->Count(); ++row) {
            marked[static_cast<size_t>(row)] = 1;
        }
    }
    for (size_t row = 0; row < marked.size(); ++row) {
        if (marked[row] != 0) rows.push_back(static_cast<int>(row));
    }
    return rows;
}

void CPendingDlg::CountSelection() {
    selectedArticles_ = 0;
    selectedLines_ = 0;
    for (int row : SelectedRows()) {
        ++selectedArticles_;
        selectedLines_ += model_->At(row).lines;
    }
    UpdateStatus();
}

void CPendingDlg::UpdateStatus() {
    SetValue(timeLeft_, QString::fromStdString(
                            TimeLeftText(GroupSecondsLeft(pendingLines_, shared_.BinaryRate()))));
    const bool articles = articles_->isChecked();
    SetValue(pending_, QString::number(articles ? static_cast<std::int64_t>(model_->Count())
                                                : pendingLines_));
    SetValue(selected_, QString::number(articles ? static_cast<std::int64_t>(selectedArticles_)
                                                 : selectedLines_));
    SetValue(removed_, QString::number(articles ? static_cast<std::int64_t>(removedArticles_)
                                                : removedLines_));
}

// ---- menu, help and the engine

void CPendingDlg::ShowMenu(QPoint globalPos, bool fromKeyboard) {
    menu_->exec(fromKeyboard ? mapToGlobal(QPoint(5, 5)) : globalPos);
}

void CPendingDlg::ShowHelp() {
    Inform(
        this,
        QStringLiteral(
            "These are the articles of the current group still waiting to be fetched; the "
            "download waits while this window is open.\n\n"
            "Click a column heading to sort by it (click again to reverse). Select the articles "
            "you do not want and press Delete, or right-click for the menu. Add to 'From' "
            "excludes skips their senders in later runs.\n\n"
            "Cache Subjects: articles with the subjects you removed are also skipped in the later "
            "groups of this run.\n\n"
            "OK keeps the removals; Cancel puts every removed article back."));
}

bool CPendingDlg::EngineLetGo() const {
    return !session_->IsOpen();
}

// The group's retrieval ended, or Stop let the engine go: the list shown is no longer the
// engine's, so the dialog goes, with whatever it has open on top of it; an open From exclude
// editor is waited for.
void CPendingDlg::WatchEngine() {
    if (!EngineLetGo() || editing_) return;
    CloseForEngine();
}

// What the user chose in this sitting outlives the list: the options and the From excludes are
// kept as OK keeps them; the removals are the engine's business no more.
void CPendingDlg::CloseForEngine() {
    watch_.stop();
    for (QDialog* child : findChildren<QDialog*>()) {
        if (child->isVisible()) child->reject();
    }
    if (menu_->isVisible()) menu_->close();
    ShowWriteError(KeepChoices());
    QDialog::reject();
}

}  // namespace qm

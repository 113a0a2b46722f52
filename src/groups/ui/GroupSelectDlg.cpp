#include "groups/ui/GroupSelectDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "groups/GroupDirectories.h"
#include "groups/GroupListFile.h"
#include "groups/GroupListWorker.h"
#include "groups/ReadMarks.h"
#include "groups/ui/GroupNameModel.h"
#include "settings/SettingsKeys.h"
#include "ui/Controls.h"
#include "ui/DisplayText.h"
#include "ui/MessageBoxes.h"
#include "ui/WaitCursor.h"
#include "ui/WindowPrompt.h"

namespace qm {
namespace {

std::string Bytes(const QString& text) {
    return text.toStdString();
}

// A category entry of the combo box keeps the name's bytes as read: a name that is not UTF-8 is
// shown as Latin-1 and must still find its header.
constexpr int kNameBytesRole = Qt::UserRole;

std::string CategoryName(const QComboBox& combo, int index) {
    const QVariant bytes = combo.itemData(index, kNameBytesRole);
    if (!bytes.isValid()) return Bytes(combo.itemText(index));
    return bytes.toByteArray().toStdString();
}

void InsertCategory(QComboBox& combo, int index, const std::string& name) {
    combo.insertItem(index, DisplayText(name), QByteArray::fromStdString(name));
}

// How often the names of a running retrieval are merged into the All Groups list and its label.
constexpr int kMergeIntervalMs = 100;
// How many names the worker may hand over before it waits for the dialog to take them.
constexpr int kAckWindow = 256;

}  // namespace

// ---- the Add Group dialog

CAddGroupDlg::CAddGroupDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Add Group"));
    setObjectName(QStringLiteral("addGroupDialog"));
    auto* layout = new QVBoxLayout(this);
    name_ = MakeField("groupNameEdit", "&Group name:", this);
    auto* label = MakeLabel("&Group name:", name_, this);
    layout->addWidget(label);
    layout->addWidget(name_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::string CAddGroupDlg::GroupName() const {
    return Bytes(name_->text());
}

// ---- the worker's news, posted to the dialog's thread

class CGroupSelectDlg::Relay : public GroupListSink {
public:
    explicit Relay(CGroupSelectDlg* dialog) : dialog_(dialog) {}

    void ListStatus(std::string text) override {
        Post([text = std::move(text)](CGroupSelectDlg* d) { d->ListStatus(text); });
    }
    void ListCleared() override {
        Post([](CGroupSelectDlg* d) { d->ListCleared(); });
    }
    void ListGroup(std::string name) override {
        Post([name = std::move(name)](CGroupSelectDlg* d) mutable {
            d->ListGroup(std::move(name));
        });
    }
    void ListSelectFirst() override {
        Post([](CGroupSelectDlg* d) { d->ListSelectFirst(); });
    }
    void ListDone() override {
        Post([](CGroupSelectDlg* d) { d->ListDone(); });
    }

private:
    template <typename Fn>
    void Post(Fn fn) {
        // Queued to the dialog: a dialog destroyed first takes its queued calls with it (and it
        // abandons the worker before it goes).
        QMetaObject::invokeMethod(
            dialog_, [d = dialog_, fn = std::move(fn)]() mutable { fn(d); }, Qt::QueuedConnection);
    }
    CGroupSelectDlg* dialog_;
};

// ---- building

CGroupSelectDlg::CGroupSelectDlg(ProfileStore& profile, QWidget* parent)
    : QDialog(parent), profile_(profile) {
    setWindowTitle(QStringLiteral("Quarrymoth Group Select"));
    setObjectName(QStringLiteral("groupSelectDialog"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildGroupLists(), 1);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(BuildCategoryBox());
    boxes->addWidget(BuildDirectoryBox(), 1);
    layout->addLayout(boxes);

    status_ = new QLabel(QStringLiteral("  Ready..."), this);
    status_->setObjectName(QStringLiteral("statusField"));
    status_->setAccessibleName(QStringLiteral("Status"));
    status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);

    auto* bottom = new QHBoxLayout;
    auto* manualAdd = MakeButton("&Manual Add", "manualAddButton", this);
    loop_ = MakeButton("Loop on list", "loopOnListButton", this);
    loop_->setCheckable(true);
    ok_ = MakeButton("OK", "okButton", this);
    ok_->setDefault(true);
    cancel_ = MakeButton("Cancel", "cancelButton", this);
    auto* help = MakeButton("Help", "helpButton", this);
    bottom->addWidget(manualAdd);
    bottom->addWidget(loop_);
    bottom->addStretch(1);
    bottom->addWidget(ok_);
    bottom->addWidget(cancel_);
    bottom->addWidget(help);
    layout->addLayout(bottom);

    connect(manualAdd, &QPushButton::clicked, this, &CGroupSelectDlg::OnManualAdd);
    connect(ok_, &QPushButton::clicked, this, &CGroupSelectDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &CGroupSelectDlg::reject);
    connect(help, &QPushButton::clicked, this, [this] {
        Inform(this,
               QStringLiteral("Refresh fetches the server's groups whose names contain one of the "
                              "Group Filter terms (separated by \":\"). Move groups to Active "
                              "Groups with >> and drag them into the order they are to be "
                              "harvested. Right-click a list to mark groups unread. OK saves the "
                              "lists."));
    });

    mergeTimer_ = new QTimer(this);
    mergeTimer_->setInterval(kMergeIntervalMs);
    connect(mergeTimer_, &QTimer::timeout, this, &CGroupSelectDlg::FlushPending);

    prompt_ = std::make_unique<WindowPrompt>(this);
    relay_ = std::make_unique<Relay>(this);
    worker_ = std::make_unique<GroupListWorker>(profile_, *prompt_, *relay_, kAckWindow);

    const std::vector<QWidget*> tabOrder{
        allList_,    filter_,   refresh_,    stop_,          add_,       remove_,
        activeList_, category_, enableDirs_, useGroupNames_, directory_, updateDirectory_,
        manualAdd,   loop_,     ok_,         cancel_,        help};
    for (size_t i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
    Load();
}

CGroupSelectDlg::~CGroupSelectDlg() {
    worker_->Abandon();
}

QWidget* CGroupSelectDlg::BuildGroupLists() {
    auto* area = new QWidget(this);
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(0, 0, 0, 0);

    auto makeList = [this](bool sorted, const char* name, GroupNameModel*& model) {
        auto* list = new QListView(this);
        list->setObjectName(QLatin1String(name));
        model = new GroupNameModel(sorted, list);
        list->setModel(model);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        // One row height for all: a list of 100,000 names is not measured row by row.
        list->setUniformItemSizes(true);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        list->installEventFilter(this);
        // On the view, not its viewport: a request from the keyboard (the Menu key) goes to the
        // view that has the focus, one made with the mouse reaches it through the viewport.
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QListView::customContextMenuRequested, this,
                [this, list](QPoint at) { OnContextMenu(list, at); });
        return list;
    };
    allList_ = makeList(true, "allGroupsList", allModel_);
    // Room for a usual group name beside the scroll bar; longer ones scroll sideways.
    const int listWidth =
        fontMetrics().horizontalAdvance(QStringLiteral("alt.binaries.pictures.misc.xxx"));
    activeList_ = makeList(false, "activeGroupsList", activeModel_);
    allList_->setMinimumWidth(listWidth);
    activeList_->setMinimumWidth(listWidth);
    activeList_->setDragDropMode(QAbstractItemView::InternalMove);
    activeList_->setDefaultDropAction(Qt::MoveAction);
    activeList_->setDragDropOverwriteMode(false);
    activeList_->setDropIndicatorShown(true);

    // The labels' captions change with the counts; the lists keep their names.
    allLabel_ = MakeLabel("A&ll Groups:", allList_, area);
    allList_->setAccessibleName(QStringLiteral("All Groups:"));
    activeLabel_ = MakeLabel("A&ctive Groups: (Drag to arrange)", activeList_, area);
    activeList_->setAccessibleName(QStringLiteral("Active Groups:"));

    filter_ = MakeField("groupFilterEdit", "Group &Filter:", area);
    filter_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("pictures:photos")));
    auto* filterLabel = MakeLabel("Group &Filter:", filter_, area);
    refresh_ = MakeButton("&Refresh", "refreshButton", area);
    stop_ = MakeButton("&Stop", "stopButton", area);
    stop_->setEnabled(false);
    add_ = MakeButton("&>>", "addButton", area);
    remove_ = MakeButton("&<<", "removeButton", area);

    auto* middle = new QVBoxLayout;
    middle->addStretch(1);
    middle->addWidget(add_);
    middle->addWidget(remove_);
    middle->addStretch(1);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filter_, 1);
    filterRow->addWidget(refresh_);
    filterRow->addWidget(stop_);

    grid->addWidget(allLabel_, 0, 0);
    grid->addWidget(activeLabel_, 0, 2);
    grid->addWidget(allList_, 1, 0);
    grid->addLayout(middle, 1, 1);
    grid->addWidget(activeList_, 1, 2);
    grid->addLayout(filterRow, 2, 0);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);

    connect(refresh_, &QPushButton::clicked, this, &CGroupSelectDlg::OnRefresh);
    connect(stop_, &QPushButton::clicked, this, &CGroupSelectDlg::OnStop);
    connect(add_, &QPushButton::clicked, this, &CGroupSelectDlg::OnAddGroup);
    connect(remove_, &QPushButton::clicked, this, &CGroupSelectDlg::OnRemoveGroup);
    connect(allList_, &QListView::doubleClicked, this, &CGroupSelectDlg::OnAddGroup);
    connect(activeList_, &QListView::doubleClicked, this, &CGroupSelectDlg::OnRemoveGroup);
    // The directory field follows the selected active group however the selection moved.
    connect(activeList_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ShowGroupDirectory(); });
    connect(activeModel_, &GroupNameModel::RowDropped, this, [this](int row) {
        QTimer::singleShot(0, this, [this, row] { Select(activeList_, row); });
    });
    return area;
}

QWidget* CGroupSelectDlg::BuildCategoryBox() {
    auto* box = new QGroupBox(QStringLiteral("Group Categories"), this);
    box->setObjectName(QStringLiteral("categoryBox"));
    auto* layout = new QGridLayout(box);
    category_ = new QComboBox(box);
    category_->setObjectName(QStringLiteral("categoryCombo"));
    category_->setAccessibleName(QStringLiteral("Group Categories"));
    category_->setEditable(true);
    category_->setInsertPolicy(QComboBox::NoInsert);
    category_->setMinimumContentsLength(16);
    auto* addCategory = MakeButton("&Add", "addCategoryButton", box);
    auto* updateCategory = MakeButton("&Update", "updateCategoryButton", box);
    auto* deleteCategory = MakeButton("&Delete", "deleteCategoryButton", box);
    layout->addWidget(category_, 0, 0, 1, 3);
    layout->addWidget(addCategory, 1, 0);
    layout->addWidget(updateCategory, 1, 1);
    layout->addWidget(deleteCategory, 1, 2);
    connect(category_, &QComboBox::activated, this, &CGroupSelectDlg::OnCategoryChosen);
    connect(addCategory, &QPushButton::clicked, this, &CGroupSelectDlg::OnAddCategory);
    connect(updateCategory, &QPushButton::clicked, this, &CGroupSelectDlg::OnUpdateCategory);
    connect(deleteCategory, &QPushButton::clicked, this, &CGroupSelectDlg::OnDeleteCategory);
    return box;
}

QWidget* CGroupSelectDlg::BuildDirectoryBox() {
    auto* box = new QGroupBox(QStringLiteral("D&ownload Directories"), this);
    box->setObjectName(QStringLiteral("downloadDirectoriesBox"));
    auto* layout = new QGridLayout(box);
    enableDirs_ = MakeCheckBox("&Enable Separate Directories", "enableSeparateDirsCheck", box);
    useGroupNames_ = MakeCheckBox("Use Group &Names", "useGroupNamesCheck", box);
    directory_ = new QLineEdit(box);
    directory_->setObjectName(QStringLiteral("groupDirectoryEdit"));
    directory_->setAccessibleName(QStringLiteral("Group Directory"));
    updateDirectory_ = MakeButton("U&pdate", "updateDirectoryButton", box);
    auto* baseLabel = new QLabel(QStringLiteral("Base Dir:"), box);
    baseDir_ = new QLabel(box);
    baseDir_->setObjectName(QStringLiteral("baseDirValue"));
    baseDir_->setAccessibleName(QStringLiteral("Base Dir:"));
    baseDir_->setTextFormat(Qt::PlainText);
    layout->addWidget(enableDirs_, 0, 0, 1, 2);
    layout->addWidget(useGroupNames_, 1, 0, 1, 2);
    layout->addWidget(directory_, 2, 0);
    layout->addWidget(updateDirectory_, 2, 1);
    auto* baseRow = new QHBoxLayout;
    baseRow->addWidget(baseLabel);
    baseRow->addWidget(baseDir_, 1);
    layout->addLayout(baseRow, 3, 0, 1, 2);
    connect(enableDirs_, &QCheckBox::clicked, this, [this] { UpdateDirectoryEnabling(); });
    connect(useGroupNames_, &QCheckBox::clicked, this, [this] { UpdateDirectoryEnabling(); });
    connect(updateDirectory_, &QPushButton::clicked, this, &CGroupSelectDlg::OnUpdateDirectory);
    return box;
}

// ---- opening

void CGroupSelectDlg::Load() {
    filter_->setText(DisplayText(kGroupIncl.Read(profile_)));
    host_ = kNNTPHost.Read(profile_);
    UpdateDirectoryEnabling();
    if (host_.empty()) return;
    baseDir_->setText(DisplayText(kDownloadDirectory.Read(profile_)));
    activeFile_ = ActiveGroupFileName(host_);
    allFile_ = AllGroupFileName(host_);

    std::vector<std::string> active = ReadListLines(activeFile_);
    Widen(activeList_, active);
    activeModel_->SetNames(std::move(active));
    UpdateActiveGroupsLabel();

    std::vector<std::string> all = ReadListLines(allFile_);
    std::erase_if(all, [](const std::string& name) { return name.empty(); });
    Widen(allList_, all);
    allModel_->SetNames(std::move(all));
    UpdateAllGroupsLabel();

    LoadCategories();
    DirectorySwitches switches = ReadDirectorySwitches(profile_);
    enableDirs_->setChecked(switches.enable);
    useGroupNames_->setChecked(switches.useGroupName);
    loop_->setChecked(kLoopOnList.IsOn(profile_));
    UpdateDirectoryEnabling();
    Select(allList_, 0);
    Select(activeList_, 0);
    ShowGroupDirectory();
}

void CGroupSelectDlg::LoadCategories() {
    categories_.Load(CategoryFileName(host_));
    std::vector<std::string> names = categories_.Names();
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return DisplayText(a).compare(DisplayText(b), Qt::CaseInsensitive) < 0;
    });
    for (const std::string& name : names) InsertCategory(*category_, category_->count(), name);
    category_->setCurrentIndex(-1);
}

// ---- lists and labels

void CGroupSelectDlg::UpdateGroupButtons() {
    add_->setEnabled(allModel_->Count() > 0);
    remove_->setEnabled(activeModel_->Count() > 0);
}

void CGroupSelectDlg::UpdateAllGroupsLabel() {
    allLabel_->setText(QStringLiteral("A&ll Groups: [%1]").arg(allModel_->Count()));
}

void CGroupSelectDlg::UpdateActiveGroupsLabel() {
    activeLabel_->setText(
        QStringLiteral("A&ctive Groups: [%1] (Drag to arrange)").arg(activeModel_->Count()));
}

void CGroupSelectDlg::Select(QListView* list, int row) {
    QAbstractItemModel* model = list->model();
    if (row < 0 || row >= model->rowCount()) return;
    QModelIndex index = model->index(row, 0);
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    list->scrollTo(index);
}

int CGroupSelectDlg::SelectedRow(QListView* list) const {
    const QModelIndexList rows = list->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// Measuring each of 100,000 names through the font takes most of a second; a plain ASCII name
// (nearly every group name) is measured as the sum of its characters' advances instead, which
// differs from the shaped width by a pixel of kerning at most, well inside the margin.
int CGroupSelectDlg::NameWidth(const QFontMetrics& metrics, const std::string& name) {
    if (asciiAdvance_[0] < 0) {
        for (int c = 0; c < 128; ++c) {
            asciiAdvance_[static_cast<size_t>(c)] = metrics.horizontalAdvance(QChar(c));
        }
    }
    int width = 0;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 128) return metrics.horizontalAdvance(DisplayText(name));
        width += asciiAdvance_[u];
    }
    return width;
}

void CGroupSelectDlg::Widen(QListView* list, const std::vector<std::string>& names) {
    auto* model = static_cast<GroupNameModel*>(list->model());
    const QFontMetrics metrics = list->fontMetrics();
    int widest = model->RowSize().isValid() ? model->RowSize().width() : 0;
    for (const std::string& name : names) {
        widest = std::max(widest, NameWidth(metrics, name) + 12);
    }
    model->SetRowSize(QSize(widest, metrics.height() + 2));
}

void CGroupSelectDlg::WidenFor(QListView* list, const std::string& name) {
    Widen(list, std::vector<std::string>{name});
}

void CGroupSelectDlg::OnAddGroup() {
    int row = SelectedRow(allList_);
    if (row < 0) return;
    AddActiveGroup(allModel_->Name(row));
}

void CGroupSelectDlg::AddActiveGroup(const std::string& name) {
    if (activeModel_->Find(name) < 0) {
        activeModel_->Insert(name);
        UpdateActiveGroupsLabel();
        WidenFor(activeList_, name);
    }
    Select(activeList_, activeModel_->rowCount() - 1);
    ShowGroupDirectory();
    UpdateGroupButtons();
}

void CGroupSelectDlg::OnRemoveGroup() {
    int row = SelectedRow(activeList_);
    if (row < 0) return;
    std::string name = activeModel_->Name(row);
    activeModel_->Remove(row);
    FlushPending();
    if (allModel_->Find(name) < 0) {
        WidenFor(allList_, name);
        allModel_->Insert(std::move(name));
        UpdateAllGroupsLabel();
    }
    Select(activeList_, std::min(row, activeModel_->rowCount() - 1));
    UpdateGroupButtons();
    UpdateActiveGroupsLabel();
}

void CGroupSelectDlg::OnManualAdd() {
    CAddGroupDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted) AddActiveGroup(dialog.GroupName());
}

// ---- categories

void CGroupSelectDlg::OnCategoryChosen(int index) {
    if (index < 0) return;
    const std::string name = CategoryName(*category_, index);
    category_->removeItem(index);
    InsertCategory(*category_, 0, name);
    category_->setCurrentIndex(0);
    std::optional<std::vector<std::string>> block = categories_.Block(name);
    if (!block) {
        // The list the user has arranged is not thrown away for a category that is not there.
        SetStatus("  Category " + name + " holds no groups; Active Groups left as they were");
        return;
    }
    Widen(activeList_, *block);
    activeModel_->SetNames(std::move(*block));
    UpdateGroupButtons();
    UpdateActiveGroupsLabel();
    Select(activeList_, 0);
    ShowGroupDirectory();
}

// A name typed as the chosen entry shows it is that entry's name, in the bytes it was read in.
std::string CGroupSelectDlg::TypedCategoryName() const {
    const int index = category_->currentIndex();
    return StoredText(category_->currentText(),
                      index < 0 ? std::string() : CategoryName(*category_, index));
}

void CGroupSelectDlg::OnAddCategory() {
    const QString shown = category_->currentText();
    const std::string name = TypedCategoryName();
    categories_.Add(name, activeModel_->Names());
    InsertCategory(*category_, 0, name);
    category_->setCurrentIndex(0);
    category_->setEditText(shown);
}

void CGroupSelectDlg::OnUpdateCategory() {
    const int index = category_->currentIndex();
    if (index < 0) return;
    categories_.Update(CategoryName(*category_, index), TypedCategoryName(), activeModel_->Names());
}

void CGroupSelectDlg::OnDeleteCategory() {
    const int index = category_->currentIndex();
    if (index < 0) return;
    const std::string name = CategoryName(*category_, index);
    category_->removeItem(index);
    category_->setCurrentIndex(category_->count() > 0 ? 0 : -1);
    categories_.Delete(name);
}

// ---- download directories

void CGroupSelectDlg::UpdateDirectoryEnabling() {
    const bool enabled = enableDirs_->isChecked();
    useGroupNames_->setEnabled(enabled);
    directory_->setEnabled(enabled && !useGroupNames_->isChecked());
    updateDirectory_->setEnabled(enabled && !useGroupNames_->isChecked());
}

void CGroupSelectDlg::ShowGroupDirectory() {
    int row = SelectedRow(activeList_);
    if (row < 0) row = activeList_->currentIndex().row();
    if (row < 0 || row >= activeModel_->rowCount()) return;
    directory_->setText(DisplayText(GroupSubPath(profile_, activeModel_->Name(row))));
}

void CGroupSelectDlg::OnUpdateDirectory() {
    const int row = SelectedRow(activeList_);
    if (row < 0) return;
    const std::string& group = activeModel_->Name(row);
    const std::string path = StoredText(directory_->text(), GroupSubPath(profile_, group));
    switch (StoreGroupSubPath(profile_, group, path)) {
        case SubPathResult::Stored:
            break;
        case SubPathResult::Refused:
            Warn(this, QStringLiteral("The directory for group %1 must lie below the download "
                                      "directory: a path without \"..\" that does not begin "
                                      "with \"/\".")
                           .arg(DisplayText(group)));
            break;
        case SubPathResult::NotWritten:
            SetStatus("  Unable to save the directory of " + group);
            break;
    }
}

// ---- read marks

void CGroupSelectDlg::MarkUnread(QListView* list) {
    const int row = SelectedRow(list);
    // Without a server there is no section of marks to change.
    if (row < 0 || host_.empty()) return;
    auto* model = static_cast<GroupNameModel*>(list->model());
    SetStatus(MarkGroupUnread(profile_, host_, model->Name(row)));
}

void CGroupSelectDlg::MarkAllUnread(QListView* list) {
    if (host_.empty()) return;
    WaitCursor wait;
    auto* model = static_cast<GroupNameModel*>(list->model());
    FlushPending();
    SetStatus(MarkGroupsUnread(profile_, host_, model->Names()));
}

void CGroupSelectDlg::ShowContextMenu(QListView* list, QPoint globalPos) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("&Mark Unread"), this, [this, list] { MarkUnread(list); });
    menu.addAction(QStringLiteral("Mark &All Unread"), this, [this, list] { MarkAllUnread(list); });
    menu.exec(globalPos);
}

// at is in the viewport's coordinates: the mouse position, or from the keyboard the middle of
// the current item, where the menu then opens.
void CGroupSelectDlg::OnContextMenu(QListView* list, QPoint at) {
    // The menu acts on the group it was opened on, not on one selected earlier.
    const QModelIndex index = list->indexAt(at);
    if (index.isValid()) Select(list, index.row());
    ShowContextMenu(list, list->viewport()->mapToGlobal(at));
}

// Shift+F10 asks for the menu as the Menu key does, at the current item.
void CGroupSelectDlg::OpenMenuFromKeyboard(QListView* list) {
    const QPoint at = list->visualRect(list->currentIndex()).center();
    QContextMenuEvent request(QContextMenuEvent::Keyboard, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list, &request);
}

bool CGroupSelectDlg::eventFilter(QObject* watched, QEvent* event) {
    for (QListView* list : {allList_, activeList_}) {
        if (list == nullptr || watched != list || event->type() != QEvent::KeyPress) continue;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            OpenMenuFromKeyboard(list);
            return true;
        }
        if (list == activeList_ && key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            // Keyboard moves for the order the engine walks, for people who do not drag.
            const int row = SelectedRow(activeList_);
            const bool up = key->key() == Qt::Key_Up;
            if (row >= 0 && activeModel_->moveRows({}, row, 1, {}, up ? row - 1 : row + 2)) {
                Select(activeList_, up ? row - 1 : row + 1);
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- the retrieval

void CGroupSelectDlg::SetRetrieving(bool running) {
    retrieving_ = running;
    ok_->setEnabled(!running);
    cancel_->setEnabled(!running);
    refresh_->setEnabled(!running);
    stop_->setEnabled(running);
    if (running) {
        mergeTimer_->start();
    } else {
        mergeTimer_->stop();
    }
}

void CGroupSelectDlg::OnRefresh() {
    if (kNNTPHost.Read(profile_).empty()) {
        ShowBox(
            this, QMessageBox::NoIcon,
            QStringLiteral("No news server specified\n\nPlease choose 'Setup' from main window"));
        return;
    }
    SetRetrieving(true);
    if (!worker_->Start(SplitList(FilterText(), ':'))) SetRetrieving(false);
}

// The filter in the bytes of the setting it was shown from (group names are compared byte for
// byte).
std::string CGroupSelectDlg::FilterText() const {
    return StoredText(filter_->text(), kGroupIncl.Read(profile_));
}

void CGroupSelectDlg::OnStop() {
    worker_->Stop();
}

void CGroupSelectDlg::SetStatus(const std::string& text) {
    status_->setText(DisplayText(text));
}

void CGroupSelectDlg::ListStatus(const std::string& text) {
    SetStatus(text);
}

void CGroupSelectDlg::ListCleared() {
    allModel_->Clear();
    allModel_->SetRowSize(QSize());
    UpdateAllGroupsLabel();
}

// The name is the dialog's own copy, so the worker may go on at once; the name is measured and
// sorted in with the rest of its batch.
void CGroupSelectDlg::ListGroup(std::string name) {
    worker_->Acknowledge();
    if (!name.empty()) allModel_->AddPending(std::move(name));
}

void CGroupSelectDlg::FlushPending() {
    if (!allModel_->HasPending()) return;
    Widen(allList_, allModel_->Pending());
    allModel_->MergePending();
    UpdateAllGroupsLabel();
}

void CGroupSelectDlg::ListSelectFirst() {
    FlushPending();
    Select(allList_, 0);
}

void CGroupSelectDlg::ListDone() {
    FlushPending();
    UpdateGroupButtons();
    SetRetrieving(false);
}

// ---- closing

void CGroupSelectDlg::accept() {
    if (retrieving_) return;
    std::vector<ProfileStore::Change> changes;
    AddDirectorySwitchChanges({enableDirs_->isChecked(), useGroupNames_->isChecked()}, changes);
    changes.push_back(kLoopOnList.ChangeFlag(loop_->isChecked()));
    changes.push_back(kGroupIncl.Change(FilterText()));
    if (!profile_.Apply(changes)) {
        SetStatus("  Unable to save the settings");
        return;
    }
    if (!WriteListLines(activeFile_, activeModel_->Names())) {
        SetStatus("  Unable to create GroupList");
        return;
    }
    FlushPending();
    if (!WriteListLines(allFile_, allModel_->Names())) {
        SetStatus("  Unable to create AllGroups");
        return;
    }
    if (!host_.empty()) categories_.Save(CategoryFileName(host_));
    QDialog::accept();
}

void CGroupSelectDlg::reject() {
    // Escape while a retrieval runs is refused like the disabled Cancel; closing the window
    // through the window system ends the worker first (closeEvent).
    if (retrieving_ && !closing_) return;
    QDialog::reject();
}

void CGroupSelectDlg::closeEvent(QCloseEvent* event) {
    if (retrieving_) {
        worker_->Abandon();
        SetRetrieving(false);
        closing_ = true;
    }
    QDialog::closeEvent(event);
}

}  // namespace qm

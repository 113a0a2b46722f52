#include "settings/ui/ExcludesTabDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "settings/FromExcludes.h"
#include "settings/SettingsKeys.h"
#include "ui/Controls.h"
#include "ui/DisplayText.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

bool SortsBefore(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return AsciiLower(x) < AsciiLower(y);
    });
}

}  // namespace

// ---- the list

void FromExcludeModel::SetEntries(std::vector<std::string> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    std::stable_sort(entries_.begin(), entries_.end(), SortsBefore);
    endResetModel();
}

int FromExcludeModel::Add(std::string entry) {
    auto at = std::upper_bound(entries_.begin(), entries_.end(), entry, SortsBefore);
    const int row = static_cast<int>(at - entries_.begin());
    beginInsertRows(QModelIndex(), row, row);
    entries_.insert(at, std::move(entry));
    endInsertRows();
    return row;
}

void FromExcludeModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows(QModelIndex(), row, row);
    entries_.erase(entries_.begin() + row);
    endRemoveRows();
}

int FromExcludeModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant FromExcludeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        return DisplayText(entries_[static_cast<size_t>(index.row())]);
    }
    return {};
}

// ---- the entry dialog

CFromExcludeEntryDlg::CFromExcludeEntryDlg(QWidget* parent)
    : QDialog(parent), edit_(MakeField("fromExcludeEdit", "&From Exclude:", this)) {
    setWindowTitle(QStringLiteral("Enter From Field Exclude"));
    setObjectName(QStringLiteral("fromExcludeEntryDialog"));
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 40);
    auto* note = new QLabel(QStringLiteral("To add an entire domain and ensure that it is matched "
                                           "properly, include the '@' character."),
                            this);
    note->setObjectName(QStringLiteral("fromExcludeNote"));
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout;
    form->addRow(MakeLabel("&From Exclude:", edit_, this), edit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

QString CFromExcludeEntryDlg::Text() const {
    return edit_->text();
}

// ---- the page

CExcludesTabDlg::CExcludesTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent), model_(this) {
    setObjectName(QStringLiteral("excludesPage"));
    subjectExcl_ = MakeField("subjectExclEdit", "&Subject Exclude:", this);
    limitCrossposts_ =
        MakeCheckBox("Ski&p articles crossposted to more than", "limitCrosspostsCheck", this);
    crosspostLimit_ =
        MakeField("crosspostLimitEdit", "Skip articles crossposted to more than", this);
    crosspostLimit_->setAccessibleDescription(QStringLiteral("groups"));
    SetWidthInChars(crosspostLimit_, 5);
    groupsLabel_ = MakeLabel("groups", nullptr, this);
    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("fromExcludeList"));
    list_->setAccessibleName(QStringLiteral("From Field"));
    list_->setModel(&model_);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setUniformItemSizes(true);
    auto* add = MakeButton("&Add...", "addFromExcludeButton", this);
    auto* remove = MakeButton("&Remove", "removeFromExcludeButton", this);

    auto* subject = new QFormLayout;
    subject->addRow(MakeLabel("&Subject Exclude:", subjectExcl_, this), subjectExcl_);
    auto* crossposts = new QHBoxLayout;
    crossposts->addWidget(limitCrossposts_);
    crossposts->addWidget(crosspostLimit_);
    crossposts->addWidget(groupsLabel_);
    crossposts->addStretch(1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    auto* fromRow = new QHBoxLayout;
    fromRow->addWidget(list_, 1);
    fromRow->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(subject);
    layout->addLayout(crossposts);
    layout->addWidget(MakeLabel("&From Field", list_, this));
    layout->addLayout(fromRow, 1);

    connect(limitCrossposts_, &QCheckBox::toggled, this, &CExcludesTabDlg::FollowLimitBox);
    connect(add, &QPushButton::clicked, this, &CExcludesTabDlg::OnAdd);
    connect(remove, &QPushButton::clicked, this, &CExcludesTabDlg::OnRemove);
}

void CExcludesTabDlg::Load() {
    subjectExcl_->setText(PageText(kSubjectExcl));
    limitCrossposts_->setChecked(PageFlag(kLimitCrossposts));
    crosspostLimit_->setText(PageText(kCrosspostLimit));
    FollowLimitBox();
    model_.SetEntries(ReadFromExcludes());
    Select(0);
}

void CExcludesTabDlg::FollowLimitBox() {
    crosspostLimit_->setEnabled(limitCrossposts_->isChecked());
    groupsLabel_->setEnabled(limitCrossposts_->isChecked());
}

void CExcludesTabDlg::Select(int row) {
    if (row < 0 || row >= model_.rowCount()) {
        list_->clearSelection();
        return;
    }
    list_->setCurrentIndex(model_.index(row));
}

void CExcludesTabDlg::OnAdd() {
    CFromExcludeEntryDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted) AddEntry(dialog.Text());
}

bool CExcludesTabDlg::AddEntry(const QString& text) {
    // An empty entry would be found in every sender and reject every article; a blank one in
    // nearly every sender.
    const std::string entry = text.toStdString();
    if (!UsableFromExclude(entry)) return false;
    model_.Add(entry);
    return true;
}

void CExcludesTabDlg::OnRemove() {
    const QModelIndexList selected = list_->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return;
    const int row = selected.front().row();
    model_.RemoveRow(row);
    Select(std::min(row, model_.rowCount() - 1));
}

bool CExcludesTabDlg::SaveFiles(QString& error) {
    if (WriteFromExcludes(model_.Entries())) return true;
    error =
        QStringLiteral("Unable to save the From excludes in \"%1\": %2")
            .arg(QString::fromLatin1(kFromExcludesFile), QString::fromLocal8Bit(strerror(errno)));
    return false;
}

void CExcludesTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    Put(changes, kSubjectExcl, subjectExcl_->text());
    Put(changes, kCrosspostLimit, crosspostLimit_->text());
    PutFlag(changes, kLimitCrossposts, limitCrossposts_->isChecked());
}

}  // namespace qm

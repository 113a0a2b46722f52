#include "groups/ui/GroupNameModel.h"

#include <QMimeData>
#include <algorithm>

#include "ui/DisplayText.h"
#include "util/TextFiles.h"

namespace qm {
namespace {
const QString kRowMime = QStringLiteral("application/x-quarrymoth-group-row");
}

GroupNameModel::GroupNameModel(bool sorted, QObject* parent)
    : QAbstractListModel(parent), sorted_(sorted) {}

int GroupNameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

QVariant GroupNameModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        return DisplayText(Name(index.row()));
    }
    if (role == Qt::SizeHintRole && rowSize_.isValid()) return rowSize_;
    return {};
}

Qt::ItemFlags GroupNameModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractListModel::flags(index);
    if (sorted_) return f;
    // Items are dragged; drops go between items, never onto one.
    return index.isValid() ? (f | Qt::ItemIsDragEnabled) : (f | Qt::ItemIsDropEnabled);
}

Qt::DropActions GroupNameModel::supportedDropActions() const {
    return sorted_ ? Qt::IgnoreAction : Qt::MoveAction;
}

QStringList GroupNameModel::mimeTypes() const {
    return {kRowMime};
}

QMimeData* GroupNameModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty()) return nullptr;
    auto* mime = new QMimeData;
    mime->setData(kRowMime, QByteArray::number(indexes.first().row()));
    return mime;
}

bool GroupNameModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                  int /*column*/, const QModelIndex& parent) {
    if (sorted_ || action != Qt::MoveAction || data == nullptr || !data->hasFormat(kRowMime)) {
        return false;
    }
    bool ok = false;
    int from = data->data(kRowMime).toInt(&ok);
    if (!ok || from < 0 || from >= rowCount()) return false;
    if (row < 0) row = parent.isValid() ? parent.row() : rowCount();
    if (row != from && row != from + 1) moveRows({}, from, 1, {}, row);
    emit RowDropped(row > from ? row - 1 : row);
    // The move is done here; a true answer would let the view remove the dragged row as well.
    return false;
}

bool GroupNameModel::moveRows(const QModelIndex& sourceParent, int sourceRow, int count,
                              const QModelIndex& destinationParent, int destinationChild) {
    if (sorted_ || count != 1 || sourceParent.isValid() || destinationParent.isValid()) {
        return false;
    }
    if (sourceRow < 0 || sourceRow >= rowCount() || destinationChild < 0 ||
        destinationChild > rowCount() || destinationChild == sourceRow ||
        destinationChild == sourceRow + 1) {
        return false;
    }
    if (!beginMoveRows({}, sourceRow, sourceRow, {}, destinationChild)) return false;
    auto from = names_.begin() + sourceRow;
    if (destinationChild > sourceRow) {
        std::rotate(from, from + 1, names_.begin() + destinationChild);
    } else {
        std::rotate(names_.begin() + destinationChild, from, from + 1);
    }
    endMoveRows();
    return true;
}

bool GroupNameModel::Before(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char x = AsciiLower(a[i]);
        char y = AsciiLower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

void GroupNameModel::SetNames(std::vector<std::string> names) {
    beginResetModel();
    names_ = std::move(names);
    pending_.clear();
    if (sorted_) std::stable_sort(names_.begin(), names_.end(), Before);
    endResetModel();
}

void GroupNameModel::Clear() {
    SetNames({});
}

int GroupNameModel::Insert(std::string name) {
    if (sorted_) MergePending();
    auto at = sorted_ ? std::upper_bound(names_.begin(), names_.end(), name, Before) : names_.end();
    const int row = static_cast<int>(at - names_.begin());
    beginInsertRows({}, row, row);
    names_.insert(at, std::move(name));
    endInsertRows();
    return row;
}

void GroupNameModel::Remove(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    names_.erase(names_.begin() + row);
    endRemoveRows();
}

int GroupNameModel::Find(const std::string& name) const {
    auto it = std::find(names_.begin(), names_.end(), name);
    return it == names_.end() ? -1 : static_cast<int>(it - names_.begin());
}

void GroupNameModel::MergePending() {
    if (pending_.empty()) return;
    std::stable_sort(pending_.begin(), pending_.end(), Before);
    std::vector<std::string> merged;
    merged.reserve(names_.size() + pending_.size());
    std::merge(std::make_move_iterator(names_.begin()), std::make_move_iterator(names_.end()),
               std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()),
               std::back_inserter(merged), Before);
    pending_.clear();
    beginResetModel();
    names_ = std::move(merged);
    endResetModel();
}

void GroupNameModel::SetRowSize(QSize size) {
    if (size == rowSize_) return;
    rowSize_ = size;
    if (!names_.empty()) emit dataChanged(index(0), index(rowCount() - 1), {Qt::SizeHintRole});
}

}  // namespace qm

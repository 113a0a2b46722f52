#include "app/ui/PendingModel.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <unordered_set>

#include "engine/MultiPartPosts.h"
#include "engine/OverviewLine.h"
#include "ui/DisplayText.h"
#include "util/TextFiles.h"

namespace qm {

PendingModel::PendingModel(QObject* parent) : QAbstractTableModel(parent) {}

void PendingModel::SetRecords(const std::vector<std::string>& records) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(records.size());
    for (const std::string& record : records) {
        const OverviewRecord fields = ParseOverviewLine(record);
        Row row;
        row.number.assign(fields.number);
        row.numberText = DisplayText(row.number);
        row.subject = DisplayText(std::string(fields.subject));
        std::string sender(fields.sender);
        row.from = DisplayText(sender);
        if (!IsUtf8(sender)) row.fromNotUtf8 = std::move(sender);
        row.lines = fields.lines;
        row.numberValue = LeadingNumber(fields.number);
        if (std::optional<PartRef> part = PartOf(fields.subject, fields.sender)) {
            row.post = std::move(part->key);
        }
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

std::vector<int> PendingModel::WithWholePosts(const std::vector<int>& ascendingRows) const {
    std::unordered_set<std::string> posts;
    for (int row : ascendingRows) {
        if (!At(row).post.empty()) posts.insert(At(row).post);
    }
    if (posts.empty()) return ascendingRows;
    std::vector<int> rows;
    std::size_t next = 0;
    for (int row = 0; row < Count(); ++row) {
        const bool asked = next < ascendingRows.size() && ascendingRows[next] == row;
        if (asked) ++next;
        if (asked || (!At(row).post.empty() && posts.contains(At(row).post))) rows.push_back(row);
    }
    return rows;
}

void PendingModel::Sort(const PendingSort& sort) {
    if (sort.column < 0 || sort.column >= kColumns) return;
    const size_t n = rows_.size();
    std::vector<int> order(n);  // new position -> old row
    std::iota(order.begin(), order.end(), 0);
    if (sort.text) {
        // Folded once per row rather than in every one of the n log n comparisons.
        std::vector<QString> keys(n);
        for (size_t i = 0; i < n; ++i) {
            keys[i] = (sort.column == kSubject ? rows_[i].subject : rows_[i].from).toCaseFolded();
        }
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const QString& ka = keys[static_cast<size_t>(a)];
            const QString& kb = keys[static_cast<size_t>(b)];
            return sort.ascending ? ka < kb : kb < ka;
        });
    } else {
        std::vector<long> keys(n);
        for (size_t i = 0; i < n; ++i) {
            keys[i] = sort.column == kLines ? rows_[i].lines : rows_[i].numberValue;
        }
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const long ka = keys[static_cast<size_t>(a)];
            const long kb = keys[static_cast<size_t>(b)];
            return sort.ascending ? ka < kb : kb < ka;
        });
    }

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(n);
    std::vector<Row> sorted;
    sorted.reserve(n);
    for (size_t pos = 0; pos < n; ++pos) {
        const auto old = static_cast<size_t>(order[pos]);
        newRowOf[old] = static_cast<int>(pos);
        sorted.push_back(std::move(rows_[old]));
    }
    rows_ = std::move(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from) {
        to.append(index.isValid()
                      ? createIndex(newRowOf[static_cast<size_t>(index.row())], index.column())
                      : QModelIndex());
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void PendingModel::RemoveRows(const std::vector<int>& ascendingRows) {
    if (ascendingRows.empty()) return;
    // One reset instead of a removal signal per row: a thousand scattered rows would each shift
    // the whole vector and every view's bookkeeping.
    beginResetModel();
    size_t next = 0;
    size_t kept = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (next < ascendingRows.size() && static_cast<size_t>(ascendingRows[next]) == i) {
            ++next;
            continue;
        }
        if (kept != i) rows_[kept] = std::move(rows_[i]);
        ++kept;
    }
    rows_.resize(kept);
    endResetModel();
}

int PendingModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int PendingModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant PendingModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count()) return {};
    const Row& row = At(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case kSubject:
                return row.subject;
            case kFrom:
                return row.from;
            case kLines:
                return QString::number(row.lines);
            case kNumber:
                return row.numberText;
            default:
                return {};
        }
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

QVariant PendingModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case kSubject:
            return QStringLiteral("Subject");
        case kFrom:
            return QStringLiteral("From");
        case kLines:
            return QStringLiteral("Lines");
        case kNumber:
            return QStringLiteral("Msg #");
        default:
            return {};
    }
}

}  // namespace qm

#pragma once
// PendingModel: the pending articles as a table (Subject, From, Lines, Msg #) over one vector of
// rows, so a group with tens of thousands of chosen articles fills, sorts and shrinks at once.

#include <QAbstractTableModel>
#include <QString>
#include <string>
#include <vector>

namespace qm {

// How the list is ordered: column (-1 none), whether it compares as text, and the direction.
struct PendingSort {
    int column = -1;
    bool text = true;
    bool ascending = true;
};

class PendingModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kSubject = 0, kFrom = 1, kLines = 2, kNumber = 3, kColumns = 4 };

    struct Row {
        QString subject, from, numberText;
        std::string number;  // the record's first field as sent, to find the record again
        // The sender as sent when it is not UTF-8 (shown as Latin-1), else empty: an exclude made
        // from it must hold the same bytes to match.
        std::string fromNotUtf8;
        long lines = 0;
        long numberValue = 0;  // for the numeric comparison
        std::string post;      // the multi-part post the article is a part of, "" for none
    };

    explicit PendingModel(QObject* parent = nullptr);

    // Replaces every row by the overview records, in their order.
    void SetRecords(const std::vector<std::string>& records);

    // Orders the rows by sort.column; rows that compare equal keep their present order. The
    // selection and the current item follow their rows.
    void Sort(const PendingSort& sort);

    // Removes the rows given in ascending order and without repeats.
    void RemoveRows(const std::vector<int>& ascendingRows);

    const Row& At(int row) const { return rows_[static_cast<size_t>(row)]; }
    // The rows given (ascending, no repeats) and every other row of a multi-part post one of them
    // is a part of, ascending.
    std::vector<int> WithWholePosts(const std::vector<int>& ascendingRows) const;
    int Count() const { return static_cast<int>(rows_.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<Row> rows_;
};

}  // namespace qm

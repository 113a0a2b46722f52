#pragma once
// A list of group names for a list view: the names as bytes in a vector, shown as text. The
// sorted kind (All Groups) keeps itself in alphabetical order without regard to case and takes
// names arriving in quick succession into a pending batch that is merged in at once, so a list of
// 100,000 names never pays for one insertion at a time. The unsorted kind (Active Groups) keeps
// the user's order and lets rows be moved by drag and drop.

#include <QAbstractListModel>
#include <QSize>
#include <string>
#include <vector>

namespace qm {

class GroupNameModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit GroupNameModel(bool sorted, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    bool moveRows(const QModelIndex& sourceParent, int sourceRow, int count,
                  const QModelIndex& destinationParent, int destinationChild) override;

    const std::vector<std::string>& Names() const { return names_; }
    const std::string& Name(int row) const { return names_[static_cast<size_t>(row)]; }
    int Count() const { return static_cast<int>(names_.size() + pending_.size()); }
    void SetNames(std::vector<std::string> names);
    void Clear();
    // Unsorted: appends. Sorted: puts the name in its place. Returns the row.
    int Insert(std::string name);
    void Remove(int row);
    int Find(const std::string& name) const;  // byte for byte; -1 when absent

    // Sorted kind: a name for the next merge; MergePending() sorts the batch in.
    void AddPending(std::string name) { pending_.push_back(std::move(name)); }
    bool HasPending() const { return !pending_.empty(); }
    const std::vector<std::string>& Pending() const { return pending_; }
    void MergePending();

    // The width every row reports, so the view's horizontal scroll reaches the widest name.
    void SetRowSize(QSize size);
    QSize RowSize() const { return rowSize_; }

    // Alphabetical without regard to case, then byte order.
    static bool Before(const std::string& a, const std::string& b);

signals:
    // A drop moved a row; the view selects it.
    void RowDropped(int row);

private:
    bool sorted_;
    std::vector<std::string> names_;
    std::vector<std::string> pending_;
    QSize rowSize_;
};

}  // namespace qm

#pragma once
// CExcludesTabDlg: the subject words that reject an article, the crosspost limit, and the list of
// senders whose articles are skipped (the file "FromExcludes").

#include <QAbstractListModel>
#include <QDialog>
#include <string>
#include <vector>

#include "settings/ui/SetupPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;

namespace qm {

// The From excludes as a sorted list (letter case ignored; equal entries keep their order). The
// entries are kept as the file's bytes, so saving writes back exactly what was read.
class FromExcludeModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    void SetEntries(std::vector<std::string> entries);
    const std::vector<std::string>& Entries() const { return entries_; }
    // Adds an entry at its sorted place; returns its row.
    int Add(std::string entry);
    void RemoveRow(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<std::string> entries_;
};

// "Enter From Field Exclude": asks for one new From exclude.
class CFromExcludeEntryDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFromExcludeEntryDlg(QWidget* parent = nullptr);
    QString Text() const;

private:
    QLineEdit* edit_;
};

class CExcludesTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CExcludesTabDlg(SetupContext& context, QWidget* parent);
    bool SaveFiles(QString& error) override;
    void Save(std::vector<ProfileStore::Change>& changes) override;

    void OnAdd();
    // Adds a text from the entry dialog; an empty or blank one is refused (false).
    bool AddEntry(const QString& text);
    void OnRemove();

protected:
    void Load() override;

private:
    void Select(int row);
    void FollowLimitBox();

    QLineEdit *subjectExcl_, *crosspostLimit_;
    QCheckBox* limitCrossposts_;
    QLabel* groupsLabel_;
    QListView* list_;
    FromExcludeModel model_;
};

}  // namespace qm

#pragma once
// The group selection dialog: the server's groups (All Groups, fetched with Refresh), the user's
// active groups in the order the engine walks them, categories of active groups, per-group
// download directories and the reset of read marks. OK writes the list files the engine reads.

#include <QDialog>
#include <QPointer>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "groups/GroupCategories.h"
#include "settings/ProfileStore.h"

class QCheckBox;
class QComboBox;
class QFontMetrics;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTimer;

namespace qm {

class GroupListWorker;
class GroupNameModel;
class WindowPrompt;

class CAddGroupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAddGroupDlg(QWidget* parent = nullptr);
    std::string GroupName() const;

private:
    QLineEdit* name_;
};

class CGroupSelectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CGroupSelectDlg(ProfileStore& profile, QWidget* parent = nullptr);
    ~CGroupSelectDlg() override;

    // The handlers, public for the window's tests.
    void OnRefresh();
    void OnStop();
    void OnAddGroup();
    void OnRemoveGroup();
    void OnManualAdd();
    void AddActiveGroup(const std::string& name);
    void OnCategoryChosen(int index);
    void OnAddCategory();
    void OnUpdateCategory();
    void OnDeleteCategory();
    void OnUpdateDirectory();
    void MarkUnread(QListView* list);
    void MarkAllUnread(QListView* list);
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Relay;

    QWidget* BuildGroupLists();
    QWidget* BuildCategoryBox();
    QWidget* BuildDirectoryBox();
    void Load();
    void LoadCategories();
    void UpdateGroupButtons();
    void UpdateAllGroupsLabel();
    void UpdateActiveGroupsLabel();
    void UpdateDirectoryEnabling();
    void ShowGroupDirectory();
    void Select(QListView* list, int row);
    int SelectedRow(QListView* list) const;
    void Widen(QListView* list, const std::vector<std::string>& names);
    void WidenFor(QListView* list, const std::string& name);
    int NameWidth(const QFontMetrics& metrics, const std::string& name);
    void ShowContextMenu(QListView* list, QPoint globalPos);
    void OnContextMenu(QListView* list, QPoint at);
    void OpenMenuFromKeyboard(QListView* list);
    void SetStatus(const std::string& text);
    std::string FilterText() const;
    std::string TypedCategoryName() const;
    void FlushPending();
    void SetRetrieving(bool running);

    // The worker's news, on this thread.
    void ListStatus(const std::string& text);
    void ListCleared();
    void ListGroup(std::string name);
    void ListSelectFirst();
    void ListDone();

    ProfileStore& profile_;
    std::string host_;
    std::string activeFile_;
    std::string allFile_;
    GroupCategories categories_;

    QLabel* allLabel_ = nullptr;
    QListView* allList_ = nullptr;
    GroupNameModel* allModel_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
    QLabel* activeLabel_ = nullptr;
    QListView* activeList_ = nullptr;
    GroupNameModel* activeModel_ = nullptr;
    QComboBox* category_ = nullptr;
    QCheckBox* enableDirs_ = nullptr;
    QCheckBox* useGroupNames_ = nullptr;
    QLineEdit* directory_ = nullptr;
    QPushButton* updateDirectory_ = nullptr;
    QLabel* baseDir_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* loop_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer* mergeTimer_ = nullptr;

    std::unique_ptr<WindowPrompt> prompt_;
    std::unique_ptr<Relay> relay_;
    std::unique_ptr<GroupListWorker> worker_;
    std::array<int, 128> asciiAdvance_{-1};
    bool retrieving_ = false;
    bool closing_ = false;
};

}  // namespace qm

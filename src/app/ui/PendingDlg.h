#pragma once
// CPendingDlg: the articles of the current group still waiting to be fetched. The user sorts
// them, removes unwanted ones before the engine reaches them, keeps their subjects out of the
// later groups of the run and adds their senders to the From excludes. The engine waits before
// its next article for as long as the dialog is open, and runs on however the dialog closes.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ui/PendingModel.h"

class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QTableView;

namespace qm {

class PendingDialogSession;
class ProfileStore;
class SharedState;

class CPendingDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the session with the engine and fills the list. Refused (Opened() false, nothing to
    // show) when no group's retrieval runs at this moment.
    CPendingDlg(SharedState& shared, ProfileStore& profile, QWidget* parent = nullptr);
    ~CPendingDlg() override;

    bool Opened() const;
    // The order the list was last sorted in, kept for the next opening in this process.
    static PendingSort& RememberedSort();

    // What the header clicks, the Delete key and the popup menu do.
    void SortBy(int column);
    void RemoveSelected();
    void AddToFromExcludes();

    void accept() override;  // OK: the removals stay
    void reject() override;  // Cancel, Escape, the close box: every removal is undone

private:
    class ListView;

    void BuildControls();
    void BuildList();
    void SizeColumns();
    void BuildOptions();
    QWidget* BuildStatusBox();
    void BuildButtons();
    void BuildMenu();
    void LayOut(QWidget* hint, QWidget* status);
    void SetTabOrder();
    void Fill();
    std::vector<int> SelectedRows() const;
    void CountSelection();
    void UpdateStatus();
    void ShowMenu(QPoint globalPos, bool fromKeyboard);
    void ShowHelp();
    bool EditFromExclude(const QString& from, const std::string& fromNotUtf8);
    int KeepChoices();
    void ShowWriteError(int error);
    void WatchEngine();
    void CloseForEngine();
    bool EngineLetGo() const;

    SharedState& shared_;
    ProfileStore& profile_;
    std::unique_ptr<PendingDialogSession> session_;
    PendingModel* model_;
    PendingSort current_;
    QTimer watch_;

    // The file's lines as read, then those added here; written back whole on OK.
    std::vector<std::string> fromExcludes_;
    bool fromExcludesAdded_ = false;
    bool editing_ = false;  // a From exclude editor is up

    std::int64_t pendingLines_ = 0, removedLines_ = 0, selectedLines_ = 0;
    long removedArticles_ = 0, selectedArticles_ = 0;

    ListView* list_;
    QCheckBox* cacheSubjects_;
    QRadioButton *articles_, *lines_;
    QLabel *pending_, *selected_, *removed_, *timeLeft_;
    QPushButton *ok_, *cancel_, *help_;
    QMenu* menu_;
};

}  // namespace qm

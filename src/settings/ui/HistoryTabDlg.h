#pragma once
// CHistoryTabDlg: how many saved file names the history keeps and how often a run writes it, how
// reposts that only look like a saved picture are treated, the clearing of the history file and
// the rebuilding of the content index from the pictures already saved.

#include <memory>

#include "engine/ContentIndexRebuild.h"
#include "settings/ui/SetupPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace qm {

class OffThread;

class CHistoryTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CHistoryTabDlg(SetupContext& context, QWidget* parent);
    ~CHistoryTabDlg() override;
    CHistoryTabDlg(const CHistoryTabDlg&) = delete;
    CHistoryTabDlg& operator=(const CHistoryTabDlg&) = delete;
    void Save(std::vector<ProfileStore::Change>& changes) override;
    void OnClearHistory();
    // Starts a rebuild, or asks the one under way to stop.
    void OnRebuildIndex();

protected:
    void Load() override;

private:
    struct Rebuild;  // shared with the thread that rebuilds

    void FollowNearBox();
    void StartRebuild();
    void ShowProgress();
    void RebuildEnded(const ContentIndexRebuild::Result& result);

    QLineEdit *maxHist_, *saveFrequency_;
    QCheckBox *skipNear_, *keepLarger_;
    QPushButton *clear_, *rebuild_;
    QLabel* rebuildStatus_;
    QTimer* progressTimer_;
    OffThread* offThread_;
    std::shared_ptr<Rebuild> rebuilding_;  // while a rebuild runs
};

}  // namespace qm

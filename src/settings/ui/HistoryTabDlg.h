#pragma once
// CHistoryTabDlg: how many saved file names the history keeps and how often a run writes it, and
// the clearing of the history file.

#include "settings/ui/SetupPage.h"

class QLineEdit;

namespace qm {

class CHistoryTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CHistoryTabDlg(SetupContext& context, QWidget* parent);
    void Save(std::vector<ProfileStore::Change>& changes) override;
    void OnClearHistory();

protected:
    void Load() override;

private:
    QLineEdit *maxHist_, *saveFrequency_;
};

}  // namespace qm

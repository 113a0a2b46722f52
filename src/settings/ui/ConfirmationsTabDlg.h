#pragma once
// CConfirmationsTabDlg: which of the main window's actions ask before they act.

#include "settings/ui/SetupPage.h"

class QCheckBox;

namespace qm {

class CConfirmationsTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CConfirmationsTabDlg(SetupContext& context, QWidget* parent);
    void Save(std::vector<ProfileStore::Change>& changes) override;

protected:
    void Load() override;

private:
    QCheckBox *stop_, *catchUp_, *delete_;
};

}  // namespace qm

#include "settings/ui/ConfirmationsTabDlg.h"

#include <QCheckBox>
#include <QVBoxLayout>

#include "ui/Controls.h"

namespace qm {

CConfirmationsTabDlg::CConfirmationsTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("confirmationsPage"));
    stop_ = MakeCheckBox("Ask for confirmation when Stop button pressed", "confirmStopCheck", this);
    catchUp_ = MakeCheckBox("Ask for confirmation when Catch-up button pressed",
                            "confirmCatchupCheck", this);
    delete_ = MakeCheckBox("Ask for confirmation before deleting file", "confirmDeleteCheck", this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(stop_);
    layout->addWidget(catchUp_);
    layout->addWidget(delete_);
    layout->addStretch(1);
}

void CConfirmationsTabDlg::Load() {
    stop_->setChecked(PageFlag(kConfirmStop));
    catchUp_->setChecked(PageFlag(kConfirmCatchup));
    delete_->setChecked(PageFlag(kConfirmDelete));
}

void CConfirmationsTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    PutFlag(changes, kConfirmStop, stop_->isChecked());
    PutFlag(changes, kConfirmCatchup, catchUp_->isChecked());
    PutFlag(changes, kConfirmDelete, delete_->isChecked());
}

}  // namespace qm

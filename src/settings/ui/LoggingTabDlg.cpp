#include "settings/ui/LoggingTabDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/SettingsKeys.h"
#include "settings/SetupFiles.h"
#include "ui/Controls.h"

namespace qm {

CLoggingTabDlg::CLoggingTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("loggingPage"));
    description_ = MakeCheckBox("Create ACDSee Descript.ion file", "acdseeDescriptionCheck", this);
    logging_ = MakeCheckBox("&Enable Logging", "enableLoggingCheck", this);
    logFile_ = MakeField("logFileEdit", "&Log File:", this);
    logFileLabel_ = MakeLabel("&Log File:", logFile_, this);
    clear_ = MakeButton("&Clear Contents", "clearLogButton", this);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(logFileLabel_);
    fileRow->addWidget(logFile_, 1);
    fileRow->addWidget(clear_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description_);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addWidget(logging_);
    layout->addLayout(fileRow);
    layout->addStretch(1);

    connect(logging_, &QCheckBox::toggled, this, &CLoggingTabDlg::FollowLoggingBox);
    connect(clear_, &QPushButton::clicked, this, &CLoggingTabDlg::OnClearContents);
}

void CLoggingTabDlg::Load() {
    description_->setChecked(PageFlag(kACDSeeDescription));
    logging_->setChecked(PageFlag(kEnableLogging));
    logFile_->setText(PageText(kLogFile));
    FollowLoggingBox();
}

void CLoggingTabDlg::FollowLoggingBox() {
    for (QWidget* control : std::initializer_list<QWidget*>{logFileLabel_, logFile_, clear_}) {
        control->setEnabled(logging_->isChecked());
    }
}

// The log the engine writes is the one the profile names: a name typed but not yet saved names
// no log so far.
void CLoggingTabDlg::OnClearContents() {
    EmptyFile(kLogFile.ReadPage(context_.profile));
}

void CLoggingTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    PutFlag(changes, kACDSeeDescription, description_->isChecked());
    PutFlag(changes, kEnableLogging, logging_->isChecked());
    Put(changes, kLogFile, logFile_->text());
}

}  // namespace qm

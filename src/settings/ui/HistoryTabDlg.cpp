#include "settings/ui/HistoryTabDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/SettingsKeys.h"
#include "settings/SetupFiles.h"
#include "ui/Controls.h"
#include "ui/MessageBoxes.h"

namespace qm {

CHistoryTabDlg::CHistoryTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("historyPage"));
    maxHist_ = MakeField("maxHistEdit", "&Keep a maximum of", this);
    saveFrequency_ = MakeField("histSaveFrequencyEdit", "&Save history list every", this);
    SetWidthInChars(maxHist_, 8);
    SetWidthInChars(saveFrequency_, 8);
    maxHist_->setAccessibleDescription(QStringLiteral("filenames in history list"));
    saveFrequency_->setAccessibleDescription(QStringLiteral("files downloaded"));
    auto* clear = MakeButton("Clear History", "clearHistoryButton", this);

    auto* grid = new QGridLayout;
    grid->addWidget(MakeLabel("&Keep a maximum of ", maxHist_, this), 0, 0);
    grid->addWidget(maxHist_, 0, 1);
    grid->addWidget(MakeLabel("filenames in history list", nullptr, this), 0, 2);
    grid->addWidget(MakeLabel("&Save history list every", saveFrequency_, this), 1, 0);
    grid->addWidget(saveFrequency_, 1, 1);
    grid->addWidget(MakeLabel("files downloaded", nullptr, this), 1, 2);
    grid->setColumnStretch(3, 1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(clear);
    buttonRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(fontMetrics().height());
    layout->addLayout(buttonRow);
    layout->addStretch(1);

    connect(clear, &QPushButton::clicked, this, &CHistoryTabDlg::OnClearHistory);
}

void CHistoryTabDlg::Load() {
    maxHist_->setText(PageText(kMaxHist));
    saveFrequency_->setText(PageText(kHistSaveFrequency));
}

// Clears at once, not on OK: the user has just confirmed it.
void CHistoryTabDlg::OnClearHistory() {
    if (!AskYesNo(this, QStringLiteral("Are you sure you want to clear\nthe history file?")))
        return;
    if (!ClearHistoryFile()) Warn(this, QStringLiteral("Error clearing history"));
}

void CHistoryTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    Put(changes, kMaxHist, maxHist_->text());
    Put(changes, kHistSaveFrequency, saveFrequency_->text());
}

}  // namespace qm

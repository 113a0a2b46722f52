#include "settings/ui/SetupSheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "keyring/SecretServiceKeyring.h"
#include "settings/ui/AuthenticationTabDlg.h"
#include "settings/ui/ConfirmationsTabDlg.h"
#include "settings/ui/ExcludesTabDlg.h"
#include "settings/ui/GeneralTabDlg.h"
#include "settings/ui/HistoryTabDlg.h"
#include "settings/ui/IncludesTabDlg.h"
#include "settings/ui/LoggingTabDlg.h"
#include "ui/MessageBoxes.h"

namespace qm {
CSetupSheet::CSetupSheet(ProfileStore& profile, QWidget* parent, PasswordKeyring* keyring)
    : QDialog(parent),
      context_{profile, {}, keyring ? *keyring : DesktopKeyring()},
      tabs_(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("Quarrymoth Setup"));
    setObjectName(QStringLiteral("setupSheet"));
    tabs_->setObjectName(QStringLiteral("setupTabs"));
    tabs_->setAccessibleName(QStringLiteral("Quarrymoth Setup"));
    // Every page's tab in sight: the sheet grows to hold them rather than scroll them.
    tabs_->setUsesScrollButtons(false);
    auto add = [this](CSetupPage* page, const char* caption) {
        page->setAccessibleName(QString::fromLatin1(caption));
        tabs_->addTab(page, QString::fromLatin1(caption));
        pages_.push_back(page);
    };
    add(new CGeneralTabDlg(context_, tabs_), "General");
    add(new CConfirmationsTabDlg(context_, tabs_), "Confirmations");
    add(new CHistoryTabDlg(context_, tabs_), "History");
    add(new CIncludesTabDlg(context_, tabs_), "Includes");
    add(new CExcludesTabDlg(context_, tabs_), "Excludes");
    add(new CLoggingTabDlg(context_, tabs_), "Logging");
    add(new CAuthenticationTabDlg(context_, tabs_), "Authentication");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    // Some desktop themes caption it "&Cancel"; Alt+C belongs to the Logging page's "&Clear
    // Contents", and Escape cancels anyway.
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetupSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSetupSheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);

    tabs_->setCurrentIndex(0);
    OnPageChanged(0);
    connect(tabs_, &QTabWidget::currentChanged, this, &CSetupSheet::OnPageChanged);
}

void CSetupSheet::OnPageChanged(int index) {
    if (current_ >= 0) pages_[static_cast<size_t>(current_)]->Leave();
    current_ = index;
    if (index >= 0) pages_[static_cast<size_t>(index)]->Enter();
}

// The pages' files first (a page writes its file before its keys), then every key in one rewrite.
// A file that cannot be written keeps the sheet open with nothing of the profile changed.
void CSetupSheet::accept() {
    if (current_ >= 0) pages_[static_cast<size_t>(current_)]->Leave();
    std::vector<ProfileStore::Change> changes;
    for (CSetupPage* page : pages_) {
        if (!page->WasShown()) continue;
        QString error;
        if (!page->SaveFiles(error)) {
            Warn(this, error);
            return;
        }
        page->Save(changes);
    }
    errno = 0;
    if (!changes.empty() && !context_.profile.Apply(changes)) {
        // The new values hold in memory for this session; the file keeps the old ones.
        const int err = errno;
        QString text = QStringLiteral("The settings could not be saved in \"%1\"")
                           .arg(QString::fromStdString(context_.profile.Path()));
        if (err != 0) text += QStringLiteral(": ") + QString::fromLocal8Bit(strerror(err));
        Warn(this, text + QStringLiteral(".\n\nThey apply until Quarrymoth is closed."));
    } else {
        for (CSetupPage* page : pages_) {
            if (page->WasShown()) page->Saved();
        }
    }
    QDialog::accept();
}

}  // namespace qm

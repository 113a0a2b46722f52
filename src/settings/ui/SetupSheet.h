#pragma once
// CSetupSheet: "Quarrymoth Setup", the tabbed editor of the settings. Each page loads its keys
// when it is first shown; OK writes the keys of every page that was shown in one rewrite of the
// profile, Cancel writes nothing.

#include <QDialog>
#include <vector>

#include "settings/ui/SetupPage.h"

class QTabWidget;

namespace qm {

class CSetupSheet : public QDialog {
    Q_OBJECT
public:
    // keyring: where the Authentication page keeps a password (the desktop's when null).
    explicit CSetupSheet(ProfileStore& profile, QWidget* parent = nullptr,
                         PasswordKeyring* keyring = nullptr);

    void accept() override;

private:
    void OnPageChanged(int index);

    SetupContext context_;
    QTabWidget* tabs_;
    // In tab order: General, Confirmations, History, Includes, Excludes, Logging, Authentication.
    std::vector<CSetupPage*> pages_;
    int current_ = -1;
};

}  // namespace qm

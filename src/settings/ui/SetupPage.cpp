#include "settings/ui/SetupPage.h"

#include "settings/SettingsKeys.h"
#include "ui/DisplayText.h"

namespace qm {

CSetupPage::CSetupPage(SetupContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {}

void CSetupPage::Enter() {
    if (!shown_) {
        shown_ = true;
        Load();
    }
    Shown();
}

QString CSetupPage::PageText(const PageField& field) const {
    return DisplayText(field.Read(context_.profile));
}

bool CSetupPage::PageFlag(const PageField& field) const {
    return field.Flag(context_.profile);
}

void CSetupPage::Put(std::vector<ProfileStore::Change>& changes, const PageField& field,
                     const QString& text) const {
    changes.push_back(field.Change(StoredText(text, field.Read(context_.profile))));
}

void CSetupPage::PutFlag(std::vector<ProfileStore::Change>& changes, const PageField& field,
                         bool on) {
    changes.push_back(field.ChangeFlag(on));
}

}  // namespace qm

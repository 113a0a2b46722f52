#include "settings/ui/SetupPage.h"

#include "settings/SettingsKeys.h"

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

QString CSetupPage::PageText(std::string_view key) const {
    return QString::fromStdString(ReadPageText(context_.profile, key));
}

bool CSetupPage::PageFlag(std::string_view key) const {
    return ProfileStore::ParseInt(ReadPageText(context_.profile, key)) != 0;
}

void CSetupPage::Put(std::vector<ProfileStore::Change>& changes, const char* key,
                     const QString& text) {
    changes.push_back({kMainSection, key, text.toStdString()});
}

void CSetupPage::PutFlag(std::vector<ProfileStore::Change>& changes, const char* key, bool on) {
    changes.push_back({kMainSection, key, on ? "1" : "0"});
}

}  // namespace qm

#pragma once
// CIncludesTabDlg: the subject words an article must carry, the limits on how many articles and
// headers a group gives and how old they may be, and whether posts split over several articles
// are put together.

#include "settings/ui/SetupPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace qm {

class CIncludesTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CIncludesTabDlg(SetupContext& context, QWidget* parent);
    void Save(std::vector<ProfileStore::Change>& changes) override;

protected:
    void Load() override;

private:
    // One line of the Limits group: a box, its value and the words after the value.
    struct Limit {
        const PageField* useKey;
        const PageField* valueKey;
        QCheckBox* box;
        QLineEdit* value;
        QLabel* trailer;
    };
    static void Follow(const Limit& limit);
    // Only one of the two header limits can be on.
    void OnHeaderLimitClicked(int clicked, int other);
    QWidget* BuildMultiPart();
    void FollowMultiPart();

    QLineEdit *include_, *include2_;
    Limit limits_[4]{};
    QCheckBox* multiPart_ = nullptr;
    QLineEdit* waitDays_ = nullptr;
    QLineEdit* storeMB_ = nullptr;
};

}  // namespace qm

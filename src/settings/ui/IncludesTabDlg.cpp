#include "settings/ui/IncludesTabDlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/Controls.h"

namespace qm {
namespace {

enum LimitIndex { kLimitCount, kLimitDays, kLastHeaders, kFirstHeaders };

struct LimitText {
    const char* caption;
    const char* boxName;
    const char* valueName;
    const char* trailer;
    bool digitsOnly;
    PageField use;
    PageField value;
};

constexpr LimitText kLimits[] = {
    {"Only download the last", "useMaxCountCheck", "maxCountEdit", "articles from any newsgroup",
     true, kUseMaxCount, kMaxCount},
    {"Only download articles posted in the last", "useMaxDaysCheck", "maxDaysEdit", "days", false,
     kUseMaxDays, kMaxDays},
    {"Only scan the last", "useMaxHeaderCountCheck", "maxHeaderCountEdit",
     "headers in any newsgroup", true, kUseMaxHeaderCount, kMaxHeaderCount},
    {"Only scan the first", "useFirstHeaderCountCheck", "firstHeaderCountEdit",
     "headers in any newsgroup", true, kUseFirstHeaderCount, kFirstHeaderCount},
};

}  // namespace

CIncludesTabDlg::CIncludesTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("includesPage"));
    include_ = MakeField("subjectInclEdit", "Subject &Include:", this);
    include2_ = MakeField("subjectIncl2Edit", "And...", this);
    auto* subjects = new QFormLayout;
    subjects->addRow(MakeLabel("Subject &Include:", include_, this), include_);
    subjects->addRow(MakeLabel("And...", include2_, this), include2_);

    auto* group = new QGroupBox(QStringLiteral("Limits"), this);
    group->setObjectName(QStringLiteral("limitsGroup"));
    group->setAccessibleName(QStringLiteral("Limits"));
    auto* grid = new QGridLayout(group);
    for (int i = 0; i < 4; ++i) {
        const LimitText& text = kLimits[i];
        Limit& limit = limits_[i];
        limit.useKey = &text.use;
        limit.valueKey = &text.value;
        limit.box = MakeCheckBox(text.caption, text.boxName, group);
        limit.value = MakeField(text.valueName, text.caption, group, text.digitsOnly);
        limit.value->setAccessibleDescription(QString::fromUtf8(text.trailer));
        SetWidthInChars(limit.value, 7);
        limit.trailer = MakeLabel(text.trailer, nullptr, group);
        grid->addWidget(limit.box, i, 0);
        grid->addWidget(limit.value, i, 1);
        grid->addWidget(limit.trailer, i, 2);
        connect(limit.box, &QCheckBox::toggled, this, [this, i] { Follow(limits_[i]); });
    }
    grid->setColumnStretch(3, 1);
    connect(limits_[kLastHeaders].box, &QCheckBox::clicked, this,
            [this] { OnHeaderLimitClicked(kLastHeaders, kFirstHeaders); });
    connect(limits_[kFirstHeaders].box, &QCheckBox::clicked, this,
            [this] { OnHeaderLimitClicked(kFirstHeaders, kLastHeaders); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(subjects);
    layout->addWidget(group);
    layout->addWidget(BuildMultiPart());
    layout->addStretch(1);
}

// Pictures larger than about 700 KiB come as several articles; this group says whether their
// parts are kept until the post is whole, for how long, and in how much room.
QWidget* CIncludesTabDlg::BuildMultiPart() {
    auto* group = new QGroupBox(QStringLiteral("Multi-part posts"), this);
    group->setObjectName(QStringLiteral("multiPartGroup"));
    group->setAccessibleName(QStringLiteral("Multi-part posts"));
    multiPart_ = MakeCheckBox("Put &multi-part posts together", "multiPartCheck", group);
    waitDays_ = MakeField("multiPartWaitDaysEdit", "&Wait for missing parts", group, true);
    storeMB_ = MakeField("multiPartStoreMBEdit", "&Keep waiting parts up to", group, true);
    SetWidthInChars(waitDays_, 7);
    SetWidthInChars(storeMB_, 7);
    auto* grid = new QGridLayout(group);
    grid->addWidget(multiPart_, 0, 0, 1, 3);
    grid->addWidget(MakeLabel("&Wait for missing parts", waitDays_, group), 1, 0);
    grid->addWidget(waitDays_, 1, 1);
    grid->addWidget(MakeLabel("days", nullptr, group), 1, 2);
    grid->addWidget(MakeLabel("&Keep waiting parts up to", storeMB_, group), 2, 0);
    grid->addWidget(storeMB_, 2, 1);
    grid->addWidget(MakeLabel("MB", nullptr, group), 2, 2);
    grid->setColumnStretch(3, 1);
    connect(multiPart_, &QCheckBox::toggled, this, [this] { FollowMultiPart(); });
    return group;
}

void CIncludesTabDlg::FollowMultiPart() {
    waitDays_->setEnabled(multiPart_->isChecked());
    storeMB_->setEnabled(multiPart_->isChecked());
}

void CIncludesTabDlg::Follow(const Limit& limit) {
    limit.value->setEnabled(limit.box->isChecked());
    limit.trailer->setEnabled(limit.box->isChecked());
}

void CIncludesTabDlg::OnHeaderLimitClicked(int clicked, int other) {
    Follow(limits_[clicked]);
    limits_[other].box->setChecked(false);
    Follow(limits_[other]);
}

void CIncludesTabDlg::Load() {
    include_->setText(PageText(kSubjectIncl));
    include2_->setText(PageText(kSubjectIncl2));
    for (const Limit& limit : limits_) {
        limit.box->setChecked(PageFlag(*limit.useKey));
        limit.value->setText(PageText(*limit.valueKey));
        Follow(limit);
    }
    multiPart_->setChecked(PageFlag(kMultiPart));
    waitDays_->setText(PageText(kMultiPartWaitDays));
    storeMB_->setText(PageText(kMultiPartStoreMB));
    FollowMultiPart();
}

void CIncludesTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    Put(changes, kSubjectIncl, include_->text());
    Put(changes, kSubjectIncl2, include2_->text());
    for (const Limit& limit : limits_) Put(changes, *limit.valueKey, limit.value->text());
    for (const Limit& limit : limits_) PutFlag(changes, *limit.useKey, limit.box->isChecked());
    PutFlag(changes, kMultiPart, multiPart_->isChecked());
    Put(changes, kMultiPartWaitDays, waitDays_->text());
    Put(changes, kMultiPartStoreMB, storeMB_->text());
}

}  // namespace qm

#include "settings/ui/HistoryTabDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "engine/ContentIndexRebuild.h"
#include "engine/RunLock.h"
#include "settings/SettingsKeys.h"
#include "settings/SetupFiles.h"
#include "ui/Controls.h"
#include "ui/MessageBoxes.h"
#include "ui/OffThread.h"
#include "util/TextFiles.h"

namespace qm {

namespace {

const char kRebuildCaption[] = "Rebuild Content Index";
const char kCancelCaption[] = "Cancel Rebuild";

}  // namespace

// What the window and the rebuilding thread share; it outlives the page when the sheet closes
// before the rebuild has seen its cancel.
struct CHistoryTabDlg::Rebuild {
    std::atomic<bool> cancel{false};
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> total{0};
};

CHistoryTabDlg::CHistoryTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("historyPage"));
    maxHist_ = MakeField("maxHistEdit", "&Keep a maximum of", this);
    saveFrequency_ = MakeField("histSaveFrequencyEdit", "&Save history list every", this);
    SetWidthInChars(maxHist_, 8);
    SetWidthInChars(saveFrequency_, 8);
    maxHist_->setAccessibleDescription(QStringLiteral("filenames in history list"));
    saveFrequency_->setAccessibleDescription(QStringLiteral("files downloaded"));
    skipNear_ = MakeCheckBox("Skip &near-duplicates", "skipNearDuplicatesCheck", this);
    keepLarger_ = MakeCheckBox("Keep the &larger copy", "keepLargerCopyCheck", this);
    clear_ = MakeButton("Clear History", "clearHistoryButton", this);
    rebuild_ = MakeButton(kCancelCaption, "rebuildContentIndexButton", this);
    const int cancelWidth = rebuild_->sizeHint().width();
    rebuild_->setText(QString::fromLatin1(kRebuildCaption));
    rebuild_->setAccessibleName(rebuild_->text());
    // As wide as either caption needs: the button does not jump when it turns into Cancel.
    rebuild_->setMinimumWidth(std::max(cancelWidth, rebuild_->sizeHint().width()));
    rebuildStatus_ = MakeValue("rebuildStatusLabel", "Content index", "", this);
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(100);
    offThread_ = new OffThread(this);

    auto* grid = new QGridLayout;
    grid->addWidget(MakeLabel("&Keep a maximum of ", maxHist_, this), 0, 0);
    grid->addWidget(maxHist_, 0, 1);
    grid->addWidget(MakeLabel("filenames in history list", nullptr, this), 0, 2);
    grid->addWidget(MakeLabel("&Save history list every", saveFrequency_, this), 1, 0);
    grid->addWidget(saveFrequency_, 1, 1);
    grid->addWidget(MakeLabel("files downloaded", nullptr, this), 1, 2);
    grid->setColumnStretch(3, 1);

    auto* largerRow = new QHBoxLayout;
    largerRow->addSpacing(fontMetrics().averageCharWidth() * 3);
    largerRow->addWidget(keepLarger_);
    largerRow->addStretch(1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(clear_);
    buttonRow->addWidget(rebuild_);
    buttonRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addWidget(skipNear_);
    layout->addLayout(largerRow);
    layout->addSpacing(fontMetrics().height());
    layout->addLayout(buttonRow);
    layout->addWidget(rebuildStatus_);
    layout->addStretch(1);

    connect(skipNear_, &QCheckBox::toggled, this, &CHistoryTabDlg::FollowNearBox);
    connect(clear_, &QPushButton::clicked, this, &CHistoryTabDlg::OnClearHistory);
    connect(rebuild_, &QPushButton::clicked, this, &CHistoryTabDlg::OnRebuildIndex);
    connect(progressTimer_, &QTimer::timeout, this, &CHistoryTabDlg::ShowProgress);
}

// A rebuild still under way when the sheet closes stops at its next picture and leaves the old
// index as it was; its result is dropped with the page.
CHistoryTabDlg::~CHistoryTabDlg() {
    if (rebuilding_) rebuilding_->cancel = true;
}

void CHistoryTabDlg::Load() {
    maxHist_->setText(PageText(kMaxHist));
    saveFrequency_->setText(PageText(kHistSaveFrequency));
    skipNear_->setChecked(PageFlag(kSkipNearDuplicates));
    keepLarger_->setChecked(PageFlag(kKeepLargerCopy));
    FollowNearBox();
}

// A larger copy is kept only in spite of skipping near-duplicates.
void CHistoryTabDlg::FollowNearBox() {
    keepLarger_->setEnabled(skipNear_->isChecked());
}

// Clears at once, not on OK: the user has just confirmed it.
void CHistoryTabDlg::OnClearHistory() {
    if (!AskYesNo(this, QStringLiteral("Are you sure you want to clear\nthe history file?")))
        return;
    if (!ClearHistoryFile()) Warn(this, QStringLiteral("Error clearing history"));
}

void CHistoryTabDlg::OnRebuildIndex() {
    if (!rebuilding_) {
        StartRebuild();
        return;
    }
    rebuilding_->cancel = true;
    rebuild_->setEnabled(false);
    SetValue(rebuildStatus_, QStringLiteral("Cancelling..."));
}

// Reads the pictures below the download directory the profile names, as the runner's index
// command does, under the run lock: a harvest appending to the index meanwhile would be lost
// when the rebuilt index replaces it. The lock goes with the thread as soon as the file is written.
void CHistoryTabDlg::StartRebuild() {
    std::vector<std::string> lockPaths{CurrentDirectory()};
    if (!context_.profile.Path().empty()) lockPaths.push_back(context_.profile.Path());
    auto lock = std::make_shared<RunLock>();
    std::string error;
    if (!lock->Acquire(lockPaths, error)) {
        Warn(this, QString::fromStdString(error));
        return;
    }
    auto state = std::make_shared<Rebuild>();
    rebuilding_ = state;
    const std::vector<std::string> dirs{kDownloadDirectory.Read(context_.profile)};
    const long maxEntries = kMaxHist.Read(context_.profile);
    offThread_->Run<ContentIndexRebuild::Result>(
        [state, lock, dirs, maxEntries] {
            const auto progress = [&state](std::size_t done, std::size_t total) {
                state->total = total;
                state->done = done;
            };
            ContentIndexRebuild::Result result = ContentIndexRebuild::Run(
                dirs, kContentIndexFile, maxEntries, progress, state->cancel);
            lock->Release();
            return result;
        },
        [this](const ContentIndexRebuild::Result& result) { RebuildEnded(result); });
    rebuild_->setText(QString::fromLatin1(kCancelCaption));
    rebuild_->setAccessibleName(QString::fromLatin1(kCancelCaption));
    clear_->setEnabled(false);  // clearing would empty the index the rebuild is about to replace
    SetValue(rebuildStatus_, QStringLiteral("Looking for pictures..."));
    progressTimer_->start();
}

void CHistoryTabDlg::ShowProgress() {
    if (!rebuilding_ || rebuilding_->total == 0) return;
    SetValue(rebuildStatus_, QStringLiteral("Indexing picture %1 of %2...")
                                 .arg(rebuilding_->done.load())
                                 .arg(rebuilding_->total.load()));
}

void CHistoryTabDlg::RebuildEnded(const ContentIndexRebuild::Result& result) {
    progressTimer_->stop();
    rebuilding_.reset();
    rebuild_->setText(QString::fromLatin1(kRebuildCaption));
    rebuild_->setAccessibleName(QString::fromLatin1(kRebuildCaption));
    rebuild_->setEnabled(true);
    clear_->setEnabled(true);
    if (result.cancelled) {
        SetValue(rebuildStatus_, QStringLiteral("Rebuild cancelled; the index is as it was"));
    } else if (!result.written) {
        SetValue(rebuildStatus_, QString());
        Warn(this, QStringLiteral("Error writing the content index: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(result.err))));
    } else {
        SetValue(rebuildStatus_, QStringLiteral("Indexed %1 pictures").arg(result.pictures));
    }
}

void CHistoryTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    Put(changes, kMaxHist, maxHist_->text());
    Put(changes, kHistSaveFrequency, saveFrequency_->text());
    PutFlag(changes, kSkipNearDuplicates, skipNear_->isChecked());
    PutFlag(changes, kKeepLargerCopy, keepLarger_->isChecked());
}

}  // namespace qm

#include "app/ui/MainDlg.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "app/FileActions.h"
#include "app/StatusFormat.h"
#include "app/ui/AboutDlg.h"
#include "app/ui/FromExcludeEditDlg.h"
#include "app/ui/FullSizeDlg.h"
#include "app/ui/PendingDlg.h"
#include "app/ui/PictureCtrl.h"
#include "app/ui/StatusRelay.h"
#include "app/ui/TextProgressBar.h"
#include "app/ui/ThumbnailLoader.h"
#include "engine/ProcessGroups.h"
#include "groups/ui/GroupSelectDlg.h"
#include "settings/FromExcludes.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "settings/ui/SetupSheet.h"
#include "ui/Controls.h"
#include "ui/DisplayText.h"
#include "ui/ElidedText.h"
#include "ui/MessageBoxes.h"
#include "ui/WaitCursor.h"
#include "ui/WindowPrompt.h"

namespace qm {

namespace {

const char kTitlePrefix[] = "Quarrymoth ";
constexpr int kTimerMilliseconds = 990;
const QSize kThumbnailDecodeSize(640, 480);

// A text of the server's or a path: as wide as the window allows, elided there, never widening it.
QLabel* WideValue(const char* objectName, const char* labelCaption, Qt::TextElideMode mode,
                  QWidget* parent, const char* initial = "") {
    constexpr int kWidthInChars = 40;
    return AsValue(new ElidedLabel(mode, kWidthInChars, parent), objectName, labelCaption, initial);
}

TextProgressBar* Bar(const char* objectName, const char* labelCaption, QWidget* parent) {
    auto* bar = new TextProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(objectName));
    bar->setAccessibleName(QString::fromUtf8(labelCaption));
    return bar;
}

}  // namespace

CMainDlg::CMainDlg(ProfileStore& profile, bool autoStart, QWidget* parent)
    : QDialog(parent), profile_(profile), autoStart_(autoStart) {
    loader_ = std::make_unique<ThumbnailLoader>(kThumbnailDecodeSize);
    connect(loader_.get(), &ThumbnailLoader::Loaded, this, &CMainDlg::OnThumbnailLoaded);
    relay_ = std::make_unique<StatusRelay>(
        [this](const StatusChange& change) { Apply(change); },
        [this](const StatusChange& picture) { LoadThumbnail(picture); }, this);
    model_ = std::make_unique<StatusModel>(shared_, *relay_);
    prompt_ = new WindowPrompt(this);
    elapsed_.setInterval(kTimerMilliseconds);
    connect(&elapsed_, &QTimer::timeout, this, &CMainDlg::OnTimer);
    BuildControls();
    Initialise();
}

CMainDlg::~CMainDlg() {
    if (engine_) engine_->RequestStop();
    engine_.reset();
}

// ---- building the window

void CMainDlg::BuildControls() {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    status_ = WideValue("statusLine", "Status", Qt::ElideRight, this, "  Ready...");
    status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    elapsedText_ = MakeValue("elapsedTimeValue", "Elapsed Time", "", this);
    elapsedText_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    elapsedText_->setAlignment(Qt::AlignCenter);
    elapsedText_->setMinimumWidth(elapsedText_->fontMetrics().horizontalAdvance(" 00:00:00 ") + 8);

    auto* upperLeft = new QVBoxLayout;
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(BuildCumulativeStatus(), 1);
    statusRow->addWidget(BuildThumbnail(), 1);
    upperLeft->addLayout(statusRow);
    upperLeft->addWidget(BuildCurrentArticle());

    auto* upper = new QHBoxLayout;
    upper->addLayout(upperLeft, 1);
    upper->addWidget(BuildButtonColumn());

    auto* lower = new QHBoxLayout;
    lower->addWidget(BuildPriority());
    auto* timeLeftLabel = new QLabel(QStringLiteral("Time Left in Group:"), this);
    timeLeft_ = MakeValue("timeLeftValue", "Time Left in Group:", "00:00:00", this);
    lower->addStretch(1);
    lower->addWidget(timeLeftLabel);
    lower->addWidget(timeLeft_);

    auto* statusLine = new QHBoxLayout;
    statusLine->addWidget(status_, 1);
    statusLine->addWidget(elapsedText_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(upper);
    layout->addLayout(lower);
    layout->addLayout(statusLine);
    SetTabOrder();
}

QWidget* CMainDlg::BuildButtonColumn() {
    auto* column = new QWidget(this);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    go_ = MakeButton("&Go", "goButton", column);
    stop_ = MakeButton("S&top", "stopButton", column);
    pause_ = MakeButton("&Pause", "pauseButton", column);
    pause_->setCheckable(true);
    catchUp_ = MakeButton("C&atch-up", "catchUpButton", column);
    pending_ = MakeButton("Pe&nding...", "pendingButton", column);
    groups_ = MakeButton("G&roups...", "groupsButton", column);
    setup_ = MakeButton("S&etup...", "setupButton", column);
    close_ = MakeButton("&Close", "closeButton", column);
    help_ = MakeButton("Help", "helpButton", column);
    for (QPushButton* button : {go_, stop_, pause_, catchUp_, pending_}) layout->addWidget(button);
    layout->addSpacing(fontMetrics().height());
    for (QPushButton* button : {groups_, setup_}) layout->addWidget(button);
    layout->addStretch(1);
    for (QPushButton* button : {close_, help_}) layout->addWidget(button);

    auto* helpMenu = new QMenu(help_);
    helpMenu->addAction(QStringLiteral("&Help..."), this, [this] {
        Inform(
            this,
            QStringLiteral(
                "Choose Setup to name your news server and download directory, Groups to pick and "
                "order the newsgroups, then Go. Quarrymoth saves the pictures of new articles that "
                "pass your filters and remembers what it fetched, so nothing is fetched twice."));
    });
    helpMenu->addAction(QStringLiteral("&About Quarrymoth..."), this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    help_->setMenu(helpMenu);

    connect(go_, &QPushButton::clicked, this, &CMainDlg::OnGo);
    connect(stop_, &QPushButton::clicked, this, &CMainDlg::OnStop);
    connect(catchUp_, &QPushButton::clicked, this, &CMainDlg::OnCatchUp);
    connect(pause_, &QPushButton::toggled, this, &CMainDlg::OnPause);
    connect(close_, &QPushButton::clicked, this, &CMainDlg::OnClose);
    connect(pending_, &QPushButton::clicked, this, &CMainDlg::OnPending);
    connect(groups_, &QPushButton::clicked, this, &CMainDlg::OnGroups);
    connect(setup_, &QPushButton::clicked, this, &CMainDlg::OnSetup);
    return column;
}

QWidget* CMainDlg::BuildCumulativeStatus() {
    auto* box = new QGroupBox(QStringLiteral("Cumulative Status"), this);
    auto* form = new QFormLayout(box);
    const struct {
        QLabel** value;
        const char* name;
        const char* caption;
    } rows[] = {
        {&bytes_, "bytesTransferredValue", "Bytes Transferred:"},
        {&bytesPerSec_, "bytesPerSecValue", "Bytes/Sec:"},
        {&binaryPerSec_, "binaryBytesPerSecValue", "Binary Bytes/Sec:"},
        {&scanned_, "articlesScannedValue", "Articles Scanned:"},
        {&saved_, "articlesSavedValue", "Articles Saved:"},
        {&historySkipped_, "historySkippedValue", "History Files Skipped:"},
        {&otherSkipped_, "otherSkippedValue", "Other Files Skipped:"},
    };
    // Room for the figures of a long run from the start: a growing count must not widen the
    // window.
    const int figureWidth = fontMetrics().horizontalAdvance(QStringLiteral("999,999,999,999"));
    for (const auto& row : rows) {
        *row.value = MakeValue(row.name, row.caption, "0", box);
        (*row.value)->setMinimumWidth(figureWidth);
        form->addRow(QString::fromUtf8(row.caption), *row.value);
    }
    return box;
}

QWidget* CMainDlg::BuildCurrentArticle() {
    auto* box = new QGroupBox(QStringLiteral("Current Article"), this);
    auto* grid = new QGridLayout(box);
    subject_ = WideValue("subjectValue", "Subject:", Qt::ElideRight, box);
    // A path keeps its file name in sight.
    savingTo_ = WideValue("savingToValue", "Saving To:", Qt::ElideMiddle, box);
    from_ = WideValue("fromValue", "From:", Qt::ElideRight, box);
    groupBar_ = Bar("groupProgressBar", "Group Progress:", box);
    articleBar_ = Bar("articleProgressBar", "Article Progress:", box);
    linesBar_ = Bar("linesDecodedBar", "Lines Decoded:", box);
    const std::pair<const char*, QWidget*> rows[] = {
        {"Subject:", subject_},
        {"Saving To:", savingTo_},
        {"From:", from_},
        {"Group Progress:", groupBar_},
        {"Article Progress:", articleBar_},
        {"Lines Decoded:", linesBar_},
    };
    int line = 0;
    for (const auto& [caption, widget] : rows) {
        grid->addWidget(new QLabel(QString::fromUtf8(caption), box), line, 0);
        grid->addWidget(widget, line++, 1);
    }
    scanBar_ = Bar("scanProgressBar", "Header Scan Progress", box);
    scanBar_->setTextVisible(false);
    scanBar_->setMaximumHeight(fontMetrics().height() / 2 + 2);
    scanBar_->setToolTip(QStringLiteral("Header scan"));
    grid->addWidget(scanBar_, line, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return box;
}

QWidget* CMainDlg::BuildThumbnail() {
    thumbnailBox_ = new QGroupBox(QStringLiteral("Thumbnail"), this);
    auto* layout = new QVBoxLayout(thumbnailBox_);
    pictureFrame_ = new ElidedTitleBox(thumbnailBox_);
    pictureFrame_->setObjectName(QStringLiteral("thumbnailFrame"));
    picture_ = new CPictureCtrl(pictureFrame_);
    picture_->setObjectName(QStringLiteral("thumbnail"));
    picture_->setMinimumSize(160, 120);
    auto* frameLayout = new QVBoxLayout(pictureFrame_);
    frameLayout->addWidget(picture_);
    layout->addWidget(pictureFrame_, 1);

    show_ = MakeButton("S&how", "showButton", thumbnailBox_);
    show_->setCheckable(true);
    fullSize_Button_ = MakeButton("&Full Size", "fullSizeButton", thumbnailBox_);
    deleteFile_ = MakeButton("&Delete File", "deleteFileButton", thumbnailBox_);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {show_, fullSize_Button_, deleteFile_}) buttons->addWidget(button);
    layout->addLayout(buttons);

    pictureMenu_ = new QMenu(this);
    pictureMenu_->addAction(QStringLiteral("&Properties"), this, &CMainDlg::OnProperties);
    pictureMenu_->addAction(QStringLiteral("&Full Size"), this, &CMainDlg::OnFullSize);
    pictureMenu_->addAction(QStringLiteral("&Add to 'From' excludes"), this,
                            &CMainDlg::OnAddFromExclude);
    pictureMenu_->addAction(QStringLiteral("&Delete file"), this, &CMainDlg::OnDeleteFile);

    connect(show_, &QPushButton::toggled, this, [this](bool checked) {
        showThumbnail_ = checked;
        ApplyShowThumbnail();
    });
    connect(fullSize_Button_, &QPushButton::clicked, this, &CMainDlg::OnFullSize);
    connect(deleteFile_, &QPushButton::clicked, this, &CMainDlg::OnDeleteFile);
    connect(picture_, &CPictureCtrl::ContextMenuAt, this, &CMainDlg::ShowContextMenu);
    connect(picture_, &CPictureCtrl::DisplaySizeChanged, this,
            [this](QSize devicePixels) { loader_->SetDisplaySize(devicePixels); });
    return thumbnailBox_;
}

QWidget* CMainDlg::BuildPriority() {
    priorityBox_ = new QGroupBox(QStringLiteral("Pr&iority"), this);
    priorityBox_->setObjectName(QStringLiteral("priorityBox"));
    slider_ = new QSlider(Qt::Horizontal, priorityBox_);
    slider_->setObjectName(QStringLiteral("prioritySlider"));
    slider_->setAccessibleName(QStringLiteral("Priority"));
    slider_->setRange(1, 5);
    slider_->setPageStep(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setMinimumWidth(fontMetrics().averageCharWidth() * 16);
    set_ = MakeButton("&Set", "setButton", priorityBox_);
    auto* layout = new QHBoxLayout(priorityBox_);
    layout->addWidget(new QLabel(QStringLiteral("Low"), priorityBox_));
    layout->addWidget(slider_, 1);
    layout->addWidget(new QLabel(QStringLiteral("High"), priorityBox_));
    layout->addWidget(set_);
    connect(set_, &QPushButton::clicked, this, &CMainDlg::OnSet);
    return priorityBox_;
}

void CMainDlg::SetTabOrder() {
    QWidget* order[] = {go_,         stop_,   groups_, setup_,   close_, show_,    fullSize_Button_,
                        deleteFile_, slider_, set_,    pending_, pause_, catchUp_, help_,
                        picture_};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

// ---- start-up

void CMainDlg::Initialise() {
    slideShowProgram_ = FindSlideShowProgram();
    if (!slideShowProgram_.empty()) {
        fullSize_Button_->setText(QStringLiteral("Slide Show"));
        fullSize_Button_->setAccessibleName(QStringLiteral("Slide Show"));
    }
    SetRunning(false);
    pending_->setEnabled(false);
    UpdateTitle();
    ReadShowThumbnail();
    long priority = kPriority.Read(profile_);
    slider_->setValue(priority >= 1 && priority <= 5 ? static_cast<int>(priority) : 3);
    ClearThumbnail();
    ApplyShowThumbnail();
    userStopped_ = false;
    // Go once the window is up, as if the user had pressed it.
    if (autoStart_) QTimer::singleShot(0, this, &CMainDlg::OnGo);
}

void CMainDlg::UpdateTitle() {
    setWindowTitle(QString::fromLatin1(kTitlePrefix) + QString::fromLatin1(kVersionText) +
                   QStringLiteral(" [") + DisplayText(kNNTPHost.Read(profile_)) +
                   QStringLiteral("]"));
}

void CMainDlg::ReadShowThumbnail() {
    showThumbnail_ = kShowThumbnail.IsOn(profile_);
    QSignalBlocker quiet(show_);
    show_->setChecked(showThumbnail_);
}

void CMainDlg::ApplyShowThumbnail() {
    pictureFrame_->setVisible(showThumbnail_);
}

// ---- the run

void CMainDlg::SetRunning(bool running) {
    const std::vector<QPushButton*> runOnly{stop_, catchUp_, pause_};
    const std::vector<QPushButton*> idleOnly{go_, setup_, groups_, close_};
    // Enable before disabling, so the focus leaving a disabled button finds the new default.
    for (QPushButton* button : running ? runOnly : idleOnly) button->setEnabled(true);
    priorityBox_->setEnabled(running);
    for (QPushButton* button : running ? idleOnly : runOnly) button->setEnabled(false);
    go_->setDefault(!running);
    stop_->setDefault(running);
    if (!running) {
        QSignalBlocker quiet(pause_);
        pause_->setChecked(false);
    }
    QWidget* focus = focusWidget();
    if (!focus || !focus->isEnabled()) (running ? stop_ : go_)->setFocus();
    idle_ = !running;
}

void CMainDlg::OnGo() {
    if (!idle_) return;
    if (kNNTPHost.Read(profile_).empty()) {
        Inform(this, QStringLiteral("No news server specified\n\nPlease choose 'Setup'"));
        return;
    }
    runStart_ = std::time(nullptr);
    elapsed_.start();
    OnTimer();  // the last run's time must not stand for the new one
    SetRunning(true);
    const int priority = static_cast<int>(kPriority.Read(profile_));
    engine_.reset();
    prompt_->AllowQuestions();
    engine_ = std::make_unique<CProcessGroups>(profile_, *model_, *prompt_, shared_);
    try {
        StartEngine(*engine_, priority);
    } catch (const std::exception& error) {
        engine_.reset();
        elapsed_.stop();
        SetRunning(false);
        ShowError(this, QStringLiteral("Unable to start the download: %1").arg(error.what()));
    }
}

void CMainDlg::StartEngine(CProcessGroups& engine, int priority) {
    engine.Start(priority);
}

void CMainDlg::OnStop() {
    userStopped_ = true;
    if (kConfirmStop.IsOn(profile_) &&
        !AskYesNo(this, QStringLiteral("Are you sure you want to stop?"), true)) {
        return;
    }
    if (engine_) engine_->RequestStop();
}

void CMainDlg::OnCatchUp() {
    if (kConfirmCatchup.IsOn(profile_) &&
        !AskYesNo(this, QStringLiteral("This will cause all articles in this group to be marked as "
                                       "read.\n\nDo you wish to continue?"))) {
        return;
    }
    if (!engine_) return;
    engine_->SetCatchUp(1);
    engine_->RequestStop();
}

void CMainDlg::OnPause(bool checked) {
    if (!engine_) return;
    if (checked) {
        engine_->Pause();
    } else {
        engine_->Resume();
    }
}

// A refused change leaves the thread where it was: the slider and the stored level say so too.
void CMainDlg::OnSet() {
    const int level = slider_->value();
    const int refused = engine_ ? engine_->SetPriority(level) : 0;
    if (refused != 0) {
        SetValue(status_, QStringLiteral("  Unable to change the priority: ") +
                              QString::fromLocal8Bit(std::strerror(refused)));
        slider_->setValue(engine_->Priority());
        return;
    }
    kPriority.Write(profile_, level);
}

void CMainDlg::OnTimer() {
    SetValue(elapsedText_, QString::fromStdString(ElapsedText(std::time(nullptr) - runStart_)));
}

void CMainDlg::OnEngineFinished() {
    elapsed_.stop();
    SetRunning(false);
    emit RunFinished();
    if (stoppedBySignal_) {
        exitCode_ = 1;
        OnClose();
    } else if (autoStart_ && !userStopped_) {
        exitCode_ = model_->LastStatus() == "Operation complete" ? 0 : 1;
        OnClose();
    }
}

void CMainDlg::StopForSignal() {
    stoppedBySignal_ = true;
    // Boxes of our own (a confirmation, a question) would hold the window open.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog != this && dialog->isVisible()) dialog->reject();
    }
    if (idle_) {
        OnClose();
    } else if (engine_) {
        engine_->RequestStop();
    }
}

void CMainDlg::OnClose() {
    if (!idle_) return;
    engine_.reset();
    accept();
}

void CMainDlg::reject() {
    if (idle_) OnClose();
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (idle_) OnClose();
}

// Setup: only an OK changes what the window shows of the settings.
void CMainDlg::OnSetup() {
    CSetupSheet sheet(profile_, this);
    if (sheet.exec() != QDialog::Accepted) return;
    UpdateTitle();
    ReadShowThumbnail();
    ApplyShowThumbnail();
}

// Groups: the dialog writes the list files and keys itself; the window shows none of them.
void CMainDlg::OnGroups() {
    CGroupSelectDlg dialog(profile_, this);
    dialog.exec();
}

void CMainDlg::OnPending() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CPendingDlg dialog(shared_, profile_, this);
    QApplication::restoreOverrideCursor();
    // A click that arrives after the group's retrieval ended finds no list: nothing opens. The
    // dialog closes itself when the engine lets go of it (end of the group or the run, Stop).
    if (dialog.Opened()) dialog.exec();
}

// ---- what the engine reports

void CMainDlg::Apply(const StatusChange& change) {
    const QString text = DisplayText(change.text);
    switch (change.field) {
        case StatusField::Status:
            SetValue(status_, text);
            break;
        case StatusField::Subject:
            SetValue(subject_, text);
            break;
        case StatusField::SavingTo:
            SetValue(savingTo_, text);
            break;
        case StatusField::From:
            SetValue(from_, text);
            break;
        case StatusField::BytesTransferred:
            SetValue(bytes_, text);
            break;
        case StatusField::ArticlesScanned:
            SetValue(scanned_, text);
            break;
        case StatusField::ArticlesSaved:
            SetValue(saved_, text);
            break;
        case StatusField::HistorySkipped:
            SetValue(historySkipped_, text);
            break;
        case StatusField::OtherSkipped:
            SetValue(otherSkipped_, text);
            break;
        case StatusField::BytesPerSec:
            SetValue(bytesPerSec_, text);
            break;
        case StatusField::BinaryBytesPerSec:
            SetValue(binaryPerSec_, text);
            break;
        case StatusField::TimeLeft:
            SetValue(timeLeft_, text);
            break;
        case StatusField::GroupProgress:
        case StatusField::ArticleProgress:
        case StatusField::LinesDecoded: {
            auto* bar = static_cast<TextProgressBar*>(
                change.field == StatusField::GroupProgress     ? groupBar_
                : change.field == StatusField::ArticleProgress ? articleBar_
                                                               : linesBar_);
            bar->setValue(change.percent);
            bar->SetText(text);
            break;
        }
        case StatusField::ScanProgress:
            scanBar_->setValue(change.percent);
            break;
        case StatusField::PendingButton:
            pending_->setEnabled(change.text == "1");
            break;
        case StatusField::Finished:
            OnEngineFinished();
            break;
        case StatusField::Thumbnail:
            break;  // goes to the loader directly
    }
}

// ---- thumbnail and file actions

void CMainDlg::LoadThumbnail(const StatusChange& picture) {
    const std::string& path = picture.text;
    if (!ThumbnailWanted(path)) return;  // a GIF, say: the previous picture stays
    if (path.empty()) {
        QMetaObject::invokeMethod(
            this, [this] { ClearThumbnail(); }, Qt::QueuedConnection);
        return;
    }
    loader_->Request(path, PictureOrigin{picture.subject, picture.from});
}

void CMainDlg::ClearThumbnail() {
    picture_->Clear();
    pictureFrame_->SetCaption(QString());
    shared_.SetCurrentPicturePath("");
    pictureOrigin_ = PictureOrigin{};
}

// The picture shown, its caption, its path and its article's texts change together: the file
// actions must never speak of another article than the one whose picture is shown.
void CMainDlg::OnThumbnailLoaded(const QString& path, const QImage& image, QSize pictureSize,
                                 const PictureOrigin& origin) {
    picture_->SetPicture(image, pictureSize);
    // The picture's size stays whole after a name elided to the room there is.
    const qsizetype sizeText =
        QStringLiteral(" (%1 x %2)").arg(pictureSize.width()).arg(pictureSize.height()).size();
    pictureFrame_->SetCaption(
        DisplayText(PictureCaption(path.toStdString(), pictureSize.width(), pictureSize.height())),
        sizeText);
    shared_.SetCurrentPicturePath(path.toStdString());
    pictureOrigin_ = origin;
}

void CMainDlg::OnDeleteFile() {
    const std::string path = shared_.CurrentPicturePath();
    if (path.empty()) return;
    if (kConfirmDelete.IsOn(profile_) &&
        !AskYesNo(this, QStringLiteral("Delete %1?").arg(QString::fromStdString(path)))) {
        return;
    }
    if (::unlink(path.c_str()) != 0) {
        ShowError(this, QStringLiteral("Unable to delete %1\n\n%2")
                            .arg(QString::fromStdString(path),
                                 QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    ClearThumbnail();
}

void CMainDlg::OnFullSize() {
    if (!slideShowProgram_.empty()) {
        bool started = false;
        {
            WaitCursor wait;
            started = QProcess::startDetached(
                QStringLiteral("./") + QString::fromStdString(slideShowProgram_), {},
                QDir::currentPath());
        }
        if (!started) Inform(this, QStringLiteral("Error--Unable to open slide show"));
        return;
    }
    if (!fullSize_) fullSize_ = new CFullSizeDlg(this);
    const std::string path = shared_.CurrentPicturePath();
    if (path.empty()) return;
    fullSize_->SetPath(QString::fromStdString(path));
    QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen();
    fullSize_->Run(screen->geometry());
}

void CMainDlg::OnProperties() {
    Inform(this, DisplayText(PropertiesText(shared_.CurrentPicturePath(), pictureOrigin_.subject,
                                            pictureOrigin_.from)));
}

void CMainDlg::OnAddFromExclude() {
    CFromExcludeEditDlg edit(this);
    edit.SetText(DisplayText(pictureOrigin_.from));
    if (edit.exec() != QDialog::Accepted) return;
    if (!AppendFromExclude(edit.Text().toStdString())) {
        ShowError(this, QStringLiteral("Unable to add to the file FromExcludes\n\n%1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
}

void CMainDlg::ShowContextMenu(QPoint globalPos, bool fromKeyboard) {
    pictureMenu_->exec(fromKeyboard ? mapToGlobal(QPoint(5, 5)) : globalPos);
}

}  // namespace qm

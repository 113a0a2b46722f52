#pragma once
// CMainDlg: the program's window. It starts and controls a download run, shows what the run reports
// (counters, rates, progress, the last saved picture) and offers the file actions on that picture.

#include <QDialog>
#include <QTimer>
#include <ctime>
#include <memory>
#include <string>

#include "app/StatusModel.h"
#include "app/ui/ThumbnailLoader.h"
#include "engine/SharedState.h"

class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;

namespace qm {

class CFullSizeDlg;
class CPictureCtrl;
class CProcessGroups;
class ProfileStore;
class ElidedTitleBox;
class StatusRelay;
class WindowPrompt;

class CMainDlg : public QDialog {
    Q_OBJECT
public:
    // The caller has already changed into the data directory.
    CMainDlg(ProfileStore& profile, bool autoStart, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // 0, or 1 when the window closed itself after a run that did not end with "Operation
    // complete" or was ended by a termination signal.
    int ExitCode() const { return exitCode_; }

    // Go, Stop, Delete File and the others as the buttons and menu items do them.
    void OnGo();
    void OnStop();
    void OnCatchUp();
    void OnDeleteFile();
    void OnFullSize();
    void OnProperties();
    void OnAddFromExclude();
    // The dialogs behind Setup..., Groups... and Pending... (each in a file of its own).
    void OnSetup();
    void OnGroups();
    void OnPending();
    // A termination signal: stops a run as Stop does (the read marks and the history are saved),
    // then closes; closes at once when idle.
    void StopForSignal();

signals:
    // After the window has returned to idle at the end of a run.
    void RunFinished();

protected:
    // Starts the engine's thread; throws std::system_error when no thread can be made.
    virtual void StartEngine(CProcessGroups& engine, int priority);

    void reject() override;  // Escape: only when idle
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    QWidget* BuildButtonColumn();
    QWidget* BuildCumulativeStatus();
    QWidget* BuildCurrentArticle();
    QWidget* BuildThumbnail();
    QWidget* BuildPriority();
    void SetTabOrder();
    void Initialise();
    void UpdateTitle();
    void ReadShowThumbnail();
    void ApplyShowThumbnail();

    void SetRunning(bool running);
    void Apply(const StatusChange& change);
    void OnEngineFinished();
    void OnTimer();
    void OnPause(bool checked);
    void OnSet();
    void OnClose();
    void ShowContextMenu(QPoint globalPos, bool fromKeyboard);

    void LoadThumbnail(const StatusChange& picture);  // any thread
    void ClearThumbnail();
    void OnThumbnailLoaded(const QString& path, const QImage& image, QSize pictureSize,
                           const PictureOrigin& origin);

    ProfileStore& profile_;
    bool autoStart_;
    SharedState shared_;
    std::unique_ptr<ThumbnailLoader> loader_;
    std::unique_ptr<StatusRelay> relay_;
    std::unique_ptr<StatusModel> model_;
    WindowPrompt* prompt_;
    std::unique_ptr<CProcessGroups> engine_;  // last member: ends before what it reports to
    CFullSizeDlg* fullSize_ = nullptr;

    bool idle_ = true;
    bool userStopped_ = false;
    bool stoppedBySignal_ = false;
    bool showThumbnail_ = false;
    std::string slideShowProgram_;  // "" when there is none: the viewer instead
    std::time_t runStart_ = 0;
    QTimer elapsed_;
    int exitCode_ = 0;

    QPushButton *go_, *stop_, *groups_, *setup_, *close_, *help_, *show_, *fullSize_Button_,
        *deleteFile_, *set_, *pending_, *pause_, *catchUp_;
    QLabel *status_, *elapsedText_, *subject_, *savingTo_, *from_, *bytes_, *bytesPerSec_,
        *binaryPerSec_, *scanned_, *saved_, *historySkipped_, *otherSkipped_, *timeLeft_;
    QProgressBar *groupBar_, *articleBar_, *linesBar_, *scanBar_;
    QGroupBox *priorityBox_, *thumbnailBox_;
    ElidedTitleBox* pictureFrame_;
    PictureOrigin pictureOrigin_;  // of the picture shown
    QSlider* slider_;
    CPictureCtrl* picture_;
    QMenu* pictureMenu_;
};

}  // namespace qm

// quarrymoth: the window program. Opens the main window for the life of the process; "/AutoStart"
// anywhere in the command line starts a run at once and closes the program when it ends.

#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/AppPaths.h"
#include "app/ui/MainDlg.h"
#include "app/ui/TerminationSignals.h"
#include "settings/ProfileStore.h"
#include "util/TextFiles.h"

namespace {

const char kUsage[] =
    "Usage: quarrymoth [--profile FILE] [--datadir DIR] [/AutoStart]\n"
    "\n"
    "Opens the Quarrymoth window.\n"
    "\n"
    "  /AutoStart      press Go at once, and close when the run ends (unless Stop was pressed);\n"
    "                  the exit status is then 0 for \"Operation complete\", 1 otherwise\n"
    "  --profile FILE  use FILE as the profile instead of\n"
    "                  $XDG_CONFIG_HOME/quarrymoth/quarrymoth.ini\n"
    "  --datadir DIR   use DIR as the working directory (group lists, history, excludes)\n"
    "                  instead of $XDG_DATA_HOME/quarrymoth/\n";

const char kNoWindowSystem[] = "Window system initialization failed.";

bool windowSystemUp = false;

// Qt ends the process through a fatal message when it cannot open the display; say so plainly.
void MessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (type == QtFatalMsg && !windowSystemUp) {
        std::fprintf(stderr, "Quarrymoth: %s\n", kNoWindowSystem);
        _exit(1);
    }
}

struct Options {
    std::string profile;
    std::string dataDir;
    bool autoStart = false;
};

// 0: go on, 1: help shown, 2: usage error.
int ParseOptions(int argc, char** argv, Options& options) {
    std::string commandLine;
    for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
    options.autoStart = commandLine.find("/AutoStart") != std::string::npos;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if ((arg == "--profile" || arg == "--datadir") && i + 1 < argc) {
            (arg == "--profile" ? options.profile : options.dataDir) = qm::AbsolutePath(argv[++i]);
        } else if (arg == "--profile" || arg == "--datadir") {
            return 2;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    switch (ParseOptions(argc, argv, options)) {
        case 1:
            return 0;
        case 2:
            std::fputs(kUsage, stderr);
            return 2;
        default:
            break;
    }
    qInstallMessageHandler(MessageHandler);
    QApplication app(argc, argv);
    windowSystemUp = true;
    QApplication::setApplicationName(QStringLiteral("Quarrymoth"));
    QApplication::setDesktopFileName(QStringLiteral("quarrymoth"));
    // The drawn icon where the SVG support is installed; the pictures at fixed sizes otherwise.
    QIcon icon(QStringLiteral(":/icons/quarrymoth.svg"));
    for (int size : {16, 32, 64, 256}) {
        icon.addFile(QStringLiteral(":/icons/quarrymoth-%1.png").arg(size), QSize(size, size));
    }
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quarrymoth"), icon));

    const qm::AppFiles files = qm::ChooseAppFiles(options.profile, options.dataDir);
    const std::string& profilePath = files.profile;
    const std::string& dataDir = files.dataDir;
    qm::ProfileStore profile;
    if (!profile.Load(profilePath)) {
        std::fprintf(stderr, "Quarrymoth: cannot read the profile %s: %s\n", profilePath.c_str(),
                     std::strerror(errno));
    }
    if (!qm::EnterDataDirectory(dataDir)) {
        const QString text =
            QStringLiteral("Cannot use the working directory %1\n\n%2")
                .arg(QString::fromStdString(dataDir), QString::fromLocal8Bit(std::strerror(errno)));
        std::fprintf(stderr, "Quarrymoth: %s\n", text.toLocal8Bit().constData());
        QMessageBox::critical(nullptr, QStringLiteral("Quarrymoth"), text);
        return 1;
    }
    qm::CMainDlg window(profile, options.autoStart);
    qm::TerminationSignals termination;
    QObject::connect(&termination, &qm::TerminationSignals::Received, &window,
                     &qm::CMainDlg::StopForSignal);
    window.exec();
    return window.ExitCode();
}

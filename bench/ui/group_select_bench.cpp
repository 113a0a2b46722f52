// The group selection dialog with a real server's number of groups: Refresh lists 100,000 groups
// from the private INN instance into All Groups while a probe timer measures how late the
// dialog's event loop runs, then OK writes both list files. Prints the figures; with a file name
// it also saves a picture of the dialog after the retrieval.
//
//   group_select_bench [GROUPS] [SHOT.png]   (QT_QPA_PLATFORM=offscreen without a display)

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "groups/ui/GroupSelectDlg.h"
#include "settings/SettingsKeys.h"
#include "support/InnServer.h"
#include "support/TempDir.h"

namespace {

// The readers read the active file afresh for every LIST, so the groups need only be in it.
bool AddGroups(const qm::test::InnServer& server, int count) {
    std::ofstream active(server.stateDir() + "/db/active", std::ios::app);
    char line[96];
    for (int i = count - 1; i >= 0; --i) {  // backwards: the dialog has to sort
        std::snprintf(line, sizeof line,
                      "alt.binaries.pictures.bench.g%06d 0000000000 0000000001 y\n", i);
        active << line;
    }
    return static_cast<bool>(active.flush());
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int groups = argc > 1 ? std::atoi(argv[1]) : 100000;
    QApplication app(argc, argv);
    qm::test::InnServer server;
    if (!server.Start() || !AddGroups(server, groups)) {
        std::fprintf(stderr, "INN: %s\n", server.error().c_str());
        return 1;
    }
    qm::test::TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "p.ini");
    profile.WriteString(qm::kMainSection, "NNTPHost", "127.0.0.1");
    profile.WriteString(qm::kMainSection, "NNTPPort", std::to_string(server.port()));
    profile.WriteString(qm::kMainSection, "GroupIncl", "");

    qm::CGroupSelectDlg dialog(profile);
    dialog.show();
    QApplication::processEvents();

    // The probe: a 5 ms timer; how much later than due each tick comes.
    constexpr int kProbeMs = 5;
    std::vector<double> lateness;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        lateness.push_back(
            std::max(0.0, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - kProbeMs));
        sinceTick.restart();
    });

    QElapsedTimer fill;
    fill.start();
    sinceTick.start();
    probe.start();
    // The retrieval runs for as long as its Stop button can be pressed.
    auto* stop = dialog.findChild<QPushButton*>(QStringLiteral("stopButton"));
    QAbstractItemModel* all =
        dialog.findChild<QListView*>(QStringLiteral("allGroupsList"))->model();
    dialog.OnRefresh();
    while (stop->isEnabled()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double fillSeconds = static_cast<double>(fill.elapsed()) / 1000.0;
    probe.stop();
    std::printf("Refresh: %d groups into All Groups in %.2f s\n", all->rowCount(), fillSeconds);
    std::printf("event-loop lateness over %zu probes: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                lateness.size(), Percentile(lateness, 0.5), Percentile(lateness, 0.99),
                Percentile(lateness, 1.0));

    for (int i = 0; i < 200; ++i) {
        dialog.AddActiveGroup(all->index(i * 7, 0).data().toString().toStdString());
    }
    if (argc > 2) {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) QApplication::processEvents();
        dialog.grab().save(QString::fromLocal8Bit(argv[2]));
    }
    QElapsedTimer ok;
    ok.start();
    dialog.accept();
    std::printf("OK: both list files written in %.3f s (%s)\n",
                static_cast<double>(ok.elapsed()) / 1000.0,
                dialog.result() == QDialog::Accepted ? "closed" : "FAILED");
    return dialog.result() == QDialog::Accepted ? 0 : 1;
}

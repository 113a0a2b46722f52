// How fast the pending-articles dialog is with a big group: fills a pending list of N overview
// records (default 50,000), then times opening the dialog (until it has been shown and painted),
// sorting by each column and removing 1,000 selected articles, both scattered over the fetch
// order and in one block. Each figure is the best of a few tries and is printed in milliseconds.
//
//   pending_bench [--records N] [--tries N] [--screenshot PATH]
//
// --screenshot only shows the dialog as a user meets it (sorted by Subject, one article removed,
// three selected) and saves a PNG of the whole screen; use --records 300 or so for it. Runs on any
// display (Xvfb for a screenshot); without one it uses the offscreen platform.

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>

#include "app/ui/PendingDlg.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "support/NntpFixtures.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Subjects and senders as a busy picture group has them: series with part numbers, mixed case.
void FillPending(qm::SharedState& shared, int records) {
    shared.BeginRetrieval();
    const char* words[] = {"Sunset", "harbour", "ALPINE", "meadow", "Portrait", "city", "Lake"};
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int n = 1; n <= records; ++n) {
        const std::string subject = std::string(words[next() % 7]) + " " + words[next() % 7] +
                                    " (" + std::to_string(next() % 40 + 1) + "/40) img" +
                                    std::to_string(next()) + ".jpg";
        const std::string from = "poster" + std::to_string(next() % 500) + "@example.com";
        shared.AppendPending(qm::test::OverviewLine(100000 + n, subject, from,
                                                    "Mon, 7 Dec 2026 10:00:00 GMT",
                                                    next() * 40L + 1000, next() % 3000 + 50));
    }
}

QTableView* ListOf(qm::CPendingDlg& dialog) {
    return dialog.findChild<QTableView*>(QStringLiteral("pendingList"));
}

double Best(int tries, const std::function<double()>& measure) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < tries; ++i) best = std::min(best, measure());
    return best;
}

int Screenshot(qm::SharedState& shared, qm::ProfileStore& profile, const char* path) {
    shared.SetBinaryRate(48000);
    qm::CPendingDlg::RememberedSort() = {};
    qm::CPendingDlg dialog(shared, profile);
    dialog.show();
    dialog.SortBy(0);
    QTableView* list = ListOf(dialog);
    list->selectRow(1);
    dialog.RemoveSelected();
    list->selectionModel()->select(
        QItemSelection(list->model()->index(3, 0), list->model()->index(5, 3)),
        QItemSelectionModel::ClearAndSelect);
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!QApplication::primaryScreen()->grabWindow(0).save(QString::fromUtf8(path), "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", path);
        return 1;
    }
    std::printf("screenshot saved to %s\n", path);
    // The popup menu as the keyboard opens it, in a second picture beside the first.
    const QString menuShot = QString::fromUtf8(path).replace(QStringLiteral(".png"), "-menu.png");
    QTimer::singleShot(300, [&] {
        QApplication::primaryScreen()->grabWindow(0).save(menuShot, "PNG");
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    list->setFocus();
    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(0, 0),
                              list->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(list, &request);
    std::printf("screenshot saved to %s\n", qPrintable(menuShot));
    dialog.reject();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int records = 50000;
    int tries = 3;
    const char* screenshot = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--records") == 0) records = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--tries") == 0) tries = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--screenshot") == 0) screenshot = argv[i + 1];
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    qm::test::TempDir dir;
    dir.Enter();  // the dialog reads "FromExcludes" from the current directory
    qm::ProfileStore profile(dir / "quarrymoth.ini");
    qm::SharedState shared;
    FillPending(shared, records);
    if (screenshot != nullptr) return Screenshot(shared, profile, screenshot);
    std::printf("pending dialog with %d records (best of %d tries)\n", records, tries);

    qm::CPendingDlg::RememberedSort() = {};
    const double open = Best(tries, [&] {
        const auto start = Clock::now();
        qm::CPendingDlg dialog(shared, profile);
        dialog.show();
        QApplication::processEvents();
        const double ms = Milliseconds(start);
        dialog.reject();
        return ms;
    });
    std::printf("  open and show:                 %8.1f ms\n", open);

    const char* names[] = {"Subject", "From", "Lines", "Msg #"};
    for (int column = 0; column < 4; ++column) {
        const double sort = Best(tries, [&] {
            qm::CPendingDlg::RememberedSort() = {};
            qm::CPendingDlg dialog(shared, profile);
            dialog.show();
            QApplication::processEvents();
            const auto start = Clock::now();
            dialog.SortBy(column);
            QApplication::processEvents();
            const double ms = Milliseconds(start);
            dialog.reject();
            return ms;
        });
        std::printf("  sort by %-8s               %8.1f ms\n", names[column], sort);
    }

    qm::CPendingDlg::RememberedSort() = {0, true, true};
    const double reopen = Best(tries, [&] {
        const auto start = Clock::now();
        qm::CPendingDlg dialog(shared, profile);
        dialog.show();
        QApplication::processEvents();
        const double ms = Milliseconds(start);
        dialog.reject();
        return ms;
    });
    std::printf("  open sorted by Subject:        %8.1f ms\n", reopen);

    // 1,000 rows of the list sorted by Subject: scattered over the whole fetch order.
    for (bool scattered : {true, false}) {
        const double remove = Best(tries, [&] {
            qm::CPendingDlg::RememberedSort() = {scattered ? 0 : -1, true, true};
            qm::CPendingDlg dialog(shared, profile);
            dialog.show();
            QApplication::processEvents();
            QTableView* list = ListOf(dialog);
            QItemSelection selection;
            const int step = scattered ? std::max(1, records / 1000) : 1;
            const int first = scattered ? 0 : records / 2;
            for (int i = 0; i < 1000 && first + i * step < records; ++i) {
                const int row = first + i * step;
                selection.select(list->model()->index(row, 0), list->model()->index(row, 3));
            }
            list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
            QApplication::processEvents();
            const auto start = Clock::now();
            dialog.RemoveSelected();
            QApplication::processEvents();
            const double ms = Milliseconds(start);
            if (list->model()->rowCount() != records - std::min(records, 1000)) {
                std::fprintf(stderr, "remove left %d rows\n", list->model()->rowCount());
                std::exit(1);
            }
            dialog.reject();  // puts the records back for the next try
            return ms;
        });
        std::printf("  remove 1,000 %-18s %8.1f ms\n",
                    scattered ? "scattered:" : "in one block:", remove);
    }
    return 0;
}

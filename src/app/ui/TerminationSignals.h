#pragma once
// Turns SIGTERM, SIGINT and SIGHUP (a logout, a kill, Ctrl-C in the terminal) into a Qt signal on
// the window's thread, so the window can stop a run as Stop does before the process ends. A second
// signal while the first is being handled ends the process at once.

#include <QObject>

class QSocketNotifier;

namespace qm {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void Received();

private:
    void Read();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qm

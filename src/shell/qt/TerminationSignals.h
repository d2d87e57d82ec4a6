#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the window thread, so that the program ends
// through its ordinary close and releases the port instead of dying with it locked. A signal that
// the parent set to be ignored (nohup) stays ignored. One instance at a time; the previous
// dispositions come back when it is destroyed.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

private:
    void drain();

    std::function<void()> OnSignal;
    QSocketNotifier *Notifier = nullptr;
};

#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the thread that made this object, so
// that a logout or a service manager ends the program the way its own exit command does. The
// handler only writes the signal's number into a socket pair; a notifier reads it. One object
// at a time; destroying it puts the default handlers back.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void ReadSignal();

    QSocketNotifier* notifier_ = nullptr;
};

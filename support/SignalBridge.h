// Turns termination signals into a Qt signal on the thread that owns the bridge. The
// handler only writes the signal number into a pipe; a socket notifier on the pipe's read
// end emits Caught from the event loop, where any work is safe to do.
#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

class SignalBridge : public QObject {
    Q_OBJECT

public:
    explicit SignalBridge(QObject* parent = nullptr);
    // Puts the default handlers back and closes the pipe.
    ~SignalBridge() override;

    // Catches each of `signal_numbers`. One bridge per process. False when the pipe or a
    // handler cannot be set up.
    bool Install(std::initializer_list<int> signal_numbers);

signals:
    void Caught(int signal_number);

private:
    void ReadPipe();

    int read_fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<int> installed_;
};

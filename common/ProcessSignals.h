#pragma once

#include <QObject>

class QSocketNotifier;

// The process signals both programs answer. SIGTERM, SIGINT and SIGHUP (a
// logout, a service manager, Ctrl+C or a closed terminal) become
// quitRequested() on the UI thread, so that the program ends the way its own
// Quit does. SIGXFSZ is ignored: a write past the file-size limit then fails
// with an error that the user is told about, instead of killing the program.
// One object at a time; its end puts the previous handlers back.
class ProcessSignals : public QObject
{
    Q_OBJECT
public:
    explicit ProcessSignals(QObject *parent = nullptr);
    ~ProcessSignals() override;

signals:
    void quitRequested();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

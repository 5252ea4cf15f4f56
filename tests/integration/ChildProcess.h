#pragma once

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace zt::test {

// A program the test runs, with its standard output split into lines as
// they come (the Qt event loop must run for that, see waitUntil). Ended on
// destruction: SIGTERM to its process id, then SIGKILL if it lingers.
class ChildProcess : public QObject {
    Q_OBJECT
public:
    ChildProcess(QString name, const QString& program, const QStringList& arguments,
                 const QProcessEnvironment& environment);
    ~ChildProcess() override;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return started_; }
    bool running() const { return process_.state() == QProcess::Running; }
    qint64 pid() const { return pid_; }

    // One line to its standard input.
    void send(const QString& line);
    const QStringList& lines() const { return lines_; }
    // The first line from index `from` on that `matches`; waits for it.
    std::optional<QString> waitForLine(const std::function<bool(const QString&)>& matches, qsizetype from = 0,
                                       std::chrono::milliseconds limit = std::chrono::seconds(20));
    // What it wrote to standard error so far, and how it ended if it did:
    // for failure messages.
    QString diagnostics();

    void stop();

private:
    void readLines();

    QString name_;
    QProcess process_;
    bool started_ = false;
    qint64 pid_ = 0;
    QByteArray pending_;
    QStringList lines_;
    QByteArray errors_;
};

} // namespace zt::test

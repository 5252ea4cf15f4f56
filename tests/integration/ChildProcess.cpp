#include "integration/ChildProcess.h"

#include "integration/WaitUntil.h"

#include <sys/prctl.h>

#include <csignal>

#include <utility>

namespace zt::test {

ChildProcess::ChildProcess(QString name, const QString& program, const QStringList& arguments,
                           const QProcessEnvironment& environment)
    : name_(std::move(name))
{
    process_.setProcessEnvironment(environment);
    process_.setProgram(program);
    process_.setArguments(arguments);
    // Should the test itself be killed (a time limit, say), the programs it
    // started end with it instead of lingering on a display nobody watches.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    connect(&process_, &QProcess::readyReadStandardOutput, this, &ChildProcess::readLines);
    connect(&process_, &QProcess::readyReadStandardError, this,
            [this] { errors_.append(process_.readAllStandardError()); });
    process_.start();
    started_ = process_.waitForStarted(10000);
    pid_ = process_.processId();
}

ChildProcess::~ChildProcess() { stop(); }

void ChildProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ChildProcess::send(const QString& line)
{
    process_.write((line + QLatin1Char('\n')).toUtf8());
}

void ChildProcess::readLines()
{
    pending_.append(process_.readAllStandardOutput());
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        lines_ << QString::fromUtf8(pending_.left(end));
        pending_.remove(0, end + 1);
    }
}

std::optional<QString> ChildProcess::waitForLine(const std::function<bool(const QString&)>& matches, qsizetype from,
                                                 std::chrono::milliseconds limit)
{
    std::optional<QString> found;
    waitUntil(
        [&] {
            for (qsizetype i = from; i < lines_.size(); ++i) {
                if (matches(lines_[i])) {
                    found = lines_[i];
                    return true;
                }
            }
            return !running();
        },
        limit);
    return found;
}

QString ChildProcess::diagnostics()
{
    errors_.append(process_.readAllStandardError());
    QString text = name_ + QStringLiteral(" (pid %1)").arg(pid_);
    if (process_.state() == QProcess::NotRunning)
        text += QStringLiteral(" ended: %1 %2").arg(process_.exitStatus() == QProcess::CrashExit ? "signal" : "exit")
                    .arg(process_.exitCode());
    text += QStringLiteral("\nstdout:\n") + lines_.join(QLatin1Char('\n'));
    text += QStringLiteral("\nstderr:\n") + QString::fromLocal8Bit(errors_.right(8000));
    return text;
}

} // namespace zt::test

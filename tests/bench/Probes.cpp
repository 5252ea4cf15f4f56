#include "bench/Probes.h"

#include "bench/BenchRig.h"
#include "integration/WaitUntil.h"

#include <QDBusPendingCallWatcher>

#include <functional>

namespace zt::test {
namespace {

// More open calls of one kind than this, and the application is not
// answering: more would only pile up.
constexpr int mostOpen = 100;

// Opens a call of `kind`; the function returned closes it, with the name
// of the error it was answered with, if any.
std::function<void(const QString& error)> open(const std::shared_ptr<Probes::Kind>& kind)
{
    const std::size_t index = kind->calls.size();
    Probes::Call call;
    call.sent = Probes::Clock::now();
    kind->calls.push_back(call);
    ++kind->open;
    return [kind, index](const QString& error) {
        Probes::Call& call = kind->calls[index];
        call.wait = Probes::Clock::now() - call.sent;
        call.answered = true;
        call.error = error.toStdString();
        --kind->open;
    };
}

} // namespace

Probes::Probes(BenchRig& rig, std::chrono::milliseconds interval) : rig_(rig)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(interval);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (reads_->open < mostOpen)
            read();
        if (menus_->open < mostOpen)
            menu();
    });
}

bool Probes::settle(std::chrono::milliseconds limit)
{
    return waitUntil([&] { return openCalls() == 0; }, limit);
}

Probes::Span Probes::span(const Kind& kind, Clock::time_point from, Clock::time_point to)
{
    const Clock::time_point now = Clock::now();
    Span found;
    for (const Call& call : kind.calls) {
        if (call.sent >= from && call.sent < to) {
            const double wait =
                std::chrono::duration<double, std::milli>(call.answered ? call.wait : now - call.sent).count();
            found.waitsMs.push_back(wait);
            if (!call.error.empty()) {
                found.failedWaitsMs.push_back(wait);
                ++found.errors[call.error];
            }
        }
    }
    return found;
}

int Probes::failures() const
{
    int failed = 0;
    for (const Kind* kind : {reads_.get(), menus_.get()})
        for (const Call& call : kind->calls)
            failed += call.error.empty() ? 0 : 1;
    return failed;
}

void Probes::read()
{
    const auto close = open(reads_);
    if (!rig_.bluez().readValue(FakeBluez::requestOptions(), [close](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ErrorMessage)
                close(reply.errorName());
            else
                close(reply.signature() == QLatin1String("ay") ? QString() : QStringLiteral("(not bytes)"));
        }))
        close(QStringLiteral("(no characteristic to read)"));
}

void Probes::menu()
{
    const auto close = open(menus_);
    // Owned by the tray host: gone with it, answered or not.
    auto* watcher = new QDBusPendingCallWatcher(rig_.tray().connection().asyncCall(rig_.tray().menuCall()),
                                                &rig_.tray());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [close, watcher] {
        watcher->deleteLater();
        close(watcher->isError() ? watcher->error().name() : QString());
    });
}

} // namespace zt::test

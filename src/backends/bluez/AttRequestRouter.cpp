#include "backends/bluez/AttRequestRouter.h"

#include "backends/bluez/AttOptions.h"
#include "backends/bluez/BluezNames.h"
#include "backends/bluez/GattCharacteristic.h"

#include <QDBusContext>

#include <chrono>
#include <utility>
#include <vector>

namespace zt::bluez {
namespace {

// Longest the delegate has writes in one go before the bus has its turn
// again: bounds how much the bus can deliver meanwhile (a few hundred calls,
// far below libdbus's limit) and how long a read waits. Also the least time
// between two writes handed over within their calls.
constexpr std::chrono::milliseconds deliverySlice{5};

// The error names BlueZ turns back into the ATT error the central sees.
// Codes it has no name for become Failed (ATT 0x80 on the air).
const char* errorNameFor(ATTResult result)
{
    switch (static_cast<int>(result)) {
    case 0x02: // read not permitted
    case 0x03: // write not permitted
        return names::errorNotPermitted;
    case 0x06: // request not supported
        return names::errorNotSupported;
    case 0x07:
        return names::errorInvalidOffset;
    case 0x08: // insufficient authorization
        return names::errorNotAuthorized;
    case 0x0D:
        return names::errorInvalidValueLength;
    default:
        return names::errorFailed;
    }
}

QByteArray toByteArray(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

AttRequestRouter::AttRequestRouter(PeripheralManager& manager, PeripheralManagerDelegate& delegate,
                                   WriteTurn writeTurn)
    : manager_(manager), delegate_(delegate), writeTurn_(std::move(writeTurn)),
      memoryRelease_(std::chrono::seconds(1), 10000)
{
    // A timer, not a posted event: the calls the bus delivered meanwhile
    // come first.
    delivery_.setSingleShot(true);
    delivery_.setInterval(0);
    QObject::connect(&delivery_, &QTimer::timeout, &delivery_, [this] { deliverWrites(); });
}

ATTRequest AttRequestRouter::makeRequest(const GattCharacteristic& characteristic, const QVariantMap& options)
{
    ATTRequest request;
    request.id = nextId_++;
    request.central = centralFrom(options);
    request.characteristic = characteristic.uuid;
    request.offset = offsetFrom(options);
    return request;
}

QByteArray AttRequestRouter::read(const GattCharacteristic& characteristic, const QVariantMap& options,
                                  const QDBusContext& call)
{
    if (characteristic.value)
        return toByteArray(*characteristic.value);

    memoryRelease_.noteCall();
    ATTRequest request = makeRequest(characteristic, options);
    awaitAnswer(request.id, call, true);
    delegate_.didReceiveRead(manager_, request);
    failIfUnanswered(request.id);
    return {};
}

void AttRequestRouter::write(const GattCharacteristic& characteristic, const QByteArray& value,
                             const QVariantMap& options, const QDBusContext& call)
{
    memoryRelease_.noteCall();
    ATTRequest request = makeRequest(characteristic, options);
    request.value = Bytes(value.begin(), value.end());
    awaitAnswer(request.id, call, false);
    // A lone write spares the event loop a turn on its way to the pointer.
    // Counted from the end of the last one, which may have taken long (its
    // turn runs the moves that fell due): the calls behind it come first.
    if (writes_.empty() && !delivering_ && std::chrono::steady_clock::now() - lastAtOnce_ >= deliverySlice) {
        std::vector<ATTRequest> one;
        one.push_back(std::move(request));
        if (writeTurn_)
            writeTurn_([&] { deliver(one); });
        else
            deliver(one);
        lastAtOnce_ = std::chrono::steady_clock::now();
        return;
    }
    writes_.push_back(std::move(request));
    if (!delivery_.isActive())
        delivery_.start();
}

void AttRequestRouter::deliver(std::vector<ATTRequest>& one)
{
    delivering_ = true;
    delegate_.didReceiveWrite(manager_, one);
    delivering_ = false;
    failIfUnanswered(one.front().id);
}

void AttRequestRouter::deliverWrites()
{
    // What came in by now; later writes wait for the next turn, after the
    // bus has delivered what it read meanwhile.
    const auto start = std::chrono::steady_clock::now();
    // Memory is given back once the writes are spent, not just the bus quiet.
    memoryRelease_.noteCall();
    std::vector<ATTRequest> requests(1);
    for (std::size_t n = writes_.size(); n > 0 && !writes_.empty(); --n) {
        requests[0] = std::move(writes_.front());
        writes_.pop_front();
        deliver(requests);
        if (std::chrono::steady_clock::now() - start >= deliverySlice)
            break;
    }
    if (!writes_.empty())
        delivery_.start();
}

void AttRequestRouter::awaitAnswer(std::uint64_t id, const QDBusContext& call, bool read)
{
    // Qt must not answer on its own when the slot returns: the answer
    // comes from respond(), or is an error if none comes.
    call.setDelayedReply(true);
    if (call.message().isReplyRequired())
        waiting_.emplace(id, Waiting{call.message(), call.connection(), read});
}

void AttRequestRouter::failIfUnanswered(std::uint64_t id)
{
    // The daemon would otherwise hold the central until its own time-out.
    const auto found = waiting_.find(id);
    if (found == waiting_.end())
        return;
    const Waiting waiting = found->second;
    waiting_.erase(found);
    waiting.bus.send(waiting.call.createErrorReply(names::errorFailed, QStringLiteral("Request not answered")));
}

void AttRequestRouter::respond(const ATTRequest& request, ATTResult result)
{
    const auto found = waiting_.find(request.id);
    if (found == waiting_.end())
        return;
    const Waiting waiting = found->second;
    waiting_.erase(found);

    if (result != ATTResult::success) {
        waiting.bus.send(waiting.call.createErrorReply(QString::fromLatin1(errorNameFor(result)),
                                                       QStringLiteral("Request refused")));
    } else if (waiting.read) {
        // The whole value, whatever the offset: BlueZ passes on what we give.
        waiting.bus.send(waiting.call.createReply(toByteArray(request.value.value_or(Bytes{}))));
    } else {
        waiting.bus.send(waiting.call.createReply());
    }
}

} // namespace zt::bluez

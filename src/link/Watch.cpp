#include "link/Watch.h"

#include "messages/UpdateDecoder.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <string_view>
#include <utility>

namespace zt {
namespace {

constexpr std::string_view kServiceUUID = "613805b0-8dd4-4268-98ae-a6e72bf454ab";
constexpr std::string_view kCharacteristicUUID = "613805b1-8dd4-4268-98ae-a6e72bf454ab";
constexpr std::string_view kLocalName = "MyGATTServer";
constexpr std::string_view kReadAnswer = "Hello, Central!";

// 1 / 9.81 in single precision: gravity in m/s^2 becomes roughly a unit vector.
constexpr float kGravityScale = 0.1019368f;
constexpr std::chrono::duration<double> kActivityTimeout{1.0};
constexpr double kFrameSpacingSeconds = 0.01;
// A move that runs later than this after its due time only replays stale
// motion. Well above the lateness of a loop that keeps up.
constexpr MonoTime kLateMoveBound = std::chrono::milliseconds(50);
// A run of due moves yields to the rest of the event loop (the bus above
// all) once it has taken this long; the moves left run right after.
constexpr MonoTime kMoveRunSlice = std::chrono::milliseconds(2);

Uuid uuid(std::string_view text) { return Uuid::fromString(text).value(); }

// A supervising process reads these lines as they come, so each is flushed.
void printLine(std::string_view line) { std::cout << line << '\n' << std::flush; }

Vector3 toVector3(const Vec3& v) { return Vector3{v.x(), v.y(), v.z()}; }

// A NaN or infinity in the filter state would never decay and would freeze
// that axis for the rest of the process: such a component restarts from
// rest, the others run on.
Vector3 restartNonFinite(const Vector3& v)
{
    const auto finiteOrZero = [](float c) { return std::isfinite(c) ? c : 0.0f; };
    return Vector3{finiteOrZero(v.x), finiteOrZero(v.y), finiteOrZero(v.z)};
}

} // namespace

std::shared_ptr<Watch> Watch::create(Platform& platform)
{
    std::shared_ptr<Watch> watch(new Watch(platform));
    watch->peripheralManager_ = platform.makePeripheralManager(*watch);
    return watch;
}

Watch::Watch(Platform& platform)
    : platform_(platform),
      serviceUUID_(uuid(kServiceUUID)),
      characteristicUUID_(uuid(kCharacteristicUUID)),
      cursorController_(platform.pointerEvents())
{
}

Watch::~Watch()
{
    // The manager holds a reference to us as its delegate: let it go while
    // every other member is still intact.
    peripheralManager_.reset();
}

void Watch::peripheralManagerDidUpdateState(PeripheralManager& manager)
{
    if (manager.state() == ManagerState::poweredOn) {
        printLine("Bluetooth is powered on and ready to go!");
        setupGATTServer();
    } else {
        // Advertising and the service are left as they are; a later
        // powered-on report sets them up again.
        printLine("Bluetooth is not available");
    }
}

void Watch::setupGATTServer()
{
    CharacteristicDescription characteristic;
    characteristic.uuid = characteristicUUID_;
    characteristic.properties = propertyRead | propertyWriteWithoutResponse;
    characteristic.permissions = permissionReadable | permissionWriteable;

    ServiceDescription service;
    service.uuid = serviceUUID_;
    service.primary = true;
    service.characteristics = {characteristic};

    if (peripheralManager_)
        peripheralManager_->add(service);

    AdvertisementData advertisement;
    advertisement.localName = std::string(kLocalName);
    advertisement.serviceUUIDs = {serviceUUID_};
    if (peripheralManager_)
        peripheralManager_->startAdvertising(advertisement);
}

void Watch::didReceiveRead(PeripheralManager&, ATTRequest& request)
{
    printLine("Received read request for characteristic " + request.characteristic.toString());
    // The whole text for every read: it is shorter than any ATT payload, so
    // a central never needs a read at an offset.
    request.value = Bytes(kReadAnswer.begin(), kReadAnswer.end());
    if (peripheralManager_)
        peripheralManager_->respond(request, ATTResult::success);
}

void Watch::didReceiveWrite(PeripheralManager&, const std::vector<ATTRequest>& requests)
{
    // A subscriber of `connected` runs inside this loop; keep ourselves
    // alive even if it drops the last other reference.
    const std::shared_ptr<Watch> self = shared_from_this();

    for (const ATTRequest& request : requests) {
        // Tracked before any test, so a new central gets low latency even
        // when its first request is skipped.
        if (!central_ || *central_ != request.central) {
            if (peripheralManager_)
                peripheralManager_->setDesiredConnectionLatency(ConnectionLatency::low, request.central);
            central_ = request.central;
        }
        if (request.characteristic != characteristicUUID_)
            continue;
        if (!request.value)
            continue;

        // Undecodable bytes are acknowledged like any other write: the watch
        // writes without response and has nothing to retry with.
        if (const Update* update = messages::decodeUpdate(*request.value, decodeArena_))
            handleUpdate(*update);
        decodeArena_.Reset();

        if (peripheralManager_)
            peripheralManager_->respond(request, ATTResult::success);
        handleClientActivity();
    }
}

void Watch::handleClientActivity()
{
    connected = true;
    if (activityTimer_)
        activityTimer_->invalidate();
    // Weak: a pending timer must not keep the Watch alive.
    std::weak_ptr<Watch> weakSelf = weak_from_this();
    activityTimer_ = platform_.mainQueue().scheduledTimer(kActivityTimeout, [weakSelf] {
        if (const std::shared_ptr<Watch> watch = weakSelf.lock())
            watch->connected = false;
    });
}

Vector3 Watch::filterExp(const Vector3& newValue, const Vector3& oldValue, float alpha)
{
    return (1.0f - alpha) * newValue + alpha * oldValue;
}

void Watch::handleUpdate(const Update& update)
{
    if (update.has_mouseinfo()) {
        const ZimtorvaInfo& info = update.mouseinfo();
        cursorController_.sensitivity = static_cast<double>(info.sensitivity());
        // Smoothing 0 gives exp(-inf) = 0: no smoothing at all.
        alpha_ = std::exp(-1.0f / (info.smoothing() * 50.0f));
        const int cursorActive = static_cast<int>(info.cursoractive());
        if (cursorActive != ZimtorvaInfo::NONE)
            active = cursorActive == ZimtorvaInfo::ACTIVE;
        mouseInfo_ = info;
    }

    if (!active)
        return;

    if (update.gestures_size() > 0 && static_cast<int>(update.gestures(0).type()) == PINCH_TAP)
        cursorController_.simulateLeftClick();

    const float verticalSign = mouseInfo_.crownleft() == mouseInfo_.lefthanded() ? 1.0f : -1.0f;

    MainQueue& queue = platform_.mainQueue();
    for (int i = 0; i < update.sensorframes_size(); ++i) {
        const SensorFrame& frame = update.sensorframes(i);
        const Vector3 g = kGravityScale * toVector3(frame.grav());
        const Vector3 rate = toVector3(frame.gyro());

        const Vector3 w = filterExp(rate, gyroState_, alpha_);
        gyroState_ = restartNonFinite(w);

        const float dx = (-w.z * g.z) - (g.y * w.y);
        const float dy = ((w.z * g.y) - (g.z * w.y)) * verticalSign;

        const auto delay = std::chrono::round<MonoTime>(
            std::chrono::duration<double>(static_cast<double>(i) * kFrameSpacingSeconds));
        moves_.add(static_cast<std::size_t>(i), {queue.now() + delay, dx, dy});
    }
    if (!moves_.empty())
        runAt(moves_.next().due);
}

// The moves wait in the schedule rather than as one main-queue item each: a
// burst of writes then costs the loop little per frame, and every move due
// at one instant runs in one go.
void Watch::runAt(MonoTime deadline)
{
    if (!runs_.empty() && runs_.back() <= deadline)
        return;
    runs_.push_back(deadline);
    platform_.mainQueue().asyncAfter(deadline, [self = shared_from_this()] { self->runDueMoves(); });
}

void Watch::runDueMoves()
{
    // The main queue runs the earliest deadline first: this run is the last one noted.
    if (!runs_.empty())
        runs_.pop_back();
    MainQueue& queue = platform_.mainQueue();
    const MonoTime start = queue.now();
    MonoTime now = start;
    while (!moves_.empty() && moves_.next().due <= now) {
        // Only posting an event takes time worth reading the clock again for.
        if (runMove(moves_.take(), now))
            now = queue.now();
        if (now - start >= kMoveRunSlice)
            break;
    }
    // The late moves of this run, as one event.
    cursorController_.postMergedMoves();
    if (!moves_.empty())
        runAt(moves_.next().due);
}

bool Watch::runMove(const MoveSchedule::Move& move, MonoTime now)
{
    // On time, each move is its own event. When the loop has fallen behind
    // (a burst of writes, a slow pointer), the late moves add up to one
    // event instead: the pointer ends where they would have put it, at
    // once, rather than replaying old motion for as long as the backlog
    // lasts. A click always goes out on its own move, in order.
    const auto dx = static_cast<double>(move.dx);
    const auto dy = static_cast<double>(move.dy);
    if (now - move.due <= kLateMoveBound || cursorController_.clickDue()) {
        cursorController_.moveCursorBy(dx, dy);
        return true;
    }
    cursorController_.mergeMoveBy(dx, dy);
    return false;
}

} // namespace zt

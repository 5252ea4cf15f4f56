#pragma once

#include "link/CursorController.h"
#include "link/MoveSchedule.h"
#include "link/Vector3.h"
#include "link/platform/Platform.h"
#include "link/platform/Published.h"
#include "link/platform/Uuid.h"

#include "watch_output.pb.h"

#include <google/protobuf/arena.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace zt {

// The computer's end of the watch link: a GATT peripheral with one service
// and one characteristic. Each write carries one Update, which is turned
// into pointer moves and clicks through the CursorController.
//
// Lives in a shared_ptr (see create()): every pending pointer move keeps the
// Watch alive until it has run, while the activity timer only refers to it
// weakly. Main thread only.
class Watch : public PeripheralManagerDelegate, public std::enable_shared_from_this<Watch> {
public:
    // The peripheral manager is created last, once the Watch is whole; the
    // adapter state arrives later through peripheralManagerDidUpdateState().
    static std::shared_ptr<Watch> create(Platform& platform);
    ~Watch() override;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // True from an accepted write until 1.0 s passes without another one.
    Published<bool> connected{false};
    // The watch's last reported cursor state; gates clicks and motion.
    Published<bool> active{true};

    CursorController& cursorController() { return cursorController_; }
    PeripheralManager* peripheralManager() const { return peripheralManager_.get(); }

    void peripheralManagerDidUpdateState(PeripheralManager& manager) override;
    void setupGATTServer();
    void didReceiveRead(PeripheralManager& manager, ATTRequest& request) override;
    void didReceiveWrite(PeripheralManager& manager, const std::vector<ATTRequest>& requests) override;

    // Applies the settings of one decoded Update and schedules one pointer
    // move per sensor frame, 10 ms apart; returns before any move runs.
    // Moves that run more than 50 ms after their due time are merged (see
    // runDueMoves()).
    void handleUpdate(const Update& update);

private:
    explicit Watch(Platform& platform);

    void handleClientActivity();
    static Vector3 filterExp(const Vector3& newValue, const Vector3& oldValue, float alpha);
    void runAt(MonoTime deadline);
    void runDueMoves();
    // True when it posted an event (the clock has moved on); false when merged.
    bool runMove(const MoveSchedule::Move& move, MonoTime now);

    Platform& platform_;
    std::unique_ptr<PeripheralManager> peripheralManager_;
    const Uuid serviceUUID_;
    const Uuid characteristicUUID_;
    std::shared_ptr<Timer> activityTimer_;
    CursorController cursorController_;
    float alpha_ = 0;
    Vector3 gyroState_;
    ZimtorvaInfo mouseInfo_;
    std::optional<Central> central_;
    // Each write is decoded here and dropped once handled; the first block
    // is kept, so a write of a usual size allocates nothing to decode.
    alignas(std::max_align_t) char decodeBlock_[16 * 1024];
    google::protobuf::Arena decodeArena_{decodeBlock_, sizeof decodeBlock_};
    // Each run handed to the main queue keeps the Watch alive, and one is
    // always waiting while a move is.
    MoveSchedule moves_;
    // Deadlines of the runs handed over and not yet run, latest first.
    std::vector<MonoTime> runs_;
};

} // namespace zt

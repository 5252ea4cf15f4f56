#pragma once

#include "link/platform/PeripheralManager.h"

#include <optional>
#include <vector>

namespace zt::test {

// Records what the manager reports and answers the way the link does: on
// every powered-on report it adds the service and starts advertising, and
// it answers each request from within the callback.
class RecordingDelegate : public PeripheralManagerDelegate {
public:
    static ServiceDescription service();
    static AdvertisementData advertisement();
    static Uuid characteristicUuid();

    void peripheralManagerDidUpdateState(PeripheralManager& manager) override;
    void didReceiveRead(PeripheralManager& manager, ATTRequest& request) override;
    void didReceiveWrite(PeripheralManager& manager, const std::vector<ATTRequest>& requests) override;

    bool setUpWhenPoweredOn = true;
    // The answer to reads: nothing leaves them unanswered.
    std::optional<ATTResult> readResult = ATTResult::success;
    std::optional<Bytes> readValue = Bytes{'H', 'e', 'l', 'l', 'o', ',', ' ', 'C', 'e', 'n', 't', 'r', 'a', 'l', '!'};

    std::vector<ManagerState> states;
    std::vector<ATTRequest> reads;
    std::vector<std::vector<ATTRequest>> writes;
    // A callback arrived while we were inside a call into the manager.
    bool reentered = false;

private:
    void enter();
    bool inside_ = false;
};

} // namespace zt::test

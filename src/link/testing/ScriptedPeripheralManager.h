#pragma once

#include "link/platform/PeripheralManager.h"

#include <functional>
#include <vector>

namespace zt::testing {

// A peripheral manager driven by the test: it records every call the
// delegate makes into it, and deliver*() hands the delegate a callback the
// way the platform would (state first, with state() already updated).
class ScriptedPeripheralManager : public PeripheralManager {
public:
    enum class Call { add, startAdvertising, respond, setDesiredConnectionLatency };
    struct Response {
        ATTRequest request;
        ATTResult result;
    };
    struct LatencyRequest {
        ConnectionLatency latency;
        Central central;
    };

    explicit ScriptedPeripheralManager(PeripheralManagerDelegate& delegate,
                                       ManagerState initial = ManagerState::unknown);
    ~ScriptedPeripheralManager() override;

    ManagerState state() const override { return state_; }
    void add(const ServiceDescription& service) override;
    void startAdvertising(const AdvertisementData& advertisement) override;
    void respond(const ATTRequest& request, ATTResult result) override;
    void setDesiredConnectionLatency(ConnectionLatency latency, const Central& central) override;

    void deliverState(ManagerState state);
    // Returns the request as the delegate left it (its value set for a read).
    ATTRequest deliverRead(ATTRequest request);
    void deliverWrite(const std::vector<ATTRequest>& requests);

    // Forgets what was recorded so far (long-running benchmarks, fuzzing).
    void clearRecords();

    std::vector<Call> calls; // every recorded call, in order
    std::vector<ServiceDescription> addedServices;
    std::vector<AdvertisementData> advertisements;
    std::vector<Response> responses;
    std::vector<LatencyRequest> latencyRequests;

    // Runs when the manager is destroyed (its owner let it go).
    std::function<void()> onDestroyed;

private:
    PeripheralManagerDelegate& delegate_;
    ManagerState state_;
};

} // namespace zt::testing

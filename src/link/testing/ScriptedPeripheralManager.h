#pragma once

#include "link/platform/PeripheralManager.h"

#include <string>
#include <vector>

namespace zt::testing {

// A peripheral manager driven by the test: it logs every call the delegate
// makes into it, and deliver*() hands the delegate a callback the way the
// platform would (state first, with state() already updated).
class ScriptedPeripheralManager : public PeripheralManager {
public:
    struct Response {
        ATTRequest request;
        ATTResult result;
    };

    explicit ScriptedPeripheralManager(PeripheralManagerDelegate& delegate) : delegate_(delegate) {}

    ManagerState state() const override { return state_; }
    void add(const ServiceDescription& service) override;
    void startAdvertising(const AdvertisementData& advertisement) override;
    void respond(const ATTRequest& request, ATTResult result) override;
    void setDesiredConnectionLatency(ConnectionLatency latency, const Central& central) override;

    void deliverState(ManagerState state);
    // Returns the request as the delegate left it (its value set for a read).
    ATTRequest deliverRead(ATTRequest request);
    void deliverWrite(const std::vector<ATTRequest>& requests) { delegate_.didReceiveWrite(*this, requests); }

    // Every call in order: "add", "startAdvertising", "respond <id> success"
    // (or "error <code>"), "latency <low|code> <central>".
    std::vector<std::string> log;
    std::vector<ServiceDescription> addedServices;
    std::vector<AdvertisementData> advertisements;
    std::vector<Response> responses;

private:
    PeripheralManagerDelegate& delegate_;
    ManagerState state_ = ManagerState::unknown;
};

} // namespace zt::testing

#include "link/testing/ScriptedPeripheralManager.h"

namespace zt::testing {

void ScriptedPeripheralManager::add(const ServiceDescription& service)
{
    log.push_back("add");
    addedServices.push_back(service);
}

void ScriptedPeripheralManager::startAdvertising(const AdvertisementData& advertisement)
{
    log.push_back("startAdvertising");
    advertisements.push_back(advertisement);
}

void ScriptedPeripheralManager::respond(const ATTRequest& request, ATTResult result)
{
    const bool success = result == ATTResult::success;
    log.push_back("respond " + std::to_string(request.id) +
                  (success ? " success" : " error " + std::to_string(static_cast<int>(result))));
    responses.push_back(Response{request, result});
}

void ScriptedPeripheralManager::setDesiredConnectionLatency(ConnectionLatency latency, const Central& central)
{
    const bool low = latency == ConnectionLatency::low;
    log.push_back("latency " + (low ? "low" : std::to_string(static_cast<int>(latency))) + " " + central.identifier);
}

void ScriptedPeripheralManager::deliverState(ManagerState state)
{
    state_ = state;
    delegate_.peripheralManagerDidUpdateState(*this);
}

ATTRequest ScriptedPeripheralManager::deliverRead(ATTRequest request)
{
    delegate_.didReceiveRead(*this, request);
    return request;
}

} // namespace zt::testing

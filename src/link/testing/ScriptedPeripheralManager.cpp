#include "link/testing/ScriptedPeripheralManager.h"

#include <utility>

namespace zt::testing {

ScriptedPeripheralManager::ScriptedPeripheralManager(PeripheralManagerDelegate& delegate, ManagerState initial)
    : delegate_(delegate), state_(initial)
{
}

ScriptedPeripheralManager::~ScriptedPeripheralManager()
{
    if (onDestroyed)
        onDestroyed();
}

void ScriptedPeripheralManager::add(const ServiceDescription& service)
{
    calls.push_back(Call::add);
    addedServices.push_back(service);
}

void ScriptedPeripheralManager::startAdvertising(const AdvertisementData& advertisement)
{
    calls.push_back(Call::startAdvertising);
    advertisements.push_back(advertisement);
}

void ScriptedPeripheralManager::respond(const ATTRequest& request, ATTResult result)
{
    calls.push_back(Call::respond);
    responses.push_back(Response{request, result});
}

void ScriptedPeripheralManager::setDesiredConnectionLatency(ConnectionLatency latency, const Central& central)
{
    calls.push_back(Call::setDesiredConnectionLatency);
    latencyRequests.push_back(LatencyRequest{latency, central});
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

void ScriptedPeripheralManager::deliverWrite(const std::vector<ATTRequest>& requests)
{
    delegate_.didReceiveWrite(*this, requests);
}

void ScriptedPeripheralManager::clearRecords()
{
    calls.clear();
    addedServices.clear();
    advertisements.clear();
    responses.clear();
    latencyRequests.clear();
}

} // namespace zt::testing

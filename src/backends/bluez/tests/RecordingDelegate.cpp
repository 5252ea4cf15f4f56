#include "RecordingDelegate.h"

namespace zt::test {

ServiceDescription RecordingDelegate::service()
{
    CharacteristicDescription characteristic;
    characteristic.uuid = characteristicUuid();
    characteristic.properties = propertyRead | propertyWriteWithoutResponse;
    characteristic.permissions = permissionReadable | permissionWriteable;
    ServiceDescription service;
    service.uuid = *Uuid::fromString("613805B0-8DD4-4268-98AE-A6E72BF454AB");
    service.primary = true;
    service.characteristics = {characteristic};
    return service;
}

AdvertisementData RecordingDelegate::advertisement()
{
    return AdvertisementData{"MyGATTServer", {service().uuid}};
}

Uuid RecordingDelegate::characteristicUuid() { return *Uuid::fromString("613805B1-8DD4-4268-98AE-A6E72BF454AB"); }

void RecordingDelegate::enter()
{
    if (inside_)
        reentered = true;
}

void RecordingDelegate::peripheralManagerDidUpdateState(PeripheralManager& manager)
{
    enter();
    states.push_back(manager.state());
    if (manager.state() == ManagerState::poweredOn && setUpWhenPoweredOn) {
        inside_ = true;
        manager.add(service());
        manager.startAdvertising(advertisement());
        inside_ = false;
    }
}

void RecordingDelegate::didReceiveRead(PeripheralManager& manager, ATTRequest& request)
{
    enter();
    reads.push_back(request);
    if (!readResult)
        return;
    request.value = readValue;
    inside_ = true;
    manager.respond(request, *readResult);
    inside_ = false;
}

void RecordingDelegate::didReceiveWrite(PeripheralManager& manager, const std::vector<ATTRequest>& requests)
{
    enter();
    writes.push_back(requests);
    inside_ = true;
    for (const ATTRequest& request : requests)
        manager.respond(request, ATTResult::success);
    inside_ = false;
}

} // namespace zt::test

#pragma once

#include "link/platform/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zt {

using Bytes = std::vector<std::uint8_t>;

// The remote device that sent a request. Two requests come from the same
// central exactly when their identifiers are equal.
struct Central {
    std::string identifier;
    friend bool operator==(const Central&, const Central&) = default;
};

enum class ManagerState { unknown, resetting, unsupported, unauthorized, poweredOff, poweredOn };

enum class ATTResult { success = 0, readNotPermitted = 2, writeNotPermitted = 3, unlikelyError = 14 };

enum class ConnectionLatency { low = 0, medium = 1, high = 2 };

// Bit values match the ones the watch side documents for its peer.
enum CharacteristicProperty : std::uint32_t {
    propertyRead = 0x02,
    propertyWriteWithoutResponse = 0x04,
};

enum AttributePermission : std::uint32_t {
    permissionReadable = 0x01,
    permissionWriteable = 0x02,
};

struct CharacteristicDescription {
    Uuid uuid;
    std::uint32_t properties = 0;
    std::optional<Bytes> value; // absent: reads go to the delegate
    std::uint32_t permissions = 0;
};

struct ServiceDescription {
    Uuid uuid;
    bool primary = true;
    std::vector<CharacteristicDescription> characteristics;
};

struct AdvertisementData {
    std::string localName;
    std::vector<Uuid> serviceUUIDs;
};

// One read or write request. `value` absent is not the same as empty.
// `id` lets the manager pair a response with the request it answers.
struct ATTRequest {
    std::uint64_t id = 0;
    Central central;
    Uuid characteristic;
    std::optional<Bytes> value;
    std::size_t offset = 0;
};

class PeripheralManager;

// Callbacks arrive on the main thread, never from inside the manager's
// constructor or from inside a call the delegate made into the manager.
class PeripheralManagerDelegate {
public:
    virtual ~PeripheralManagerDelegate() = default;
    virtual void peripheralManagerDidUpdateState(PeripheralManager& manager) = 0;
    // The delegate sets `request.value` and answers with respond().
    virtual void didReceiveRead(PeripheralManager& manager, ATTRequest& request) = 0;
    virtual void didReceiveWrite(PeripheralManager& manager, const std::vector<ATTRequest>& requests) = 0;
};

class PeripheralManager {
public:
    virtual ~PeripheralManager() = default;
    virtual ManagerState state() const = 0;
    virtual void add(const ServiceDescription& service) = 0;
    virtual void startAdvertising(const AdvertisementData& advertisement) = 0;
    // For a read, the request carries the value the delegate set.
    virtual void respond(const ATTRequest& request, ATTResult result) = 0;
    virtual void setDesiredConnectionLatency(ConnectionLatency latency, const Central& central) = 0;
};

} // namespace zt

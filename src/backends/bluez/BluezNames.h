#pragma once

namespace zt::bluez::names {

inline constexpr char service[] = "org.bluez";

inline constexpr char adapter[] = "org.bluez.Adapter1";
inline constexpr char gattManager[] = "org.bluez.GattManager1";
inline constexpr char advertisingManager[] = "org.bluez.LEAdvertisingManager1";
inline constexpr char gattService[] = "org.bluez.GattService1";
inline constexpr char gattCharacteristic[] = "org.bluez.GattCharacteristic1";
inline constexpr char advertisement[] = "org.bluez.LEAdvertisement1";

inline constexpr char objectManager[] = "org.freedesktop.DBus.ObjectManager";
inline constexpr char properties[] = "org.freedesktop.DBus.Properties";

inline constexpr char errorFailed[] = "org.bluez.Error.Failed";
inline constexpr char errorAlreadyExists[] = "org.bluez.Error.AlreadyExists";
inline constexpr char errorInvalidArguments[] = "org.bluez.Error.InvalidArguments";
inline constexpr char errorNotAuthorized[] = "org.bluez.Error.NotAuthorized";
inline constexpr char errorNotPermitted[] = "org.bluez.Error.NotPermitted";
inline constexpr char errorNotSupported[] = "org.bluez.Error.NotSupported";
inline constexpr char errorInvalidOffset[] = "org.bluez.Error.InvalidOffset";
inline constexpr char errorInvalidValueLength[] = "org.bluez.Error.InvalidValueLength";

} // namespace zt::bluez::names

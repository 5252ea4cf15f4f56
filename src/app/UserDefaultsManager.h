#pragma once

#include <string>

namespace zt {

// The pointer-sensitivity setting and the notification that announces a
// change of it. Nothing in the application posts that notification itself.
class UserDefaultsManager {
public:
    static inline const std::string userDefaultsDidChangeNotification{"UserDefaultsDidChangeNotification"};

    static UserDefaultsManager& shared();

    // The "sensitivity" setting; 0.0 when absent or not a number.
    double sensitivity() const { return getSensitivity(); }

private:
    UserDefaultsManager() = default;
    double getSensitivity() const;
    // Stores the value and announces it. Unused for now: the watch's own
    // settings are the only writer of the pointer sensitivity.
    void setSensitivity(double value);
};

} // namespace zt

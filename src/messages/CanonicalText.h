#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zt::messages {

// Canonical decomposition (NFD) of UTF-8 text: two texts are canonically
// equivalent exactly when their decompositions are equal. Nothing when the
// bytes are not valid UTF-8 (possible only for values set in code; decoding
// rejects such strings).
std::optional<std::string> canonicalDecomposition(std::string_view text);

// Canonical equivalence for valid UTF-8; byte identity otherwise.
bool canonicallyEquivalent(std::string_view a, std::string_view b);

} // namespace zt::messages

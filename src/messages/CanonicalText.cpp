#include "messages/CanonicalText.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace zt::messages {
namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::optional<std::string> canonicalDecomposition(std::string_view text)
{
    // ASCII is its own decomposition: nearly every string the watch sends
    // skips the library.
    if (isAscii(text))
        return std::string(text);

    utf8proc_uint8_t* mapped = nullptr;
    // An explicit length (no NULLTERM) keeps embedded NUL characters.
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    if (length < 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

bool canonicallyEquivalent(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    const auto da = canonicalDecomposition(a);
    const auto db = canonicalDecomposition(b);
    // Invalid UTF-8 only equals the very same bytes, already ruled out above.
    if (!da || !db)
        return false;
    return *da == *db;
}

} // namespace zt::messages

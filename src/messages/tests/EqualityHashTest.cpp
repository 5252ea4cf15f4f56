#include "TestSupport.h"

#include "messages/MessageEquality.h"
#include "messages/MessageHash.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace zt::messages::test {
namespace {

using Pair = std::tuple<std::string, std::string, std::string>; // type, hex a, hex b
using Sample = std::pair<std::string, std::string>; // type, hex

void expectPair(const Pair& pair, bool equal)
{
    const auto& [type, hexA, hexB] = pair;
    const auto a = decoded(type, hexA);
    const auto b = decoded(type, hexB);
    EXPECT_EQ(equals(*a, *b), equal);
    EXPECT_EQ(equals(*b, *a), equal);
    EXPECT_EQ(hashValue(*a) == hashValue(*b), equal);
}

class EqualPair : public testing::TestWithParam<Pair> {};
TEST_P(EqualPair, AreEqualBothWaysAndHashAlike) { expectPair(GetParam(), true); }

class UnequalPair : public testing::TestWithParam<Pair> {};
TEST_P(UnequalPair, AreUnequalBothWaysAndHashApart) { expectPair(GetParam(), false); }

// -0.0 equals +0.0 and an absent default, though encoded apart.
INSTANTIATE_TEST_SUITE_P(FloatZeros, EqualPair, testing::Values(
    Pair{"Vec3", "1D 00 00 00 80", ""},
    Pair{"SensorFrame", "0A 05 0D 00 00 00 80", "0A 05 0D 00 00 00 00"},
    Pair{"ProbabilityEntry", "08 01 15 00 00 00 80", "08 01"},
    Pair{"HapticEvent", "15 00 00 00 80", ""},
    Pair{"ZimtorvaInfo", "0D 00 00 00 80", ""},
    Pair{"Update", "85 01 00 00 00 80", ""}));

// Different encodings of one value.
INSTANTIATE_TEST_SUITE_P(SameValue, EqualPair, testing::Values(
    Pair{"TouchEvent", "28 02 08 01", "08 01 28 02"},
    Pair{"Model", "08 01 0A 01 02", "0A 02 01 02"},
    Pair{"Info", "50 02", "50 01"},
    Pair{"SensorFrame", "0A 05 0D 00 00 80 3F 0A 05 15 00 00 00 40", "0A 0A 0D 00 00 80 3F 15 00 00 00 40"},
    Pair{"Update", "0A 02 28 05 12 02 08 01 8A 01 02 20 01", "0A 02 28 05 12 02 08 01 8A 01 02 20 01"}));

// Strings compare by canonical equivalence, not bytes.
INSTANTIATE_TEST_SUITE_P(CanonicallyEquivalentText, EqualPair, testing::Values(
    Pair{"Info", "12 02 C3 A9", "12 03 65 CC 81"}, // é precomposed, e + combining acute
    Pair{"ClientInfo", "1A 03 E2 84 AA", "1A 01 4B"}, // Kelvin sign, K
    Pair{"ClientInfo", "22 05 61 CC 81 CC A3", "22 05 61 CC A3 CC 81"}, // combining marks reordered
    Pair{"ClientInfo", "0A 03 EA B0 80", "0A 06 E1 84 80 E1 85 A1"}, // Hangul syllable, jamo
    Pair{"Info", "3A 03 00 C3 A9", "3A 04 00 65 CC 81"})); // behind an embedded NUL

INSTANTIATE_TEST_SUITE_P(Presence, UnequalPair, testing::Values(
    Pair{"SensorFrame", "0A 00", ""},
    Pair{"Info", "2A 00", ""},
    Pair{"InputUpdate", "0A 00", ""},
    Pair{"InputUpdate", "12 00", ""},
    Pair{"InputUpdate", "1A 00", ""},
    Pair{"Update", "8A 01 00", ""}));

INSTANTIATE_TEST_SUITE_P(UnknownFields, UnequalPair, testing::Values(
    Pair{"SensorFrame", "40 01", ""},
    Pair{"SensorFrame", "40 01", "40 02"},
    Pair{"ClientInfo", "0A 01 61 4A 01 78", "0A 01 61"},
    Pair{"Info", "60 01", ""},
    Pair{"ZimtorvaInfo", "30 01", ""},
    Pair{"Update", "0A 02 40 01", "0A 00"}));

INSTANTIATE_TEST_SUITE_P(Values, UnequalPair, testing::Values(
    Pair{"Gesture", "08 07", "08 04"},
    Pair{"Model", "0A 02 01 02", "0A 02 02 01"},
    Pair{"Model", "0A 01 01", "0A 02 01 01"},
    Pair{"Vec3", "0D 00 00 80 3F", "15 00 00 80 3F"},
    Pair{"Update", "0A 00", "12 00"}));

INSTANTIATE_TEST_SUITE_P(DifferentText, UnequalPair, testing::Values(
    Pair{"Info", "12 02 C3 A9", "12 01 65"}, // é, e
    Pair{"Info", "12 03 65 CC 81", "12 01 65"}, // e + acute, e
    Pair{"ClientInfo", "0A 03 EF AC 81", "0A 02 66 69"}, // ligature fi: only compatibility-equivalent
    Pair{"ClientInfo", "0A 01 61", "0A 01 41"},
    Pair{"ClientInfo", "0A 01 61", "12 01 61"},
    Pair{"Info", "3A 03 00 C3 A9", "3A 03 00 C3 A8"}));

// A NaN makes every value holding it unequal to a copy of itself, and to itself.
class HoldingNaN : public testing::TestWithParam<Sample> {};

TEST_P(HoldingNaN, IsUnequalToTheSameBytesAndToItself)
{
    const auto a = decoded(GetParam().first, GetParam().second);
    const auto b = decoded(GetParam().first, GetParam().second);
    EXPECT_FALSE(equals(*a, *b));
    EXPECT_FALSE(equals(*a, *a));
}

INSTANTIATE_TEST_SUITE_P(Values, HoldingNaN, testing::Values(
    Sample{"Vec3", "0D 00 00 C0 7F"},
    Sample{"ProbabilityEntry", "15 00 00 C0 7F"},
    Sample{"HapticEvent", "15 01 00 C0 7F"},
    Sample{"Info", "5A 05 0D 00 00 C0 7F"},
    Sample{"SensorFrame", "0A 05 0D 00 00 C0 7F"},
    Sample{"Update", "85 01 00 00 C0 FF"}));

// Zero bytes decode to the default: it encodes to nothing and equals only its own type's.
TEST(Equality, DefaultsEqualOnlyTheirOwnType)
{
    for (const std::string& first : allMessageTypeNames()) {
        const auto decodedDefault = decoded(first, "");
        EXPECT_EQ(encodedHex(*decodedDefault), "") << first;
        EXPECT_EQ(hashValue(*decodedDefault), hashValue(*newMessage(first))) << first;
        for (const std::string& second : allMessageTypeNames())
            EXPECT_EQ(equals(*decodedDefault, *newMessage(second)), first == second) << first << " vs " << second;
    }
    // Same bytes, same field layout, different types.
    EXPECT_FALSE(equals(*decoded("Vec3", "0D 00 00 80 3F"), *decoded("Quat", "0D 00 00 80 3F")));
}

// Only a value built in code can hold such text; it must still compare soundly.
TEST(Equality, TextThatIsNotUtf8ComparesByBytes)
{
    ClientInfo a;
    a.set_appname("\xFF\x41");
    ClientInfo b = a;
    EXPECT_TRUE(equals(a, b));
    EXPECT_EQ(hashValue(a), hashValue(b));
    b.set_appname("\xFF\x42");
    EXPECT_FALSE(equals(a, b));
}

TEST(ValueSemantics, ChangingACopyLeavesTheOriginal)
{
    const auto decodedUpdate = decoded("Update", "0A 07 0A 05 0D 00 00 80 3F 8A 01 05 0D 00 00 00 40");
    const auto& update = static_cast<const Update&>(*decodedUpdate);
    Update changed = update;
    changed.mutable_sensorframes(0)->clear_gyro();
    changed.mutable_mouseinfo()->set_sensitivity(3.0f);
    EXPECT_EQ(encodedHex(update), "0A 07 0A 05 0D 00 00 80 3F 8A 01 05 0D 00 00 00 40");
    EXPECT_FALSE(equals(update, changed));
}

} // namespace
} // namespace zt::messages::test

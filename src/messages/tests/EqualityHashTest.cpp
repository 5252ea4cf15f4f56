#include "TestSupport.h"

#include "messages/MessageEquality.h"
#include "messages/MessageHash.h"

#include "watch_input.pb.h"
#include "watch_output.pb.h"

#include <gtest/gtest.h>

#include <ostream>

namespace zt::messages::test {
namespace {

struct PairCase {
    const char* type;
    const char* a; // hex
    const char* b; // hex
};

void PrintTo(const PairCase& c, std::ostream* os)
{
    *os << c.type << " [" << c.a << "] vs [" << c.b << "]";
}

std::unique_ptr<google::protobuf::Message> decoded(std::string_view type, std::string_view hex)
{
    auto message = newMessage(type);
    if (!message->ParseFromString(bytesFromHex(hex)))
        throw std::invalid_argument("test bytes do not decode");
    return message;
}

class EqualPair : public testing::TestWithParam<PairCase> {};
class UnequalPair : public testing::TestWithParam<PairCase> {};

TEST_P(EqualPair, AreEqualBothWaysAndHashAlike)
{
    const auto a = decoded(GetParam().type, GetParam().a);
    const auto b = decoded(GetParam().type, GetParam().b);
    EXPECT_TRUE(equals(*a, *b));
    EXPECT_TRUE(equals(*b, *a));
    EXPECT_EQ(hashValue(*a), hashValue(*b));
}

TEST_P(UnequalPair, AreUnequalBothWaysAndHashApart)
{
    const auto a = decoded(GetParam().type, GetParam().a);
    const auto b = decoded(GetParam().type, GetParam().b);
    EXPECT_FALSE(equals(*a, *b));
    EXPECT_FALSE(equals(*b, *a));
    EXPECT_NE(hashValue(*a), hashValue(*b));
}

// IEEE comparison: -0.0 equals +0.0 (and an absent default) though encoded apart.
INSTANTIATE_TEST_SUITE_P(FloatZeros, EqualPair, testing::Values(
    PairCase{"Vec3", "1D 00 00 00 80", ""},
    PairCase{"SensorFrame", "0A 05 0D 00 00 00 80", "0A 05 0D 00 00 00 00"},
    PairCase{"SensorFrame", "0A 05 0D 00 00 00 80", "0A 00"},
    PairCase{"ProbabilityEntry", "08 01 15 00 00 00 80", "08 01"},
    PairCase{"HapticEvent", "15 00 00 00 80", ""},
    PairCase{"ZimtorvaInfo", "0D 00 00 00 80", ""},
    PairCase{"Update", "85 01 00 00 00 80", ""},
    PairCase{"Info", "5A 05 15 00 00 00 80", "5A 00"}));

// Different encodings of one value.
INSTANTIATE_TEST_SUITE_P(SameValue, EqualPair, testing::Values(
    PairCase{"TouchEvent", "28 02 08 01", "08 01 28 02"},
    PairCase{"TouchEvent", "08 83 80 80 80 10", "08 03"},
    PairCase{"Update", "30 01 30 07", "32 02 01 07"},
    PairCase{"Model", "08 01 0A 01 02", "0A 02 01 02"},
    PairCase{"Info", "50 02", "50 01"},
    PairCase{"Info", "08 00", ""},
    PairCase{"SensorFrame", "0A 05 0D 00 00 80 3F 0A 05 15 00 00 00 40", "0A 0A 0D 00 00 80 3F 15 00 00 00 40"},
    PairCase{"Update", "0A 02 28 05 12 02 08 01 8A 01 02 20 01", "0A 02 28 05 12 02 08 01 8A 01 02 20 01"}));

// Strings compare by canonical equivalence, not bytes.
INSTANTIATE_TEST_SUITE_P(CanonicallyEquivalentText, EqualPair, testing::Values(
    PairCase{"Info", "12 02 C3 A9", "12 03 65 CC 81"}, // é precomposed, e + combining acute
    PairCase{"ClientInfo", "1A 03 E2 84 AA", "1A 01 4B"}, // Kelvin sign, K
    PairCase{"ClientInfo", "22 05 61 CC 81 CC A3", "22 05 61 CC A3 CC 81"}, // combining marks reordered
    PairCase{"ClientInfo", "0A 03 EA B0 80", "0A 06 E1 84 80 E1 85 A1"}, // Hangul syllable, jamo
    PairCase{"Info", "3A 03 00 C3 A9", "3A 04 00 65 CC 81"})); // behind an embedded NUL

INSTANTIATE_TEST_SUITE_P(Presence, UnequalPair, testing::Values(
    PairCase{"SensorFrame", "0A 00", ""},
    PairCase{"SensorFrame", "1A 00", "0A 00"},
    PairCase{"Info", "2A 00", ""},
    PairCase{"InputUpdate", "0A 00", ""},
    PairCase{"InputUpdate", "12 00", ""},
    PairCase{"InputUpdate", "1A 00", ""},
    PairCase{"Update", "8A 01 00", ""},
    PairCase{"Update", "4A 00", "8A 01 00"}));

INSTANTIATE_TEST_SUITE_P(UnknownFields, UnequalPair, testing::Values(
    PairCase{"SensorFrame", "40 01", ""},
    PairCase{"SensorFrame", "40 01", "40 02"},
    PairCase{"ClientInfo", "0A 01 61 4A 01 78", "0A 01 61"},
    PairCase{"Info", "60 01", ""},
    PairCase{"ZimtorvaInfo", "30 01", ""},
    PairCase{"Vec3", "08 05", ""},
    PairCase{"Update", "0A 02 40 01", "0A 00"}));

INSTANTIATE_TEST_SUITE_P(Values, UnequalPair, testing::Values(
    PairCase{"Gesture", "08 07", "08 04"},
    PairCase{"Gesture", "08 01", "08 01 10 01"},
    PairCase{"Model", "0A 02 01 02", "0A 02 02 01"},
    PairCase{"Model", "0A 01 01", "0A 02 01 01"},
    PairCase{"Vec3", "0D 00 00 80 3F", "15 00 00 80 3F"},
    PairCase{"Quat", "0D 00 00 80 3F", "0D 00 00 80 BF"},
    PairCase{"Update", "40 01", "40 02"},
    PairCase{"Update", "0A 00 0A 00", "0A 00"},
    PairCase{"RotaryEvent", "08 01", "10 01"},
    PairCase{"ButtonEvent", "08 01", "08 FF FF FF FF FF FF FF FF FF 01"},
    PairCase{"Info", "48 01", "50 01"}));

INSTANTIATE_TEST_SUITE_P(DifferentText, UnequalPair, testing::Values(
    PairCase{"Info", "12 02 C3 A9", "12 01 65"}, // é, e
    PairCase{"Info", "12 03 65 CC 81", "12 01 65"}, // e + acute, e
    PairCase{"ClientInfo", "0A 03 EF AC 81", "0A 02 66 69"}, // ligature fi: only compatibility-equivalent
    PairCase{"ClientInfo", "0A 01 61", "0A 01 41"},
    PairCase{"ClientInfo", "0A 01 61", "12 01 61"},
    PairCase{"Info", "3A 03 00 C3 A9", "3A 03 00 C3 A8"}));

struct NaNCase {
    const char* type;
    const char* bytes;
};

// A NaN makes every value holding it unequal, to an identical value and a
// copy of itself too.
class HoldingNaN : public testing::TestWithParam<NaNCase> {};

TEST_P(HoldingNaN, IsUnequalToTheSameBytesAndToItself)
{
    const auto a = decoded(GetParam().type, GetParam().bytes);
    const auto b = decoded(GetParam().type, GetParam().bytes);
    EXPECT_FALSE(equals(*a, *b));
    EXPECT_FALSE(equals(*a, *a));
    std::unique_ptr<google::protobuf::Message> copy(a->New());
    copy->CopyFrom(*a);
    EXPECT_FALSE(equals(*a, *copy));
}

INSTANTIATE_TEST_SUITE_P(Values, HoldingNaN, testing::Values(
    NaNCase{"Vec3", "0D 00 00 C0 7F"},
    NaNCase{"ProbabilityEntry", "15 00 00 C0 7F"},
    NaNCase{"HapticEvent", "15 01 00 C0 7F"},
    NaNCase{"Info", "5A 05 0D 00 00 C0 7F"},
    NaNCase{"SensorFrame", "0A 05 0D 00 00 C0 7F"},
    NaNCase{"Update", "0A 07 0A 05 0D 00 00 C0 7F"},
    NaNCase{"Update", "85 01 00 00 C0 FF"}));

TEST(Equality, DefaultsOfEveryTypeAreEqualAndHashAlike)
{
    for (const std::string& name : allMessageTypeNames()) {
        SCOPED_TRACE(name);
        const auto a = newMessage(name);
        const auto b = decoded(name, "");
        EXPECT_TRUE(equals(*a, *b));
        EXPECT_EQ(hashValue(*a), hashValue(*b));
    }
}

TEST(Equality, ValuesOfDifferentTypesNeverEqual)
{
    const auto& names = allMessageTypeNames();
    for (const std::string& first : names) {
        for (const std::string& second : names) {
            if (first != second) {
                EXPECT_FALSE(equals(*newMessage(first), *newMessage(second))) << first << " vs " << second;
            }
        }
    }
    // Same bytes, same field layout, different types.
    EXPECT_FALSE(equals(*decoded("Vec3", "0D 00 00 80 3F"), *decoded("Quat", "0D 00 00 80 3F")));
}

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

// Copies are deep: changing one never shows in the other.
TEST(ValueSemantics, CopiesAreIndependent)
{
    const auto original = decoded("SensorFrame", "0A 05 0D 00 00 80 3F 28 05");
    auto& frame = static_cast<SensorFrame&>(*original);
    SensorFrame copy = frame;
    EXPECT_TRUE(equals(frame, copy));
    copy.clear_gyro();
    EXPECT_TRUE(frame.has_gyro());
    EXPECT_EQ(frame.gyro().x(), 1.0f);
    EXPECT_FALSE(equals(frame, copy));

    Update update;
    *update.add_sensorframes() = frame;
    update.mutable_mouseinfo()->set_sensitivity(2.0f);
    Update changed = update;
    changed.mutable_mouseinfo()->set_sensitivity(3.0f);
    changed.mutable_sensorframes(0)->mutable_gyro()->set_x(4.0f);
    EXPECT_EQ(update.mouseinfo().sensitivity(), 2.0f);
    EXPECT_EQ(update.sensorframes(0).gyro().x(), 1.0f);
    EXPECT_FALSE(equals(update, changed));
}

} // namespace
} // namespace zt::messages::test

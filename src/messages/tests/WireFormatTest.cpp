#include "TestSupport.h"

#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

#include <ostream>

namespace zt::messages::test {
namespace {

struct DecodeCase {
    const char* type;
    const char* input; // hex
    const char* fields; // text form of the decoded value
    const char* encoded = nullptr; // hex of the re-encoding; nullptr: the input
};

void PrintTo(const DecodeCase& c, std::ostream* os)
{
    *os << c.type << " [" << c.input << "]";
}

class Decoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, YieldsFieldsAndEncodesBack)
{
    const DecodeCase& c = GetParam();
    const auto message = decoded(c.type, c.input);
    EXPECT_EQ(fieldsText(*message), c.fields);
    EXPECT_EQ(encodedHex(*message), c.encoded ? c.encoded : c.input);
}

// A float is left out only when its bit pattern is zero: -0.0 and NaN are written.
INSTANTIATE_TEST_SUITE_P(Floats, Decoding, testing::Values(
    DecodeCase{"Vec3", "1D 00 00 00 80", "z: -0"},
    DecodeCase{"Vec3", "0D 00 00 00 00 1D 00 00 00 00", "", ""},
    DecodeCase{"Vec3", "0D 00 00 C0 7F", "x: nan"},
    DecodeCase{"ProbabilityEntry", "08 01 15 00 00 00 80", "label: PINCH_TAP probability: -0"},
    DecodeCase{"ProbabilityEntry", "08 00 15 00 00 00 00", "", ""},
    DecodeCase{"HapticEvent", "15 00 00 00 80", "intensity: -0"},
    DecodeCase{"HapticEvent", "15 00 00 C0 7F", "intensity: nan"},
    DecodeCase{"ZimtorvaInfo", "0D 00 00 00 80 15 00 00 80 3F", "sensitivity: -0 smoothing: 1"},
    DecodeCase{"Update", "85 01 00 00 00 80", "pressure: -0"},
    DecodeCase{"Update", "85 01 00 00 00 00", "", ""}));

// A record of a message field makes it present, even with an empty body.
INSTANTIATE_TEST_SUITE_P(Presence, Decoding, testing::Values(
    DecodeCase{"SensorFrame", "0A 00", "gyro { }"},
    DecodeCase{"Update", "4A 00", "info { }"},
    DecodeCase{"Update", "4A 0A 12 02 C3 A9 42 04 F0 9F 98 80",
               "info { appId: \"\\303\\251\" deviceName: \"\\360\\237\\230\\200\" }"},
    DecodeCase{"Update", "8A 01 00", "mouseInfo { }"},
    DecodeCase{"InputUpdate", "0A 00", "hapticEvent { }"},
    DecodeCase{"InputUpdate", "12 00", "clientInfo { }"},
    DecodeCase{"InputUpdate", "1A 00", "modelRequest { }"},
    DecodeCase{"Info", "08 02 12 03 61 62 63 2A 00 48 50 50 01",
               "hand: LEFT appId: \"abc\" activeModel { } batteryPercentage: 80 hapticsAvailable: true"},
    DecodeCase{"TouchEvent", "22 00", "coords { }"}));

// Open enums keep any number; int32 takes the low 32 bits of the varint and
// writes a negative value as ten bytes.
INSTANTIATE_TEST_SUITE_P(OpenEnumsAndIntegers, Decoding, testing::Values(
    DecodeCase{"Gesture", "08 01", "type: PINCH_TAP"},
    DecodeCase{"Gesture", "08 07", "type: 7"},
    DecodeCase{"Gesture", "10 05", "deltaTime: 5"},
    DecodeCase{"TouchEvent", "08 07", "eventType: 7"},
    DecodeCase{"TouchEvent", "08 FF FF FF FF FF FF FF FF FF 01", "eventType: -1"},
    DecodeCase{"TouchEvent", "08 83 80 80 80 10", "eventType: MOVE", "08 03"},
    DecodeCase{"TouchEvent", "08 03 1A 02 00 01", "eventType: MOVE pointerIds: 0 pointerIds: 1"},
    DecodeCase{"Info", "08 03", "hand: 3"},
    DecodeCase{"Info", "08 FF FF FF FF FF FF FF FF FF 01", "hand: -1"},
    DecodeCase{"Info", "08 00", "", ""},
    DecodeCase{"ZimtorvaInfo", "18 03", "cursorActive: 3"},
    DecodeCase{"HapticEvent", "08 07", "type: 7"},
    DecodeCase{"Model", "0A 02 09 04", "gestures: 9 gestures: PINCH_HOLD"},
    DecodeCase{"Update", "32 0C 07 FF FF FF FF FF FF FF FF FF 01 03",
               "signals: 7 signals: -1 signals: DESCRIPTION_UPDATE"},
    DecodeCase{"Info", "48 96 01", "batteryPercentage: 150"},
    DecodeCase{"Info", "48 FB FF FF FF FF FF FF FF FF 01", "batteryPercentage: -5"},
    DecodeCase{"RotaryEvent", "08 FF FF FF FF FF FF FF FF FF 01", "step: -1"},
    DecodeCase{"HapticEvent", "18 FF FF FF FF FF FF FF FF FF 01", "length: -1"},
    DecodeCase{"Info", "50 02", "hapticsAvailable: true", "50 01"}));

// Unlisted numbers, and listed numbers with another wire type, are kept as
// records and written back after the listed fields.
INSTANTIATE_TEST_SUITE_P(UnknownFields, Decoding, testing::Values(
    DecodeCase{"Vec3", "08 05 15 00 00 80 3F", "y: 1 1: 5", "15 00 00 80 3F 08 05"},
    DecodeCase{"SensorFrame", "08 01", "1: 1"},
    DecodeCase{"SensorFrame", "2A 00", "5: \"\""},
    DecodeCase{"SensorFrame", "40 01 3A 00", "magCal { } 8: 1", "3A 00 40 01"},
    DecodeCase{"ProbabilityEntry", "10 05", "2: 5"},
    DecodeCase{"HapticEvent", "10 05 08 01", "type: ONESHOT 2: 5", "08 01 10 05"},
    DecodeCase{"TouchEvent", "28 02 30 01", "deltaTime: 2 6: 1"},
    DecodeCase{"TouchEvent", "1D 01 00 00 00 18 04", "pointerIds: 4 3: 0x00000001", "1A 01 04 1D 01 00 00 00"},
    DecodeCase{"ClientInfo", "4A 01 78 0A 01 61", "appName: \"a\" 9: \"x\"", "0A 01 61 4A 01 78"},
    DecodeCase{"Info", "60 01 5A 00", "touchScreenResolution { } 12: 1", "5A 00 60 01"},
    DecodeCase{"ZimtorvaInfo", "30 01", "6: 1"},
    DecodeCase{"Update", "58 01 38 07 78 02 90 01 03", "deltaTime: 7 11: 1 15: 2 18: 3",
               "38 07 58 01 78 02 90 01 03"},
    DecodeCase{"Update", "0A 02 40 01", "sensorFrames { 8: 1 }"}));

// A later scalar replaces, a later message record merges, list records append.
INSTANTIATE_TEST_SUITE_P(RepeatedRecords, Decoding, testing::Values(
    DecodeCase{"SensorFrame", "0A 05 0D 00 00 80 3F 0A 05 15 00 00 00 40", "gyro { x: 1 y: 2 }",
               "0A 0A 0D 00 00 80 3F 15 00 00 00 40"},
    DecodeCase{"Info", "22 00 22 00", "availableModels { } availableModels { }"},
    DecodeCase{"Info", "2A 03 0A 01 01 2A 03 0A 01 02", "activeModel { gestures: PINCH_TAP gestures: CLENCH }",
               "2A 04 0A 02 01 02"},
    DecodeCase{"Info", "5A 05 0D 00 00 80 3F 5A 05 15 00 00 00 40", "touchScreenResolution { x: 1 y: 2 }",
               "5A 0A 0D 00 00 80 3F 15 00 00 00 40"},
    DecodeCase{"Update", "8A 01 07 0D 00 00 80 3F 20 01 8A 01 05 0D 00 00 00 40",
               "mouseInfo { sensitivity: 2 leftHanded: true }", "8A 01 07 0D 00 00 00 40 20 01"},
    DecodeCase{"HapticEvent", "18 01 18 02", "length: 2", "18 02"},
    DecodeCase{"TouchEvent", "08 01 08 02", "eventType: END", "08 02"},
    DecodeCase{"InputUpdate", "0A 02 08 01 0A 02 18 03", "hapticEvent { type: ONESHOT length: 3 }",
               "0A 04 08 01 18 03"}));

// Number lists accept packed and single records, mixed; encoding packs them.
INSTANTIATE_TEST_SUITE_P(PackedAndUnpacked, Decoding, testing::Values(
    DecodeCase{"Model", "08 01 08 02", "gestures: PINCH_TAP gestures: CLENCH", "0A 02 01 02"},
    DecodeCase{"Model", "08 01 0A 02 02 03 08 04",
               "gestures: PINCH_TAP gestures: CLENCH gestures: SURFACE_TAP gestures: PINCH_HOLD", "0A 04 01 02 03 04"},
    DecodeCase{"TouchEvent", "18 05 18 07 1A 01 09", "pointerIds: 5 pointerIds: 7 pointerIds: 9", "1A 03 05 07 09"},
    DecodeCase{"Update", "30 01 30 07", "signals: DISCONNECT signals: 7", "32 02 01 07"}));

// Encoding walks the numbers in ascending order, which for SensorFrame is not
// the declaration order (deltaTime, number 5, is declared last).
INSTANTIATE_TEST_SUITE_P(FieldOrder, Decoding, testing::Values(
    DecodeCase{"SensorFrame", "32 05 15 00 00 00 40 28 05 0A 05 0D 00 00 80 3F",
               "gyro { x: 1 } deltaTime: 5 mag { y: 2 }", "0A 05 0D 00 00 80 3F 28 05 32 05 15 00 00 00 40"},
    DecodeCase{"SensorFrame", "3A 00 32 00 28 05 22 00", "quat { } deltaTime: 5 mag { } magCal { }",
               "22 00 28 05 32 00 3A 00"},
    DecodeCase{"TouchEvent", "28 02 08 01", "eventType: BEGIN deltaTime: 2", "08 01 28 02"}));

// Decodes as an Update; fails the test if anything reaches stderr.
std::unique_ptr<google::protobuf::Message> decodeSilently(std::string_view hex)
{
    testing::internal::CaptureStderr();
    auto update = decode("Update", hex);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    return update;
}

class Malformed : public testing::TestWithParam<std::string> {};

TEST_P(Malformed, FailsTheWholeUpdateSilently)
{
    EXPECT_EQ(decodeSilently(GetParam()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Truncated, Malformed, testing::Values(
    "0A 06 0A 05 0D 00 00 80", // gyro cut short inside a frame
    "0A 02 28 05 0A 05 0D 00 00 80", // good frame, then a cut one
    "38 80", // unterminated varint
    "85 01 00 00", // fixed32 cut short
    "4A 05 12", // length past the end
    "38 FF FF FF FF FF FF FF FF FF FF 01")); // varint of eleven bytes

INSTANTIATE_TEST_SUITE_P(BadTags, Malformed, testing::Values(
    "00 01", // field number 0
    "0A 02 00 01", // field number 0 inside a frame
    "0E", // wire type 6
    "0F 00", // wire type 7
    "8A 01 02 0F 00")); // wire type 7 inside mouseInfo

INSTANTIATE_TEST_SUITE_P(InvalidUtf8, Malformed, testing::Values(
    "4A 03 12 01 FF", // lone FF in appId
    "4A 04 1A 02 C0 80", // overlong NUL in appVersion
    "4A 05 42 03 ED A0 80", // surrogate in deviceName
    "38 01 4A 04 32 02 C3 28")); // cut sequence in modelInfo, after good fields

int loggedLines = 0;

TEST(DecodeUpdate, LeavesTheLogHandlerInPlaceAndWorking)
{
    google::protobuf::LogHandler* const countingHandler = [](auto, auto, auto, const auto&) { ++loggedLines; };
    auto* previous = google::protobuf::SetLogHandler(countingHandler);
    loggedLines = 0;
    EXPECT_EQ(decode("Update", "4A 03 12 01 FF"), nullptr);
    EXPECT_EQ(loggedLines, 0);
    GOOGLE_LOG(ERROR) << "after decoding";
    EXPECT_EQ(loggedLines, 1);
    EXPECT_EQ(google::protobuf::SetLogHandler(previous), countingHandler);
}

// Unknown groups (field 20) are the only way to nest deeper than the schema does.
std::string nestedGroups(int depth)
{
    std::string hex;
    for (int i = 0; i < depth; ++i)
        hex = "A3 01 " + hex + " A4 01";
    return hex;
}

TEST(DecodeUpdate, StopsAtTheNestingLimitOfOneHundred)
{
    const auto deepest = decodeSilently(nestedGroups(100));
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->SerializeAsString(), bytesFromHex(nestedGroups(100)));
    EXPECT_EQ(decodeSilently(nestedGroups(101)), nullptr);
}

} // namespace
} // namespace zt::messages::test

// Decoding and encoding of every message type through the generated code,
// checked against fixed byte vectors, grouped by the rule they exercise.

#include "TestSupport.h"

#include "messages/UpdateDecoder.h"

#include "watch_input.pb.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <ostream>
#include <span>

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

// Update goes through the application's own decoding call; everything else
// through the generated parser, which is what decodes nested messages.
std::unique_ptr<google::protobuf::Message> decode(std::string_view type, const std::string& bytes)
{
    if (type == "Update") {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        auto update = decodeUpdate(std::span(data, bytes.size()));
        return update ? std::make_unique<Update>(std::move(*update)) : nullptr;
    }
    auto message = newMessage(type);
    if (!message->ParseFromString(bytes))
        return nullptr;
    return message;
}

class Decoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, YieldsFieldsAndEncodesBack)
{
    const DecodeCase& c = GetParam();
    const auto message = decode(c.type, bytesFromHex(c.input));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(fieldsText(*message), c.fields);
    EXPECT_EQ(hexOf(encode(*message)), hexOf(bytesFromHex(c.encoded ? c.encoded : c.input)));
}

std::vector<DecodeCase> emptyInputCases()
{
    std::vector<DecodeCase> cases;
    for (const std::string& name : allMessageTypeNames())
        cases.push_back({name.c_str(), "", "", ""});
    return cases;
}
INSTANTIATE_TEST_SUITE_P(EmptyInputGivesDefault, Decoding, testing::ValuesIn(emptyInputCases()));

// A float is left out only when its bit pattern is zero: -0.0 and NaN are written.
INSTANTIATE_TEST_SUITE_P(Floats, Decoding, testing::Values(
    DecodeCase{"Vec3", "0D 00 00 80 3F", "x: 1"},
    DecodeCase{"Vec3", "1D 00 00 00 80", "z: -0"},
    DecodeCase{"Vec3", "0D 00 00 00 00 1D 00 00 00 00", "", ""},
    DecodeCase{"Vec3", "0D 00 00 C0 7F", "x: nan"},
    DecodeCase{"Quat", "0D 00 00 80 3F", "w: 1"},
    DecodeCase{"Vec2", "0D 00 00 00 3F 15 00 00 00 40", "x: 0.5 y: 2"},
    DecodeCase{"ProbabilityEntry", "08 01 15 00 00 00 80", "label: PINCH_TAP probability: -0"},
    DecodeCase{"ProbabilityEntry", "08 00 15 00 00 00 00", "", ""},
    DecodeCase{"HapticEvent", "15 00 00 00 80", "intensity: -0"},
    DecodeCase{"ZimtorvaInfo", "0D 00 00 00 80 15 00 00 80 3F", "sensitivity: -0 smoothing: 1"},
    DecodeCase{"Update", "85 01 00 00 00 80", "pressure: -0"},
    DecodeCase{"Update", "85 01 00 00 00 00", "", ""},
    DecodeCase{"Update", "85 01 00 00 C0 7F", "pressure: nan"}));

// A record of a message field makes it present, even with an empty body.
INSTANTIATE_TEST_SUITE_P(Presence, Decoding, testing::Values(
    DecodeCase{"SensorFrame", "0A 00", "gyro { }"},
    DecodeCase{"SensorFrame", "1A 0F 0D 00 00 00 00 15 00 00 00 00 1D 00 00 00 00", "grav { }", "1A 00"},
    DecodeCase{"Update", "4A 00", "info { }"},
    DecodeCase{"Update", "8A 01 00", "mouseInfo { }"},
    DecodeCase{"InputUpdate", "0A 00", "hapticEvent { }"},
    DecodeCase{"InputUpdate", "12 00", "clientInfo { }"},
    DecodeCase{"InputUpdate", "1A 00", "modelRequest { }"},
    DecodeCase{"Info", "2A 00", "activeModel { }"},
    DecodeCase{"Info", "5A 00", "touchScreenResolution { }"},
    DecodeCase{"Info", "08 02 12 03 61 62 63 2A 00 48 50 50 01",
               "hand: LEFT appId: \"abc\" activeModel { } batteryPercentage: 80 hapticsAvailable: true"},
    DecodeCase{"TouchEvent", "22 00", "coords { }"}));

// Open enums keep any number; int32 takes the low 32 bits of the varint.
INSTANTIATE_TEST_SUITE_P(OpenEnumsAndIntegers, Decoding, testing::Values(
    DecodeCase{"Gesture", "08 01", "type: PINCH_TAP"},
    DecodeCase{"Gesture", "08 07", "type: 7"},
    DecodeCase{"Gesture", "10 05", "deltaTime: 5"},
    DecodeCase{"TouchEvent", "08 07", "eventType: 7"},
    DecodeCase{"TouchEvent", "08 FF FF FF FF FF FF FF FF FF 01", "eventType: -1"},
    DecodeCase{"TouchEvent", "08 83 80 80 80 10", "eventType: MOVE", "08 03"},
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
    DecodeCase{"ButtonEvent", "08 02 10 03", "id: 2 deltaTime: 3"},
    DecodeCase{"HapticEvent", "18 FF FF FF FF FF FF FF FF FF 01", "length: -1"},
    DecodeCase{"Info", "50 02", "hapticsAvailable: true", "50 01"},
    DecodeCase{"Update", "38 80 80 80 80 08", "deltaTime: -2147483648", "38 80 80 80 80 F8 FF FF FF FF 01"},
    DecodeCase{"Update", "40 FF FF FF FF FF FF FF FF 7F", "unixTime: 9223372036854775807"}));

// Unlisted numbers, and listed numbers with another wire type, are kept as
// records and written back after the listed fields.
INSTANTIATE_TEST_SUITE_P(UnknownFields, Decoding, testing::Values(
    DecodeCase{"Vec3", "08 05", "1: 5"},
    DecodeCase{"Vec3", "08 05 15 00 00 80 3F", "y: 1 1: 5", "15 00 00 80 3F 08 05"},
    DecodeCase{"SensorFrame", "08 01", "1: 1"},
    DecodeCase{"SensorFrame", "2A 00", "5: \"\""},
    DecodeCase{"SensorFrame", "40 01 3A 00", "magCal { } 8: 1", "3A 00 40 01"},
    DecodeCase{"ProbabilityEntry", "10 05", "2: 5"},
    DecodeCase{"HapticEvent", "10 05 08 01", "type: ONESHOT 2: 5", "08 01 10 05"},
    DecodeCase{"TouchEvent", "28 02 30 01", "deltaTime: 2 6: 1"},
    DecodeCase{"TouchEvent", "1D 01 00 00 00 18 04", "pointerIds: 4 3: 0x00000001", "1A 01 04 1D 01 00 00 00"},
    DecodeCase{"Model", "0D 01 00 00 00", "1: 0x00000001"},
    DecodeCase{"ClientInfo", "4A 01 78 0A 01 61", "appName: \"a\" 9: \"x\"", "0A 01 61 4A 01 78"},
    DecodeCase{"Info", "60 01 5A 00", "touchScreenResolution { } 12: 1", "5A 00 60 01"},
    DecodeCase{"ZimtorvaInfo", "30 01", "6: 1"},
    DecodeCase{"Update", "58 01 38 07 78 02 90 01 03", "deltaTime: 7 11: 1 15: 2 18: 3",
               "38 07 58 01 78 02 90 01 03"},
    DecodeCase{"Update", "08 01", "1: 1"},
    DecodeCase{"Update", "0A 02 40 01", "sensorFrames { 8: 1 }"}));

// The library keeps unknown records parsed, not as bytes: a non-minimal
// varint comes back minimal.
INSTANTIATE_TEST_SUITE_P(UnknownFieldsReencoded, Decoding, testing::Values(
    DecodeCase{"Vec3", "08 85 00", "1: 5", "08 05"}));

// A later scalar replaces, a later message record merges, list records append.
INSTANTIATE_TEST_SUITE_P(RepeatedRecords, Decoding, testing::Values(
    DecodeCase{"SensorFrame", "0A 05 0D 00 00 80 3F 0A 05 15 00 00 00 40", "gyro { x: 1 y: 2 }",
               "0A 0A 0D 00 00 80 3F 15 00 00 00 40"},
    DecodeCase{"Update", "0A 00 0A 00", "sensorFrames { } sensorFrames { }"},
    DecodeCase{"Info", "22 00 22 00", "availableModels { } availableModels { }"},
    DecodeCase{"Info", "2A 03 0A 01 01 2A 03 0A 01 02", "activeModel { gestures: PINCH_TAP gestures: CLENCH }",
               "2A 04 0A 02 01 02"},
    DecodeCase{"Info", "5A 05 0D 00 00 80 3F 5A 05 15 00 00 00 40", "touchScreenResolution { x: 1 y: 2 }",
               "5A 0A 0D 00 00 80 3F 15 00 00 00 40"},
    DecodeCase{"Update", "8A 01 07 0D 00 00 80 3F 20 01 8A 01 05 0D 00 00 00 40",
               "mouseInfo { sensitivity: 2 leftHanded: true }", "8A 01 07 0D 00 00 00 40 20 01"},
    DecodeCase{"Update", "4A 02 08 01 4A 05 12 03 61 62 63", "info { hand: RIGHT appId: \"abc\" }",
               "4A 07 08 01 12 03 61 62 63"},
    DecodeCase{"HapticEvent", "18 01 18 02", "length: 2", "18 02"},
    DecodeCase{"TouchEvent", "08 01 08 02", "eventType: END", "08 02"},
    DecodeCase{"ClientInfo", "0A 01 61 0A 01 62", "appName: \"b\"", "0A 01 62"},
    DecodeCase{"InputUpdate", "0A 02 08 01 0A 02 18 03", "hapticEvent { type: ONESHOT length: 3 }",
               "0A 04 08 01 18 03"}));

// Number lists accept packed and single records, mixed; encoding packs them.
INSTANTIATE_TEST_SUITE_P(PackedAndUnpacked, Decoding, testing::Values(
    DecodeCase{"Model", "08 01 08 02", "gestures: PINCH_TAP gestures: CLENCH", "0A 02 01 02"},
    DecodeCase{"Model", "0A 01 00", "gestures: NONE"},
    DecodeCase{"Model", "08 01 0A 02 02 03 08 04",
               "gestures: PINCH_TAP gestures: CLENCH gestures: SURFACE_TAP gestures: PINCH_HOLD", "0A 04 01 02 03 04"},
    DecodeCase{"TouchEvent", "18 05 18 07 1A 01 09", "pointerIds: 5 pointerIds: 7 pointerIds: 9", "1A 03 05 07 09"},
    DecodeCase{"Update", "30 01 30 07", "signals: DISCONNECT signals: 7", "32 02 01 07"},
    DecodeCase{"Update", "32 02 01 07", "signals: DISCONNECT signals: 7"}));

// Arrival order does not matter; encoding walks the numbers in ascending
// order, which for SensorFrame is not the declaration order.
INSTANTIATE_TEST_SUITE_P(FieldOrder, Decoding, testing::Values(
    DecodeCase{"SensorFrame", "32 05 15 00 00 00 40 28 05 0A 05 0D 00 00 80 3F",
               "gyro { x: 1 } deltaTime: 5 mag { y: 2 }", "0A 05 0D 00 00 80 3F 28 05 32 05 15 00 00 00 40"},
    DecodeCase{"TouchEvent", "28 02 08 01", "eventType: BEGIN deltaTime: 2", "08 01 28 02"}));

struct EncodeCase {
    const char* type;
    const char* fields; // text form of the value
    const char* encoded; // hex
};

void PrintTo(const EncodeCase& c, std::ostream* os)
{
    *os << c.type << " {" << c.fields << "}";
}

class Encoding : public testing::TestWithParam<EncodeCase> {};

TEST_P(Encoding, WritesBytesThatDecodeBack)
{
    const EncodeCase& c = GetParam();
    const auto message = newMessage(c.type);
    ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(c.fields, message.get()));
    const std::string bytes = encode(*message);
    EXPECT_EQ(hexOf(bytes), hexOf(bytesFromHex(c.encoded)));
    const auto back = decode(c.type, bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(fieldsText(*back), fieldsText(*message));
}

INSTANTIATE_TEST_SUITE_P(DefaultsLeftOut, Encoding, testing::Values(
    EncodeCase{"Vec3", "x: 0 y: 0 z: 0", ""},
    EncodeCase{"Gesture", "type: NONE deltaTime: 0", ""},
    EncodeCase{"ProbabilityEntry", "label: NONE probability: 0", ""},
    EncodeCase{"Update", "pressure: 0 deltaTime: 0 unixTime: 0", ""},
    EncodeCase{"ZimtorvaInfo", "leftHanded: false crownLeft: true", "28 01"},
    EncodeCase{"HapticEvent", "type: CANCEL intensity: 0 length: 0", ""},
    EncodeCase{"ClientInfo", "appName: \"\" os: \"\"", ""},
    EncodeCase{"InputUpdate", "", ""}));

INSTANTIATE_TEST_SUITE_P(Floats, Encoding, testing::Values(
    EncodeCase{"ProbabilityEntry", "label: PINCH_TAP probability: -0", "08 01 15 00 00 00 80"},
    EncodeCase{"HapticEvent", "intensity: nan", "15 00 00 C0 7F"},
    EncodeCase{"ZimtorvaInfo", "sensitivity: -0 cursorActive: 3", "0D 00 00 00 80 18 03"},
    EncodeCase{"Update", "pressure: -0 mouseInfo { }", "85 01 00 00 00 80 8A 01 00"}));

INSTANTIATE_TEST_SUITE_P(PresentDefaultMessages, Encoding, testing::Values(
    EncodeCase{"InputUpdate", "hapticEvent { }", "0A 00"},
    EncodeCase{"InputUpdate", "clientInfo { }", "12 00"},
    EncodeCase{"InputUpdate", "modelRequest { }", "1A 00"},
    EncodeCase{"TouchEvent", "coords { }", "22 00"},
    EncodeCase{"Info", "hand: 3 batteryPercentage: 150 hapticsAvailable: true touchScreenResolution { }",
               "08 03 48 96 01 50 01 5A 00"}));

INSTANTIATE_TEST_SUITE_P(IntegersAndEnums, Encoding, testing::Values(
    EncodeCase{"HapticEvent", "type: ONESHOT", "08 01"},
    EncodeCase{"Model", "gestures: [PINCH_TAP, CLENCH]", "0A 02 01 02"},
    EncodeCase{"Model", "gestures: [9, -1]", "0A 0B 09 FF FF FF FF FF FF FF FF FF 01"},
    EncodeCase{"TouchEvent", "eventType: MOVE pointerIds: [0, 1]", "08 03 1A 02 00 01"},
    EncodeCase{"Update", "signals: [DISCONNECT, 7, -1]", "32 0C 01 07 FF FF FF FF FF FF FF FF FF 01"}));

INSTANTIATE_TEST_SUITE_P(NumberOrder, Encoding, testing::Values(
    EncodeCase{"SensorFrame", "gyro { x: 1 } deltaTime: 5 mag { y: 2 }",
               "0A 05 0D 00 00 80 3F 28 05 32 05 15 00 00 00 40"},
    EncodeCase{"SensorFrame", "magCal { } mag { } deltaTime: 5 quat { }", "22 00 28 05 32 00 3A 00"},
    EncodeCase{"Update",
               "mouseInfo { } pressure: 1 probabilities { } info { } unixTime: 1 deltaTime: 1 signals: DISCONNECT "
               "rotaryEvents { } buttonEvents { } touchEvents { } gestures { } sensorFrames { }",
               "0A 00 12 00 1A 00 22 00 2A 00 32 01 01 38 01 40 01 4A 00 52 00 85 01 00 00 80 3F 8A 01 00"}));

TEST(Decoding, ClientInfoRejectsInvalidUtf8)
{
    const google::protobuf::LogSilencer silence;
    ClientInfo info;
    EXPECT_FALSE(info.ParseFromString(bytesFromHex("0A 01 FF")));
}

} // namespace
} // namespace zt::messages::test

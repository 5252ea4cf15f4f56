#include "TestSupport.h"

#include "messages/MessageEquality.h"
#include "messages/UpdateDecoder.h"

#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

#include <span>
#include <string>

namespace zt::messages::test {
namespace {

std::optional<Update> decodeHex(std::string_view hex)
{
    const std::string bytes = bytesFromHex(hex);
    return decodeUpdate(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<Update> decodeBytes(const std::string& bytes)
{
    return decodeUpdate(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(DecodeUpdate, EmptyInputGivesTheDefaultUpdate)
{
    const auto update = decodeUpdate({});
    ASSERT_TRUE(update.has_value());
    EXPECT_TRUE(equals(*update, Update()));
    EXPECT_FALSE(update->has_mouseinfo());
    EXPECT_FALSE(update->has_info());
    EXPECT_EQ(update->mouseinfo().cursoractive(), ZimtorvaInfo::NONE);
}

struct MalformedCase {
    const char* what;
    const char* input;
};

void PrintTo(const MalformedCase& c, std::ostream* os)
{
    *os << c.what << " [" << c.input << "]";
}

class Malformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, FailsTheWholeUpdateSilently)
{
    StderrCapture capture;
    const auto update = decodeHex(GetParam().input);
    const std::string written = capture.finish();
    EXPECT_FALSE(update.has_value());
    EXPECT_EQ(written, "");
}

INSTANTIATE_TEST_SUITE_P(Truncated, Malformed, testing::Values(
    MalformedCase{"frame body cut short", "0A 05 0D 00 00 80"},
    MalformedCase{"gyro cut short inside a frame", "0A 06 0A 05 0D 00 00 80"},
    MalformedCase{"good frame, then a cut one", "0A 02 28 05 0A 05 0D 00 00 80"},
    MalformedCase{"tag without value", "38"},
    MalformedCase{"unterminated varint", "38 80"},
    MalformedCase{"unterminated tag", "85"},
    MalformedCase{"fixed32 cut short", "85 01 00 00"},
    MalformedCase{"length past the end", "4A 05 12"},
    MalformedCase{"varint of eleven bytes", "38 FF FF FF FF FF FF FF FF FF FF 01"}));

INSTANTIATE_TEST_SUITE_P(BadTags, Malformed, testing::Values(
    MalformedCase{"field number 0, varint", "00 01"},
    MalformedCase{"field number 0, length-delimited", "02 00"},
    MalformedCase{"field number 0 inside a frame", "0A 02 00 01"},
    MalformedCase{"wire type 6", "0E"},
    MalformedCase{"wire type 7", "0F 00"},
    MalformedCase{"wire type 6, unlisted number", "A6 01 00"},
    MalformedCase{"wire type 7 inside mouseInfo", "8A 01 02 0F 00"}));

INSTANTIATE_TEST_SUITE_P(InvalidUtf8, Malformed, testing::Values(
    MalformedCase{"lone FF in appId", "4A 03 12 01 FF"},
    MalformedCase{"overlong NUL in appVersion", "4A 04 1A 02 C0 80"},
    MalformedCase{"surrogate in deviceName", "4A 05 42 03 ED A0 80"},
    MalformedCase{"cut sequence in modelInfo, after good fields", "38 01 4A 04 32 02 C3 28"}));

TEST(DecodeUpdate, ValidUtf8IsAccepted)
{
    const auto update = decodeHex("4A 0A 12 02 C3 A9 42 04 F0 9F 98 80");
    ASSERT_TRUE(update.has_value());
    EXPECT_EQ(update->info().appid(), "\xC3\xA9");
    EXPECT_EQ(update->info().devicename(), "\xF0\x9F\x98\x80");
}

int loggedLines = 0;
void countingHandler(google::protobuf::LogLevel, const char*, int, const std::string&)
{
    ++loggedLines;
}

TEST(DecodeUpdate, LeavesTheLogHandlerInPlaceAndWorking)
{
    auto* previous = google::protobuf::SetLogHandler(&countingHandler);
    loggedLines = 0;

    EXPECT_FALSE(decodeHex("4A 03 12 01 FF").has_value());
    EXPECT_EQ(loggedLines, 0);
    GOOGLE_LOG(ERROR) << "after decoding";
    EXPECT_EQ(loggedLines, 1);

    EXPECT_EQ(google::protobuf::SetLogHandler(previous), &countingHandler);
}

// Unknown groups are the only way to nest deeper than the schema does.
std::string nestedGroups(int depth)
{
    std::string bytes;
    for (int i = 0; i < depth; ++i)
        bytes += bytesFromHex("A3 01"); // start group, field 20
    for (int i = 0; i < depth; ++i)
        bytes += bytesFromHex("A4 01"); // end group, field 20
    return bytes;
}

TEST(DecodeUpdate, StopsAtTheNestingLimitOfOneHundred)
{
    const auto deepest = decodeBytes(nestedGroups(100));
    ASSERT_TRUE(deepest.has_value());
    EXPECT_FALSE(deepest->GetReflection()->GetUnknownFields(*deepest).empty());
    EXPECT_EQ(encode(*deepest), nestedGroups(100));

    StderrCapture capture;
    EXPECT_FALSE(decodeBytes(nestedGroups(101)).has_value());
    EXPECT_EQ(capture.finish(), "");
}

TEST(DecodeUpdate, KeepsWhatTheLinkReads)
{
    // Two frames (gyro only; grav only), a pinch-tap then a clench, settings.
    const auto update = decodeHex("0A 07 0A 05 0D 00 00 80 3F"
                                  "0A 07 1A 05 1D 00 00 80 BF"
                                  "12 02 08 01 12 02 08 02"
                                  "8A 01 0D 0D 00 00 00 40 18 02 20 01 28 01 30 01");
    ASSERT_TRUE(update.has_value());
    ASSERT_EQ(update->sensorframes_size(), 2);
    EXPECT_EQ(update->sensorframes(0).gyro().x(), 1.0f);
    EXPECT_FALSE(update->sensorframes(0).has_grav());
    EXPECT_EQ(update->sensorframes(0).grav().z(), 0.0f);
    EXPECT_EQ(update->sensorframes(1).grav().z(), -1.0f);
    ASSERT_EQ(update->gestures_size(), 2);
    EXPECT_EQ(update->gestures(0).type(), PINCH_TAP);
    ASSERT_TRUE(update->has_mouseinfo());
    EXPECT_EQ(update->mouseinfo().sensitivity(), 2.0f);
    EXPECT_EQ(update->mouseinfo().cursoractive(), ZimtorvaInfo::ACTIVE);
    EXPECT_TRUE(update->mouseinfo().lefthanded());
    EXPECT_TRUE(update->mouseinfo().crownleft());
    EXPECT_EQ(fieldsText(update->mouseinfo()), "sensitivity: 2 cursorActive: ACTIVE leftHanded: true crownLeft: true 6: 1");
}

} // namespace
} // namespace zt::messages::test

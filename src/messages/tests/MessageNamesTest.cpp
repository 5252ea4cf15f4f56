#include "TestSupport.h"

#include "messages/MessageNames.h"

#include <gtest/gtest.h>

#include <utility>

namespace zt::messages::test {
namespace {

using google::protobuf::FieldDescriptor;

// One field as "number name kind", kind prefixed with "repeated " for lists.
std::string describe(const FieldDescriptor& field)
{
    std::string kind = field.type_name();
    if (field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE)
        kind = field.message_type()->full_name();
    else if (field.cpp_type() == FieldDescriptor::CPPTYPE_ENUM)
        kind = field.enum_type()->full_name();
    return std::to_string(field.number()) + " " + field.name() + " " + (field.is_repeated() ? "repeated " : "") + kind;
}

using SchemaCase = std::pair<std::string, std::string>; // type, its fields in declaration order

class Schema : public testing::TestWithParam<SchemaCase> {};

TEST_P(Schema, DeclaresTheFieldsOfTheWatchProtocol)
{
    const auto& [typeName, expectedFields] = GetParam();
    const auto message = newMessage(typeName);
    const auto& type = *message->GetDescriptor();
    std::string fields;
    std::vector<NameEntry> expectedMap;
    for (int i = 0; i < type.field_count(); ++i) {
        const FieldDescriptor& field = *type.field(i);
        fields += (i == 0 ? "" : ", ") + describe(field);
        expectedMap.push_back({field.number(), field.name()});
        EXPECT_EQ(field.json_name(), field.name());
        EXPECT_EQ(field.is_repeated() && field.is_packable(), field.is_packed()) << field.name();
        EXPECT_EQ(field.has_presence(), field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && !field.is_repeated())
            << field.name();
        EXPECT_EQ(nameOf(type, field.number()), field.name());
        EXPECT_EQ(numberOf(type, field.name()), field.number());
    }
    EXPECT_EQ(fields, expectedFields);
    EXPECT_EQ(nameMap(type), expectedMap);
    EXPECT_EQ(protoMessageName(*message), typeName);
    EXPECT_EQ(debugDescription(*message), "ZimTorva_Companion." + typeName);
}

// In the order the three files declare them.
const std::vector<SchemaCase> kSchema = {
    SchemaCase{"Update", "1 sensorFrames repeated SensorFrame, 2 gestures repeated Gesture, "
                         "3 touchEvents repeated TouchEvent, 4 buttonEvents repeated ButtonEvent, "
                         "5 rotaryEvents repeated RotaryEvent, 6 signals repeated Update.Signal, "
                         "7 deltaTime int32, 8 unixTime int64, 9 info Info, "
                         "10 probabilities repeated ProbabilityEntry, 16 pressure float, 17 mouseInfo ZimtorvaInfo"},
    SchemaCase{"SensorFrame", "1 gyro Vec3, 2 acc Vec3, 3 grav Vec3, 4 quat Quat, 6 mag Vec3, 7 magCal Vec3, "
                              "5 deltaTime int32"},
    SchemaCase{"Gesture", "1 type GestureType, 2 deltaTime int32"},
    SchemaCase{"TouchEvent", "1 eventType TouchEvent.TouchEventType, 2 actionIndex int32, "
                             "3 pointerIds repeated int32, 4 coords repeated Vec2, 5 deltaTime int32"},
    SchemaCase{"RotaryEvent", "1 step int32, 2 deltaTime int32"},
    SchemaCase{"ButtonEvent", "1 id int32, 2 deltaTime int32"},
    SchemaCase{"ProbabilityEntry", "1 label GestureType, 2 probability float"},
    SchemaCase{"Info", "1 hand Info.Hand, 2 appId string, 3 appVersion string, 4 availableModels repeated Model, "
                       "5 activeModel Model, 6 modelInfo string, 7 manufacturer string, 8 deviceName string, "
                       "9 batteryPercentage int32, 10 hapticsAvailable bool, 11 touchScreenResolution Vec2"},
    SchemaCase{"ZimtorvaInfo", "1 sensitivity float, 2 smoothing float, 3 cursorActive ZimtorvaInfo.ActiveState, "
                               "4 leftHanded bool, 5 crownLeft bool"},
    SchemaCase{"HapticEvent", "1 type HapticEvent.HapticType, 2 intensity float, 3 length int32"},
    SchemaCase{"ClientInfo", "1 appName string, 2 deviceName string, 3 title string, 4 os string"},
    SchemaCase{"InputUpdate", "1 hapticEvent HapticEvent, 2 clientInfo ClientInfo, 3 modelRequest Model"},
    SchemaCase{"Vec2", "1 x float, 2 y float"},
    SchemaCase{"Vec3", "1 x float, 2 y float, 3 z float"},
    SchemaCase{"Quat", "1 w float, 2 x float, 3 y float, 4 z float"},
    SchemaCase{"Model", "1 gestures repeated GestureType"}};
INSTANTIATE_TEST_SUITE_P(AllMessages, Schema, testing::ValuesIn(kSchema));

TEST(Schema, HasExactlyTheMessageTypesOfTheThreeFiles)
{
    std::vector<std::string> names;
    for (const SchemaCase& c : kSchema)
        names.push_back(c.first);
    EXPECT_EQ(allMessageTypeNames(), names);
    for (const auto* file : {Update::descriptor()->file(), InputUpdate::descriptor()->file(),
                             Vec3::descriptor()->file()}) {
        EXPECT_EQ(file->package(), "");
        EXPECT_EQ(file->syntax(), google::protobuf::FileDescriptor::SYNTAX_PROTO3);
        EXPECT_EQ(file->dependency_count(), file == Vec3::descriptor()->file() ? 0 : 1);
    }
}

using EnumCase = std::pair<std::string, std::string>; // type, its values as "number name" in number order
class EnumNames : public testing::TestWithParam<EnumCase> {};

TEST_P(EnumNames, ListTheirValuesAndMapNumbersAndNamesBothWays)
{
    const auto* type = google::protobuf::DescriptorPool::generated_pool()->FindEnumTypeByName(GetParam().first);
    ASSERT_NE(type, nullptr);
    std::string entries;
    std::vector<int> numbers;
    for (const NameEntry& entry : nameMap(*type)) {
        entries += (entries.empty() ? "" : ", ") + std::to_string(entry.number) + " " + std::string(entry.name);
        numbers.push_back(entry.number);
        EXPECT_EQ(nameOf(*type, entry.number), entry.name);
        EXPECT_EQ(numberOf(*type, entry.name), entry.number);
    }
    EXPECT_EQ(entries, GetParam().second);
    EXPECT_EQ(listedNumbers(*type), numbers);
    EXPECT_EQ(nameOf(*type, 7), std::nullopt);
    EXPECT_EQ(nameOf(*type, -1), std::nullopt);
    EXPECT_EQ(numberOf(*type, "UNRECOGNIZED"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(AllEnums, EnumNames, testing::Values(
    EnumCase{"GestureType", "0 NONE, 1 PINCH_TAP, 2 CLENCH, 3 SURFACE_TAP, 4 PINCH_HOLD"},
    EnumCase{"Update.Signal", "0 NONE, 1 DISCONNECT, 2 CONNECT_APPROVED, 3 DESCRIPTION_UPDATE"},
    EnumCase{"TouchEvent.TouchEventType", "0 NONE, 1 BEGIN, 2 END, 3 MOVE, 4 CANCEL"},
    EnumCase{"Info.Hand", "0 NONE, 1 RIGHT, 2 LEFT"},
    EnumCase{"ZimtorvaInfo.ActiveState", "0 NONE, 1 INACTIVE, 2 ACTIVE"},
    EnumCase{"HapticEvent.HapticType", "0 CANCEL, 1 ONESHOT"}));

TEST(Names, TypedLookUpsAndMisses)
{
    EXPECT_EQ(allCases<TouchEvent::TouchEventType>(),
              (std::vector{TouchEvent::NONE, TouchEvent::BEGIN, TouchEvent::END, TouchEvent::MOVE,
                           TouchEvent::CANCEL}));
    EXPECT_EQ(nameOf(*SensorFrame::descriptor(), 8), std::nullopt);
    EXPECT_EQ(numberOf(*SensorFrame::descriptor(), "magcal"), std::nullopt);
}

} // namespace
} // namespace zt::messages::test

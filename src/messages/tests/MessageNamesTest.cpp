#include "TestSupport.h"

#include "messages/MessageNames.h"

#include "watch_input.pb.h"
#include "watch_output.pb.h"

#include <gtest/gtest.h>

#include <ostream>

namespace zt::messages::test {
namespace {

using google::protobuf::FieldDescriptor;

// One field as "number name kind", kind prefixed with "repeated " for lists.
std::string describe(const FieldDescriptor& field)
{
    std::string kind;
    if (field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE)
        kind = field.message_type()->full_name();
    else if (field.cpp_type() == FieldDescriptor::CPPTYPE_ENUM)
        kind = field.enum_type()->full_name();
    else
        kind = field.type_name();
    if (field.is_repeated())
        kind = "repeated " + kind;
    return std::to_string(field.number()) + " " + field.name() + " " + kind;
}

struct SchemaCase {
    const char* type;
    std::vector<std::string> fields; // declaration order
};

void PrintTo(const SchemaCase& c, std::ostream* os)
{
    *os << c.type;
}

class Schema : public testing::TestWithParam<SchemaCase> {};

TEST_P(Schema, DeclaresTheFieldsOfTheWatchProtocol)
{
    const auto message = newMessage(GetParam().type);
    const auto& type = *message->GetDescriptor();
    std::vector<std::string> fields;
    for (int i = 0; i < type.field_count(); ++i) {
        const FieldDescriptor& field = *type.field(i);
        fields.push_back(describe(field));
        EXPECT_EQ(field.json_name(), field.name());
        EXPECT_EQ(field.is_repeated() && field.is_packable(), field.is_packed()) << field.name();
        EXPECT_EQ(field.has_presence(), field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && !field.is_repeated())
            << field.name();
    }
    EXPECT_EQ(fields, GetParam().fields);

    std::vector<NameEntry> expectedMap;
    for (int i = 0; i < type.field_count(); ++i)
        expectedMap.push_back({type.field(i)->number(), type.field(i)->name()});
    EXPECT_EQ(nameMap(type), expectedMap);
    EXPECT_EQ(protoMessageName(*message), GetParam().type);
    EXPECT_EQ(debugDescription(*message), std::string("ZimTorva_Companion.") + GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(AllMessages, Schema, testing::Values(
    SchemaCase{"Vec2", {"1 x float", "2 y float"}},
    SchemaCase{"Vec3", {"1 x float", "2 y float", "3 z float"}},
    SchemaCase{"Quat", {"1 w float", "2 x float", "3 y float", "4 z float"}},
    SchemaCase{"Model", {"1 gestures repeated GestureType"}},
    SchemaCase{"Update", {"1 sensorFrames repeated SensorFrame", "2 gestures repeated Gesture",
                          "3 touchEvents repeated TouchEvent", "4 buttonEvents repeated ButtonEvent",
                          "5 rotaryEvents repeated RotaryEvent", "6 signals repeated Update.Signal",
                          "7 deltaTime int32", "8 unixTime int64", "9 info Info",
                          "10 probabilities repeated ProbabilityEntry", "16 pressure float",
                          "17 mouseInfo ZimtorvaInfo"}},
    SchemaCase{"SensorFrame", {"1 gyro Vec3", "2 acc Vec3", "3 grav Vec3", "4 quat Quat", "6 mag Vec3",
                               "7 magCal Vec3", "5 deltaTime int32"}},
    SchemaCase{"Gesture", {"1 type GestureType", "2 deltaTime int32"}},
    SchemaCase{"TouchEvent", {"1 eventType TouchEvent.TouchEventType", "2 actionIndex int32",
                              "3 pointerIds repeated int32", "4 coords repeated Vec2", "5 deltaTime int32"}},
    SchemaCase{"RotaryEvent", {"1 step int32", "2 deltaTime int32"}},
    SchemaCase{"ButtonEvent", {"1 id int32", "2 deltaTime int32"}},
    SchemaCase{"ProbabilityEntry", {"1 label GestureType", "2 probability float"}},
    SchemaCase{"Info", {"1 hand Info.Hand", "2 appId string", "3 appVersion string",
                        "4 availableModels repeated Model", "5 activeModel Model", "6 modelInfo string",
                        "7 manufacturer string", "8 deviceName string", "9 batteryPercentage int32",
                        "10 hapticsAvailable bool", "11 touchScreenResolution Vec2"}},
    SchemaCase{"ZimtorvaInfo", {"1 sensitivity float", "2 smoothing float", "3 cursorActive ZimtorvaInfo.ActiveState",
                                "4 leftHanded bool", "5 crownLeft bool"}},
    SchemaCase{"HapticEvent", {"1 type HapticEvent.HapticType", "2 intensity float", "3 length int32"}},
    SchemaCase{"ClientInfo", {"1 appName string", "2 deviceName string", "3 title string", "4 os string"}},
    SchemaCase{"InputUpdate", {"1 hapticEvent HapticEvent", "2 clientInfo ClientInfo", "3 modelRequest Model"}}));

TEST(Schema, HasExactlyTheMessageTypesOfTheThreeFiles)
{
    EXPECT_EQ(allMessageTypeNames(),
              (std::vector<std::string>{"Update", "SensorFrame", "Gesture", "TouchEvent", "RotaryEvent", "ButtonEvent",
                                        "ProbabilityEntry", "Info", "ZimtorvaInfo", "HapticEvent", "ClientInfo",
                                        "InputUpdate", "Vec2", "Vec3", "Quat", "Model"}));
    for (const auto* file : {Update::descriptor()->file(), InputUpdate::descriptor()->file(),
                             Vec3::descriptor()->file()}) {
        EXPECT_EQ(file->package(), "");
        EXPECT_EQ(file->syntax(), google::protobuf::FileDescriptor::SYNTAX_PROTO3);
    }
    EXPECT_EQ(InputUpdate::descriptor()->file()->dependency_count(), 1);
    EXPECT_EQ(Update::descriptor()->file()->dependency_count(), 1);
}

template <typename E>
std::vector<int> numbers(const std::vector<E>& cases)
{
    std::vector<int> result;
    for (E value : cases)
        result.push_back(static_cast<int>(value));
    return result;
}

TEST(Enums, AllCasesListTheListedValuesInNumberOrder)
{
    EXPECT_EQ(allCases<GestureType>(), (std::vector{NONE, PINCH_TAP, CLENCH, SURFACE_TAP, PINCH_HOLD}));
    EXPECT_EQ(allCases<TouchEvent::TouchEventType>(),
              (std::vector{TouchEvent::NONE, TouchEvent::BEGIN, TouchEvent::END, TouchEvent::MOVE, TouchEvent::CANCEL}));
    EXPECT_EQ(allCases<Update::Signal>(),
              (std::vector{Update::NONE, Update::DISCONNECT, Update::CONNECT_APPROVED, Update::DESCRIPTION_UPDATE}));
    EXPECT_EQ(allCases<Info::Hand>(), (std::vector{Info::NONE, Info::RIGHT, Info::LEFT}));
    EXPECT_EQ(allCases<ZimtorvaInfo::ActiveState>(),
              (std::vector{ZimtorvaInfo::NONE, ZimtorvaInfo::INACTIVE, ZimtorvaInfo::ACTIVE}));
    EXPECT_EQ(allCases<HapticEvent::HapticType>(), (std::vector{HapticEvent::CANCEL, HapticEvent::ONESHOT}));
    EXPECT_EQ(numbers(allCases<HapticEvent::HapticType>()), (std::vector{0, 1}));
}

struct EnumMapCase {
    const google::protobuf::EnumDescriptor* (*type)();
    const char* fullName;
    std::vector<NameEntry> entries;
};

void PrintTo(const EnumMapCase& c, std::ostream* os)
{
    *os << c.fullName;
}

class EnumNames : public testing::TestWithParam<EnumMapCase> {};

TEST_P(EnumNames, MapNumbersAndNamesBothWays)
{
    const auto& type = *GetParam().type();
    EXPECT_EQ(type.full_name(), GetParam().fullName);
    EXPECT_EQ(nameMap(type), GetParam().entries);
    for (const NameEntry& entry : GetParam().entries) {
        EXPECT_EQ(nameOf(type, entry.number), entry.name);
        EXPECT_EQ(numberOf(type, entry.name), entry.number);
    }
    EXPECT_EQ(nameOf(type, 7), std::nullopt);
    EXPECT_EQ(nameOf(type, -1), std::nullopt);
    EXPECT_EQ(numberOf(type, "UNRECOGNIZED"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(AllEnums, EnumNames, testing::Values(
    EnumMapCase{&GestureType_descriptor, "GestureType",
                {{0, "NONE"}, {1, "PINCH_TAP"}, {2, "CLENCH"}, {3, "SURFACE_TAP"}, {4, "PINCH_HOLD"}}},
    EnumMapCase{&Update_Signal_descriptor, "Update.Signal",
                {{0, "NONE"}, {1, "DISCONNECT"}, {2, "CONNECT_APPROVED"}, {3, "DESCRIPTION_UPDATE"}}},
    EnumMapCase{&TouchEvent_TouchEventType_descriptor, "TouchEvent.TouchEventType",
                {{0, "NONE"}, {1, "BEGIN"}, {2, "END"}, {3, "MOVE"}, {4, "CANCEL"}}},
    EnumMapCase{&Info_Hand_descriptor, "Info.Hand", {{0, "NONE"}, {1, "RIGHT"}, {2, "LEFT"}}},
    EnumMapCase{&ZimtorvaInfo_ActiveState_descriptor, "ZimtorvaInfo.ActiveState",
                {{0, "NONE"}, {1, "INACTIVE"}, {2, "ACTIVE"}}},
    EnumMapCase{&HapticEvent_HapticType_descriptor, "HapticEvent.HapticType", {{0, "CANCEL"}, {1, "ONESHOT"}}}));

TEST(FieldNames, LookUpByNumberAndByName)
{
    const auto& frame = *SensorFrame::descriptor();
    EXPECT_EQ(nameOf(frame, 5), "deltaTime");
    EXPECT_EQ(nameOf(frame, 7), "magCal");
    EXPECT_EQ(nameOf(frame, 8), std::nullopt);
    EXPECT_EQ(numberOf(frame, "magCal"), 7);
    EXPECT_EQ(numberOf(frame, "magcal"), std::nullopt);
    EXPECT_EQ(numberOf(*Info::descriptor(), "appId"), 2);
    EXPECT_EQ(numberOf(*Info::descriptor(), "appID"), std::nullopt);
    EXPECT_EQ(numberOf(*Update::descriptor(), "mouseInfo"), 17);
    EXPECT_EQ(protoMessageName<Update>(), "Update");
    EXPECT_EQ(protoMessageName<ZimtorvaInfo>(), "ZimtorvaInfo");
}

} // namespace
} // namespace zt::messages::test

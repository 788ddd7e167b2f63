// Tests of the simulated property containers, driven through the SDK's own property helpers as the driver does.
#include "tools/host_sim/property_store.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

class PropertyStoreTest : public ::testing::Test {
 protected:
  RunState run;
  CallTrace trace{run, false};
  PropertyStore store{trace};
  vr::CVRPropertyHelpers helpers{&store};

  TraceJson LastCall() { return trace.Calls().back(); }
};

TEST_F(PropertyStoreTest, HmdContainerExistsOnlyOnceAdded) {
  EXPECT_EQ(store.TrackedDeviceToPropertyContainer(0), vr::k_ulInvalidPropertyContainer);
  EXPECT_EQ(helpers.SetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, 0.063f),
            vr::TrackedProp_InvalidContainer);
  vr::ETrackedPropertyError error;
  helpers.GetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, &error);
  EXPECT_EQ(error, vr::TrackedProp_InvalidContainer);

  store.AddHmd();
  EXPECT_EQ(store.TrackedDeviceToPropertyContainer(0), kHmdContainer);
  EXPECT_EQ(store.TrackedDeviceToPropertyContainer(1), vr::k_ulInvalidPropertyContainer);
  EXPECT_EQ(helpers.SetFloatProperty(vr::k_ulInvalidPropertyContainer, vr::Prop_UserIpdMeters_Float, 0.063f),
            vr::TrackedProp_InvalidContainer);
  EXPECT_EQ(helpers.SetFloatProperty(kHmdContainer + 1, vr::Prop_UserIpdMeters_Float, 0.063f),
            vr::TrackedProp_InvalidContainer);
}

TEST_F(PropertyStoreTest, TypedReadsThroughTheHelpers) {
  store.AddHmd();
  ASSERT_EQ(helpers.SetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, 0.063f), vr::TrackedProp_Success);
  ASSERT_EQ(helpers.SetBoolProperty(kHmdContainer, vr::Prop_ContainsProximitySensor_Bool, true),
            vr::TrackedProp_Success);
  const std::string long_serial(1500, 'S');  // past the helper's 1024-byte first attempt
  ASSERT_EQ(helpers.SetStringProperty(kHmdContainer, vr::Prop_SerialNumber_String, long_serial.c_str()),
            vr::TrackedProp_Success);

  vr::ETrackedPropertyError error;
  EXPECT_FLOAT_EQ(helpers.GetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, &error), 0.063f);
  EXPECT_EQ(error, vr::TrackedProp_Success);
  EXPECT_TRUE(helpers.GetBoolProperty(kHmdContainer, vr::Prop_ContainsProximitySensor_Bool, &error));
  EXPECT_EQ(helpers.GetStringProperty(kHmdContainer, vr::Prop_SerialNumber_String, &error), long_serial);
  EXPECT_EQ(error, vr::TrackedProp_Success);

  helpers.GetInt32Property(kHmdContainer, vr::Prop_UserIpdMeters_Float, &error);
  EXPECT_EQ(error, vr::TrackedProp_WrongDataType);
  helpers.GetBoolProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, &error);
  EXPECT_EQ(error, vr::TrackedProp_BufferTooSmall);
  helpers.GetFloatProperty(kHmdContainer, vr::Prop_IpdUIRangeMinMeters_Float, &error);
  EXPECT_EQ(error, vr::TrackedProp_UnknownProperty);
}

TEST_F(PropertyStoreTest, ReadIntoASmallBufferGivesTheSizeNeeded) {
  store.AddHmd();
  helpers.SetStringProperty(kHmdContainer, vr::Prop_SerialNumber_String, "ZV2-000123");
  char buffer[4] = {'x', 'x', 'x', 'x'};
  vr::PropertyRead_t read{};
  read.prop = vr::Prop_SerialNumber_String;
  read.pvBuffer = buffer;
  read.unBufferSize = sizeof buffer;
  EXPECT_EQ(store.ReadPropertyBatch(kHmdContainer, &read, 1), vr::TrackedProp_BufferTooSmall);
  EXPECT_EQ(read.eError, vr::TrackedProp_BufferTooSmall);
  EXPECT_EQ(read.unRequiredBufferSize, 11u);
  EXPECT_EQ(read.unTag, vr::k_unStringPropertyTag);
  EXPECT_EQ(buffer[0], 'x');
}

TEST_F(PropertyStoreTest, StringsWrittenWithoutTerminatorReadBackTerminated) {
  store.AddHmd();
  char text[3] = {'a', 'b', 'c'};
  ASSERT_EQ(helpers.SetProperty(kHmdContainer, vr::Prop_ModelNumber_String, text, 3, vr::k_unStringPropertyTag),
            vr::TrackedProp_Success);
  EXPECT_EQ(helpers.GetStringProperty(kHmdContainer, vr::Prop_ModelNumber_String), "abc");
}

TEST_F(PropertyStoreTest, EraseAndSetErrorChangeWhatReadsSee) {
  store.AddHmd();
  helpers.SetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, 0.063f);
  EXPECT_EQ(helpers.EraseProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float), vr::TrackedProp_Success);
  vr::ETrackedPropertyError error;
  helpers.GetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, &error);
  EXPECT_EQ(error, vr::TrackedProp_UnknownProperty);

  EXPECT_EQ(helpers.SetPropertyError(kHmdContainer, vr::Prop_UserIpdMeters_Float, vr::TrackedProp_NotYetAvailable),
            vr::TrackedProp_Success);
  helpers.GetFloatProperty(kHmdContainer, vr::Prop_UserIpdMeters_Float, &error);
  EXPECT_EQ(error, vr::TrackedProp_NotYetAvailable);
}

TEST_F(PropertyStoreTest, InjectedWriteFailureStoresNothingAndBatchGivesFirstError) {
  store.AddHmd();
  store.FailWritesOf(vr::Prop_ContainsProximitySensor_Bool, vr::TrackedProp_PermissionDenied);
  float ipd = 0.064f;
  bool present = true;
  vr::PropertyWrite_t batch[2] = {};
  batch[0] = {vr::Prop_UserIpdMeters_Float, vr::PropertyWrite_Set, vr::TrackedProp_Success, &ipd, sizeof ipd,
              vr::k_unFloatPropertyTag, vr::TrackedProp_Success};
  batch[1] = {vr::Prop_ContainsProximitySensor_Bool, vr::PropertyWrite_Set, vr::TrackedProp_Success, &present,
              sizeof present, vr::k_unBoolPropertyTag, vr::TrackedProp_Success};
  EXPECT_EQ(store.WritePropertyBatch(kHmdContainer, batch, 2), vr::TrackedProp_PermissionDenied);
  EXPECT_EQ(batch[0].eError, vr::TrackedProp_Success);
  EXPECT_EQ(batch[1].eError, vr::TrackedProp_PermissionDenied);
  EXPECT_TRUE(store.HmdProperty(vr::Prop_UserIpdMeters_Float));
  EXPECT_FALSE(store.HmdProperty(vr::Prop_ContainsProximitySensor_Bool));

  const TraceJson entries = LastCall()["entries"];
  EXPECT_EQ(entries[0]["value"], 0.064);
  EXPECT_EQ(entries[0]["tag"], vr::k_unFloatPropertyTag);
  EXPECT_EQ(entries[1]["value"], true);
  EXPECT_EQ(entries[1]["size"], 1);
  EXPECT_EQ(entries[1]["error"], vr::TrackedProp_PermissionDenied);
}

struct AssignmentCase {
  const char* text;
  vr::ETrackedDeviceProperty prop;
  vr::PropertyTypeTag_t tag;
  TraceJson value;  // decoded; null when parsing must fail
};

TEST(ParsePropertyAssignmentTest, NamesIdsTypesAndValues) {
  const AssignmentCase cases[] = {
      {"Prop_UserIpdMeters_Float=0.063", vr::Prop_UserIpdMeters_Float, vr::k_unFloatPropertyTag, 0.063},
      {"2003:float=0.063", vr::Prop_UserIpdMeters_Float, vr::k_unFloatPropertyTag, 0.063},
      {"Prop_SerialNumber_String=ZV2 123=x", vr::Prop_SerialNumber_String, vr::k_unStringPropertyTag, "ZV2 123=x"},
      {"Prop_SerialNumber_String=", vr::Prop_SerialNumber_String, vr::k_unStringPropertyTag, ""},
      {"Prop_DriverDisplaysIPDChanges_Bool=true", kPropDriverDisplaysIpdChanges, vr::k_unBoolPropertyTag, true},
      {"Prop_ContainsProximitySensor_Bool=0", vr::Prop_ContainsProximitySensor_Bool, vr::k_unBoolPropertyTag, false},
      {"5000:int32=-7", static_cast<vr::ETrackedDeviceProperty>(5000), vr::k_unInt32PropertyTag, -7},
      {"5001:uint64=0x10", static_cast<vr::ETrackedDeviceProperty>(5001), vr::k_unUint64PropertyTag, 16},
      {"5002:double=0.5", static_cast<vr::ETrackedDeviceProperty>(5002), vr::k_unDoublePropertyTag, 0.5},
      {"Prop_Unknown_Float=1", vr::Prop_Invalid, 0, nullptr},
      {"2003:quaternion=1", vr::Prop_Invalid, 0, nullptr},
      {"abc:float=1", vr::Prop_Invalid, 0, nullptr},
      {"Prop_UserIpdMeters_Float=abc", vr::Prop_Invalid, 0, nullptr},
      {"Prop_ContainsProximitySensor_Bool=yes", vr::Prop_Invalid, 0, nullptr},
      {"5000:int32=3000000000", vr::Prop_Invalid, 0, nullptr},
      {"Prop_UserIpdMeters_Float", vr::Prop_Invalid, 0, nullptr},
  };
  for (const AssignmentCase& c : cases) {
    std::string error;
    auto parsed = ParsePropertyAssignment(c.text, &error);
    if (c.value.is_null()) {
      EXPECT_FALSE(parsed) << c.text;
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    ASSERT_TRUE(parsed) << c.text << ": " << error;
    EXPECT_EQ(parsed->prop, c.prop) << c.text;
    EXPECT_EQ(parsed->tag, c.tag) << c.text;
    EXPECT_EQ(DecodePropertyValue(parsed->tag, parsed->bytes.data(), static_cast<uint32_t>(parsed->bytes.size())),
              c.value)
        << c.text;
  }
}

}  // namespace
}  // namespace zelvan::host_sim

// Tests of the simulated driver input: handles, refusals and updates on unknown or mismatched handles.
#include "tools/host_sim/driver_input.h"

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

class DriverInputTest : public ::testing::Test {
 protected:
  DriverInputTest() { properties.AddHmd(); }

  RunState run;
  CallTrace trace{run, false};
  PropertyStore properties{trace};
  DriverInput input{trace, properties};
};

TEST_F(DriverInputTest, HandlesCountUpAndRepeatForTheSamePath) {
  vr::VRInputComponentHandle_t proximity = 0, slider = 0, again = 0, other_device = 0;
  EXPECT_EQ(input.CreateBooleanComponent(kHmdContainer, "/proximity", &proximity), vr::VRInputError_None);
  EXPECT_EQ(input.CreateScalarComponent(kHmdContainer, "/input/ipd/value", &slider, vr::VRScalarType_Absolute,
                                        vr::VRScalarUnits_NormalizedOneSided),
            vr::VRInputError_None);
  EXPECT_EQ(input.CreateBooleanComponent(kHmdContainer, "/proximity", &again), vr::VRInputError_None);
  EXPECT_EQ(input.CreateBooleanComponent(kDriverContainer, "/proximity", &other_device), vr::VRInputError_None);
  EXPECT_EQ(proximity, kFirstComponentHandle);
  EXPECT_EQ(slider, kFirstComponentHandle + 1);
  EXPECT_EQ(again, proximity);
  EXPECT_EQ(other_device, kFirstComponentHandle + 2);
}

TEST_F(DriverInputTest, CreationFailuresLeaveAnInvalidHandle) {
  input.Refuse("/proximity", vr::VRInputError_MaxCapacityReached);
  PropertyStore no_hmd{trace};
  DriverInput before_hmd{trace, no_hmd};
  const struct {
    DriverInput* input;
    vr::PropertyContainerHandle_t container;
    const char* path;
    vr::EVRInputError error;
  } cases[] = {
      {&input, kHmdContainer, "/proximity", vr::VRInputError_MaxCapacityReached},
      {&input, vr::k_ulInvalidPropertyContainer, "/other", vr::VRInputError_InvalidDevice},
      {&before_hmd, kHmdContainer, "/other", vr::VRInputError_InvalidDevice},
  };
  for (const auto& c : cases) {
    vr::VRInputComponentHandle_t handle = 0xdead;
    EXPECT_EQ(c.input->CreateBooleanComponent(c.container, c.path, &handle), c.error) << c.path;
    EXPECT_EQ(handle, vr::k_ulInvalidInputComponentHandle) << c.path;
  }
  const TraceJson last = trace.Calls().back();
  EXPECT_EQ(last["call"], "CreateBooleanComponent");
  EXPECT_EQ(last["handle"], 0);
  EXPECT_EQ(last["error"], vr::VRInputError_InvalidDevice);
}

TEST_F(DriverInputTest, UpdatesNeedAKnownHandleOfTheRightKind) {
  vr::VRInputComponentHandle_t proximity = 0, slider = 0;
  input.CreateBooleanComponent(kHmdContainer, "/proximity", &proximity);
  input.CreateScalarComponent(kHmdContainer, "/slider", &slider, vr::VRScalarType_Absolute,
                              vr::VRScalarUnits_NormalizedOneSided);

  EXPECT_EQ(input.UpdateBooleanComponent(proximity, true, 0.0), vr::VRInputError_None);
  EXPECT_EQ(input.UpdateScalarComponent(slider, 0.25f, 0.0), vr::VRInputError_None);
  EXPECT_EQ(input.UpdateBooleanComponent(slider, true, 0.0), vr::VRInputError_WrongType);
  EXPECT_EQ(input.UpdateBooleanComponent(999, true, 0.0), vr::VRInputError_InvalidHandle);
  EXPECT_EQ(input.UpdateScalarComponent(vr::k_ulInvalidInputComponentHandle, 1.0f, 0.0),
            vr::VRInputError_InvalidHandle);

  EXPECT_EQ(input.Find(proximity)->value, 1.0);
  EXPECT_EQ(input.Find(proximity)->updates, 1u);
  EXPECT_EQ(input.Find(slider)->value, 0.25);
}

}  // namespace
}  // namespace zelvan::host_sim

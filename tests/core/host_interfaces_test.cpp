// Property reads through the host interfaces: a value counts only when the
// runtime stored it with the type asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/host_interfaces.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

std::vector<unsigned char> Bytes(const void *data, size_t size)
{
	const auto *bytes = static_cast<const unsigned char *>(data);
	return {bytes, bytes + size};
}

TEST(HostProperties, AReadTakesOnlyAValueOfItsOwnType)
{
	const float ipd = 0.0635f;
	const int32_t count = 7;
	const char serial[] = "LHR-1A2B";
	const struct {
		const char *name;
		vr::PropertyTypeTag_t tag;
		std::vector<unsigned char> bytes;
		vr::ETrackedPropertyError float_error, string_error;
	} cases[] = {
		{"a float", vr::k_unFloatPropertyTag, Bytes(&ipd, sizeof(ipd)), vr::TrackedProp_Success, vr::TrackedProp_WrongDataType},
		{"a string", vr::k_unStringPropertyTag, Bytes(serial, sizeof(serial)), vr::TrackedProp_BufferTooSmall,
		 vr::TrackedProp_Success},
		{"an int32", vr::k_unInt32PropertyTag, Bytes(&count, sizeof(count)), vr::TrackedProp_WrongDataType,
		 vr::TrackedProp_WrongDataType},
		{"a float's bytes tagged double", vr::k_unDoublePropertyTag, Bytes(&ipd, sizeof(ipd)),
		 vr::TrackedProp_WrongDataType, vr::TrackedProp_WrongDataType},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		test::FakeRuntime runtime;
		ASSERT_EQ(InitHostInterfaces(&runtime), 0);
		runtime.properties.hmd[vr::Prop_UserIpdMeters_Float] = {c.tag, c.bytes};
		float value = -1.0f;
		EXPECT_EQ(ReadHmdFloat(vr::Prop_UserIpdMeters_Float, value), c.float_error);
		EXPECT_EQ(value, c.float_error == vr::TrackedProp_Success ? ipd : 0.0f);
		char text[64];
		EXPECT_EQ(ReadHmdString(vr::Prop_UserIpdMeters_Float, text, sizeof(text)), c.string_error);
		EXPECT_EQ(std::string(text), c.string_error == vr::TrackedProp_Success ? serial : "");
	}
}

} // namespace
} // namespace zelvan

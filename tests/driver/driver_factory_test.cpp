// The exported factory and the provider's interface list, as the runtime
// sees them before and after Init.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <openvr_driver.h>

extern "C" void *HmdDriverFactory(const char *interface_name, int *return_code);

namespace {

TEST(DriverFactory, HandsOutTheProviderOnlyForItsExactInterfaceName)
{
	struct Case {
		const char *name;
		bool answered;
	};
	const Case cases[] = {
		{"IServerTrackedDeviceProvider_004", true},
		{"IServerTrackedDeviceProvider_003", false},
		{"IServerTrackedDeviceProvider_005", false},
		{"iservertrackeddeviceprovider_004", false},
		{"ISERVERTRACKEDDEVICEPROVIDER_004", false},
		{"IServerTrackedDeviceProvider_004 ", false},
		{"IServerTrackedDeviceProvider_00", false},
		{"IVRWatchdogProvider_001", false},
		{"", false},
	};
	void *provider = HmdDriverFactory("IServerTrackedDeviceProvider_004", nullptr);
	ASSERT_NE(provider, nullptr);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		int code = 12345;
		void *result = HmdDriverFactory(c.name, &code);
		if (c.answered) {
			EXPECT_EQ(result, provider);
			EXPECT_EQ(code, 12345) << "the return code is left alone on success";
		} else {
			EXPECT_EQ(result, nullptr);
			EXPECT_EQ(code, vr::VRInitError_Init_InterfaceNotFound);
			EXPECT_EQ(HmdDriverFactory(c.name, nullptr), nullptr);
		}
	}
}

TEST(DriverFactory, ProviderListsTheTwelveInterfaceVersionsItWasBuiltFor)
{
	auto *provider = static_cast<vr::IServerTrackedDeviceProvider *>(
		HmdDriverFactory("IServerTrackedDeviceProvider_004", nullptr));
	ASSERT_NE(provider, nullptr);
	const std::vector<std::string> expected = {
		"IVRSettings_003", "ITrackedDeviceServerDriver_005", "IVRDisplayComponent_003",
		"IVRDriverDirectModeComponent_009", "IVRCameraComponent_003", "IServerTrackedDeviceProvider_004",
		"IVRWatchdogProvider_001", "IVRVirtualDisplay_002", "IVRDriverManager_001", "IVRResources_001",
		"IVRCompositorPluginProvider_001", "IVRIPCResourceManagerClient_001",
	};
	const char *const *list = provider->GetInterfaceVersions();
	ASSERT_NE(list, nullptr);
	std::vector<std::string> got;
	for (size_t i = 0; list[i] != nullptr && i < 20; ++i)
		got.emplace_back(list[i]);
	EXPECT_EQ(got, expected);
	EXPECT_EQ(list[expected.size()], nullptr);
	EXPECT_EQ(provider->GetInterfaceVersions(), list);
	EXPECT_FALSE(provider->ShouldBlockStandbyMode());
	provider->EnterStandby();
	provider->LeaveStandby();
	EXPECT_FALSE(provider->ShouldBlockStandbyMode());
}

} // namespace

// A throwaway server driver for the host simulator's tests: logs, polls events, writes a property and a setting.
#include <cstdio>
#include <cstring>
#include <thread>

#include <openvr_driver.h>

#if defined(_WIN32)
#define FAKE_DRIVER_EXPORT __declspec(dllexport)
#else
#define FAKE_DRIVER_EXPORT __attribute__((visibility("default")))
#endif

namespace {

class FakeProvider final : public vr::IServerTrackedDeviceProvider {
 public:
  ~FakeProvider() {
    if (thread_.joinable()) thread_.join();
  }

  vr::EVRInitError Init(vr::IVRDriverContext* context) override {
    context_ = context;
    frame_ = 0;
    proximity_ = vr::k_ulInvalidInputComponentHandle;
    log_ = Get<vr::IVRDriverLog>(vr::IVRDriverLog_Version);
    settings_ = Get<vr::IVRSettings>(vr::IVRSettings_Version);
    properties_ = Get<vr::IVRProperties>(vr::IVRProperties_Version);
    host_ = Get<vr::IVRServerDriverHost>(vr::IVRServerDriverHost_Version);
    if (!log_ || !settings_ || !properties_ || !host_) return vr::VRInitError_Init_InterfaceNotFound;
    log_->Log("Fake: Init\n");
    vr::EVRSettingsError error = vr::VRSettingsError_None;
    const int32_t rate = settings_->GetInt32("driver_fake", "report_rate_ms", &error);
    Logf("Fake: report_rate_ms=%d error=%d\n", rate, error);
    thread_ = std::thread([this] { log_->Log("Fake: hello from the sensor thread\n"); });
    return vr::VRInitError_None;
  }

  void RunFrame() override {
    ++frame_;
    Logf("Fake: RunFrame %d\n", frame_);
    const vr::PropertyContainerHandle_t hmd =
        properties_->TrackedDeviceToPropertyContainer(vr::k_unTrackedDeviceIndex_Hmd);
    if (hmd != vr::k_ulInvalidPropertyContainer && proximity_ == vr::k_ulInvalidInputComponentHandle) {
      vr::CVRPropertyHelpers helpers(properties_);
      helpers.SetBoolProperty(hmd, vr::Prop_ContainsProximitySensor_Bool, true);
      auto* input = Get<vr::IVRDriverInput>(vr::IVRDriverInput_Version);
      if (input) input->CreateBooleanComponent(hmd, "/proximity", &proximity_);
    }
    if (proximity_ != vr::k_ulInvalidInputComponentHandle) {
      Get<vr::IVRDriverInput>(vr::IVRDriverInput_Version)->UpdateBooleanComponent(proximity_, frame_ % 2 == 0, 0.0);
    }
    vr::VREvent_t event;
    while (host_->PollNextEvent(&event, sizeof event)) {
      if (event.eventType == vr::VREvent_IpdChanged) {
        settings_->SetFloat("driver_fake", "ipd_mm", event.data.ipd.ipdMeters * 1000.0f);
      }
    }
  }

  void Cleanup() override {
    if (thread_.joinable()) thread_.join();
    log_->Log("Fake: Cleanup\n");
  }

  const char* const* GetInterfaceVersions() override { return vr::k_InterfaceVersions; }
  bool ShouldBlockStandbyMode() override { return false; }
  void EnterStandby() override {}
  void LeaveStandby() override {}

 private:
  template <typename T>
  T* Get(const char* version) {
    vr::EVRInitError error = vr::VRInitError_None;
    return static_cast<T*>(context_->GetGenericInterface(version, &error));
  }

  template <typename... Args>
  void Logf(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    log_->Log(line);
  }

  vr::IVRDriverContext* context_ = nullptr;
  vr::IVRDriverLog* log_ = nullptr;
  vr::IVRSettings* settings_ = nullptr;
  vr::IVRProperties* properties_ = nullptr;
  vr::IVRServerDriverHost* host_ = nullptr;
  vr::VRInputComponentHandle_t proximity_ = vr::k_ulInvalidInputComponentHandle;
  int frame_ = 0;
  std::thread thread_;
};

FakeProvider g_provider;

}  // namespace

extern "C" FAKE_DRIVER_EXPORT void* HmdDriverFactory(const char* pInterfaceName, int* pReturnCode) {
  if (std::strcmp(pInterfaceName, vr::IServerTrackedDeviceProvider_Version) == 0) return &g_provider;
  if (pReturnCode) *pReturnCode = vr::VRInitError_Init_InterfaceNotFound;
  return nullptr;
}

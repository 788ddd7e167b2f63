// The runtime's server driver host: the driver's event queue, eye-to-head transforms and device notifications.
#pragma once

#include <deque>
#include <mutex>

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"
#include "tools/host_sim/property_store.h"
#include "tools/host_sim/run_state.h"

namespace zelvan::host_sim {

class ServerDriverHost final : public vr::IVRServerDriverHost {
 public:
  ServerDriverHost(CallTrace& trace, const RunState& run, const PropertyStore& properties);

  // Queues an event for the driver's PollNextEvent, for device 0 and with age 0.
  void PushEvent(vr::EVREventType type, const vr::VREvent_Data_t& data);
  void PushIpdChanged(float meters);
  std::size_t PendingEvents() const;

  // A driver that adds no device is told the device was refused.
  bool TrackedDeviceAdded(const char* pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                          vr::ITrackedDeviceServerDriver* pDriver) override;
  void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t& newPose,
                                uint32_t unPoseStructSize) override;
  void VsyncEvent(double vsyncTimeOffsetSeconds) override;
  void VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType, const vr::VREvent_Data_t& eventData,
                           double eventTimeOffset) override;
  bool IsExiting() override;
  bool PollNextEvent(vr::VREvent_t* pEvent, uint32_t uncbVREvent) override;
  void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow, vr::TrackedDevicePose_t* pTrackedDevicePoseArray,
                                uint32_t unTrackedDevicePoseArrayCount) override;
  void RequestRestart(const char* pchLocalizedReason, const char* pchExecutableToStart, const char* pchArguments,
                      const char* pchWorkingDirectory) override;
  uint32_t GetFrameTimings(vr::Compositor_FrameTiming* pTiming, uint32_t nFrames) override;
  void SetDisplayEyeToHead(uint32_t unWhichDevice, const vr::HmdMatrix34_t& eyeToHeadLeft,
                           const vr::HmdMatrix34_t& eyeToHeadRight) override;
  void SetDisplayProjectionRaw(uint32_t unWhichDevice, const vr::HmdRect2_t& eyeLeft,
                               const vr::HmdRect2_t& eyeRight) override;
  void SetRecommendedRenderTargetSize(uint32_t unWhichDevice, uint32_t nWidth, uint32_t nHeight) override;

 private:
  CallTrace& trace_;
  const RunState& run_;
  const PropertyStore& properties_;
  mutable std::mutex mutex_;
  std::deque<vr::VREvent_t> events_;
};

}  // namespace zelvan::host_sim

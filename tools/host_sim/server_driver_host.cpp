// The runtime's server driver host: event queue, display transforms, and harmless answers to the rest.
#include "tools/host_sim/server_driver_host.h"

#include <algorithm>
#include <cstring>

#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRServerDriverHost_006";

TraceJson MatrixJson(const vr::HmdMatrix34_t& matrix) {
  TraceJson rows = TraceJson::array();
  for (const auto& row : matrix.m) {
    TraceJson numbers = TraceJson::array();
    for (float value : row) numbers.push_back(FloatForJson(value));
    rows.push_back(std::move(numbers));
  }
  return rows;
}

TraceJson RectJson(const vr::HmdRect2_t& rect) {
  return {{"top_left", {FloatForJson(rect.vTopLeft.v[0]), FloatForJson(rect.vTopLeft.v[1])}},
          {"bottom_right", {FloatForJson(rect.vBottomRight.v[0]), FloatForJson(rect.vBottomRight.v[1])}}};
}

}  // namespace

ServerDriverHost::ServerDriverHost(CallTrace& trace, const RunState& run, const PropertyStore& properties)
    : trace_(trace), run_(run), properties_(properties) {}

void ServerDriverHost::PushEvent(vr::EVREventType type, const vr::VREvent_Data_t& data) {
  vr::VREvent_t event{};
  event.eventType = type;
  event.trackedDeviceIndex = vr::k_unTrackedDeviceIndex_Hmd;
  event.eventAgeSeconds = 0.0f;
  event.data = data;
  std::lock_guard lock(mutex_);
  events_.push_back(event);
}

void ServerDriverHost::PushIpdChanged(float meters) {
  vr::VREvent_Data_t data{};
  data.ipd.ipdMeters = meters;
  PushEvent(vr::VREvent_IpdChanged, data);
}

std::size_t ServerDriverHost::PendingEvents() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

bool ServerDriverHost::TrackedDeviceAdded(const char* pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                                          vr::ITrackedDeviceServerDriver* pDriver) {
  trace_.Record(kInterface, "TrackedDeviceAdded",
                {{"serial", TraceText(pchDeviceSerialNumber)},
                 {"device_class", eDeviceClass},
                 {"driver_given", pDriver != nullptr},
                 {"result", false}});
  return false;
}

void ServerDriverHost::TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t& newPose,
                                                uint32_t unPoseStructSize) {
  trace_.Record(kInterface, "TrackedDevicePoseUpdated",
                {{"device", unWhichDevice},
                 {"size", unPoseStructSize},
                 {"pose_is_valid", newPose.poseIsValid},
                 {"device_is_connected", newPose.deviceIsConnected},
                 {"position", {newPose.vecPosition[0], newPose.vecPosition[1], newPose.vecPosition[2]}}});
}

void ServerDriverHost::VsyncEvent(double vsyncTimeOffsetSeconds) {
  trace_.Record(kInterface, "VsyncEvent", {{"offset", vsyncTimeOffsetSeconds}});
}

void ServerDriverHost::VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType,
                                           const vr::VREvent_Data_t& /*eventData*/, double eventTimeOffset) {
  trace_.Record(kInterface, "VendorSpecificEvent",
                {{"device", unWhichDevice}, {"event_type", eventType}, {"offset", eventTimeOffset}});
}

bool ServerDriverHost::IsExiting() {
  const bool exiting = run_.Now().phase == Phase::Cleanup;
  trace_.RecordQuery(kInterface, "IsExiting", "IsExiting", {{"result", exiting}});
  return exiting;
}

// Copies no more than both sides know of, so a driver built with another
// packing of VREvent_t gets a truncated event rather than an overrun.
bool ServerDriverHost::PollNextEvent(vr::VREvent_t* pEvent, uint32_t uncbVREvent) {
  vr::VREvent_t event{};
  bool taken = false;
  if (pEvent) {
    std::lock_guard lock(mutex_);
    if (!events_.empty()) {
      event = events_.front();
      events_.pop_front();
      taken = true;
    }
  }
  if (!taken) {
    trace_.RecordEmptyPoll(kInterface, "PollNextEvent", {{"size", uncbVREvent}, {"result", false}});
    return false;
  }
  std::memcpy(pEvent, &event, std::min<std::size_t>(uncbVREvent, sizeof event));
  TraceJson details = {{"size", uncbVREvent}, {"result", true}, {"event_type", event.eventType}};
  if (event.eventType == vr::VREvent_IpdChanged) details["ipd_meters"] = FloatForJson(event.data.ipd.ipdMeters);
  trace_.Record(kInterface, "PollNextEvent", std::move(details));
  return true;
}

// Nothing is tracked here: every pose is invalid, only the HMD (once added) is connected.
void ServerDriverHost::GetRawTrackedDevicePoses(float fPredictedSecondsFromNow,
                                                vr::TrackedDevicePose_t* pTrackedDevicePoseArray,
                                                uint32_t unTrackedDevicePoseArrayCount) {
  for (uint32_t i = 0; pTrackedDevicePoseArray && i < unTrackedDevicePoseArrayCount; ++i) {
    vr::TrackedDevicePose_t pose{};
    pose.eTrackingResult = vr::TrackingResult_Uninitialized;
    pose.bPoseIsValid = false;
    pose.bDeviceIsConnected = i == vr::k_unTrackedDeviceIndex_Hmd && properties_.HmdAdded();
    pTrackedDevicePoseArray[i] = pose;
  }
  trace_.Record(kInterface, "GetRawTrackedDevicePoses",
                {{"predicted_seconds", FloatForJson(fPredictedSecondsFromNow)},
                 {"count", unTrackedDevicePoseArrayCount}});
}

void ServerDriverHost::RequestRestart(const char* pchLocalizedReason, const char* pchExecutableToStart,
                                      const char* pchArguments, const char* pchWorkingDirectory) {
  trace_.Record(kInterface, "RequestRestart",
                {{"reason", TraceText(pchLocalizedReason)},
                 {"executable", TraceText(pchExecutableToStart)},
                 {"arguments", TraceText(pchArguments)},
                 {"working_directory", TraceText(pchWorkingDirectory)}});
}

uint32_t ServerDriverHost::GetFrameTimings(vr::Compositor_FrameTiming* /*pTiming*/, uint32_t nFrames) {
  trace_.Record(kInterface, "GetFrameTimings", {{"frames", nFrames}, {"result", 0}});
  return 0;
}

void ServerDriverHost::SetDisplayEyeToHead(uint32_t unWhichDevice, const vr::HmdMatrix34_t& eyeToHeadLeft,
                                           const vr::HmdMatrix34_t& eyeToHeadRight) {
  trace_.Record(kInterface, "SetDisplayEyeToHead",
                {{"device", unWhichDevice},
                 {"left", MatrixJson(eyeToHeadLeft)},
                 {"right", MatrixJson(eyeToHeadRight)}});
}

void ServerDriverHost::SetDisplayProjectionRaw(uint32_t unWhichDevice, const vr::HmdRect2_t& eyeLeft,
                                               const vr::HmdRect2_t& eyeRight) {
  trace_.Record(kInterface, "SetDisplayProjectionRaw",
                {{"device", unWhichDevice}, {"left", RectJson(eyeLeft)}, {"right", RectJson(eyeRight)}});
}

void ServerDriverHost::SetRecommendedRenderTargetSize(uint32_t unWhichDevice, uint32_t nWidth, uint32_t nHeight) {
  trace_.Record(kInterface, "SetRecommendedRenderTargetSize",
                {{"device", unWhichDevice}, {"width", nWidth}, {"height", nHeight}});
}

}  // namespace zelvan::host_sim

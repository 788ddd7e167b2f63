// The runtime's property containers (the HMD's and the driver's own) behind IVRProperties.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"
#include "tools/host_sim/property_values.h"

namespace zelvan::host_sim {

// Fixed handles, so that traces can be compared across runs. The driver's
// container is also what IVRDriverContext::GetDriverHandle returns.
inline constexpr vr::PropertyContainerHandle_t kHmdContainer = 0x100000001;
inline constexpr vr::PropertyContainerHandle_t kDriverContainer = 0x200000001;

class PropertyStore final : public vr::IVRProperties {
 public:
  explicit PropertyStore(CallTrace& trace);

  // Until the HMD is added, device 0 has no container and kHmdContainer is
  // refused; the HMD's properties can be given before that all the same.
  void AddHmd();
  bool HmdAdded() const;
  void SetHmdProperty(const PropertyValue& value);
  // Every later write of prop, to any container, fails with error.
  void FailWritesOf(vr::ETrackedDeviceProperty prop, vr::ETrackedPropertyError error);
  bool IsValidContainer(vr::PropertyContainerHandle_t container) const;
  // From now on reads write nothing into their batch entries and writes store
  // without writing an entry's error; every batch answers success (--lax-host).
  void BeLax() { lax_ = true; }
  std::optional<PropertyValue> HmdProperty(vr::ETrackedDeviceProperty prop) const;
  // The HMD's properties as they stand, for the trace.
  TraceJson HmdPropertiesJson() const;

  vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                              vr::PropertyRead_t* pBatch, uint32_t unBatchEntryCount) override;
  vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                               vr::PropertyWrite_t* pBatch, uint32_t unBatchEntryCount) override;
  const char* GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) override;
  vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t nDevice) override;

 private:
  // A property holds either a value or an error set with PropertyWrite_SetError.
  struct Stored {
    vr::PropertyTypeTag_t tag = vr::k_unInvalidPropertyTag;
    std::vector<std::uint8_t> bytes;
    vr::ETrackedPropertyError error = vr::TrackedProp_Success;
  };
  using Container = std::map<vr::ETrackedDeviceProperty, Stored>;

  Container* FindLocked(vr::PropertyContainerHandle_t container);
  TraceJson ReadEntry(Container* container, vr::PropertyRead_t& entry);
  TraceJson WriteEntry(Container* container, vr::PropertyWrite_t& entry);
  TraceJson LaxEntry(Container* container, vr::PropertyRead_t& entry);
  TraceJson LaxEntry(Container* container, vr::PropertyWrite_t& entry);
  // The batch rules both directions share: one lock, the container looked up
  // once, every entry handled, the first error as the batch's result.
  template <typename Entry>
  vr::ETrackedPropertyError RunBatch(const char* call, vr::PropertyContainerHandle_t handle, Entry* batch,
                                     uint32_t count, TraceJson (PropertyStore::*one)(Container*, Entry&));

  CallTrace& trace_;
  std::atomic<bool> hmd_added_{false};
  std::atomic<bool> lax_{false};
  mutable std::mutex mutex_;
  Container hmd_;
  Container driver_;
  std::map<vr::ETrackedDeviceProperty, vr::ETrackedPropertyError> failing_writes_;
};

}  // namespace zelvan::host_sim

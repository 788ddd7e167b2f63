// The runtime's driver input: boolean, scalar, haptic and skeleton components with their handles and last values.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"
#include "tools/host_sim/property_store.h"

namespace zelvan::host_sim {

// Component handles count up from here, one per created component.
inline constexpr vr::VRInputComponentHandle_t kFirstComponentHandle = 1000;

enum class ComponentKind { Boolean, Scalar, Haptic, Skeleton };

struct InputComponent {
  ComponentKind kind = ComponentKind::Boolean;
  vr::PropertyContainerHandle_t container = vr::k_ulInvalidPropertyContainer;
  std::string path;
  double value = 0.0;  // last update: 0 or 1 for a boolean
  std::uint64_t updates = 0;
};

class DriverInput final : public vr::IVRDriverInput {
 public:
  DriverInput(CallTrace& trace, const PropertyStore& properties);

  // Creating a component at path (on any container) fails with error.
  void Refuse(const std::string& path, vr::EVRInputError error);
  // From now on no path is known: creating any component answers success
  // with the invalid handle (--lax-host).
  void BeLax() { lax_ = true; }
  std::optional<InputComponent> Find(vr::VRInputComponentHandle_t handle) const;
  // The components as they stand, for the trace.
  TraceJson ComponentsJson() const;

  vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                           vr::VRInputComponentHandle_t* pHandle) override;
  vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                           double fTimeOffset) override;
  vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                          vr::VRInputComponentHandle_t* pHandle, vr::EVRScalarType eType,
                                          vr::EVRScalarUnits eUnits) override;
  vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                          double fTimeOffset) override;
  vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                          vr::VRInputComponentHandle_t* pHandle) override;
  vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                            const char* pchSkeletonPath, const char* pchBasePosePath,
                                            vr::EVRSkeletalTrackingLevel eSkeletalTrackingLevel,
                                            const vr::VRBoneTransform_t* pGripLimitTransforms,
                                            uint32_t unGripLimitTransformCount,
                                            vr::VRInputComponentHandle_t* pHandle) override;
  vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t ulComponent,
                                            vr::EVRSkeletalMotionRange eMotionRange,
                                            const vr::VRBoneTransform_t* pTransforms,
                                            uint32_t unTransformCount) override;

 private:
  // Creating the same path on the same container again gives the same handle.
  vr::EVRInputError Create(ComponentKind kind, vr::PropertyContainerHandle_t container, const char* name,
                           vr::VRInputComponentHandle_t* handle);
  vr::EVRInputError Update(ComponentKind kind, vr::VRInputComponentHandle_t handle, double value);

  CallTrace& trace_;
  const PropertyStore& properties_;
  mutable std::mutex mutex_;
  std::map<std::string, vr::EVRInputError> refused_;
  std::atomic<bool> lax_{false};
  std::map<vr::VRInputComponentHandle_t, InputComponent> components_;
  vr::VRInputComponentHandle_t next_handle_ = kFirstComponentHandle;
};

}  // namespace zelvan::host_sim

// The runtime's driver input components, with refusals that tests ask for and the runtime's error codes.
#include "tools/host_sim/driver_input.h"

#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRDriverInput_003";

const char* KindName(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Boolean: return "boolean";
    case ComponentKind::Scalar: return "scalar";
    case ComponentKind::Haptic: return "haptic";
    case ComponentKind::Skeleton: return "skeleton";
  }
  return "unknown";
}

}  // namespace

DriverInput::DriverInput(CallTrace& trace, const PropertyStore& properties)
    : trace_(trace), properties_(properties) {}

void DriverInput::Refuse(const std::string& path, vr::EVRInputError error) {
  std::lock_guard lock(mutex_);
  refused_[path] = error;
}

std::optional<InputComponent> DriverInput::Find(vr::VRInputComponentHandle_t handle) const {
  std::lock_guard lock(mutex_);
  auto it = components_.find(handle);
  if (it == components_.end()) return std::nullopt;
  return it->second;
}

TraceJson DriverInput::ComponentsJson() const {
  std::lock_guard lock(mutex_);
  TraceJson list = TraceJson::array();
  for (const auto& [handle, component] : components_) {
    list.push_back({{"handle", handle},
                    {"kind", KindName(component.kind)},
                    {"container", component.container},
                    {"path", component.path},
                    {"value", component.value},
                    {"updates", component.updates}});
  }
  return list;
}

vr::EVRInputError DriverInput::Create(ComponentKind kind, vr::PropertyContainerHandle_t container, const char* name,
                                      vr::VRInputComponentHandle_t* handle) {
  if (!handle || !name) return vr::VRInputError_InvalidParam;
  *handle = vr::k_ulInvalidInputComponentHandle;
  if (lax_) return vr::VRInputError_None;
  if (!properties_.IsValidContainer(container)) return vr::VRInputError_InvalidDevice;
  std::lock_guard lock(mutex_);
  if (auto refused = refused_.find(name); refused != refused_.end()) return refused->second;
  for (const auto& [existing, component] : components_) {
    if (component.container == container && component.path == name) {
      if (component.kind != kind) return vr::VRInputError_WrongType;
      *handle = existing;
      return vr::VRInputError_None;
    }
  }
  *handle = next_handle_++;
  components_[*handle] = InputComponent{kind, container, name, 0.0, 0};
  return vr::VRInputError_None;
}

vr::EVRInputError DriverInput::Update(ComponentKind kind, vr::VRInputComponentHandle_t handle, double value) {
  std::lock_guard lock(mutex_);
  auto it = components_.find(handle);
  if (it == components_.end()) return vr::VRInputError_InvalidHandle;
  if (it->second.kind != kind) return vr::VRInputError_WrongType;
  it->second.value = value;
  ++it->second.updates;
  return vr::VRInputError_None;
}

vr::EVRInputError DriverInput::CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                                      vr::VRInputComponentHandle_t* pHandle) {
  const vr::EVRInputError error = Create(ComponentKind::Boolean, ulContainer, pchName, pHandle);
  trace_.Record(kInterface, "CreateBooleanComponent",
                {{"container", ulContainer},
                 {"path", TraceText(pchName)},
                 {"handle", pHandle ? *pHandle : vr::k_ulInvalidInputComponentHandle},
                 {"error", error}});
  return error;
}

vr::EVRInputError DriverInput::UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                                      double fTimeOffset) {
  const vr::EVRInputError error = Update(ComponentKind::Boolean, ulComponent, bNewValue ? 1.0 : 0.0);
  trace_.Record(kInterface, "UpdateBooleanComponent",
                {{"handle", ulComponent}, {"value", bNewValue}, {"offset", fTimeOffset}, {"error", error}});
  return error;
}

vr::EVRInputError DriverInput::CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                                     vr::VRInputComponentHandle_t* pHandle, vr::EVRScalarType eType,
                                                     vr::EVRScalarUnits eUnits) {
  const vr::EVRInputError error = Create(ComponentKind::Scalar, ulContainer, pchName, pHandle);
  trace_.Record(kInterface, "CreateScalarComponent",
                {{"container", ulContainer},
                 {"path", TraceText(pchName)},
                 {"type", eType},
                 {"units", eUnits},
                 {"handle", pHandle ? *pHandle : vr::k_ulInvalidInputComponentHandle},
                 {"error", error}});
  return error;
}

vr::EVRInputError DriverInput::UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                                     double fTimeOffset) {
  const vr::EVRInputError error = Update(ComponentKind::Scalar, ulComponent, FloatForJson(fNewValue));
  trace_.Record(kInterface, "UpdateScalarComponent",
                {{"handle", ulComponent},
                 {"value", FloatForJson(fNewValue)},
                 {"offset", fTimeOffset},
                 {"error", error}});
  return error;
}

vr::EVRInputError DriverInput::CreateHapticComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                                     vr::VRInputComponentHandle_t* pHandle) {
  const vr::EVRInputError error = Create(ComponentKind::Haptic, ulContainer, pchName, pHandle);
  trace_.Record(kInterface, "CreateHapticComponent",
                {{"container", ulContainer},
                 {"path", TraceText(pchName)},
                 {"handle", pHandle ? *pHandle : vr::k_ulInvalidInputComponentHandle},
                 {"error", error}});
  return error;
}

vr::EVRInputError DriverInput::CreateSkeletonComponent(vr::PropertyContainerHandle_t ulContainer, const char* pchName,
                                                       const char* pchSkeletonPath, const char* pchBasePosePath,
                                                       vr::EVRSkeletalTrackingLevel eSkeletalTrackingLevel,
                                                       const vr::VRBoneTransform_t* /*pGripLimitTransforms*/,
                                                       uint32_t unGripLimitTransformCount,
                                                       vr::VRInputComponentHandle_t* pHandle) {
  const vr::EVRInputError error = Create(ComponentKind::Skeleton, ulContainer, pchName, pHandle);
  trace_.Record(kInterface, "CreateSkeletonComponent",
                {{"container", ulContainer},
                 {"path", TraceText(pchName)},
                 {"skeleton_path", TraceText(pchSkeletonPath)},
                 {"base_pose_path", TraceText(pchBasePosePath)},
                 {"tracking_level", eSkeletalTrackingLevel},
                 {"grip_limit_count", unGripLimitTransformCount},
                 {"handle", pHandle ? *pHandle : vr::k_ulInvalidInputComponentHandle},
                 {"error", error}});
  return error;
}

vr::EVRInputError DriverInput::UpdateSkeletonComponent(vr::VRInputComponentHandle_t ulComponent,
                                                       vr::EVRSkeletalMotionRange eMotionRange,
                                                       const vr::VRBoneTransform_t* /*pTransforms*/,
                                                       uint32_t unTransformCount) {
  const vr::EVRInputError error = Update(ComponentKind::Skeleton, ulComponent, 0.0);
  trace_.Record(kInterface, "UpdateSkeletonComponent",
                {{"handle", ulComponent}, {"motion_range", eMotionRange}, {"bone_count", unTransformCount},
                 {"error", error}});
  return error;
}

}  // namespace zelvan::host_sim

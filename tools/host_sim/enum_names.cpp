// Names of the SDK's error codes.
#include "tools/host_sim/enum_names.h"

#include <span>

#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

struct EnumName {
  int value;
  const char* name;
};

#define ZELVAN_ENUM_NAME(x) EnumName{vr::x, #x}

constexpr EnumName kPropErrors[] = {
    ZELVAN_ENUM_NAME(TrackedProp_Success),
    ZELVAN_ENUM_NAME(TrackedProp_WrongDataType),
    ZELVAN_ENUM_NAME(TrackedProp_WrongDeviceClass),
    ZELVAN_ENUM_NAME(TrackedProp_BufferTooSmall),
    ZELVAN_ENUM_NAME(TrackedProp_UnknownProperty),
    ZELVAN_ENUM_NAME(TrackedProp_InvalidDevice),
    ZELVAN_ENUM_NAME(TrackedProp_CouldNotContactServer),
    ZELVAN_ENUM_NAME(TrackedProp_ValueNotProvidedByDevice),
    ZELVAN_ENUM_NAME(TrackedProp_StringExceedsMaximumLength),
    ZELVAN_ENUM_NAME(TrackedProp_NotYetAvailable),
    ZELVAN_ENUM_NAME(TrackedProp_PermissionDenied),
    ZELVAN_ENUM_NAME(TrackedProp_InvalidOperation),
    ZELVAN_ENUM_NAME(TrackedProp_CannotWriteToWildcards),
    ZELVAN_ENUM_NAME(TrackedProp_IPCReadFailure),
    ZELVAN_ENUM_NAME(TrackedProp_OutOfMemory),
    ZELVAN_ENUM_NAME(TrackedProp_InvalidContainer),
};

constexpr EnumName kInputErrors[] = {
    ZELVAN_ENUM_NAME(VRInputError_None),
    ZELVAN_ENUM_NAME(VRInputError_NameNotFound),
    ZELVAN_ENUM_NAME(VRInputError_WrongType),
    ZELVAN_ENUM_NAME(VRInputError_InvalidHandle),
    ZELVAN_ENUM_NAME(VRInputError_InvalidParam),
    ZELVAN_ENUM_NAME(VRInputError_NoSteam),
    ZELVAN_ENUM_NAME(VRInputError_MaxCapacityReached),
    ZELVAN_ENUM_NAME(VRInputError_IPCError),
    ZELVAN_ENUM_NAME(VRInputError_NoActiveActionSet),
    ZELVAN_ENUM_NAME(VRInputError_InvalidDevice),
    ZELVAN_ENUM_NAME(VRInputError_InvalidSkeleton),
    ZELVAN_ENUM_NAME(VRInputError_InvalidBoneCount),
    ZELVAN_ENUM_NAME(VRInputError_InvalidCompressedData),
    ZELVAN_ENUM_NAME(VRInputError_NoData),
    ZELVAN_ENUM_NAME(VRInputError_BufferTooSmall),
    ZELVAN_ENUM_NAME(VRInputError_MismatchedActionManifest),
    ZELVAN_ENUM_NAME(VRInputError_MissingSkeletonData),
    ZELVAN_ENUM_NAME(VRInputError_InvalidBoneIndex),
    ZELVAN_ENUM_NAME(VRInputError_InvalidPriority),
    ZELVAN_ENUM_NAME(VRInputError_PermissionDenied),
    ZELVAN_ENUM_NAME(VRInputError_InvalidRenderModel),
};

constexpr EnumName kSettingsErrors[] = {
    ZELVAN_ENUM_NAME(VRSettingsError_None),
    ZELVAN_ENUM_NAME(VRSettingsError_IPCFailed),
    ZELVAN_ENUM_NAME(VRSettingsError_WriteFailed),
    ZELVAN_ENUM_NAME(VRSettingsError_ReadFailed),
    ZELVAN_ENUM_NAME(VRSettingsError_JsonParseFailed),
    ZELVAN_ENUM_NAME(VRSettingsError_UnsetSettingHasNoDefault),
};

constexpr EnumName kEventTypes[] = {
    ZELVAN_ENUM_NAME(VREvent_TrackedDeviceActivated),
    ZELVAN_ENUM_NAME(VREvent_TrackedDeviceDeactivated),
    ZELVAN_ENUM_NAME(VREvent_TrackedDeviceUserInteractionStarted),
    ZELVAN_ENUM_NAME(VREvent_TrackedDeviceUserInteractionEnded),
    ZELVAN_ENUM_NAME(VREvent_IpdChanged),
    ZELVAN_ENUM_NAME(VREvent_EnterStandbyMode),
    ZELVAN_ENUM_NAME(VREvent_LeaveStandbyMode),
    ZELVAN_ENUM_NAME(VREvent_PropertyChanged),
    ZELVAN_ENUM_NAME(VREvent_ProcessQuit),
    ZELVAN_ENUM_NAME(VREvent_DriverRequestedQuit),
};

#undef ZELVAN_ENUM_NAME

const char* NameOf(std::span<const EnumName> table, int value) {
  for (const EnumName& entry : table) {
    if (entry.value == value) return entry.name;
  }
  return nullptr;
}

// A number is taken as it is, so that codes the SDK does not name can be tested too.
std::optional<int> ValueOf(std::span<const EnumName> table, std::string_view text) {
  if (auto number = ParseInteger(text)) {
    if (*number < 0 || *number > 0x7fffffff) return std::nullopt;
    return static_cast<int>(*number);
  }
  for (const EnumName& entry : table) {
    if (text == entry.name) return entry.value;
  }
  return std::nullopt;
}

}  // namespace

const char* PropErrorName(vr::ETrackedPropertyError error) { return NameOf(kPropErrors, error); }
const char* InputErrorName(vr::EVRInputError error) { return NameOf(kInputErrors, error); }
const char* SettingsErrorName(vr::EVRSettingsError error) { return NameOf(kSettingsErrors, error); }

std::optional<vr::ETrackedPropertyError> ParsePropError(std::string_view text) {
  auto value = ValueOf(kPropErrors, text);
  if (!value) return std::nullopt;
  return static_cast<vr::ETrackedPropertyError>(*value);
}

std::optional<vr::EVRInputError> ParseInputError(std::string_view text) {
  auto value = ValueOf(kInputErrors, text);
  if (!value) return std::nullopt;
  return static_cast<vr::EVRInputError>(*value);
}

std::optional<vr::EVREventType> ParseEventType(std::string_view text) {
  auto value = ValueOf(kEventTypes, text);
  if (!value) return std::nullopt;
  return static_cast<vr::EVREventType>(*value);
}

}  // namespace zelvan::host_sim

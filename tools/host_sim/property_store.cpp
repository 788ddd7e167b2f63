// The runtime's property containers behind IVRProperties, with the runtime's batch semantics.
#include "tools/host_sim/property_store.h"

#include <cstring>

#include "tools/host_sim/enum_names.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRProperties_001";

TraceJson PropJson(vr::ETrackedDeviceProperty prop) { return static_cast<int>(prop); }

}  // namespace

PropertyStore::PropertyStore(CallTrace& trace) : trace_(trace) {}

void PropertyStore::AddHmd() { hmd_added_.store(true); }

bool PropertyStore::HmdAdded() const { return hmd_added_.load(); }

void PropertyStore::SetHmdProperty(const PropertyValue& value) {
  std::lock_guard lock(mutex_);
  hmd_[value.prop] = Stored{value.tag, value.bytes, vr::TrackedProp_Success};
}

void PropertyStore::FailWritesOf(vr::ETrackedDeviceProperty prop, vr::ETrackedPropertyError error) {
  std::lock_guard lock(mutex_);
  failing_writes_[prop] = error;
}

bool PropertyStore::IsValidContainer(vr::PropertyContainerHandle_t container) const {
  return container == kDriverContainer || (container == kHmdContainer && HmdAdded());
}

std::optional<PropertyValue> PropertyStore::HmdProperty(vr::ETrackedDeviceProperty prop) const {
  std::lock_guard lock(mutex_);
  auto it = hmd_.find(prop);
  if (it == hmd_.end() || it->second.error != vr::TrackedProp_Success) return std::nullopt;
  return PropertyValue{prop, it->second.tag, it->second.bytes};
}

TraceJson PropertyStore::HmdPropertiesJson() const {
  std::lock_guard lock(mutex_);
  TraceJson list = TraceJson::array();
  for (const auto& [prop, stored] : hmd_) {
    TraceJson entry = {{"prop", PropJson(prop)}};
    if (const char* name = KnownPropertyName(prop)) entry["name"] = name;
    if (stored.error != vr::TrackedProp_Success) {
      entry["error"] = stored.error;
    } else {
      entry["tag"] = stored.tag;
      entry["value"] = DecodePropertyValue(stored.tag, stored.bytes.data(), static_cast<uint32_t>(stored.bytes.size()));
    }
    list.push_back(std::move(entry));
  }
  return list;
}

PropertyStore::Container* PropertyStore::FindLocked(vr::PropertyContainerHandle_t container) {
  if (container == kDriverContainer) return &driver_;
  if (container == kHmdContainer && HmdAdded()) return &hmd_;
  return nullptr;
}

// Every output field is written, whatever the outcome: the SDK's property
// helpers leave them uninitialised and read them back.
TraceJson PropertyStore::ReadEntry(Container* container, vr::PropertyRead_t& entry) {
  entry.unTag = vr::k_unInvalidPropertyTag;
  entry.unRequiredBufferSize = 0;
  TraceJson trace = {{"prop", PropJson(entry.prop)}, {"buffer_size", entry.unBufferSize}};
  if (!container) {
    entry.eError = vr::TrackedProp_InvalidContainer;
  } else if (auto it = container->find(entry.prop); it == container->end()) {
    entry.eError = vr::TrackedProp_UnknownProperty;
  } else if (it->second.error != vr::TrackedProp_Success) {
    entry.eError = it->second.error;
  } else {
    const Stored& stored = it->second;
    const auto size = static_cast<uint32_t>(stored.bytes.size());
    entry.unTag = stored.tag;
    entry.unRequiredBufferSize = size;
    if (size > 0 && (entry.pvBuffer == nullptr || entry.unBufferSize < size)) {
      entry.eError = vr::TrackedProp_BufferTooSmall;
    } else {
      if (size > 0) std::memcpy(entry.pvBuffer, stored.bytes.data(), size);
      entry.eError = vr::TrackedProp_Success;
      trace["value"] = DecodePropertyValue(stored.tag, stored.bytes.data(), size);
    }
  }
  trace["tag"] = entry.unTag;
  trace["required_size"] = entry.unRequiredBufferSize;
  trace["error"] = entry.eError;
  return trace;
}

TraceJson PropertyStore::WriteEntry(Container* container, vr::PropertyWrite_t& entry) {
  TraceJson trace = {{"prop", PropJson(entry.prop)}, {"write_type", entry.writeType}};
  if (entry.writeType == vr::PropertyWrite_Set) {
    trace["tag"] = entry.unTag;
    trace["value"] = DecodePropertyValue(entry.unTag, entry.pvBuffer, entry.pvBuffer ? entry.unBufferSize : 0);
    trace["size"] = entry.unBufferSize;
  } else if (entry.writeType == vr::PropertyWrite_SetError) {
    trace["set_error"] = entry.eSetError;
  }

  if (!container) {
    entry.eError = vr::TrackedProp_InvalidContainer;
  } else if (auto failing = failing_writes_.find(entry.prop); failing != failing_writes_.end()) {
    entry.eError = failing->second;
  } else if (entry.writeType == vr::PropertyWrite_Set) {
    if (entry.pvBuffer == nullptr && entry.unBufferSize > 0) {
      entry.eError = vr::TrackedProp_InvalidOperation;
    } else {
      const auto* bytes = static_cast<const std::uint8_t*>(entry.pvBuffer);
      Stored stored{entry.unTag, std::vector<std::uint8_t>(bytes, bytes + entry.unBufferSize), vr::TrackedProp_Success};
      // Readers rely on strings being terminated, whatever size the writer gave.
      if (stored.tag == vr::k_unStringPropertyTag && (stored.bytes.empty() || stored.bytes.back() != 0)) {
        stored.bytes.push_back(0);
      }
      (*container)[entry.prop] = std::move(stored);
      entry.eError = vr::TrackedProp_Success;
    }
  } else if (entry.writeType == vr::PropertyWrite_Erase) {
    container->erase(entry.prop);
    entry.eError = vr::TrackedProp_Success;
  } else if (entry.writeType == vr::PropertyWrite_SetError) {
    (*container)[entry.prop] = Stored{vr::k_unInvalidPropertyTag, {}, entry.eSetError};
    entry.eError = vr::TrackedProp_Success;
  } else {
    entry.eError = vr::TrackedProp_InvalidOperation;
  }
  trace["error"] = entry.eError;
  return trace;
}

// A lax read leaves the entry as it was; a lax write stores the value and
// puts back the entry's error, copied as bytes: what the caller left there
// need not be a valid enumerator.
TraceJson PropertyStore::LaxEntry(Container*, vr::PropertyRead_t& entry) {
  return {{"prop", PropJson(entry.prop)}, {"untouched", true}};
}

TraceJson PropertyStore::LaxEntry(Container* container, vr::PropertyWrite_t& entry) {
  unsigned char before[sizeof(entry.eError)];
  std::memcpy(before, &entry.eError, sizeof(before));
  TraceJson trace = WriteEntry(container, entry);
  std::memcpy(&entry.eError, before, sizeof(before));
  trace["error"] = "untouched";
  return trace;
}

template <typename Entry>
vr::ETrackedPropertyError PropertyStore::RunBatch(const char* call, vr::PropertyContainerHandle_t handle, Entry* batch,
                                                  uint32_t count, TraceJson (PropertyStore::*one)(Container*, Entry&)) {
  TraceJson entries = TraceJson::array();
  vr::ETrackedPropertyError result = vr::TrackedProp_Success;
  if (!batch && count > 0) {
    result = vr::TrackedProp_InvalidOperation;
  } else {
    std::lock_guard lock(mutex_);
    Container* container = FindLocked(handle);
    if (!container) result = vr::TrackedProp_InvalidContainer;
    for (uint32_t i = 0; i < count; ++i) {
      if (lax_) {
        entries.push_back(LaxEntry(container, batch[i]));
        continue;
      }
      entries.push_back((this->*one)(container, batch[i]));
      if (result == vr::TrackedProp_Success) result = batch[i].eError;
    }
    if (lax_) result = vr::TrackedProp_Success;
  }
  trace_.Record(kInterface, call, {{"container", handle}, {"entries", std::move(entries)}, {"result", result}});
  return result;
}

vr::ETrackedPropertyError PropertyStore::ReadPropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                           vr::PropertyRead_t* pBatch, uint32_t unBatchEntryCount) {
  return RunBatch("ReadPropertyBatch", ulContainerHandle, pBatch, unBatchEntryCount, &PropertyStore::ReadEntry);
}

vr::ETrackedPropertyError PropertyStore::WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                            vr::PropertyWrite_t* pBatch, uint32_t unBatchEntryCount) {
  return RunBatch("WritePropertyBatch", ulContainerHandle, pBatch, unBatchEntryCount, &PropertyStore::WriteEntry);
}

const char* PropertyStore::GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) {
  const char* name = PropErrorName(error);
  if (!name) name = "Unknown property error";
  trace_.Record(kInterface, "GetPropErrorNameFromEnum", {{"code", error}, {"name", name}});
  return name;
}

vr::PropertyContainerHandle_t PropertyStore::TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t nDevice) {
  const vr::PropertyContainerHandle_t container =
      nDevice == vr::k_unTrackedDeviceIndex_Hmd && HmdAdded() ? kHmdContainer : vr::k_ulInvalidPropertyContainer;
  trace_.RecordQuery(kInterface, "TrackedDeviceToPropertyContainer",
                     "TrackedDeviceToPropertyContainer\n" + std::to_string(nDevice),
                     {{"device", nDevice}, {"container", container}});
  return container;
}

}  // namespace zelvan::host_sim

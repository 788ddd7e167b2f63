// The proximity sensor's HID protocol: the report layouts, the flash record
// format with its CRC-8, and the exchanges the reader thread runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sensor/user_signature.h"

struct hid_device_;
typedef struct hid_device_ hid_device;

namespace zelvan {

inline constexpr uint16_t kSensorVendorId = 0x35BD;
inline constexpr uint16_t kSensorProductId = 0x0101;

// Host to sensor: a 65-byte feature report, report ID 0, then a command.
inline constexpr size_t kFeatureReportSize = 65;
inline constexpr uint8_t kCommandRate = 'R';
inline constexpr uint8_t kCommandSignatureBlock = 'U';

// Sensor to host: data byte 0 says what the report is.
inline constexpr uint8_t kReportSample = '#';
inline constexpr uint8_t kReportRateAccepted = '$';
inline constexpr uint8_t kReportSignatureBlock = 'U';
inline constexpr uint8_t kReportError = 'E';

inline constexpr size_t kSignatureBlocks = 16;
inline constexpr size_t kSignatureBlockSize = 32;
inline constexpr size_t kSignatureSize = kSignatureBlocks * kSignatureBlockSize;
inline constexpr int kSignatureAttempts = 20;
inline constexpr int kSignatureReadTimeoutMs = 500;
inline constexpr int kRateReplyTimeoutMs = 1000;

// Record tags in the signature image.
inline constexpr uint8_t kTagProgrammedCal = 6;
inline constexpr uint8_t kTagHmdSerial = 8;
inline constexpr uint8_t kTagTrackingSerial = 9;
inline constexpr uint8_t kTagThreshold = 11;
inline constexpr uint8_t kTagHysteresis = 12;
inline constexpr uint8_t kTagUserTrim = 14;
inline constexpr uint8_t kTagEnd = 0xFF;

// CRC-8, polynomial 0x07, initial 0xFF, MSB first, no reflection or final XOR.
uint8_t SignatureCrc8(const uint8_t *data, size_t length);

// Walks the tagged records of a signature image; fields without a valid
// record keep their defaults. Logs records whose checksum does not match.
UserSignature ParseUserSignature(const uint8_t *image, size_t length);

// The raw reading of a sample report, or nothing for any other report.
std::optional<uint16_t> DecodeSample(const uint8_t *data, int length);

// Copies the payload of a 'U' reply of `length` bytes into a 32-byte slot:
// at most 32 bytes, and never more than the reply actually carried. Returns
// the number of bytes copied.
size_t CopySignatureBlock(const uint8_t *reply, int length, uint8_t *slot);

void BuildRateCommand(uint16_t period_ms, uint8_t (&report)[kFeatureReportSize]);
void BuildSignatureBlockRequest(uint8_t block, uint8_t (&report)[kFeatureReportSize]);

// Sets the sample report period; the outcome is only logged.
void SendRateCommand(hid_device *device, uint16_t period_ms);

// Reads and parses the 512-byte image, block by block. Failures are logged
// with their block number, followed by the common warning. A stop request is
// honoured between attempts and blocks, so shutdown never waits for the whole
// exchange; a read cut short that way logs nothing.
std::optional<UserSignature> ReadUserSignature(hid_device *device, const std::atomic<bool> &stop_requested);

// The "HID: Calibration" line and the values that differ from the defaults.
void LogCalibration(const UserSignature &signature);

} // namespace zelvan

// Building and decoding the sensor's reports, and the rate and signature
// exchanges.
#include "sensor/sensor_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <hidapi.h>

#include "core/driver_log.h"

namespace zelvan {

uint8_t SignatureCrc8(const uint8_t *data, size_t length)
{
	uint8_t crc = 0xFF;
	for (size_t i = 0; i < length; ++i) {
		crc ^= data[i];
		for (int bit = 0; bit < 8; ++bit)
			crc = (crc & 0x80) != 0 ? static_cast<uint8_t>((crc << 1) ^ 0x07) : static_cast<uint8_t>(crc << 1);
	}
	return crc;
}

namespace {

void ApplyRecord(UserSignature &sig, uint8_t tag, const uint8_t *value, size_t length)
{
	if (length == 2) {
		const uint16_t v = static_cast<uint16_t>(value[0] | (value[1] << 8));
		switch (tag) {
		case kTagProgrammedCal: sig.programmed_cal = v; return;
		case kTagThreshold: sig.proximity_threshold = v; return;
		case kTagHysteresis: sig.proximity_hysteresis = v; return;
		case kTagUserTrim: sig.user_trim = static_cast<int16_t>(v); return;
		default: break;
		}
	}
	if (length < sizeof(sig.tracking_serial)) {
		char *text = tag == kTagTrackingSerial ? sig.tracking_serial : tag == kTagHmdSerial ? sig.hmd_serial : nullptr;
		if (text != nullptr) {
			std::memcpy(text, value, length);
			text[length] = '\0';
		}
	}
}

} // namespace

UserSignature ParseUserSignature(const uint8_t *image, size_t length)
{
	UserSignature sig;
	size_t pos = 0;
	while (pos < length) {
		const uint8_t tag = image[pos];
		if (tag == kTagEnd || pos + 1 >= length)
			break;
		const size_t value_length = image[pos + 1];
		if (pos + value_length + 2 >= length)
			break;
		const uint8_t computed = SignatureCrc8(image + pos, value_length + 2);
		const uint8_t stored = image[pos + value_length + 2];
		if (computed != stored)
			DriverLog("HID: Sig tag 0x%02X CRC mismatch (got 0x%02X, expected 0x%02X)\n", tag, stored, computed);
		else
			ApplyRecord(sig, tag, image + pos + 2, value_length);
		pos += value_length + 3;
	}
	return sig;
}

std::optional<uint16_t> DecodeSample(const uint8_t *data, int length)
{
	if (length < 6 || data[0] != kReportSample)
		return std::nullopt;
	return static_cast<uint16_t>(data[4] * 256 + data[5]);
}

size_t CopySignatureBlock(const uint8_t *reply, int length, uint8_t *slot)
{
	if (length <= 2)
		return 0;
	const size_t received = static_cast<size_t>(length) - 2;
	const size_t count = std::min({static_cast<size_t>(reply[1]), kSignatureBlockSize, received});
	std::memcpy(slot, reply + 2, count);
	return count;
}

void BuildRateCommand(uint16_t period_ms, uint8_t (&report)[kFeatureReportSize])
{
	std::memset(report, 0, sizeof(report));
	report[1] = kCommandRate;
	report[2] = static_cast<uint8_t>(period_ms >> 8);
	report[3] = static_cast<uint8_t>(period_ms & 0xFF);
}

void BuildSignatureBlockRequest(uint8_t block, uint8_t (&report)[kFeatureReportSize])
{
	std::memset(report, 0, sizeof(report));
	report[1] = kCommandSignatureBlock;
	report[2] = block;
}

namespace {

bool SendFeature(hid_device *device, const uint8_t (&report)[kFeatureReportSize])
{
	if (device != nullptr && hid_send_feature_report(device, report, sizeof(report)) >= 0)
		return true;
	DriverLog("HID: Failed to send feature report cmd=0x%02X: %ls\n", report[1],
	          device != nullptr ? hid_error(device) : L"no device");
	return false;
}

enum class BlockResult { Read, Failed, Stopped };

BlockResult ReadBlock(hid_device *device, int block, uint8_t *slot, const std::atomic<bool> &stop_requested)
{
	uint8_t request[kFeatureReportSize];
	BuildSignatureBlockRequest(static_cast<uint8_t>(block), request);
	if (!SendFeature(device, request)) {
		DriverLog("HID: ReadUserSignature block %d send failed\n", block);
		return BlockResult::Failed;
	}
	for (int attempt = 0; attempt < kSignatureAttempts; ++attempt) {
		if (stop_requested.load())
			return BlockResult::Stopped;
		uint8_t reply[64];
		const int n = hid_read_timeout(device, reply, sizeof(reply), kSignatureReadTimeoutMs);
		if (n < 0) {
			DriverLog("HID: ReadUserSignature block %d read error (disconnected)\n", block);
			return BlockResult::Failed;
		}
		if (n == 0 || reply[0] == kReportSample)
			continue;
		if (reply[0] == kReportSignatureBlock) {
			CopySignatureBlock(reply, n, slot);
			return BlockResult::Read;
		}
		if (reply[0] == kReportError) {
			DriverLog("HID: ReadUserSignature block %d error response from firmware\n", block);
			return BlockResult::Failed;
		}
		DriverLog("HID: ReadUserSignature block %d unexpected resp[0]=0x%02X len=%d\n", block, reply[0], n);
	}
	DriverLog("HID: ReadUserSignature block %d timed out (20 attempts)\n", block);
	return BlockResult::Failed;
}

} // namespace

void SendRateCommand(hid_device *device, uint16_t period_ms)
{
	uint8_t command[kFeatureReportSize];
	BuildRateCommand(period_ms, command);
	if (!SendFeature(device, command))
		return;
	// Samples already queued when the command went out (the kernel and Windows
	// buffer input reports from the moment the device is opened) come before
	// the reply: they are passed over, within the reply's time-out.
	uint8_t reply[kFeatureReportSize];
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRateReplyTimeoutMs);
	int n = 0;
	for (;;) {
		const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
		n = hid_read_timeout(device, reply, sizeof(reply), static_cast<int>(std::max<int64_t>(left.count(), 0)));
		if (n <= 0 || reply[0] != kReportSample || left.count() <= 0)
			break;
	}
	if (n <= 0)
		DriverLog("HID: Rate command - unexpected response (byte0=0x%02X, len=%d)\n", 0, n);
	else if (reply[0] == kReportRateAccepted)
		DriverLog("HID: Report rate set to %ums\n", static_cast<unsigned>(period_ms));
	else if (reply[0] == kReportError)
		DriverLog("HID: Rate command rejected by firmware\n");
	else
		DriverLog("HID: Rate command - unexpected response (byte0=0x%02X, len=%d)\n", reply[0], n);
}

std::optional<UserSignature> ReadUserSignature(hid_device *device, const std::atomic<bool> &stop_requested)
{
	// Cleared first, so that a short reply leaves zeros, not stale bytes.
	uint8_t image[kSignatureSize] = {};
	for (size_t block = 0; block < kSignatureBlocks; ++block) {
		if (stop_requested.load())
			return std::nullopt;
		const BlockResult result = ReadBlock(device, static_cast<int>(block), image + block * kSignatureBlockSize, stop_requested);
		if (result == BlockResult::Stopped)
			return std::nullopt;
		if (result == BlockResult::Failed) {
			DriverLog("HID: Warning - failed to read user signature, using defaults\n");
			return std::nullopt;
		}
	}
	return ParseUserSignature(image, sizeof(image));
}

void LogCalibration(const UserSignature &sig)
{
	DriverLog("HID: Calibration: cal=%u thresh=%u hyst=%u trim=%d\n", sig.programmed_cal, sig.proximity_threshold,
	          sig.proximity_hysteresis, sig.user_trim);
	const UserSignature defaults;
	if (sig.programmed_cal != defaults.programmed_cal)
		DriverLog("HID: programmed_cal=%u (from flash)\n", sig.programmed_cal);
	if (sig.proximity_threshold != defaults.proximity_threshold)
		DriverLog("HID: proximity_threshold=%u (from flash)\n", sig.proximity_threshold);
	if (sig.proximity_hysteresis != defaults.proximity_hysteresis)
		DriverLog("HID: proximity_hysteresis=%u (from flash)\n", sig.proximity_hysteresis);
	if (sig.user_trim != defaults.user_trim)
		DriverLog("HID: user_trim=%d (from flash)\n", sig.user_trim);
	if (sig.tracking_serial[0] != '\0')
		DriverLog("HID: tracking_serial=%s (from flash)\n", sig.tracking_serial);
}

} // namespace zelvan

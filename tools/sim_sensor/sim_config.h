// The simulated sensor's configuration and the parser of its text format
// (the format is described in README.md beside this file).
//
//   present yes|no                  usb_id 35BD:0101          absent_until MS
//   fail_reads yes|no               fail_features yes|no
//   refuse_open yes|no              stall_after_plug yes|no
//   reads_do_not_wait yes|no
//   cal N   thresh N   hyst N   trim N   tracking_serial TEXT   hmd_serial TEXT
//   record TAG HEX..   record_bad_crc TAG HEX..   raw HEX..
//   image_hex HEX..   image_fill BYTE   end_marker yes|no
//   rate_reply ok|error|none [delay=MS]
//   block_reply B|all ok|error|none|length=N|short=N [delay=MS]
//   interleave_samples N [blocks|rate|all]    short_samples yes|no
//   level MS RAW   ramp MS1 MS2 RAW1 RAW2   wearer MS on|off   wearer_levels ON OFF
//   noise AMPLITUDE   seed N   replay FILE [loop]   follow FILE
//   unplug MS [DURATION]   silent MS DURATION   log FILE
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "level_program.h"
#include "signature_image.h"

namespace zelvan::sim {

inline constexpr uint16_t kDefaultVendorId = 0x35BD;
inline constexpr uint16_t kDefaultProductId = 0x0101;

// How the firmware answers one command.
struct ReplyRule {
	enum class Kind { Normal, Error, None };
	Kind kind = Kind::Normal;
	std::optional<unsigned> length;    // the L byte of a 'U' reply, when not 32
	std::optional<unsigned> delivered; // payload bytes actually sent, when fewer
	unsigned delay_ms = 0;
};

// A span of the scenario clock; a negative duration never ends by itself.
struct Window {
	int64_t start_ms = 0;
	int64_t duration_ms = -1;
	bool Contains(int64_t ms) const { return ms >= start_ms && (duration_ms < 0 || ms < start_ms + duration_ms); }
};

struct SensorConfig {
	bool present = true;
	bool fail_init = false; // hid_init fails, as with no HID subsystem at all
	uint16_t vendor_id = kDefaultVendorId;
	uint16_t product_id = kDefaultProductId;
	int64_t absent_until_ms = 0; // on the clock started by the configuration
	// A device in a bad state: it opens, but these calls fail at once.
	bool fail_reads = false;
	bool fail_features = false;
	// Listed, but opening it fails as a node without access rights does.
	bool refuse_open = false;
	// After each replug the first rate command stalls, and nothing streams
	// until a rate command goes through.
	bool stall_after_plug = false;
	// A read with nothing to give returns 0 at once, whatever its time-out,
	// as a backend that does not wait does.
	bool reads_do_not_wait = false;

	Image image{};
	ReplyRule rate_reply;
	std::array<ReplyRule, kBlockCount> block_replies{};

	unsigned interleave_samples = 0;
	bool interleave_blocks = true;
	bool interleave_rate = false;
	bool short_samples = false;

	LevelProgram levels;
	// A file holding "on" or "off": a wearer who follows what it says, at
	// these levels, from the moment it first says one of them.
	std::string follow_path;
	unsigned on_level = kDefaultOnLevel;
	unsigned off_level = kDefaultOffLevel;
	std::vector<Window> unplugs;  // sorted by start
	std::vector<Window> silences; // sorted by start

	std::string log_path;
};

struct ParseResult {
	std::optional<SensorConfig> config; // empty when any line was wrong
	std::vector<std::string> errors;    // "SOURCE:LINE: message"
};

// `base_dir` anchors the relative paths of replay and log.
ParseResult ParseConfig(const std::string &text, const std::string &source, const std::string &base_dir);

} // namespace zelvan::sim

// Configuration keywords that build the simulated sensor's signature image.
#include "sim_config_parser.h"

#include <string>

namespace zelvan::sim::config_parser {

constexpr uint8_t kTagCal = 6;
constexpr uint8_t kTagHmdSerial = 8;
constexpr uint8_t kTagTrackingSerial = 9;
constexpr uint8_t kTagThreshold = 11;
constexpr uint8_t kTagHysteresis = 12;
constexpr uint8_t kTagTrim = 14;

std::vector<uint8_t> Le16(unsigned v)
{
	return {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF)};
}

void Parser::AddField(const Line &line, uint8_t tag, const std::vector<uint8_t> &value, bool corrupt)
{
	if (first_field_line_ == 0)
		first_field_line_ = line.number;
	if (value.size() > 255) {
		Error(line.number, "a record value holds at most 255 bytes, this one has " + std::to_string(value.size()));
		return;
	}
	if (!builder_.AddRecord(tag, value, corrupt))
		Error(line.number, "the signature image is full: " + std::to_string(builder_.size()) + " of 512 bytes used, this record needs " +
		                       std::to_string(value.size() + 3));
}

void Parser::OnCal(const Line &line)
{
	if (const auto v = Number(line, 1, 0, 65535, "cal"))
		AddField(line, kTagCal, Le16(static_cast<unsigned>(*v)));
}

void Parser::OnThresh(const Line &line)
{
	if (const auto v = Number(line, 1, 0, 65535, "thresh"))
		AddField(line, kTagThreshold, Le16(static_cast<unsigned>(*v)));
}

void Parser::OnHyst(const Line &line)
{
	if (const auto v = Number(line, 1, 0, 65535, "hyst"))
		AddField(line, kTagHysteresis, Le16(static_cast<unsigned>(*v)));
}

void Parser::OnTrim(const Line &line)
{
	if (const auto v = Number(line, 1, -32768, 32767, "trim"))
		AddField(line, kTagTrim, Le16(static_cast<unsigned>(static_cast<uint16_t>(*v))));
}

// The rest of the line; quotes keep blanks at either end.
std::vector<uint8_t> TextValue(const std::string &rest)
{
	std::string text = rest;
	if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
		text = text.substr(1, text.size() - 2);
	return {text.begin(), text.end()};
}

void Parser::OnTrackingSerial(const Line &line)
{
	AddField(line, kTagTrackingSerial, TextValue(line.rest));
}

void Parser::OnHmdSerial(const Line &line)
{
	AddField(line, kTagHmdSerial, TextValue(line.rest));
}

void Parser::OnRecord(const Line &line)
{
	const auto tag = Number(line, 1, 0, 255, "the tag");
	std::vector<uint8_t> value;
	std::string bad;
	if (!ToHexBytes(line.words, 2, value, bad)) {
		Error(line.number, "'" + bad + "' is not a run of hex bytes");
		return;
	}
	if (tag)
		AddField(line, static_cast<uint8_t>(*tag), value, Lower(line.words[0]) == "record_bad_crc");
}

void Parser::OnRecordBadCrc(const Line &line)
{
	OnRecord(line);
}

void Parser::OnRaw(const Line &line)
{
	std::vector<uint8_t> bytes;
	std::string bad;
	if (!ToHexBytes(line.words, 1, bytes, bad)) {
		Error(line.number, "'" + bad + "' is not a run of hex bytes");
		return;
	}
	if (first_field_line_ == 0)
		first_field_line_ = line.number;
	if (!builder_.AddRaw(bytes))
		Error(line.number, "the signature image is full: " + std::to_string(builder_.size()) + " of 512 bytes used, raw adds " +
		                       std::to_string(bytes.size()));
}

void Parser::OnImageHex(const Line &line)
{
	if (first_hex_line_ == 0)
		first_hex_line_ = line.number;
	std::string bad;
	if (!ToHexBytes(line.words, 1, image_hex_, bad))
		Error(line.number, "'" + bad + "' is not a run of hex bytes");
	else if (image_hex_.size() > kImageSize)
		Error(line.number, "image_hex makes " + std::to_string(image_hex_.size()) + " bytes, the image has 512");
}

void Parser::OnImageFill(const Line &line)
{
	if (const auto v = Number(line, 1, 0, 255, "the fill byte"))
		fill_ = static_cast<uint8_t>(*v);
}

void Parser::OnEndMarker(const Line &line)
{
	if (const auto v = Flag(line, 1))
		end_marker_ = *v;
}

} // namespace zelvan::sim::config_parser

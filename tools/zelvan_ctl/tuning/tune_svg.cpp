// The tune plot as SVG text, and a write that never leaves half a file.
#include "tools/zelvan_ctl/tuning/tune_svg.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "sensor/proximity_algorithm.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {

constexpr double kLeft = 95;
constexpr double kRight = kLeft + kSvgPlotWidth;
constexpr double kTop = 50;
constexpr double kBottom = 410;
constexpr double kStripHeight = 14;
constexpr double kCurrentStrip = 446;
constexpr double kRecommendedStrip = 466;
constexpr double kWidth = kRight + 30;
constexpr double kHeight = 500;
constexpr const char *kCurrentColour = "#1f6fd1";
constexpr const char *kRecommendedColour = "#e0701b";

// Time and reading to the plot's coordinates.
struct Scale {
	uint32_t first_ms = 0;
	double span_ms = 1;
	double top_value = 1;

	int Column(uint32_t ms) const
	{
		const double at = (ms - first_ms) / span_ms * (kSvgPlotWidth - 1);
		return std::clamp(static_cast<int>(at), 0, kSvgPlotWidth - 1);
	}
	double X(double column) const { return kLeft + column; }
	double XOfMs(double ms) const { return kLeft + (ms - first_ms) / span_ms * (kSvgPlotWidth - 1); }
	double Y(double value) const { return kBottom - std::min(value, top_value) / top_value * (kBottom - kTop); }
};

std::string Num(double v)
{
	char text[32];
	std::snprintf(text, sizeof(text), "%.1f", v);
	return text;
}

double NiceStep(double at_least)
{
	const double scale = std::pow(10.0, std::floor(std::log10(std::max(at_least, 1e-9))));
	for (const double m : {1.0, 2.0, 5.0, 10.0})
		if (m * scale >= at_least)
			return m * scale;
	return 10 * scale;
}

// The length of the UTF-8 sequence at `i` that XML may hold, or 0: no
// overlong forms, surrogates, code points past U+10FFFF, U+FFFE or U+FFFF.
size_t XmlCharLength(const std::string &text, size_t i)
{
	const auto c = static_cast<unsigned char>(text[i]);
	const size_t length = c >= 0xc2 && c < 0xe0 ? 2 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xf0 && c < 0xf5 ? 4 : 0;
	if (length == 0 || i + length > text.size())
		return 0;
	uint32_t code = c & (0x7f >> length);
	for (size_t k = 1; k < length; ++k) {
		const auto b = static_cast<unsigned char>(text[i + k]);
		if ((b & 0xc0) != 0x80)
			return 0;
		code = code << 6 | (b & 0x3f);
	}
	const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
	if (code < least[length] || code > 0x10ffff || (code >= 0xd800 && code < 0xe000) || code == 0xfffe ||
	    code == 0xffff)
		return 0;
	return length;
}

// Text from a file name: XML's five characters escaped, and the name's
// bytes as '?' unless they are UTF-8, so the file stays well-formed.
std::string XmlText(const std::string &text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); ++i) {
		const auto c = static_cast<unsigned char>(text[i]);
		if (c < 0x80) {
			if (c < 0x20 || c == 0x7f)
				out += '?';
			else if (c == '&')
				out += "&amp;";
			else if (c == '<')
				out += "&lt;";
			else if (c == '>')
				out += "&gt;";
			else if (c == '"')
				out += "&quot;";
			else
				out += static_cast<char>(c);
			continue;
		}
		const size_t length = XmlCharLength(text, i);
		if (length == 0) {
			out += '?';
			continue;
		}
		out.append(text, i, length);
		i += length - 1;
	}
	return out;
}

// One line's points, at most two per pixel column (its lowest and highest,
// in the order they came), so that a spike stays visible however long the
// recording.
template <class Points, class Value>
std::string Decimated(const Points &points, const Scale &scale, Value value)
{
	std::string path;
	int column = -1;
	double low = 0, high = 0;
	bool low_first = true;
	auto flush = [&] {
		if (column < 0)
			return;
		const double a = low_first ? low : high;
		const double b = low_first ? high : low;
		path += (path.empty() ? "M" : "L") + Num(scale.X(column)) + "," + Num(scale.Y(a));
		if (a != b)
			path += "L" + Num(scale.X(column)) + "," + Num(scale.Y(b));
	};
	for (const auto &p : points) {
		const int c = scale.Column(p.ms);
		const double v = value(p);
		if (c != column) {
			flush();
			column = c;
			low = high = v;
			low_first = true;
			continue;
		}
		if (v < low) {
			low = v;
			low_first = false;
		}
		if (v > high)
			high = v;
	}
	flush();
	return path;
}

// Runs of pixel columns of one state: 1 on, 0 off, 2 switching within the
// column. A state holds from its reading until the next.
std::vector<int> PresenceColumns(const std::vector<ReplayPoint> &trace, const Scale &scale)
{
	std::vector<int> columns(kSvgPlotWidth, -1);
	int last = -1;
	bool state = false;
	for (const auto &p : trace) {
		const int c = scale.Column(p.ms);
		for (int k = last + 1; k < c; ++k)
			columns[static_cast<size_t>(k)] = state ? 1 : 0;
		const int now = p.present ? 1 : 0;
		int &slot = columns[static_cast<size_t>(c)];
		slot = slot < 0 || slot == now ? now : 2;
		state = p.present;
		last = c;
	}
	for (int k = last + 1; k < kSvgPlotWidth; ++k)
		columns[static_cast<size_t>(k)] = state ? 1 : 0;
	return columns;
}

template <class Draw>
void ForRuns(const std::vector<int> &columns, Draw draw)
{
	size_t start = 0;
	for (size_t i = 1; i <= columns.size(); ++i) {
		if (i < columns.size() && columns[i] == columns[start])
			continue;
		draw(columns[start], static_cast<double>(start), static_cast<double>(i - start));
		start = i;
	}
}

std::string Rect(double x, double y, double w, double h, const std::string &style)
{
	return "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" + Num(h) + "\" " +
	       style + "/>\n";
}

std::string Text(double x, double y, const std::string &text, const char *anchor = "start")
{
	return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + anchor + "\">" + text + "</text>\n";
}

std::string Phases(const Recording &recording, const Scale &scale)
{
	std::vector<int> columns(kSvgPlotWidth, 0);
	for (const auto &r : recording.readings)
		columns[static_cast<size_t>(scale.Column(r.ms))] = r.label == "on" ? 1 : r.label == "off" ? 2 : 0;
	std::string out;
	ForRuns(columns, [&](int label, double x, double w) {
		if (label != 0)
			out += Rect(scale.X(x), kTop, w, kBottom - kTop,
			            label == 1 ? "fill=\"#dff3df\"" : "fill=\"#ececec\"");
	});
	return out;
}

std::string Band(const Recording &recording, const TuneSettings &settings, const Scale &scale, const char *colour)
{
	const double t = ProximityAlgorithm::EffectiveThreshold(CalibrationOf(recording.header), settings.threshold_offset);
	const double h = recording.header.hyst;
	const double top = scale.Y(t + h);
	const double bottom = scale.Y(std::max(0.0, t - h));
	return Rect(kLeft, top, kSvgPlotWidth, std::max(bottom - top, 0.5),
	            std::string("fill=\"") + colour + "\" fill-opacity=\"0.12\"") +
	       "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kRight) + "\" y1=\"" + Num(scale.Y(t)) + "\" y2=\"" +
	       Num(scale.Y(t)) + "\" stroke=\"" + colour + "\" stroke-dasharray=\"6 4\" stroke-width=\"1\"/>\n";
}

std::string Strip(const std::vector<ReplayPoint> &trace, const Scale &scale, double y, const char *colour,
                  const std::string &name)
{
	std::string out = Rect(kLeft, y, kSvgPlotWidth, kStripHeight, "fill=\"#f4f4f4\" stroke=\"#bbb\" stroke-width=\"0.5\"");
	ForRuns(PresenceColumns(trace, scale), [&](int state, double x, double w) {
		if (state > 0)
			out += Rect(scale.X(x), y, w, kStripHeight,
			            std::string("fill=\"") + colour + "\"" + (state == 2 ? " fill-opacity=\"0.45\"" : ""));
	});
	return out + Text(kLeft - 6, y + kStripHeight - 3, name, "end");
}

std::string Axes(const Scale &scale)
{
	std::string out;
	const double span_s = scale.span_ms / 1000.0;
	const double x_step = NiceStep(span_s / 10);
	for (double s = 0; s <= span_s + 1e-9; s += x_step) {
		const double x = scale.XOfMs(scale.first_ms + s * 1000);
		out += "<line x1=\"" + Num(x) + "\" x2=\"" + Num(x) + "\" y1=\"" + Num(kTop) + "\" y2=\"" + Num(kBottom + 4) +
		       "\" stroke=\"#ddd\" stroke-width=\"0.5\"/>\n";
		char label[32];
		std::snprintf(label, sizeof(label), x_step < 1 ? "%.1f" : "%.0f", s);
		out += Text(x, kBottom + 16, label, "middle");
	}
	out += Text(kLeft - 6, kBottom + 16, "time (s)", "end");
	const double y_step = NiceStep(scale.top_value / 6);
	for (double v = 0; v <= scale.top_value + 1e-9; v += y_step) {
		out += "<line x1=\"" + Num(kLeft - 4) + "\" x2=\"" + Num(kRight) + "\" y1=\"" + Num(scale.Y(v)) + "\" y2=\"" +
		       Num(scale.Y(v)) + "\" stroke=\"#ddd\" stroke-width=\"0.5\"/>\n";
		out += Text(kLeft - 6, scale.Y(v) + 4, std::to_string(static_cast<long>(v)), "end");
	}
	out += Rect(kLeft, kTop, kSvgPlotWidth, kBottom - kTop, "fill=\"none\" stroke=\"#888\"");
	return out;
}

std::string Legend(bool labelled, bool same)
{
	std::string out;
	double x = kLeft;
	auto entry = [&](const std::string &swatch, const std::string &name) {
		out += swatch;
		out += Text(x + 22, kTop - 10, name);
		x += 28 + 7.0 * static_cast<double>(name.size());
	};
	auto line = [&](const char *colour, double width) {
		return "<line x1=\"" + Num(x) + "\" x2=\"" + Num(x + 18) + "\" y1=\"" + Num(kTop - 14) + "\" y2=\"" +
		       Num(kTop - 14) + "\" stroke=\"" + colour + "\" stroke-width=\"" + Num(width) + "\"/>\n";
	};
	entry(line("#999", 1), "reading");
	entry(line(kCurrentColour, 2), same ? "average (current = recommended)" : "average, current");
	if (!same)
		entry(line(kRecommendedColour, 2), "average, recommended");
	entry(Rect(x, kTop - 19, 18, 10, "fill=\"#888\" fill-opacity=\"0.2\""), "switching band T\u00b1H");
	if (labelled) {
		entry(Rect(x, kTop - 19, 18, 10, "fill=\"#dff3df\" stroke=\"#aaa\" stroke-width=\"0.5\""), "labelled on");
		entry(Rect(x, kTop - 19, 18, 10, "fill=\"#ececec\" stroke=\"#aaa\" stroke-width=\"0.5\""), "labelled off");
	}
	return out;
}

} // namespace

std::string TuneSvg(const Recording &recording, const TuneResult &result, const std::string &title)
{
	if (recording.readings.empty())
		return "<svg xmlns=\"http://www.w3.org/2000/svg\"/>\n";
	const auto current = ReplayTrace(recording, result.current.settings);
	const bool same = result.recommended.settings == result.current.settings;
	const auto recommended = same ? current : ReplayTrace(recording, result.recommended.settings);
	const auto &readings = recording.readings;

	Scale scale;
	scale.first_ms = readings.front().ms;
	scale.span_ms = std::max<double>(1, readings.back().ms - readings.front().ms);
	double top = 1;
	for (const auto &r : readings)
		top = std::max<double>(top, r.raw);
	const UserSignature calibration = CalibrationOf(recording.header);
	for (const auto *s : {&result.current.settings, &result.recommended.settings})
		top = std::max<double>(top, ProximityAlgorithm::EffectiveThreshold(calibration, s->threshold_offset) +
		                                recording.header.hyst);
	const double y_step = NiceStep(top * 1.05 / 6);
	scale.top_value = std::ceil(top * 1.05 / y_step) * y_step;

	std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
	                  Num(kWidth) + "\" height=\"" + Num(kHeight) + "\" viewBox=\"0 0 " + Num(kWidth) + " " +
	                  Num(kHeight) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
	svg += "<title>" + XmlText(title) + "</title>\n";
	svg += Rect(0, 0, kWidth, kHeight, "fill=\"white\"");
	svg += "<text x=\"" + Num(kLeft) + "\" y=\"16\" font-size=\"13\" font-weight=\"bold\">" + XmlText(title) + "</text>\n";
	svg += Phases(recording, scale);
	svg += Axes(scale);
	svg += Band(recording, result.current.settings, scale, kCurrentColour);
	if (!same)
		svg += Band(recording, result.recommended.settings, scale, kRecommendedColour);
	svg += "<path fill=\"none\" stroke=\"#999\" stroke-width=\"0.7\" d=\"" +
	       Decimated(readings, scale, [](const RecordedReading &r) { return static_cast<double>(r.raw); }) + "\"/>\n";
	auto average = [](const ReplayPoint &p) { return static_cast<double>(p.average); };
	if (!same)
		svg += "<path fill=\"none\" stroke=\"" + std::string(kRecommendedColour) + "\" stroke-width=\"1.5\" d=\"" +
		       Decimated(recommended, scale, average) + "\"/>\n";
	svg += "<path fill=\"none\" stroke=\"" + std::string(kCurrentColour) + "\" stroke-width=\"1.5\" d=\"" +
	       Decimated(current, scale, average) + "\"/>\n";
	svg += Strip(current, scale, kCurrentStrip, kCurrentColour, "current");
	if (!same)
		svg += Strip(recommended, scale, kRecommendedStrip, kRecommendedColour, "recommended");
	svg += Text(kRight, kHeight - 6, "presence: filled when on, pale when it switched within a pixel", "end");
	svg += Legend(recording.Labelled(), same);
	return svg + "</svg>\n";
}

namespace {

// A new empty file at `path`; false with errno (EEXIST for any name that
// is taken, a link or a dangling link included).
bool CreateNew(const std::filesystem::path &path)
{
#ifdef _WIN32
	const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
	return fd >= 0 && _close(fd) == 0;
#else
	const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
	return fd >= 0 && close(fd) == 0;
#endif
}

} // namespace

bool WriteFileReplacing(const std::string &path_utf8, const std::string &text, std::string &error)
{
	namespace fs = std::filesystem;
	const fs::path path = Utf8Path(path_utf8);
	if (path.empty() || !path.has_filename()) {
		error = "not a file name";
		return false;
	}
	std::random_device random;
	fs::path temp;
	// The temporary name is made here and now, never one found there: in a
	// shared folder another user's link under that name would have the
	// plot written into whatever it points at.
	for (int attempt = 0;; ++attempt) {
		temp = path;
		temp += ".zelvan-tmp-" + std::to_string(random() % 1000000);
		if (CreateNew(temp))
			break;
		if (errno != EEXIST || attempt == 100) {
			error = errno == EEXIST ? "every temporary name beside it is taken (by another user's files?)"
			                        : std::strerror(errno);
			return false;
		}
	}
	{
		std::ofstream out(temp, std::ios::binary | std::ios::trunc);
		if (!out) {
			error = std::strerror(errno);
			std::error_code ignored;
			fs::remove(temp, ignored);
			return false;
		}
		out.write(text.data(), static_cast<std::streamsize>(text.size()));
		out.close();
		if (!out) {
			error = "could not write all of it (the disk may be full)";
			std::error_code ignored;
			fs::remove(temp, ignored);
			return false;
		}
	}
	std::error_code ec;
	fs::rename(temp, path, ec);
	if (ec) {
		error = ec.message();
		std::error_code ignored;
		fs::remove(temp, ignored);
		return false;
	}
	return true;
}

} // namespace zelvan::ctl

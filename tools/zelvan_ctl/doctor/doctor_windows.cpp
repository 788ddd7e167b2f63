// zelvan-ctl doctor on Windows: hidapi.dll beside the driver, and the sensor
// as the running driver reports it.
#include "tools/zelvan_ctl/doctor/doctor.h"

#include <filesystem>
#include <system_error>

#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

std::string DriverLibraryInFolder()
{
	return "bin\\win64\\driver_ZelvanProximity.dll";
}

std::string InstallRemedy()
{
	return "Install the driver folder with its install.cmd (or register it with vrpathreg adddriver FOLDER).";
}

Finding CheckLibraryDependencies(const std::string &library)
{
	namespace fs = std::filesystem;
	const fs::path hidapi = Utf8Path(library).parent_path() / "hidapi.dll";
	std::error_code error;
	if (!fs::is_regular_file(hidapi, error))
		return {"library", Verdict::Fail, Utf8String(hidapi) + " is missing (the driver imports hidapi from it)",
		        "Reinstall the driver folder with its install.cmd: hidapi.dll ships beside the driver."};
	return {"library", Verdict::Ok, library + " with hidapi.dll beside it", ""};
}

Finding CheckSensor(const nlohmann::json &status)
{
	if (status.is_null())
		return {"sensor", Verdict::Warn, "not checked: the driver does not answer", "Fix the running check first."};
	const auto it = status.find("hid");
	const std::string hid = it != status.end() && it->is_string() ? it->get<std::string>() : "";
	if (hid == "open")
		return {"sensor", Verdict::Ok, "the driver has the sensor open (hid=open)", ""};
	if (hid == "not_connected")
		return {"sensor", Verdict::Fail, "the driver runs without the sensor (hid=not_connected: hidapi did not start)",
		        "Reinstall the driver folder with its install.cmd and restart SteamVR."};
	return {"sensor", Verdict::Fail, "the driver does not find the sensor (hid=" + hid + ")",
	        "Connect the headset's USB cable; the driver opens the sensor by itself within 5 s."};
}

} // namespace zelvan::ctl

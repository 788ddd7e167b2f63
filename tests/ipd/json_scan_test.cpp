// FindJsonStringValue over hand-made edge cases and real registry files, with
// both platforms' path rules; IsCompleteJsonObject on whole and cut texts.
#include <gtest/gtest.h>

#include <string>

#include "ipd/json_scan.h"
#include "ipd/runtime_paths.h"
#include "tests/support/fixtures.h"

namespace zelvan {
namespace {

TEST(FindJsonStringValue, EdgeCases)
{
	struct Case {
		const char *name;
		std::string text;
		const char *key;
		std::string windows, posix;
	};
	const Case cases[] = {
		{"doubled backslashes", R"({"config": ["D:\\VR\\config"]})", "config", R"(D:\VR\config)", R"(D:\VR\config)"},
		{"forward slashes", R"({"runtime": ["D:/VR/runtime"]})", "runtime", R"(D:\VR\runtime)", "D:/VR/runtime"},
		{"absent key", R"({"log": ["x"]})", "config", "", ""},
		{"no bracket after the key", R"({"config": "x"})", "config", "", ""},
		{"first bracket after the key wins", R"({"config": "plain", "log": ["E:\\logs"]})", "config", R"(E:\logs)", R"(E:\logs)"},
		{"longer key does not match", R"({"configs": ["a"]})", "config", "", ""},
		{"value spelled like the key matches first", R"({"name": "config", "x": ["first"], "config": ["second"]})", "config", "first", "first"},
		{"four backslashes give two", R"({"k": ["a\\\\b"]})", "k", R"(a\\b)", R"(a\\b)"},
		{"three backslashes give two", R"({"k": ["a\\\b"]})", "k", R"(a\\b)", R"(a\\b)"},
		{"empty first element", R"({"k": ["", "second"]})", "k", "", ""},
		{"escaped quote ends the value", R"({"k": ["a\"b"]})", "k", R"(a\)", R"(a\)"},
		{"text shorter than the key", R"("k)", "config", "", ""},
		{"no closing quote", R"({"k": ["abc)", "k", "", ""},
		{"other escapes stay", R"({"k": ["a\nb\t"]})", "k", R"(a\nb\t)", R"(a\nb\t)"},
		{"\\u escapes become UTF-8", R"({"k": ["D:\\Jeux vid\u00e9o\\\u6E38\u620F"]})", "k",
		 "D:\\Jeux vid\xC3\xA9o\\\xE6\xB8\xB8\xE6\x88\x8F", "D:\\Jeux vid\xC3\xA9o\\\xE6\xB8\xB8\xE6\x88\x8F"},
		{"lower-case hex digits", R"({"k": ["Bj\u00f6rn\\M\u00fcller\\Espa\u00f1a\\\u738b\u4f1f"]})", "k",
		 "Bj\xC3\xB6rn\\M\xC3\xBCller\\Espa\xC3\xB1" "a\\\xE7\x8E\x8B\xE4\xBC\x9F",
		 "Bj\xC3\xB6rn\\M\xC3\xBCller\\Espa\xC3\xB1" "a\\\xE7\x8E\x8B\xE4\xBC\x9F"},
		{"a surrogate pair is one character", R"({"k": ["\ud83d\ude00"]})", "k", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
		{"ASCII escapes, a lone surrogate or a short escape stay as written",
		 R"({"k": ["\u002F\u0022\u0000.\ud83d.\ude00.\u00e"]})", "k",
		 R"(\u002F\u0022\u0000.\ud83d.\ude00.\u00e)", R"(\u002F\u0022\u0000.\ud83d.\ude00.\u00e)"},
		{"an escaped backslash before u is no escape", R"({"k": ["a\\u00e9"]})", "k", R"(a\u00e9)", R"(a\u00e9)"},
		{"null array then bracket of a later key", R"({"k": null, "z": ["later"]})", "k", "later", "later"},
		{"spaces and parentheses kept", R"({"k" :	[ "C:\\Program Files (x86)\\Steam" ]})", "k", R"(C:\Program Files (x86)\Steam)", R"(C:\Program Files (x86)\Steam)"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(FindJsonStringValue(c.text, c.key, PathStyle::Windows), c.windows);
		EXPECT_EQ(FindJsonStringValue(c.text, c.key, PathStyle::Posix), c.posix);
	}
}

TEST(FindJsonStringValue, RealRegistryFiles)
{
	struct Case {
		const char *file;
		const char *key;
		std::string windows, posix;
	};
	const Case cases[] = {
		{"openvrpaths_windows.vrpath", "config", R"(c:\program files (x86)\steam\config)", R"(c:\program files (x86)\steam\config)"},
		{"openvrpaths_windows.vrpath", "runtime", R"(C:\Program Files (x86)\Steam\steamapps\common\SteamVR)", R"(C:\Program Files (x86)\Steam\steamapps\common\SteamVR)"},
		{"openvrpaths_windows_openvr_issue548.vrpath", "config", R"(C:\Games\Steam\config)", R"(C:\Games\Steam\config)"},
		{"openvrpaths_windows_openvr_issue548.vrpath", "runtime", R"(C:\steamcmd\steamapps\common\SteamVR\)", R"(C:\steamcmd\steamapps\common\SteamVR\)"},
		{"openvrpaths_windows_osvr_vive_issue6.vrpath", "runtime", R"(C:\Program Files (x86)\Steam\steamapps\common\SteamVR\)", R"(C:\Program Files (x86)\Steam\steamapps\common\SteamVR\)"},
		{"openvrpaths_windows_osvr_vive_issue6.vrpath", "jsonid", "", ""},
		{"openvrpaths_linux.vrpath", "config", R"(\home\jay\.local\share\Steam\config)", "/home/jay/.local/share/Steam/config"},
		{"openvrpaths_linux.vrpath", "runtime", R"(\home\jay\.local\share\Steam\steamapps\common\SteamVR)", "/home/jay/.local/share/Steam/steamapps/common/SteamVR"},
		{"openvrpaths_linux_xrizer.vrpath", "runtime", R"(\nix\store\mfj5jcff5a0g0s159k6wp7bjcqdv86wv-xrizer-0.3\lib\xrizer\)", "/nix/store/mfj5jcff5a0g0s159k6wp7bjcqdv86wv-xrizer-0.3/lib/xrizer/"},
		// external_drivers is an empty array: the first quote after it opens "jsonid".
		{"openvrpaths_linux_xrizer.vrpath", "external_drivers", "jsonid", "jsonid"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(std::string(c.file) + " " + c.key);
		std::string text;
		ASSERT_TRUE(ReadTextFile(test::FixturePath(c.file), text));
		EXPECT_EQ(FindJsonStringValue(text, c.key, PathStyle::Windows), c.windows);
		EXPECT_EQ(FindJsonStringValue(text, c.key, PathStyle::Posix), c.posix);
	}
}

TEST(IsCompleteJsonObject, TellsAWholeObjectFromACutOne)
{
	struct Case {
		const char *text;
		bool whole;
	};
	const Case cases[] = {
		{"{ \"a\" : [ 1, { \"b\" : 2 } ] }\n", true},
		{"\xEF\xBB\xBF\r\n{}\r\n", true},
		{"{ \"brace in a string }\" : \"[\\\"\" }", true},
		{"{ \"a\" : [ 1, 2 }", false},
		{"{ \"a\" : 1 } }", false},
		{"{ \"a\" : \"}\"", false},
		{"{ \"a\" : 1 }x", false},
		{"[ 1 ]", false},
		{"", false},
		{"{ \"a\" : \"\\", false},
	};
	for (const Case &c : cases)
		EXPECT_EQ(IsCompleteJsonObject(c.text), c.whole) << c.text;
}

} // namespace
} // namespace zelvan

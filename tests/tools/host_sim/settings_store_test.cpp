// Tests of the simulated settings store: typed reads with the runtime's error codes, defaults, and the vrsettings file.
#include "tools/host_sim/settings_store.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  RunState run;
  CallTrace trace{run, false};
  SettingsStore settings{trace};

  std::string TempPath(const char* suffix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return (std::filesystem::temp_directory_path() /
            (std::string("host_sim_") + info->test_suite_name() + "_" + info->name() + suffix))
        .string();
  }
};

enum class Getter { Bool, Int32, Float, String };

struct TypedReadCase {
  const char* name;
  nlohmann::json stored;  // null: key absent
  Getter getter;
  double expected;        // the number (or bool as 0/1) read; strings use expected_text
  const char* expected_text;
  vr::EVRSettingsError error;
};

class TypedReadTest : public SettingsStoreTest, public ::testing::WithParamInterface<TypedReadCase> {};

TEST_P(TypedReadTest, ConvertsAndReportsLikeTheRuntime) {
  const TypedReadCase& c = GetParam();
  if (!c.stored.is_null()) settings.SetUserValue("sec", "key", c.stored);
  vr::EVRSettingsError error = vr::VRSettingsError_IPCFailed;  // never a result here
  switch (c.getter) {
    case Getter::Bool:
      EXPECT_EQ(settings.GetBool("sec", "key", &error), c.expected != 0);
      break;
    case Getter::Int32:
      EXPECT_EQ(settings.GetInt32("sec", "key", &error), static_cast<int32_t>(c.expected));
      break;
    case Getter::Float:
      EXPECT_FLOAT_EQ(settings.GetFloat("sec", "key", &error), static_cast<float>(c.expected));
      break;
    case Getter::String: {
      char buffer[32] = "garbage";
      settings.GetString("sec", "key", buffer, sizeof buffer, &error);
      EXPECT_STREQ(buffer, c.expected_text);
      break;
    }
  }
  EXPECT_EQ(error, c.error);
}

constexpr auto kNone = vr::VRSettingsError_None;
constexpr auto kReadFailed = vr::VRSettingsError_ReadFailed;
constexpr auto kUnset = vr::VRSettingsError_UnsetSettingHasNoDefault;

INSTANTIATE_TEST_SUITE_P(
    Reads, TypedReadTest,
    ::testing::Values(
        TypedReadCase{"IntAsInt", 200, Getter::Int32, 200, "", kNone},
        TypedReadCase{"FloatAsIntTruncates", 63.7, Getter::Int32, 63, "", kNone},
        TypedReadCase{"NegativeFloatAsIntTruncatesTowardZero", -63.7, Getter::Int32, -63, "", kNone},
        TypedReadCase{"HugeIntSaturates", 5000000000LL, Getter::Int32, std::numeric_limits<int32_t>::max(), "", kNone},
        TypedReadCase{"BoolAsInt", true, Getter::Int32, 1, "", kNone},
        TypedReadCase{"IntAsFloat", 64, Getter::Float, 64.0, "", kNone},
        TypedReadCase{"FloatAsFloat", 63.5, Getter::Float, 63.5, "", kNone},
        TypedReadCase{"ZeroAsBool", 0, Getter::Bool, 0, "", kNone},
        TypedReadCase{"TwoAsBool", 2, Getter::Bool, 1, "", kNone},
        TypedReadCase{"StringAsInt", "abc", Getter::Int32, 0, "", kReadFailed},
        TypedReadCase{"StringAsFloat", "63.5", Getter::Float, 0, "", kReadFailed},
        TypedReadCase{"StringAsBool", "true", Getter::Bool, 0, "", kReadFailed},
        TypedReadCase{"NumberAsString", 5, Getter::String, 0, "", kReadFailed},
        TypedReadCase{"ObjectAsInt", nlohmann::json::object({{"a", 1}}), Getter::Int32, 0, "", kReadFailed},
        TypedReadCase{"StringAsString", "hello", Getter::String, 0, "hello", kNone},
        TypedReadCase{"MissingAsInt", nullptr, Getter::Int32, 0, "", kUnset},
        TypedReadCase{"MissingAsFloat", nullptr, Getter::Float, 0, "", kUnset},
        TypedReadCase{"MissingAsBool", nullptr, Getter::Bool, 0, "", kUnset},
        TypedReadCase{"MissingAsString", nullptr, Getter::String, 0, "", kUnset}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SettingsStoreTest, MissingSectionIsUnsetAndNullErrorPointerIsAllowed) {
  settings.SetUserValue("other", "key", 1);
  vr::EVRSettingsError error = vr::VRSettingsError_None;
  EXPECT_EQ(settings.GetInt32("sec", "key", &error), 0);
  EXPECT_EQ(error, kUnset);
  settings.SetUserValue("sec", "key", 7);
  EXPECT_EQ(settings.GetInt32("sec", "key", nullptr), 7);
  settings.SetFloat("sec", "f", 1.5f, nullptr);
}

TEST_F(SettingsStoreTest, DefaultsFillInMissingKeysAndAreNeverWrittenBack) {
  settings.AddDefaults({{"sec", {{"rate", 200}, {"len", 8}}}});
  settings.SetUserValue("sec", "rate", 50);
  vr::EVRSettingsError error;
  EXPECT_EQ(settings.GetInt32("sec", "rate", &error), 50);
  EXPECT_EQ(settings.GetInt32("sec", "len", &error), 8);
  EXPECT_EQ(error, kNone);

  settings.RemoveKeyInSection("sec", "rate", &error);
  EXPECT_EQ(settings.GetInt32("sec", "rate", &error), 200);
  settings.RemoveSection("sec", &error);
  EXPECT_EQ(settings.GetInt32("sec", "len", &error), 8);
  EXPECT_EQ(settings.UserDocument(), nlohmann::json::object());
}

TEST_F(SettingsStoreTest, SetCreatesSectionsAndStoresFloatsAsWritten) {
  vr::EVRSettingsError error = kUnset;
  settings.SetFloat("driver_x", "ipd_mm", 63.1f, &error);
  EXPECT_EQ(error, kNone);
  settings.SetBool("driver_x", "on", true, nullptr);
  settings.SetString("driver_x", "name", "z", nullptr);
  const nlohmann::json expected = {{"driver_x", {{"ipd_mm", 63.1}, {"on", true}, {"name", "z"}}}};
  EXPECT_EQ(settings.UserDocument(), expected);
}

TEST_F(SettingsStoreTest, GetStringCutsToTheBufferAndTerminates) {
  settings.SetUserValue("sec", "key", "abcdef");
  char buffer[4] = {'x', 'x', 'x', 'x'};
  vr::EVRSettingsError error;
  settings.GetString("sec", "key", buffer, sizeof buffer, &error);
  EXPECT_STREQ(buffer, "abc");
}

TEST_F(SettingsStoreTest, FileRoundTripKeepsOtherEntriesAndUsesThreeSpaceIndent) {
  const std::string path = TempPath(".vrsettings");
  {
    std::ofstream file(path);
    file << R"({"jsonid" : "vrsettings", "steamvr" : {"showMirrorView" : false}, "version" : "1"})";
  }
  std::string error;
  auto document = ReadSettingsFile(path, false, &error);
  ASSERT_TRUE(document) << error;
  settings.LoadUser(*document);
  settings.SetInt32("driver_ZelvanProximity", "report_rate_ms", 100, nullptr);
  ASSERT_TRUE(WriteSettingsFile(path, settings.UserDocument(), &error)) << error;

  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("\n   \"jsonid\": \"vrsettings\""), std::string::npos) << text.str();
  auto reread = ReadSettingsFile(path, false, &error);
  ASSERT_TRUE(reread) << error;
  EXPECT_EQ((*reread)["driver_ZelvanProximity"]["report_rate_ms"], 100);
  EXPECT_EQ((*reread)["steamvr"]["showMirrorView"], false);
  EXPECT_EQ((*reread)["version"], "1");
  std::remove(path.c_str());
}

TEST_F(SettingsStoreTest, ReadingFilesReportsWhatIsWrong) {
  std::string error;
  const std::string missing = TempPath(".missing");
  EXPECT_EQ(ReadSettingsFile(missing, true, &error), nlohmann::json::object());
  EXPECT_FALSE(ReadSettingsFile(missing, false, &error));
  EXPECT_NE(error.find(missing), std::string::npos);

  const std::string broken = TempPath(".broken");
  for (const char* content : {"{\"a\": ", "[1, 2]"}) {
    {
      std::ofstream file(broken);
      file << content;
    }
    error.clear();
    EXPECT_FALSE(ReadSettingsFile(broken, true, &error)) << content;
    EXPECT_NE(error.find(broken), std::string::npos) << error;
  }
  std::remove(broken.c_str());
}

}  // namespace
}  // namespace zelvan::host_sim

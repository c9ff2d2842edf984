// The file-backed registry: export-file parsing, the MIME type list as
// HKEY_CLASSES_ROOT, and RegReadString/RegEnumSubkeys/RegFindContentType over
// real files given through the environment overrides.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "registry/mime_types.h"
#include "registry/reg_file.h"
#include "registry/registry_store.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

constexpr const char* kPresetKey = "Software\\Veltrona\\Dropcart";

RegistryKey FromRegText(const std::string& text, Hive hive, const std::string& path) {
  RegistryKey key;
  KeyMerger merger(&key);
  RegFile(text).Merge(hive, path, &merger);
  return key;
}

RegistryKey FromMimeTypes(const std::string& text, const std::string& path) {
  RegistryKey key;
  KeyMerger merger(&key);
  MimeTypes(text).Merge(path, &merger);
  return key;
}

TEST(RegFileParseTest, ReadsStringValuesOfTheWantedHiveAndKeyOnly) {
  const std::string text =
      "REGEDIT4\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\r\n"
      "\"Mailserver\"=\"mail.example.com\"\r\n"
      "\"Sender\"=\"a \\\"quoted\\\" \\\\ name\"\r\n"
      "\"Count\"=dword:00000001\r\n"
      "@=\"default\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Veltrona\\Dropcart]\r\n"
      "\"Mailserver\"=\"machine.example.com\"\r\n";
  RegistryKey key = FromRegText(text, Hive::kCurrentUser, "software\\VELTRONA\\dropcart");
  ASSERT_TRUE(key.exists);
  ASSERT_EQ(key.values.size(), 3u);
  EXPECT_EQ(key.values[0].second, "mail.example.com");
  EXPECT_EQ(key.values[1].second, "a \"quoted\" \\ name");
  EXPECT_EQ(key.values[2].first, "");
  EXPECT_EQ(key.other_values, std::vector<std::string>{"Count"});
}

TEST(RegFileParseTest, SkipsMalformedLinesAndKeepsTheRest) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\K]\n"
      "\"Unclosed=\"x\"\n"
      "\"NoEquals\" \"x\"\n"
      "\"Trailing\"=\"x\" junk\n"
      "garbage line\n"
      "[HKEY_NOWHERE\\K]\n"
      "\"Other\"=\"hive\"\n"
      "[HKEY_CURRENT_USER\\K\n"
      "\"AfterBadSection\"=\"x\"\n"
      "[HKEY_CURRENT_USER\\K]\n"
      "\"Good\"=\"yes\"\n"
      "\"Good\"=\"replaced\"\n";
  RegistryKey key = FromRegText(text, Hive::kCurrentUser, "K");
  ASSERT_EQ(key.values.size(), 1u);
  EXPECT_EQ(key.values[0].first, "Good");
  EXPECT_EQ(key.values[0].second, "replaced");
}

TEST(RegFileParseTest, SubkeysInOrderOfFirstSectionIncludingImpliedParents) {
  const std::string text =
      "[HKEY_CLASSES_ROOT\\Top\\Zeta\\Deep]\n"
      "[HKEY_CLASSES_ROOT\\Top\\alpha]\n"
      "[HKEY_CLASSES_ROOT\\Top\\ZETA]\n"
      "[HKEY_CLASSES_ROOT\\Topless]\n";
  RegistryKey key = FromRegText(text, Hive::kClassesRoot, "Top");
  EXPECT_TRUE(key.exists);
  EXPECT_EQ(key.subkeys, (std::vector<std::string>{"Zeta", "alpha"}));
  RegistryKey implied = FromRegText(text, Hive::kClassesRoot, "Top\\Zeta");
  EXPECT_TRUE(implied.exists);
  EXPECT_EQ(implied.subkeys, std::vector<std::string>{"Deep"});
}

TEST(MimeTypesTest, TypesAndExtensionsBecomeKeys) {
  const std::string text =
      "# comment\n"
      "application/zip\t\t\t\tzip\n"
      "text/plain\t\t\t\ttxt text conf\n"
      "application/x-other\t\t\ttxt\n"
      "application/octet-stream\n";
  RegistryKey types = FromMimeTypes(text, "MIME\\Database\\Content Type");
  EXPECT_EQ(types.subkeys, (std::vector<std::string>{
                               "application/zip", "text/plain", "application/x-other",
                               "application/octet-stream"}));
  RegistryKey plain = FromMimeTypes(text, "MIME\\Database\\Content Type\\text/plain");
  ASSERT_EQ(plain.values.size(), 1u);
  EXPECT_EQ(plain.values[0].first, "Extention");
  EXPECT_EQ(plain.values[0].second, ".txt");
  RegistryKey no_ext =
      FromMimeTypes(text, "MIME\\Database\\Content Type\\application/octet-stream");
  EXPECT_TRUE(no_ext.exists);
  EXPECT_TRUE(no_ext.values.empty());
  RegistryKey txt = FromMimeTypes(text, ".TXT");
  ASSERT_EQ(txt.values.size(), 1u);
  EXPECT_EQ(txt.values[0].second, "text/plain");  // the first type that lists it
}

// RegReadString over real files named by the environment overrides.
class RegistryFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.ok());
    setenv("POSTRUNNER_MACHINE_REGISTRY", machine_.c_str(), 1);
    setenv("POSTRUNNER_USER_REGISTRY", user_.c_str(), 1);
    setenv("POSTRUNNER_MIME_TYPES", mime_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("POSTRUNNER_MACHINE_REGISTRY");
    unsetenv("POSTRUNNER_USER_REGISTRY");
    unsetenv("POSTRUNNER_MIME_TYPES");
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  TempDir temp_{"pr_registry"};
  const std::string machine_ = temp_.Path("machine.reg");
  const std::string user_ = temp_.Path("user.reg");
  const std::string mime_ = temp_.Path("mime.types");
};

TEST_F(RegistryFilesTest, MissingFilesGiveTheDefault) {
  EXPECT_EQ(RegReadString(kPresetKey, "Mailserver", "127.0.0.1", HKEY_LOCAL_MACHINE),
            "127.0.0.1");
  std::vector<std::string> list{"stale"};
  RegEnumSubkeys(list, HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type");
  EXPECT_TRUE(list.empty());
}

TEST_F(RegistryFilesTest, EmptyStoredValueIsNotTheDefault) {
  Write(user_, "[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n\"Sender\"=\"\"\n");
  EXPECT_EQ(RegReadString(kPresetKey, "Sender", "fallback", HKEY_CURRENT_USER), "");
  EXPECT_EQ(RegReadString(kPresetKey, "Missing", "fallback", HKEY_CURRENT_USER), "fallback");
  // The user's file does not speak for the machine.
  EXPECT_EQ(RegReadString(kPresetKey, "Sender", "fallback", HKEY_LOCAL_MACHINE), "fallback");
}

TEST_F(RegistryFilesTest, ValuesMustFitInTheBuffer) {
  std::string fits(1023, 'a');
  std::string too_long(1024, 'b');
  Write(machine_, "[HKEY_LOCAL_MACHINE\\Software\\Veltrona\\Dropcart]\n\"Sender\"=\"" + fits +
                      "\"\n\"Mailserver\"=\"" + too_long + "\"\n");
  EXPECT_EQ(RegReadString(kPresetKey, "Sender", "d", HKEY_LOCAL_MACHINE), fits);
  EXPECT_EQ(RegReadString(kPresetKey, "Mailserver", "d", HKEY_LOCAL_MACHINE), "d");
}

TEST_F(RegistryFilesTest, NonStringValuesReadAsAbsent) {
  Write(machine_, "[HKEY_LOCAL_MACHINE\\Software\\Veltrona\\Dropcart]\n"
                  "\"Mailserver\"=dword:00000019\n\"Sender\"=hex:41,42\n");
  EXPECT_EQ(RegReadString(kPresetKey, "Mailserver", "d", HKEY_LOCAL_MACHINE), "d");
  EXPECT_EQ(RegReadString(kPresetKey, "Sender", "d", HKEY_LOCAL_MACHINE), "d");
}

TEST_F(RegistryFilesTest, FifoOrFolderInPlaceOfAFileReadsAsMissing) {
  ASSERT_EQ(mkfifo(machine_.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(user_.c_str(), 0700), 0);
  EXPECT_EQ(RegReadString(kPresetKey, "Sender", "d", HKEY_LOCAL_MACHINE), "d");
  EXPECT_EQ(RegReadString(kPresetKey, "Sender", "d", HKEY_CURRENT_USER), "d");
}

TEST_F(RegistryFilesTest, ClassesRootMergesMimeTypesWithMachineSections) {
  Write(mime_, "application/zip zip\ntext/plain txt\n");
  Write(machine_, "[HKEY_CLASSES_ROOT\\.txt]\n\"Content Type\"=\"text/x-custom\"\n"
                  "[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/x-custom]\n"
                  "\"Extention\"=\".txt\"\n");
  EXPECT_EQ(RegReadString(".zip", "Content Type", "", HKEY_CLASSES_ROOT), "application/zip");
  EXPECT_EQ(RegReadString(".txt", "Content Type", "", HKEY_CLASSES_ROOT), "text/x-custom");
  std::vector<std::string> types;
  RegEnumSubkeys(types, HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type");
  EXPECT_EQ(types, (std::vector<std::string>{"application/zip", "text/plain",
                                             "text/x-custom"}));
}

// The content type of an extension is the first type, in subkey order, whose
// "Extention" is it: from the list's index alone, and with the machine file
// changing or adding types.
TEST_F(RegistryFilesTest, ContentTypeByExtensionFollowsTheMergedTypes) {
  Write(mime_, "text/x-a qqq\ntext/x-b rrr qqq\ntext/x-c QQQ\ntext/x-d rrr\n");
  std::string type;
  EXPECT_TRUE(RegFindContentType(".Qqq", &type));
  EXPECT_EQ(type, "text/x-a");
  EXPECT_TRUE(RegFindContentType(".rrr", &type));
  EXPECT_EQ(type, "text/x-b");
  EXPECT_FALSE(RegFindContentType(".sss", &type));
  Write(machine_, "REGEDIT4\n[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/x-a]\n"
                  "\"Extention\"=-\n"
                  "[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/x-e]\n"
                  "\"Extention\"=\".sss\"\n");
  EXPECT_TRUE(RegFindContentType(".qqq", &type));
  EXPECT_EQ(type, "text/x-c");
  EXPECT_TRUE(RegFindContentType(".sss", &type));
  EXPECT_EQ(type, "text/x-e");
}

TEST_F(RegistryFilesTest, ChangedMimeListIsReadAgain) {
  Write(mime_, "application/zip zip\nText/Plain TXT text\ntext/plain conf\n");
  EXPECT_EQ(RegReadString(".txt", "Content Type", "", HKEY_CLASSES_ROOT), "Text/Plain");
  EXPECT_EQ(RegReadString(".conf", "Content Type", "", HKEY_CLASSES_ROOT), "text/plain");
  EXPECT_EQ(RegReadString("MIME\\Database\\Content Type\\TEXT/PLAIN", "Extention", "",
                          HKEY_CLASSES_ROOT),
            ".TXT");
  std::vector<std::string> types;
  RegEnumSubkeys(types, HKEY_CLASSES_ROOT, "mime\\database\\content type");
  EXPECT_EQ(types, (std::vector<std::string>{"application/zip", "Text/Plain"}));
  Write(mime_, "application/x-other zip\n");
  EXPECT_EQ(RegReadString(".zip", "Content Type", "", HKEY_CLASSES_ROOT), "application/x-other");
  ASSERT_EQ(unlink(mime_.c_str()), 0);
  EXPECT_EQ(RegReadString(".zip", "Content Type", "none", HKEY_CLASSES_ROOT), "none");
}

TEST_F(RegistryFilesTest, EmptyOverrideMeansNoFile) {
  setenv("POSTRUNNER_MIME_TYPES", "", 1);
  std::vector<std::string> types;
  RegEnumSubkeys(types, HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type");
  EXPECT_TRUE(types.empty());
}

}  // namespace
}  // namespace postrunner

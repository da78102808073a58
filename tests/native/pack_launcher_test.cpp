// The launcher's own package: what a launcher folder may hold, the release
// the options describe, and the keys that announce the package in version.cfg.
#include "tools/pack/launcher_package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<pack::PackEntry> Listing(const std::vector<std::string>& names) {
  std::vector<pack::PackEntry> entries;
  for (const std::string& name : names) {
    pack::PackEntry entry;
    entry.name = name;
    entry.storedName = name;
    entry.isDirectory = !name.empty() && name.back() == '/';
    entries.push_back(entry);
  }
  return entries;
}

TEST(PackLauncherFolder, WhatAFolderMayHold) {
  struct Case {
    const char* label;
    std::vector<std::string> listing;  // as CollectClientEntries lists a folder: sorted
    std::vector<std::string> files;    // what goes into the package
    std::vector<std::string> refused;  // the names the refusals start with, in order
  };
  const Case cases[] = {
      {"the executable alone", {"Launcher.exe"}, {"Launcher.exe"}, {}},
      {"skin and configuration, nested",
       {"Data/", "Data/Config.cfg", "Data/skin/", "Data/skin/bg.png", "Launcher.exe"},
       {"Data/Config.cfg", "Data/skin/bg.png", "Launcher.exe"},
       {}},
      {"an empty Data folder", {"Data/", "Launcher.exe"}, {"Launcher.exe"}, {}},
      {"no Launcher.exe", {"Data/", "Data/Config.cfg"}, {"Data/Config.cfg"}, {"Launcher.exe:"}},
      {"a stray file at the root",
       {"Launcher.exe", "readme.txt"},
       {"Launcher.exe"},
       {"readme.txt:"}},
      {"a stray folder, named once",
       {"Launcher.exe", "Skins/", "Skins/a.png", "Skins/b/", "Skins/b/c.png"},
       {"Launcher.exe"},
       {"Skins/:"}},
      {"Data as a file", {"Data", "Launcher.exe"}, {"Launcher.exe"}, {"Data:"}},
      {"Launcher.exe as a folder",
       {"Launcher.exe/", "Launcher.exe/x"},
       {},
       {"Launcher.exe/:", "Launcher.exe:"}},
      {"another spelling of the executable",
       {"launcher.exe"},
       {},
       {"launcher.exe:", "Launcher.exe:"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> errors;
    std::vector<std::string> files;
    for (const pack::PackEntry& entry : pack::SelectLauncherFiles(Listing(c.listing), &errors)) {
      EXPECT_FALSE(entry.isDirectory) << entry.name;
      files.push_back(entry.name);
    }
    EXPECT_EQ(c.files, files);
    ASSERT_EQ(c.refused.size(), errors.size()) << testing::PrintToString(errors);
    for (std::size_t i = 0; i < errors.size(); ++i) {
      EXPECT_EQ(0u, errors[i].rfind(c.refused[i], 0)) << errors[i];
    }
  }
}

TEST(PackLauncherRelease, RefusesWhatTheLauncherCouldNotFetch) {
  const std::string base = "http://h/";
  const std::string fits(pack::kMaxLauncherUrlBytes - base.size(), 'x');
  struct Case {
    std::string version;
    std::string urls[3];
    bool ok;
  };
  const Case cases[] = {
      {"1", {"http://h/L.zip", "", ""}, true},
      {"2147483647", {"http://h/L.zip", "http://m2/L.zip", "http://m3/L.zip"}, true},
      {"3", {"http://h/L.zip", "", "http://m3/L.zip"}, true},  // a mirror may be skipped
      {"0", {"http://h/L.zip", "", ""}, false},
      {"2147483648", {"http://h/L.zip", "", ""}, false},
      {"v2", {"http://h/L.zip", "", ""}, false},
      {"2", {"", "", ""}, false},
      {"2", {"http://h/a b", "", ""}, false},
      {"2", {"http://h/L.zip", "http://m2/\"L\"", ""}, false},
      {"2", {"http://h/L.zip", "", "http://m3/L.zip\r\nLauncherVersion=9"}, false},
      // "?" and 16 hex digits of the digest still fit in 259 bytes.
      {"2", {base + fits, "", ""}, true},
      {"2", {base + fits + "x", "", ""}, false},
      {"2", {"http://h/L.zip", base + fits + "x", ""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version + " " + c.urls[0] + " " + c.urls[1] + " " + c.urls[2]);
    pack::LauncherRelease release;
    std::string error;
    EXPECT_EQ(c.ok, pack::ReadLauncherRelease(c.version, c.urls[0], c.urls[1], c.urls[2], &release,
                                              &error));
    EXPECT_EQ(c.ok, error.empty()) << error;
  }
}

TEST(PackLauncherFacts, KeysInTheirOrder) {
  update::Sha256Digest digest;
  for (int i = 0; i < 32; ++i) digest.bytes[i] = static_cast<std::uint8_t>(i * 8);
  const std::string hex = "0008101820283038404850586068707880889098a0a8b0b8c0c8d0d8e0e8f0f8";
  struct Case {
    const char* label;
    std::string urls[3];
    std::string urlLines;
  };
  const Case cases[] = {
      {"no mirrors", {"http://h/L.zip", "", ""}, "LauncherUrl=http://h/L.zip\r\n"},
      {"both mirrors",
       {"http://h/L.zip", "http://m2/L.zip", "http://m3/L.zip"},
       "LauncherUrl=http://h/L.zip\r\nLauncherUrl2=http://m2/L.zip\r\nLauncherUrl3=http://m3/"
       "L.zip\r\n"},
      {"the third alone",
       {"http://h/L.zip", "", "http://m3/L.zip"},
       "LauncherUrl=http://h/L.zip\r\nLauncherUrl3=http://m3/L.zip\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    pack::LauncherRelease release;
    std::string error;
    ASSERT_TRUE(
        pack::ReadLauncherRelease("0042", c.urls[0], c.urls[1], c.urls[2], &release, &error))
        << error;
    EXPECT_EQ("LauncherVersion=42\r\n" + c.urlLines + "LauncherSha256=" + hex +
                  "\r\nLauncherSize=123456\r\n",
              pack::FormatLauncherFacts(release, digest, 123456));
  }
}

}  // namespace

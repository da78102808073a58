// pack --next: the next version's descriptor, as an earlier pack run wrote
// it, announced beside the live one as Next* keys.
#include <gtest/gtest.h>

#include <string>

#include "tools/pack/next_release.h"

namespace {

const std::string kDigest(64, 'a');
const std::string kManifestDigest(64, 'b');

std::string NextDescriptor() {
  return "[Launcher]\r\nVersion=3\r\nUrl=http://cdn.invalid/v3/ClientContent\r\nSha256=" + kDigest +
         "\r\nSize=1000\r\nManifest=http://cdn.invalid/v3/ClientContent.manifest\r\nManifestSha256=" +
         kManifestDigest + "\r\nManifestSize=77\r\nLauncherVersion=9\r\n";
}

std::string Without(const std::string& key) {
  std::string text = NextDescriptor();
  const std::size_t at = text.find("\n" + key + "=");
  text.erase(at + 1, text.find('\n', at + 1) - at);
  return text;
}

std::string With(const std::string& key, const std::string& value) {
  std::string text = NextDescriptor();
  const std::size_t at = text.find("\n" + key + "=") + key.size() + 2;
  text.replace(at, text.find('\r', at) - at, value);
  return text;
}

TEST(PackNextRelease, AppendsTheNextVersionsKeysInTheirOrder) {
  std::string content = "[Launcher]\r\nVersion=2\r\n";
  std::string error;
  ASSERT_TRUE(pack::AppendNextRelease(NextDescriptor(), 2, &content, &error)) << error;
  EXPECT_EQ("[Launcher]\r\nVersion=2\r\nNextVersion=3\r\nNextUrl=http://cdn.invalid/v3/ClientContent\r\nNextSha256=" +
                kDigest + "\r\nNextSize=1000\r\nNextManifest=http://cdn.invalid/v3/ClientContent.manifest\r\n"
                "NextManifestSha256=" + kManifestDigest + "\r\nNextManifestSize=77\r\n",
            content);  // the next version's own launcher is not announced
  std::string lf = NextDescriptor();
  for (std::size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
  std::string fromLf;
  EXPECT_TRUE(pack::AppendNextRelease(lf, 2, &fromLf, &error)) << error;
}

TEST(PackNextRelease, RefusesWhatALauncherCouldNotFetchAhead) {
  const struct {
    const char* name;
    std::string next;
    int live;
    const char* error;
  } cases[] = {
      {"no manifest", Without("Manifest"), 2, "names no Manifest"},
      {"no manifest digest", Without("ManifestSha256"), 2, "names no ManifestSha256"},
      {"no archive digest", Without("Sha256"), 2, "names no Sha256"},
      {"not newer", NextDescriptor(), 3, "above 3"},
      {"not a number", With("Version", "3a"), 2, "above 2"},
      {"short digest", With("Sha256", "abc"), 2, "Sha256 is not 64 hex digits"},
      {"size with a sign", With("ManifestSize", "-5"), 2, "ManifestSize is not a byte count"},
      {"URL with a blank", With("Url", "http://cdn.invalid/a b"), 2, "next archive URL"},
      {"another section", "[Other]\r\nVersion=3\r\n", 2, "names no Version"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string content = "kept";
    std::string error;
    EXPECT_FALSE(pack::AppendNextRelease(c.next, c.live, &content, &error));
    EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    EXPECT_EQ("kept", content);
  }
}

}  // namespace

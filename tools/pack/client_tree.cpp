#include "tools/pack/client_tree.h"

#include "tools/pack/entry_name.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <system_error>

namespace pack {

namespace fs = std::filesystem;

namespace {

// Windows compares names without regard to ASCII case, so two names that
// differ only there would overwrite each other under Game. UTF-8 never has
// ASCII bytes inside a multibyte character, so folding bytes is safe.
std::string FoldAscii(const std::string& name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!folded.empty() && folded.back() == '/') folded.pop_back();
  return folded;
}

}  // namespace

std::vector<PackEntry> CollectClientEntries(const fs::path& client, std::vector<std::string>* errors) {
  std::vector<PackEntry> entries;
  std::error_code ec;
  if (!fs::is_directory(client, ec)) {
    errors->push_back(client.u8string() + ": not a folder");
    return entries;
  }
  fs::recursive_directory_iterator it(client, fs::directory_options::none, ec);
  if (ec) {
    errors->push_back(client.u8string() + ": " + ec.message());
    return entries;
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::directory_entry& item = *it;
    PackEntry entry;
    entry.name = item.path().lexically_relative(client).generic_u8string();
    const bool symlink = item.is_symlink(ec);
    if (item.is_directory(ec) && !symlink) {
      entry.isDirectory = true;
      entry.name += '/';
    } else if (item.is_regular_file(ec)) {
      entry.source = item.path();
      entry.size = item.file_size(ec);
    } else {
      errors->push_back(entry.name + ": not a regular file or folder (a linked folder is not followed)");
      continue;
    }
    NameCheck check = CheckEntryName(entry.name);
    if (check.problem != NameProblem::kNone) {
      errors->push_back(entry.name + ": " + DescribeNameProblem(check.problem));
      continue;
    }
    entry.storedName = std::move(check.gbk);
    entries.push_back(std::move(entry));
  }
  if (ec) errors->push_back(client.u8string() + ": " + ec.message());

  std::sort(entries.begin(), entries.end(),
            [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  std::map<std::string, std::string> seen;
  for (const PackEntry& entry : entries) {
    auto [pos, inserted] = seen.emplace(FoldAscii(entry.name), entry.name);
    if (!inserted) {
      errors->push_back(entry.name + ": differs from " + pos->second +
                        " only in letter case; Windows would install them as one");
    }
  }
  return entries;
}

}  // namespace pack

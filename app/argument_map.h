// The launcher's command-line arguments: key/value pairs separated by ";" or
// ",", each key and value joined by "=". Pure: no windows.h.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace app {

// Appends to `pieces` the maximal runs of `text` that contain no character of
// any separator string. Empty runs are never appended; what `pieces` already
// holds is kept.
void SplitAtAny(const std::string& text, const std::vector<std::string>& separators,
                std::vector<std::string>* pieces);

class ArgumentMap {
 public:
  // Splits the command line into arguments and stores every well-formed one
  // (exactly one non-empty key and one non-empty value). Malformed arguments
  // are skipped silently; a later key replaces an earlier one. Null counts as
  // an empty command line.
  void ParseArguments(const char* commandLine);

  // Inserts the key or replaces its value.
  void SetArgument(const char* key, const char* value);

  // The value of `token`, or null when absent. Valid while the map is unchanged.
  const char* FindToken() const { return Find("token"); }

  // The value of any key, or null when absent.
  const char* Find(const char* key) const;

  std::size_t Size() const { return entries_.size(); }
  // Keys compare byte by byte as unsigned characters (std::string's order),
  // so they are case-sensitive.
  const std::map<std::string, std::string>& Entries() const { return entries_; }

 private:
  std::map<std::string, std::string> entries_;
};

// The command line asks the next IntoGame to repair the client: `repair` is 1.
bool RepairRequested(const ArgumentMap& arguments);

}  // namespace app

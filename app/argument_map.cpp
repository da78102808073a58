#include "app/argument_map.h"

namespace app {

void SplitAtAny(const std::string& text, const std::vector<std::string>& separators,
                std::vector<std::string>* pieces) {
  std::string all;
  for (const std::string& s : separators) all += s;

  // One pass over the text is the same as repeatedly cutting the work string
  // at its first separator: every maximal non-separator run, in order.
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = all.empty() ? std::string::npos : text.find_first_of(all, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces->push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

void ArgumentMap::ParseArguments(const char* commandLine) {
  if (commandLine == nullptr) return;
  std::vector<std::string> arguments;
  SplitAtAny(commandLine, {";", ","}, &arguments);
  for (const std::string& argument : arguments) {
    std::vector<std::string> pieces;
    SplitAtAny(argument, {"="}, &pieces);
    if (pieces.size() == 2) SetArgument(pieces[0].c_str(), pieces[1].c_str());
  }
}

void ArgumentMap::SetArgument(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return;
  entries_[key] = value;
}

const char* ArgumentMap::Find(const char* key) const {
  if (key == nullptr) return nullptr;
  const auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : it->second.c_str();
}

bool RepairRequested(const ArgumentMap& arguments) {
  const char* value = arguments.Find("repair");
  return value != nullptr && value[0] == '1' && value[1] == '\0';
}

}  // namespace app

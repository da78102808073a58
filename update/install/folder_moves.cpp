#include "update/install/folder_moves.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "update/dbcs.h"
#include "update/disk_name.h"

namespace update {

namespace {

// The bytes [begin, end) of one level of a name.
struct Level {
  std::size_t begin;
  std::size_t end;
};

// The levels of a name, split at single-byte separators only (a trail byte
// equal to "\" separates nothing); a trailing separator ends the last level
// and adds none.
std::vector<Level> SplitLevels(const std::string& name) {
  std::vector<Level> levels;
  std::size_t begin = 0;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t n = CharLength(name.c_str() + at);
    if (n == 1 && IsSeparator(name[at])) {
      levels.push_back({begin, at});
      begin = at + 1;
    }
    at += n;
  }
  if (begin < name.size()) levels.push_back({begin, name.size()});
  return levels;
}

// A level that Windows reads as spelled: not empty, not ".", and not ending
// in a dot or a space (which it drops).
bool IsPlainLevel(const std::string& name, const Level& level) {
  if (level.begin == level.end) return false;
  const char last = name[level.end - 1];
  return last != '.' && last != ' ';
}

// What is known of one entry for the plan.
struct Shape {
  bool plain = true;
  std::vector<std::string> folderKeys;   // the keys of its folders, shallowest first
  std::vector<std::size_t> folderEnds;   // where each folder's spelling ends in the name
  std::string key;                       // the entry's own key
};

Shape ShapeOf(const FolderMoveEntry& entry) {
  Shape shape;
  const std::vector<Level> levels = SplitLevels(entry.name);
  for (const Level& level : levels) shape.plain = shape.plain && IsPlainLevel(entry.name, level);
  // A file's last level is the file; a directory entry's is a folder too.
  const std::size_t folders = entry.directory ? levels.size() : (levels.empty() ? 0 : levels.size() - 1);
  if (shape.plain) {
    for (std::size_t i = 0; i < folders; ++i) {
      shape.folderKeys.push_back(DiskNameKey(entry.name.substr(0, levels[i].end)));
      shape.folderEnds.push_back(levels[i].end);
    }
    shape.key = DiskNameKey(entry.name);
    return shape;
  }
  // Spelled otherwise than Windows reads it: the levels as Windows reads them
  // (trailing dots and spaces dropped, empty and "." levels gone), all of
  // them, so that every folder it may land in is known.
  std::string normal;
  for (const Level& level : levels) {
    std::size_t end = level.end;
    while (end > level.begin && (entry.name[end - 1] == '.' || entry.name[end - 1] == ' ')) --end;
    if (end == level.begin) continue;
    if (!normal.empty()) normal += '/';
    normal += DiskNameKey(entry.name.substr(level.begin, end - level.begin));
    shape.folderKeys.push_back(normal);
  }
  shape.key = normal;
  return shape;
}

}  // namespace

FolderMoves PlanFolderMoves(const std::vector<FolderMoveEntry>& entries, std::size_t longestName,
                            const FolderExists& existsInGame) {
  std::vector<Shape> shapes;
  shapes.reserve(entries.size());
  std::unordered_set<std::string> folderKeys;  // every folder the archive's names pass through
  struct Named {
    std::size_t count = 0;
    bool anyFile = false;
  };
  std::unordered_map<std::string, Named> named;  // every entry's own key
  for (const FolderMoveEntry& entry : entries) {
    shapes.push_back(ShapeOf(entry));
    const Shape& shape = shapes.back();
    folderKeys.insert(shape.folderKeys.begin(), shape.folderKeys.end());
    Named& n = named[shape.key];
    ++n.count;
    n.anyFile = n.anyFile || !entry.directory;
  }

  // The folders whose move as a whole could give another result than one
  // move per entry: they are made level by level, as without folder moves.
  std::unordered_set<std::string> barred;
  auto bar = [&barred](const Shape& shape) {
    barred.insert(shape.folderKeys.begin(), shape.folderKeys.end());
    barred.insert(shape.key);
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Shape& shape = shapes[i];
    const Named& n = named[shape.key];
    const bool fileAsFolder = !entries[i].directory && folderKeys.count(shape.key) != 0;
    if (!shape.plain || entries[i].name.size() > longestName || fileAsFolder || (n.count > 1 && n.anyFile))
      bar(shape);
  }

  std::unordered_map<std::string, bool> known;  // folder key -> something is there in Game
  auto exists = [&](const std::string& key, const std::string& spelled) {
    const auto found = known.find(key);
    if (found != known.end()) return found->second;
    const bool there = existsInGame(spelled);
    known.emplace(key, there);
    return there;
  };
  // Each entry's candidate: the shallowest folder on its way that is missing
  // from Game and not barred.
  std::vector<std::string> candidate(entries.size());
  std::vector<std::size_t> candidateEnd(entries.size(), 0);
  std::unordered_map<std::string, std::size_t> held;  // candidate key -> entries it holds
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Shape& shape = shapes[i];
    if (!shape.plain) continue;
    bool parentMissing = false;
    for (std::size_t level = 0; level < shape.folderKeys.size(); ++level) {
      const std::string& key = shape.folderKeys[level];
      const bool missing = parentMissing || !exists(key, entries[i].name.substr(0, shape.folderEnds[level]));
      if (missing && barred.count(key) == 0) {
        candidate[i] = key;
        candidateEnd[i] = shape.folderEnds[level];
        ++held[key];
        break;
      }
      parentMissing = missing;
    }
  }

  FolderMoves moves;
  moves.holder.assign(entries.size(), kNotMoved);
  std::unordered_map<std::string, std::size_t> index;  // folder key -> its place in moves.folders
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (candidate[i].empty() || held[candidate[i]] < 2) continue;
    const auto found = index.find(candidate[i]);
    if (found != index.end()) {
      moves.holder[i] = found->second;
      continue;
    }
    moves.holder[i] = moves.folders.size();
    index.emplace(candidate[i], moves.folders.size());
    moves.folders.push_back(entries[i].name.substr(0, candidateEnd[i]));
  }
  return moves;
}

StagingLayout::StagingLayout(FolderMoves moves) : moves_(std::move(moves)), announced_(moves_.folders.size(), false) {}

std::string StagingLayout::Place(JournalEntry* planned, std::vector<JournalEntry>* plan) {
  const std::size_t folder = next_ < moves_.holder.size() ? moves_.holder[next_] : kNotMoved;
  ++next_;
  if (folder == kNotMoved) {
    return planned->kind == JournalEntryKind::File ? StagedFileName(planned->staged) : std::string();
  }
  if (!announced_[folder]) {
    announced_[folder] = true;
    JournalEntry tree;
    tree.kind = JournalEntryKind::Tree;
    tree.name = moves_.folders[folder];
    plan->push_back(std::move(tree));
  }
  planned->kind = planned->kind == JournalEntryKind::File ? JournalEntryKind::TreeFile : JournalEntryKind::TreeDirectory;
  planned->staged = 0;
  return StagedTreeName(planned->name);
}

}  // namespace update

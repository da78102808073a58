#include "update/self_update/launcher_swap_plan.h"

#include <cstdio>
#include <cstring>

#include "base/crc32.h"

namespace update {

namespace {

const char kHeader[] = "launcher-swap 1\n";

bool Writable(const std::string& path) {
  return !path.empty() && path.find_first_of(std::string("\t\r\n\0", 4)) == std::string::npos;
}

// Splits `line` at tabs into exactly `count` fields.
bool SplitFields(const std::string& line, std::size_t count, std::vector<std::string>* fields) {
  fields->clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields->push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields->size() == count;
}

// Plain decimal digits without a leading zero, at most `limit`.
bool ParseDecimal(const std::string& text, std::uint64_t limit, std::uint64_t* out) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

void AddStep(std::vector<SwapStep>* steps, std::size_t move, const std::string& from, const std::string& to) {
  steps->push_back(SwapStep{move, from, to});
}

}  // namespace

bool FormatSwapJournal(const SwapRecord& record, std::string* out) {
  if (record.moves.empty() || record.version <= 0) return false;
  std::string text = kHeader;
  text += "version " + std::to_string(record.version) + "\n";
  for (const SwapMove& move : record.moves) {
    if (!Writable(move.target) || !Writable(move.replacement) || !Writable(move.backup)) return false;
    text += std::string("move\t") + (move.replacesFile ? "1" : "0") + "\t" + move.target + "\t" + move.replacement +
            "\t" + move.backup + "\n";
  }
  char end[40] = {};
  std::snprintf(end, sizeof end, "end %u %08x\n", static_cast<unsigned>(record.moves.size()),
                static_cast<unsigned>(base::Crc32(0, text.data(), text.size())));
  *out = text + end;
  return true;
}

SwapJournalParse ParseSwapJournal(const char* data, std::size_t size, SwapRecord* out) {
  const std::string text(data != nullptr ? data : "", data != nullptr ? size : 0);
  // The last line is the end line; the CRC covers everything before it.
  if (text.size() < 2 || text.back() != '\n') return SwapJournalParse::Damaged;
  const std::size_t lastStart = text.rfind('\n', text.size() - 2);
  if (lastStart == std::string::npos) return SwapJournalParse::Damaged;
  const std::string body = text.substr(0, lastStart + 1);
  const std::string endLine = text.substr(lastStart + 1, text.size() - lastStart - 2);

  if (body.compare(0, std::strlen(kHeader), kHeader) != 0) return SwapJournalParse::Damaged;
  SwapRecord record;
  std::vector<std::string> fields;
  std::size_t at = std::strlen(kHeader);
  bool versionSeen = false;
  while (at < body.size()) {
    const std::size_t lineEnd = body.find('\n', at);
    const std::string line = body.substr(at, lineEnd - at);
    at = lineEnd + 1;
    if (!versionSeen) {
      std::uint64_t version = 0;
      if (line.compare(0, 8, "version ") != 0 || !ParseDecimal(line.substr(8), 2147483647u, &version) ||
          version == 0)
        return SwapJournalParse::Damaged;
      record.version = static_cast<std::int32_t>(version);
      versionSeen = true;
      continue;
    }
    if (!SplitFields(line, 5, &fields) || fields[0] != "move" || (fields[1] != "0" && fields[1] != "1"))
      return SwapJournalParse::Damaged;
    SwapMove move;
    move.replacesFile = fields[1] == "1";
    move.target = fields[2];
    move.replacement = fields[3];
    move.backup = fields[4];
    if (!Writable(move.target) || !Writable(move.replacement) || !Writable(move.backup))
      return SwapJournalParse::Damaged;
    record.moves.push_back(move);
  }
  if (!versionSeen || record.moves.empty()) return SwapJournalParse::Damaged;
  char expected[40] = {};
  std::snprintf(expected, sizeof expected, "end %u %08x", static_cast<unsigned>(record.moves.size()),
                static_cast<unsigned>(base::Crc32(0, body.data(), body.size())));
  if (endLine != expected) return SwapJournalParse::Damaged;
  *out = record;
  return SwapJournalParse::Valid;
}

MoveState ClassifyMove(const SwapMove& move, const MoveFacts& facts) {
  if (move.replacesFile) {
    if (facts.target && facts.replacement && !facts.backup) return MoveState::Pending;
    if (!facts.target && facts.replacement && facts.backup) return MoveState::Half;
    if (facts.target && !facts.replacement && facts.backup) return MoveState::Done;
    return MoveState::Lost;
  }
  // A file Data did not have: nothing is kept, so there is no half way.
  if (!facts.target && facts.replacement) return MoveState::Pending;
  if (facts.target && !facts.replacement) return MoveState::Done;
  return MoveState::Lost;
}

bool PlanSwapSteps(const SwapRecord& record, const std::vector<MoveState>& states, SwapDirection direction,
                   std::vector<SwapStep>* steps) {
  steps->clear();
  if (states.size() != record.moves.size()) return false;
  for (MoveState state : states)
    if (state == MoveState::Lost) return false;
  const std::size_t count = record.moves.size();
  for (std::size_t n = 0; n < count; ++n) {
    const std::size_t i = direction == SwapDirection::Forward ? n : count - 1 - n;
    const SwapMove& move = record.moves[i];
    const MoveState state = states[i];
    if (direction == SwapDirection::Forward) {
      if (state == MoveState::Pending && move.replacesFile) AddStep(steps, i, move.target, move.backup);
      if (state != MoveState::Done) AddStep(steps, i, move.replacement, move.target);
    } else {
      if (state == MoveState::Done) AddStep(steps, i, move.target, move.replacement);
      if (state != MoveState::Pending && move.replacesFile) AddStep(steps, i, move.backup, move.target);
    }
  }
  return true;
}

}  // namespace update

// The launcher's own update as data: the descriptor's Launcher* keys and the
// decision to fetch, the swap journal, and the recovery's plan for every
// point at which a kill can cut a swap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/self_update/launcher_offer.h"
#include "update/self_update/launcher_swap_plan.h"

namespace {

using update::LauncherDecision;
using update::LauncherOffer;
using update::LauncherOfferRead;
using update::LauncherOfferText;
using update::MoveFacts;
using update::MoveState;
using update::SwapDirection;
using update::SwapMove;
using update::SwapRecord;
using update::SwapStep;

const char kDigest[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

LauncherOfferText Text(const char* version, const char* url, const char* sha, const char* size) {
  LauncherOfferText text;
  text.version = version;
  text.urls[0] = url;
  text.sha256 = sha;
  text.size = size;
  return text;
}

TEST(LauncherOffer, KeysAreReadOnlyWhenWholeAndSigned) {
  struct Case {
    LauncherOfferText text;
    LauncherOfferRead expected;
  };
  const Case cases[] = {
      {Text("", "", "", ""), LauncherOfferRead::None},
      {Text("", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::None},  // no version: no offer
      {Text("2", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::Offered},
      {Text("2147483647", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::Offered},
      {Text("0", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::Malformed},
      {Text("-2", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::Malformed},
      {Text("2147483648", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::Malformed},
      {Text("2x", "http://h/L.zip", kDigest, "10"), LauncherOfferRead::Malformed},
      {Text("2", "", kDigest, "10"), LauncherOfferRead::Malformed},
      // Neither fact may be missing: the executable never runs on bytes nobody named.
      {Text("2", "http://h/L.zip", "", "10"), LauncherOfferRead::Malformed},
      {Text("2", "http://h/L.zip", "0011", "10"), LauncherOfferRead::Malformed},
      {Text("2", "http://h/L.zip", kDigest, ""), LauncherOfferRead::Malformed},
      {Text("2", "http://h/L.zip", kDigest, "-1"), LauncherOfferRead::Malformed},
  };
  for (const Case& c : cases) {
    LauncherOffer offer;
    const char* problem = nullptr;
    EXPECT_EQ(c.expected, update::ReadLauncherOffer(c.text, &offer, &problem))
        << c.text.version << " " << c.text.urls[0] << " " << c.text.sha256 << " " << c.text.size;
    if (c.expected == LauncherOfferRead::Malformed) {
      EXPECT_NE(nullptr, problem);
    }
  }

  LauncherOfferText mirrored = Text("7", "http://a/L.zip", kDigest, "12345");
  mirrored.urls[2] = "http://c/L.zip";
  LauncherOffer offer;
  ASSERT_EQ(LauncherOfferRead::Offered, update::ReadLauncherOffer(mirrored, &offer));
  EXPECT_EQ(7, offer.version);
  EXPECT_STREQ("http://a/L.zip", offer.urls[0]);
  EXPECT_STREQ("", offer.urls[1]);
  EXPECT_STREQ("http://c/L.zip", offer.urls[2]);
  EXPECT_TRUE(offer.package.hasDigest && offer.package.hasSize);
  EXPECT_EQ(12345u, offer.package.size);
  EXPECT_EQ(0x00, offer.package.digest.bytes[0]);
  EXPECT_EQ(0xff, offer.package.digest.bytes[31]);
}

TEST(LauncherOffer, FetchedOnlyWhenNewerSignedAndNeverRefused) {
  LauncherOffer offer;
  offer.version = 3;
  struct Case {
    bool signedDescriptor;
    std::int32_t installed;
    std::int32_t refused;
    LauncherDecision expected;
  };
  const Case cases[] = {
      {true, 0, 0, LauncherDecision::Fetch},        // never recorded: 0
      {true, 2, 0, LauncherDecision::Fetch},
      {true, 2, 2, LauncherDecision::Fetch},        // an older refusal does not hold back a newer one
      {true, 2, 3, LauncherDecision::RefusedBefore},
      {true, 3, 0, LauncherDecision::Keep},
      {true, 4, 0, LauncherDecision::Keep},
      {false, 2, 0, LauncherDecision::Unsigned},
      {false, 3, 0, LauncherDecision::Unsigned},    // said even when nothing would change
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, update::DecideLauncherUpdate(offer, c.signedDescriptor, c.installed, c.refused))
        << c.signedDescriptor << " " << c.installed << " " << c.refused;
}

SwapRecord TwoMoveRecord() {
  SwapRecord record;
  record.version = 2;
  record.moves.push_back(SwapMove{"C:\\L\\My Launcher.exe", "C:\\L\\Temp\\Launcher\\2\\Launcher.exe",
                                  "C:\\L\\Temp\\Launcher\\previous\\My Launcher.exe", true});
  record.moves.push_back(SwapMove{"C:\\L\\Data\\skin\\new.png", "C:\\L\\Temp\\Launcher\\2\\Data\\skin\\new.png",
                                  "C:\\L\\Temp\\Launcher\\previous\\Data\\skin\\new.png", false});
  return record;
}

TEST(SwapJournal, RoundTripsAndRefusesAnythingElse) {
  const SwapRecord record = TwoMoveRecord();
  std::string bytes;
  ASSERT_TRUE(update::FormatSwapJournal(record, &bytes));
  SwapRecord read;
  ASSERT_EQ(update::SwapJournalParse::Valid, update::ParseSwapJournal(bytes.data(), bytes.size(), &read));
  EXPECT_EQ(2, read.version);
  ASSERT_EQ(2u, read.moves.size());
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(record.moves[i].target, read.moves[i].target);
    EXPECT_EQ(record.moves[i].replacement, read.moves[i].replacement);
    EXPECT_EQ(record.moves[i].backup, read.moves[i].backup);
    EXPECT_EQ(record.moves[i].replacesFile, read.moves[i].replacesFile);
  }

  // Every cut and every changed byte is Damaged.
  for (std::size_t length = 0; length < bytes.size(); ++length)
    EXPECT_EQ(update::SwapJournalParse::Damaged, update::ParseSwapJournal(bytes.data(), length, &read)) << length;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::string changed = bytes;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    EXPECT_EQ(update::SwapJournalParse::Damaged, update::ParseSwapJournal(changed.data(), changed.size(), &read))
        << at;
  }

  SwapRecord unwritable = record;
  unwritable.moves[1].target = "C:\\L\\Data\\a\tb";
  EXPECT_FALSE(update::FormatSwapJournal(unwritable, &bytes));
  EXPECT_FALSE(update::FormatSwapJournal(SwapRecord{2, {}}, &bytes));
}

TEST(SwapJournal, EachMoveStateIsReadFromWhatIsOnDisk) {
  const SwapRecord record = TwoMoveRecord();
  const SwapMove& replacing = record.moves[0];
  const SwapMove& adding = record.moves[1];
  struct Case {
    const SwapMove* move;
    MoveFacts facts;  // target, replacement, backup
    MoveState expected;
  };
  const Case cases[] = {
      {&replacing, {true, true, false}, MoveState::Pending},
      {&replacing, {false, true, true}, MoveState::Half},
      {&replacing, {true, false, true}, MoveState::Done},
      {&replacing, {true, true, true}, MoveState::Lost},
      {&replacing, {false, false, true}, MoveState::Lost},
      {&replacing, {false, true, false}, MoveState::Lost},
      {&adding, {false, true, false}, MoveState::Pending},
      {&adding, {true, false, false}, MoveState::Done},
      {&adding, {true, true, false}, MoveState::Lost},
      {&adding, {false, false, false}, MoveState::Lost},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, update::ClassifyMove(*c.move, c.facts))
        << c.move->target << " " << c.facts.target << c.facts.replacement << c.facts.backup;
}

std::vector<std::string> Renames(const std::vector<SwapStep>& steps) {
  std::vector<std::string> names;
  for (const SwapStep& step : steps)
    names.push_back(step.from.substr(step.from.rfind('\\') + 1) + ">" +
                    (step.to.find("\\Temp\\") != std::string::npos ? "C:\\L\\Temp" : "C:\\L"));
  return names;
}

// A kill after each of the swap's renames: the states it leaves, and the
// renames that finish the swap from there or take it back. "X>C:\L" moves X
// into the launcher's folder, "X>C:\L\Temp" out of it.
TEST(SwapRecovery, EveryCutPointIsFinishedOrUndone) {
  const SwapRecord record = TwoMoveRecord();
  const std::string toFolder = "C:\\L";
  const std::string toTemp = "C:\\L\\Temp";
  struct Case {
    const char* cut;
    std::vector<MoveState> states;
    std::vector<std::string> forward;
    std::vector<std::string> back;
  };
  const Case cases[] = {
      {"before any rename", {MoveState::Pending, MoveState::Pending},
       {"My Launcher.exe>" + toTemp, "Launcher.exe>" + toFolder, "new.png>" + toFolder},
       {}},
      {"the old executable kept", {MoveState::Half, MoveState::Pending},
       {"Launcher.exe>" + toFolder, "new.png>" + toFolder},
       {"My Launcher.exe>" + toFolder}},
      {"the new executable in place", {MoveState::Done, MoveState::Pending},
       {"new.png>" + toFolder},
       {"My Launcher.exe>" + toTemp, "My Launcher.exe>" + toFolder}},
      {"every file in place", {MoveState::Done, MoveState::Done},
       {},
       {"new.png>" + toTemp, "My Launcher.exe>" + toTemp, "My Launcher.exe>" + toFolder}},
  };
  for (const Case& c : cases) {
    std::vector<SwapStep> steps;
    ASSERT_TRUE(update::PlanSwapSteps(record, c.states, SwapDirection::Forward, &steps)) << c.cut;
    EXPECT_EQ(c.forward, Renames(steps)) << c.cut;
    ASSERT_TRUE(update::PlanSwapSteps(record, c.states, SwapDirection::Back, &steps)) << c.cut;
    EXPECT_EQ(c.back, Renames(steps)) << c.cut;
  }
  // The way back puts the new executable where it was unpacked, and the old
  // one where it ran.
  std::vector<SwapStep> steps;
  ASSERT_TRUE(update::PlanSwapSteps(record, {MoveState::Done, MoveState::Done}, SwapDirection::Back, &steps));
  EXPECT_EQ(record.moves[0].replacement, steps[1].to);
  EXPECT_EQ(record.moves[0].target, steps[2].to);

  EXPECT_FALSE(update::PlanSwapSteps(record, {MoveState::Lost, MoveState::Done}, SwapDirection::Back, &steps));
  EXPECT_FALSE(update::PlanSwapSteps(record, {MoveState::Done}, SwapDirection::Forward, &steps));
}

}  // namespace

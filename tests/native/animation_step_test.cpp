#include "ui/animation_step.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

// Runs the step rule from `value` towards `target` for `steps` steps and
// returns the values it shows and whether each step counted as a change.
struct Trace {
  std::vector<int> values;
  std::vector<bool> changes;
};
Trace Animate(int value, int target, int steps) {
  Trace trace;
  for (int i = 0; i < steps; ++i) {
    const ui::StepResult r = ui::StepTowards(value, target);
    value = r.value;
    trace.values.push_back(value);
    trace.changes.push_back(r.changed);
  }
  return trace;
}

TEST(AnimationStep, ClimbsOnePointPerStepAndStopsAtTheTarget) {
  const Trace t = Animate(0, 37, 40);
  for (int i = 0; i < 37; ++i) {
    EXPECT_EQ(t.values[i], i + 1) << "step " << i;
    EXPECT_TRUE(t.changes[i]) << "step " << i;
  }
  for (int i = 37; i < 40; ++i) {
    EXPECT_EQ(t.values[i], 37);
    EXPECT_FALSE(t.changes[i]) << "an idle step must not ask for a repaint";
  }
}

TEST(AnimationStep, LoweredTargetDropsToZeroThenClimbs) {
  const Trace t = Animate(100, 10, 13);
  EXPECT_EQ(t.values[0], 0);
  EXPECT_TRUE(t.changes[0]);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(t.values[i], i);
  EXPECT_EQ(t.values[11], 10);
  EXPECT_FALSE(t.changes[11]);
}

TEST(AnimationStep, NegativeTargetShowsZeroButChangesEveryStep) {
  for (int start : {0, 5, 100}) {
    const Trace t = Animate(start, -3, 6);
    for (std::size_t i = 0; i < t.values.size(); ++i) {
      EXPECT_EQ(t.values[i], 0) << "from " << start;
      EXPECT_TRUE(t.changes[i]) << "from " << start << " step " << i;
    }
  }
}

TEST(AnimationStep, RevealedWidth) {
  struct Case {
    int value, width, expected;
  } cases[] = {
      {0, 200, 0},    {37, 200, 74},  {100, 200, 200}, {1, 99, 0},   {99, 99, 98},
      {37, 3, 1},     {150, 200, 200}, {-5, 200, 0},   {50, 0, 0},   {50, -4, 0},
      {2147483647, 1000, 1000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ui::RevealedWidth(c.value, c.width), c.expected) << c.value << " of " << c.width;
}

std::string ToGbk(const char* utf8) {
#ifdef _WIN32
  wchar_t wide[64] = {};
  ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 64);
  char out[128] = {};
  ::WideCharToMultiByte(936, 0, wide, -1, out, sizeof(out), nullptr, nullptr);
  return out;
#else
  iconv_t cd = iconv_open("GBK", "UTF-8");
  char out[128] = {};
  char* in = const_cast<char*>(utf8);
  std::size_t inLeft = std::strlen(utf8);
  char* o = out;
  std::size_t outLeft = sizeof(out) - 1;
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  return out;
#endif
}

TEST(AnimationStep, StageTextsAreTheGbkBytesOfTheFiveStages) {
  const char* expected[] = {"正在检查更新...", "正在更新游戏资源...", "开始安装游戏...",
                            "启动游戏客户端...", "正在校验游戏文件..."};
  for (int i = 0; i < 5; ++i) {
    ASSERT_NE(ui::StageText(i), nullptr);
    EXPECT_EQ(ui::StageText(i), ToGbk(expected[i])) << "stage " << i;
  }
  for (int outside : {-1, 5, 1000}) EXPECT_EQ(ui::StageText(outside), nullptr) << outside;
}

}  // namespace

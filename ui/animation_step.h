// The rules the progress window follows while it moves its two displayed
// percentages towards their targets, and how much of a bar a value reveals.
// Pure: no windows.h, so they are tested natively.
#pragma once

#include <cstdint>

namespace ui {

struct StepResult {
  std::int32_t value;
  bool changed;
};

// One animation step of one bar: below the target the value climbs by one
// point; above it the value falls straight back to 0 (and climbs again in the
// following steps); equal leaves it alone. A negative target therefore keeps
// setting 0 and counts as a change in every step.
StepResult StepTowards(std::int32_t value, std::int32_t target);

// Width of a bar image of `imageWidth` pixels that a value reveals from the
// left: value * width / 100, truncated towards zero, never below 0 or beyond
// the image.
std::int32_t RevealedWidth(std::int32_t value, std::int32_t imageWidth);

// The stage text for a stage index (code page 936 bytes), or null for an
// index outside 0..4. Stage 4 is the verification of a repair.
const char* StageText(std::int32_t stageIndex);

}  // namespace ui

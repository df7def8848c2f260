#pragma once

// The recorder started directly, as a private install does: it records one
// access in the Date.txt beside it with its caller's own rights, and prints
// the records the log held before.
namespace Recorder {

// 0 when recorded, 1 when not, 2 on arguments.
int runDirectly(int argc);

} // namespace Recorder

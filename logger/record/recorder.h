#pragma once

// The recorder program's whole work, from a process it cannot trust.
namespace Recorder {

// Records one access; 0 when recorded, 1 when not, 2 on arguments.
int run(int argc);

} // namespace Recorder

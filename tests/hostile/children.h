// Our own child processes, as the kernel lists them: a batch must leave
// none behind, neither running nor unreaped, except a run it abandoned on
// purpose, which the case then ends.
#pragma once

#include <vector>

namespace hostile {

// The processes whose parent is this one, running or not yet reaped.
std::vector<int> Children();

// Kills and reaps them; returns how many there were.
int KillChildren();

}  // namespace hostile

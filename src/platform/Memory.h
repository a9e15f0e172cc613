#pragma once

namespace platform {

// Hands the memory the process has freed back to the system, so that its
// resident size drops after a large page was built or shown.
void trimWorkingSet();

} // namespace platform

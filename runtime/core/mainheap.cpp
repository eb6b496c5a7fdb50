// The runtime's main heap. The entry routine creates it before any library starts and destroys it
// after every library has ended; whatever is still allocated goes with it.
#include "core.h"

namespace rt {

HANDLE MainHeap = nullptr;

}  // namespace rt

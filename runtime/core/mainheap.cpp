// The runtime's main heap and the program's module handle. The entry routine creates the heap
// before any library starts and destroys it after every library has ended; whatever is still
// allocated goes with it.
#include "core.h"

namespace rt {

HANDLE MainHeap = nullptr;
HMODULE ModuleHandle = nullptr;

}  // namespace rt

// Heap memory for the whole program, routed past the fault seam.
#include <cstdlib>

#include "fault.h"
#include "platform.h"

namespace platform {

void* Allocate(std::size_t n) {
  if (fault::Trip(fault::Op::kAlloc)) return nullptr;
  return std::malloc(n == 0 ? 1 : n);
}

void* Reallocate(void* block, std::size_t n) {
  if (fault::Trip(fault::Op::kAlloc)) return nullptr;
  return std::realloc(block, n == 0 ? 1 : n);
}

void Release(void* block) {
  std::free(block);
}

}  // namespace platform

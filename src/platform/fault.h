// A seam for tests: make the Nth write, flush, rename or allocation of the
// platform layer fail as if the OS had refused it (a lost device, the rights
// to replace a file, no memory left). Disarmed in every normal run; the platform layer consults
// it before the real call.
#ifndef KELVORIN_PLATFORM_FAULT_H_
#define KELVORIN_PLATFORM_FAULT_H_

namespace platform {
namespace fault {

enum class Op { kWrite, kFlush, kRename, kAlloc };

// Arms op so that its nth call from now (1 = the next one) fails; 0 disarms.
void FailNth(Op op, int n);

// Disarms every op.
void Reset();

// Called by the backends before op; true when this call must fail.
bool Trip(Op op);

}  // namespace fault
}  // namespace platform

#endif  // KELVORIN_PLATFORM_FAULT_H_

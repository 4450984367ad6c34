// A seam for tests: make the Nth write, flush or rename of the platform layer
// fail as if the OS had refused it (a full disk, a lost device). Disarmed in
// every normal run; both backends consult it before the real call.
#ifndef KELVORIN_PLATFORM_FAULT_H_
#define KELVORIN_PLATFORM_FAULT_H_

namespace platform {
namespace fault {

enum class Op { kWrite, kFlush, kRename };

// Arms op so that its nth call from now (1 = the next one) fails; 0 disarms.
void FailNth(Op op, int n);

// Disarms every op.
void Reset();

// Called by the backends before op; true when this call must fail.
bool Trip(Op op);

}  // namespace fault
}  // namespace platform

#endif  // KELVORIN_PLATFORM_FAULT_H_

#include "fault.h"

namespace platform {
namespace fault {
namespace {

constexpr int kOps = 4;
int countdown[kOps] = {0, 0, 0, 0};

}  // namespace

void FailNth(Op op, int n) {
  countdown[static_cast<int>(op)] = n;
}

void Reset() {
  for (int& c : countdown) c = 0;
}

bool Trip(Op op) {
  int& c = countdown[static_cast<int>(op)];
  if (c <= 0) return false;
  return --c == 0;
}

}  // namespace fault
}  // namespace platform

// The run driver: one message file per process, its steps in a fixed order,
// the DeleteOnErrors policy, and the release at the end.
#ifndef KELVORIN_DRIVER_DRIVER_H_
#define KELVORIN_DRIVER_DRIVER_H_

namespace kelvorin {

// Runs the program for the process's arguments. Returns the exit status,
// always 0: the host reads the outcome from the message file and the log.
int RunMain(int argc, char** argv);

}  // namespace kelvorin

#endif  // KELVORIN_DRIVER_DRIVER_H_

// kelvorin-check: what the plug-in would make of a message, a folder of
// messages, or what its log says of a mailing; it changes nothing.
#ifndef KELVORIN_CHECK_CHECK_H_
#define KELVORIN_CHECK_CHECK_H_

namespace kelvorin {

// Runs the checker for the process's arguments. Returns the exit status: 0
// when nothing is wrong, 1 when a problem was found, 2 when the check could
// not run (bad arguments, no settings file, no log).
int CheckMain(int argc, char** argv);

}  // namespace kelvorin

#endif  // KELVORIN_CHECK_CHECK_H_

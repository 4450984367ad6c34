#include "check.h"

int main(int argc, char** argv) {
  return kelvorin::CheckMain(argc, argv);
}

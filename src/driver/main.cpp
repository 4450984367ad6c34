#include "driver.h"

int main(int argc, char** argv) {
  return kelvorin::RunMain(argc, argv);
}

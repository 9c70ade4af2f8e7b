// zk7-programmer: the configuration editor and chip programmer.
#include "shell/startup.h"

int main(int argc, char** argv) {
  return RunWindowProgram(argc, argv);
}

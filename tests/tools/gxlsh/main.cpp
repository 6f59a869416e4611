#include <iostream>

#include "tests/tools/gxlsh/gxlsh.h"

int main(int argc, char** argv) {
  return nura::gxlsh::Main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}

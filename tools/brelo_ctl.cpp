// brelo-ctl: watches and steers a running brelo simulation from the shell.

#include <iostream>
#include <string>
#include <vector>

#include "ctl/verbs.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return brelo_ctl::run(args, std::cout, std::cerr);
}

// oxpm: the command-line front of the library (see cli.hpp).
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "cli.hpp"
#include "process.hpp"

int main(int argc, char** argv) {
  (void)tarvik::oxpm::prepare_heap();
  tarvik::oxpm::environment env;
  env.stdout_is_terminal = ::isatty(STDOUT_FILENO) == 1;
  env.stderr_is_terminal = ::isatty(STDERR_FILENO) == 1;
  env.no_color = std::getenv("NO_COLOR");
  env.exits_after_run = true;
  return tarvik::oxpm::run(argc, argv, std::cout, std::cerr, env);
}

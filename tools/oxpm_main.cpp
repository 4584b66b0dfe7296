// oxpm: the command-line front of the library (see cli.hpp).
#include <unistd.h>

#include <algorithm>
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
  const int status = tarvik::oxpm::run(argc, argv, std::cout, std::cerr, env);
  // A report that never reached its reader (standard output closed, or a full
  // disk) must not pass for a success.
  if (!std::cout.flush()) {
    std::cerr << "oxpm: cannot write to standard output\n";
    return std::max(status, tarvik::oxpm::kExitUsage);
  }
  return status;
}

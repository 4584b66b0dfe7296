// oxpm: the command-line front of the library (see cli.hpp).
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "cli.hpp"

int main(int argc, char** argv) {
  // One run allocates a few large buffers that live for one phase: the
  // catalog text and the XML tree during the import, the vectors of records
  // as they grow. Above malloc's default threshold each is a mapping of its
  // own, whose pages are fresh when touched (a page fault each) and given
  // back when freed. From the heap, what one phase frees serves the next.
  // 32 MiB is the largest threshold malloc accepts.
  (void)mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  tarvik::oxpm::environment env;
  env.stdout_is_terminal = ::isatty(STDOUT_FILENO) == 1;
  env.no_color = std::getenv("NO_COLOR");
  return tarvik::oxpm::run(argc, argv, std::cout, std::cerr, env);
}

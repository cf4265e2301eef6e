// Writes the manual's page of the demo's tour from the tour's own table
// (appserver/demo/demo_tour.cpp): a step of the manual's build, so the page
// and qfxdemo's printout can never tell two different tours.
#include <cstdio>
#include <fstream>

#include "demo/demo_tour.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: %s ARQUIVO.html\n", argv[0]);
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << qfx::server::demo::tourPage();
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: não foi possível gravar %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}

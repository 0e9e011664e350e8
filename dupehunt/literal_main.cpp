// The finder with the plain pair loop: every candidate pair is compared with
// CompareFiles. A reference for tests of the search; never installed.
#include "dupehunt/run.h"
#include "dupehunt/search.h"

int main(int argc, char** argv) {
  SearchWithoutSizeIndex = 1;
  return DupehuntMain(argc, argv);
}

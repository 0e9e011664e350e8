#include "dupehunt/run.h"

int main(int argc, char** argv) { return DupehuntMain(argc, argv); }

// refhost: the reference host renderer for the ravelTint shader library.
#include "tools/refhost/run.h"

int main(int argc, char** argv) { return refhost::run(argc, argv); }

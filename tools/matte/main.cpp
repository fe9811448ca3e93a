// ravelTint-matte: exact soft mattes and Cryptomatte from a flat object-ID
// image.
#include "tools/matte/matte.h"

int main(int argc, char** argv) { return matte::run(argc, argv); }

#include "core/startup.h"

int main(int argc, char** argv) { return quor_main(argc, argv); }

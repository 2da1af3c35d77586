#include <iostream>

#include "host/runner.h"

int main(int argc, char** argv) { return runHost(argc, argv, std::cout, std::cerr); }

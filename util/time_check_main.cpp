// The webservices executable: the self-check of the time conversion routines.
#include <iostream>

#include "util/time_check.h"

int main() { return runTimeConversionCheck(std::cout) == 0 ? 0 : 1; }

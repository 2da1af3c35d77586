// The executable's self-check of the time conversion routines: a fixed table
// of zones and instants, a report on out, and the count of failures.
#pragma once

#include <ostream>

// Runs every check, prints the report and returns the number of failed checks.
int runTimeConversionCheck(std::ostream& out);

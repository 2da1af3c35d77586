// webservices-host: plays the vehicle's host framework around the module so
// that it can be run and tried on any Linux machine.
#pragma once

#include <ostream>

// Runs the host with the program's arguments; returns the exit status
// (0 clean run, 2 bad arguments or parameter map). With --check-config it
// only checks the map: 0 when it has no problem, 1 when it has some.
int runHost(int argc, char** argv, std::ostream& out, std::ostream& err);

// The demo's parameter map and file root, copied into a test's temporary file
// root so that feeds run on the demo's data without touching the source tree.
#pragma once

#include <json/json.h>

#include "tests/support/temp_root.h"

// Copies examples/demo/root into root and returns examples/demo/params.json
// with its @DEMO_ROOT@ placeholders pointing there.
Json::Value demoParameterMap(const TempFileRoot& root);

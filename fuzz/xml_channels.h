#pragma once

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "fuzz_input.h"

namespace qu::fuzzing {

inline void failOnGenericError(void* /*context*/, const char* /*message*/, ...) {
  fail("libxml2 printed on its catch-all error channel");
}

// libxml2's catch-all error channel writes to standard error, in front of
// the uninstaller's user; the code under test must keep it quiet. The parser
// is set up first, as doing so later would put the default channel back.
inline void watchGenericErrors() {
  xmlInitParser();
  xmlSetGenericErrorFunc(nullptr, failOnGenericError);
}

}  // namespace qu::fuzzing

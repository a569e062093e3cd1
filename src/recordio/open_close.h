// OPEN and CLOSE beyond their entry points.
#pragma once

#include "recordio.h"

namespace recordio {

// Connects a unit that no OPEN connected to the file "fort.N", as OPEN with status "unknown".
void connect_by_default(ftnint unit);

}  // namespace recordio

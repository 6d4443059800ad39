// The table registry's internal entry points.
#pragma once

namespace err {

// First-use preparation: clears the 20 slots the first time only, so that tables registered
// before (the module's own table, at load) stay registered.
void registry_prepare();

}  // namespace err

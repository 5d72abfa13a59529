#pragma once

namespace unpak {

// Loads the codec module and registers its driver with the codec service.
// The module is looked for next to the executable first, then where an
// install puts it relative to the executable. It stays loaded until the
// process ends.
bool LoadCodecModule();

}  // namespace unpak

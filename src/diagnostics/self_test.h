#pragma once

// The "--self-test" mode: contract checks of the subsystems, run in order
// without starting the application. Every check works in temporary
// directories and in-memory doubles of the desktop, so it touches none of the
// user's data.

#include <functional>
#include <ostream>

namespace glimmet {

class DesktopAppearance;

// Runs every check. A failing check writes "FAIL: <label>" to `failures` and
// answers 1 at once. When all pass, the PASS line goes to `out` and the answer
// is 0.
// `chimeDecodes` answers whether the bundled completion chime decodes with the
// desktop's own sound decoder.
int runSelfTest(DesktopAppearance& appearance, const std::function<bool()>& chimeDecodes,
                std::ostream& out, std::ostream& failures);

}  // namespace glimmet

#pragma once

#include <ostream>

namespace quellora {

// The tray application, `quellora` without a command. Only one runs per
// session: a second launch asks the running one to show itself and ends.
// Returns the exit status: 0 once the user quit (or after handing over to
// the running instance), 1 when it could not start.
int runTrayApplication(std::ostream& err);

} // namespace quellora

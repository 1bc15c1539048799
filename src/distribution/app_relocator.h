#pragma once

#include "distribution/relocation_platform.h"

#include <string>

namespace quellora::AppRelocator {

// Moves a freshly downloaded application into the applications folder, once,
// before anything else happens at launch; relaunches from there and ends this
// process when it moved. Does nothing for development builds, unsigned builds
// or an application already in place. A Linux package is installed in place
// and unsigned, so nothing on Linux calls it: it waits behind
// RelocationPlatform for a platform whose applications move themselves.
void moveToApplicationsIfNeeded(RelocationPlatform& platform, bool isDevBuild);

// Replaces `destination` with a copy of `source`, for the administrator step.
std::string authorizedMoveCommand(const RelocationPlatform::Path& source,
                                  const RelocationPlatform::Path& destination);

// Waits for process `pid` to end, opens `destination`, and ejects the disk
// image the application came on; runs in the background.
std::string relaunchCommand(int pid, const RelocationPlatform::Path& destination);

} // namespace quellora::AppRelocator

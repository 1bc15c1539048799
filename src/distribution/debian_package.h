#pragma once

#include "distribution/semantic_version.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quellora {

// The name every Quellora package carries.
inline constexpr std::string_view quelloraPackageName = "quellora";

// Why the Debian archive at `archive` is not Quellora's package at `version`
// by its own control data (dpkg-deb --field Package Version, which must be
// version.packageVersion()); no value when it is. A file dpkg-deb cannot read as a package is a
// reason too.
std::optional<std::string> packageIdentityProblem(const std::filesystem::path& archive,
                                                  const SemanticVersion& version);

} // namespace quellora

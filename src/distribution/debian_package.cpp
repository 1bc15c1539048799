#include "distribution/debian_package.h"

#include "distribution/command_runner.h"

#include <fmt/format.h>

namespace quellora {
namespace {

// The value of `field` in dpkg-deb's "Field: value" lines.
std::optional<std::string> fieldValue(std::string_view output, std::string_view field) {
    while (!output.empty()) {
        const auto end = std::min(output.find('\n'), output.size());
        const auto line = output.substr(0, end);
        output.remove_prefix(std::min(end + 1, output.size()));
        if (line.size() > field.size() + 1 && line.starts_with(field) &&
            line.substr(field.size(), 2) == ": ") {
            return std::string(line.substr(field.size() + 2));
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> packageIdentityProblem(const std::filesystem::path& archive,
                                                  const SemanticVersion& version) {
    // Control data is small; this bounds what a hostile archive can make us hold.
    constexpr std::size_t maxOutputBytes = 4096;
    const auto result = runCollectingOutput(
        {"/usr/bin/dpkg-deb", "--field", archive.string(), "Package", "Version"}, maxOutputBytes);
    if (result.status != 0) {
        return fmt::format("dpkg-deb cannot read it as a Debian package (exit status {})",
                           result.status);
    }
    const auto name = fieldValue(result.output, "Package");
    const auto packageVersion = fieldValue(result.output, "Version");
    if (name != quelloraPackageName) {
        return fmt::format("it is the package \"{}\", not {}", name.value_or(""),
                           quelloraPackageName);
    }
    if (packageVersion != version.packageVersion()) {
        return fmt::format("it holds version {}, not the announced {}",
                           packageVersion.value_or("(none)"), version.packageVersion());
    }
    return std::nullopt;
}

} // namespace quellora

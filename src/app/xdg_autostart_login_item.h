#pragma once

#include "app/login_item.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// The login item as an XDG autostart entry,
// <autostart folder>/org.quellora.Quellora.desktop. Linux asks nobody for
// approval, so the status is only ever `enabled` or `notRegistered`.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    // `command` is the executable's path followed by its arguments.
    XdgAutostartLoginItem(std::filesystem::path autostartDirectory,
                          std::vector<std::string> command);

    // Launches the installed executable (launchedExecutable) with
    // `arguments`, from the user's autostart folder. Throws LoginItemError
    // when either cannot be found.
    static XdgAutostartLoginItem forThisExecutable(std::vector<std::string> arguments = {});
    // What a login should start, given the running executable as
    // /proc/self/exe names it and the folders of $PATH (`searchPath`): the
    // running one when it is installed (it lies in a "bin" folder); after an
    // upgrade replaced it (".../quellora (deleted)"), the new file at its
    // path; from a build tree, the first installed quellora on the search
    // path, else the build's own. Never a deleted file: throws LoginItemError
    // when nothing else is there.
    static std::filesystem::path launchedExecutable(const std::filesystem::path& running,
                                                    std::string_view searchPath);
    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static std::filesystem::path defaultAutostartDirectory();

    LoginItemStatus status() const override;
    void registerItem() override;
    void unregisterItem() override;

    const std::filesystem::path& entryPath() const { return entryPath_; }

private:
    std::filesystem::path autostartDirectory_;
    std::filesystem::path entryPath_;
    std::vector<std::string> command_;
};

} // namespace quellora

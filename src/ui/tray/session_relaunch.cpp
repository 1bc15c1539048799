#include "ui/tray/session_relaunch.h"

#include "base/log.h"

namespace quellora {

int runSessionThenRelaunch(const std::function<int(RelaunchRequest& relaunch)>& session,
                           CommandRunner& runner, std::ostream& err) {
    RelaunchRequest relaunch;
    const int status = session(relaunch);
    if (relaunch && !runner.launchDetached(*relaunch)) {
        Logger("Updater").error("Could not start %{public}s again; start Quellora yourself.",
                                relaunch->front());
        err << "quellora: could not start " << relaunch->front() << " again\n";
    }
    return status;
}

} // namespace quellora

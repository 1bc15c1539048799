#pragma once

#include "cli/console_streams.h"

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quellora {

// Exit statuses of the subcommands, as scripts see them.
enum class ExitStatus : int {
    success = 0,
    failure = 1,  // the work could not be completed (writing failed, out of memory)
    badInput = 2, // the user's arguments or files cannot be used as given
    interrupted = 130,
};

// A failure a subcommand reports as one line on stderr before exiting with
// `status`.
class CommandError : public std::runtime_error {
public:
    CommandError(ExitStatus status, const std::string& message)
        : std::runtime_error(message)
        , status_(status) {}

    static CommandError badInput(const std::string& message) {
        return {ExitStatus::badInput, message};
    }
    static CommandError failure(const std::string& message) {
        return {ExitStatus::failure, message};
    }

    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

// Writes "quellora COMMAND: message" as one line on console.err and returns
// `status` as the exit status.
int reportCommandError(const ConsoleStreams& console, std::string_view command, ExitStatus status,
                       std::string_view message);

// Runs the body of `command` and returns its exit status; whatever it throws
// is reported as one line, with a CommandError's own status or failure.
template <typename Body>
int runReportingErrors(const ConsoleStreams& console, std::string_view command, Body&& body) {
    try {
        return body();
    } catch (const CommandError& error) {
        return reportCommandError(console, command, error.status(), error.what());
    } catch (const std::bad_alloc&) {
        return reportCommandError(console, command, ExitStatus::failure, "out of memory");
    } catch (const std::exception& error) {
        return reportCommandError(console, command, ExitStatus::failure, error.what());
    }
}

} // namespace quellora

#pragma once

#include <stdexcept>
#include <string>

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

} // namespace quellora

#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quellora {

// How to start a program. Everything the child needs is built before fork:
// between fork and exec the child of a threaded process may only make
// async-signal-safe calls.
struct SpawnRequest {
    std::string program;                // the path exec is given: no search on PATH
    std::vector<std::string> arguments; // argv, its first entry included
    // "NAME=value" entries: the child's whole environment. Nothing: this process's.
    std::optional<std::vector<std::string>> environment;
    // Descriptors of this process the child gets under these numbers
    // (child's number, descriptor here), e.g. {STDOUT_FILENO, pipe}.
    std::vector<std::pair<int, int>> descriptors;
    // Descriptors above those numbers (and above 2) do not reach the program.
    bool closeOtherDescriptors = false;
    // The child leads a session of its own: no controlling terminal.
    bool newSession = false;
    // The child is killed when this process dies, even by a crash.
    bool dieWithParent = false;
    // No blocked signal, every disposition the default, as a fresh process
    // has them: what the caller blocked or ignored would last through exec.
    bool resetSignals = false;
    // The program is started by a child that exits at once, so init adopts
    // it and it never lingers as this process's zombie; there is no pid to
    // wait for.
    bool orphan = false;
    // Runs in the child just before exec; async-signal-safe only. Returns 0,
    // or the errno that keeps the program from starting.
    int (*prepareChild)() = nullptr;
};

struct SpawnResult {
    // The child to wait for; 0 for an orphan; -1 when it did not start.
    pid_t pid = -1;
    // Why it did not start (errno: of fork, of the child's set-up or of exec).
    int error = 0;

    bool started() const { return error == 0; }
};

// Starts the program and returns once it runs (its exec succeeded) or has
// failed to start, in which case the child has been reaped.
SpawnResult spawnProcess(const SpawnRequest& request);

} // namespace quellora

#pragma once

#include "base/log.h"
#include "engine/hal/pipewire/pipewire_graph_view.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellora::pipewire {

// Our taps, from making to ending. A tap is a virtual sink of ours, with
// the channels of the output it is made for. One the engine destroys
// lingers a moment (it is retired), so that the next generation of the
// same channels takes it over (adopts it) and its applications never move;
// the taps no generation took over end. A session manager that starts
// while our nodes exist never takes up those that are in use (WirePlumber
// 0.4 waits for them, and links nothing new meanwhile): taps made before it
// are not taken over, and lingering ones end at once.
//
// Main thread, with the session locked; settleAdoptions also on PipeWire's
// thread as the graph changes.
class TapRegistry {
public:
    struct Made {
        OSStatus status = kAudioHardwareNoError;
        AudioObjectID tap = 0;
        bool adopted = false; // a lingering tap, with the applications it holds
    };

    TapRegistry(GraphView& view, Session& session);
    TapRegistry(const TapRegistry&) = delete;
    TapRegistry& operator=(const TapRegistry&) = delete;

    // A tap mixed as for the described device's output, or in stereo: a
    // lingering one of those channels, else a new sink once its ports are
    // there.
    Made make(const TapDescription& description);
    // Takes the description's processes and name; the tap keeps its UUID.
    static void describe(Tap& tap, const TapDescription& description);
    // Whether the tap lingers when the engine destroys it, rather than
    // ending at once.
    bool mayLinger(const Tap& tap) const;
    void retire(Tap& tap);
    std::vector<AudioObjectID> retiredTaps() const;
    // Ends the tap once `streams`, sent back to the default output, have
    // left it: nothing plays into the void in between.
    void end(AudioObjectID tapId, const std::vector<std::uint32_t>& streams);
    // An adopted tap becomes the new generation's once its aggregate reads
    // it and plays on the default output.
    LookAgain settleAdoptions();
    // No tap made so far is taken over. Returns whether any linger, to be
    // ended now.
    bool sessionManagerReturned();
    // The server went away, and our nodes with it: lingering taps end; the
    // engine's stay, without a node, until it destroys them.
    void serverLost();

private:
    OSStatus channelsFor(const TapDescription& description,
                         std::vector<std::string>& positions) const;
    std::optional<AudioObjectID> adoptableTap(const std::vector<std::string>& positions) const;
    Made adopt(AudioObjectID lingering, const TapDescription& description);
    Made makeSink(const TapDescription& description, const std::vector<std::string>& positions);

    GraphView& view_;
    Session& session_;
    Logger log_{"AudioEngine"};
};

} // namespace quellora::pipewire

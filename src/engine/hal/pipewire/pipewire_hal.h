#pragma once

#include "base/dispatcher.h"
#include "engine/hal/audio_hal.h"

#include <functional>
#include <memory>

namespace quellora {

// The audio server seam over PipeWire (with WirePlumber as session manager):
//   - the default output is the user's default audio sink, never one of ours;
//     processes are the server's clients, running output while one of their
//     output streams runs;
//   - a tap is our own virtual sink; while it exists every other client's
//     output stream is routed into it;
//   - an aggregate device is a filter node that takes the tap's mix and plays
//     on the output device, driven by that device; the output device's IOProcs
//     run in the same cycle, right after the aggregate's, so the hand-over
//     between them costs no extra quantum.
// Everything we create belongs to our connection, so the server removes it,
// and the streams go back to their devices, if this process dies.
//
// Control calls come from the main queue; PipeWire's own thread hands events
// to it. Without a server, the system object has no default output and the
// adapter keeps trying to connect.
class PipeWireHal final : public AudioHal {
public:
    explicit PipeWireHal(Dispatcher& mainQueue);
    ~PipeWireHal() override;
    PipeWireHal(const PipeWireHal&) = delete;
    PipeWireHal& operator=(const PipeWireHal&) = delete;

    // Whether a server is connected now.
    bool isConnected() const;
    // Called on the main queue when the connection comes or goes.
    void setConnectionHandler(std::function<void(bool connected)> handler);

    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& size) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& size, void* data) override;
    OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::optional<std::string>& value) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t size, const void* data) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& tap) override;
    OSStatus destroyProcessTap(AudioObjectID tap) override;
    OSStatus setTapDescription(AudioObjectID tap, const TapDescription& description) override;
    OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                   AudioObjectID& device) override;
    OSStatus destroyAggregateDevice(AudioObjectID device) override;
    OSStatus createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                            AudioDeviceIOProcID& procID) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 AudioObjectPropertyListenerBlock block,
                                 AudioObjectPropertyListenerID& listener) override;
    OSStatus removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    AudioObjectPropertyListenerID listener) override;
    std::int32_t ownProcessID() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace quellora

#pragma once

#include "base/uuid.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

// The audio server as the engine sees it: objects with 32-bit IDs, properties
// addressed by four-character selectors and scopes, process taps, aggregate
// devices and IO procedures. The operations mirror Core Audio's one to one, so
// that a macOS adapter is a thin forwarder; PipeWireHal builds the same model
// from PipeWire objects, SimulatedHal in-process for tests.
//
// Every operation returns a status, 0 for success. Control operations are
// called on the main thread; IO blocks run on the server's real-time threads;
// listener blocks are delivered on the main dispatcher.

using AudioObjectID = std::uint32_t;
using OSStatus = std::int32_t;
using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
    return (static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareUnspecifiedError = fourCharCode("what");
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = fourCharCode("who?");
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = fourCharCode("!siz");
inline constexpr OSStatus kAudioHardwareIllegalOperationError = fourCharCode("nope");
inline constexpr OSStatus kAudioHardwareBadObjectError = fourCharCode("!obj");
inline constexpr OSStatus kAudioHardwareBadDeviceError = fourCharCode("!dev");
inline constexpr OSStatus kAudioHardwareNotRunningError = fourCharCode("stop");

namespace AudioScope {
inline constexpr FourCharCode global = fourCharCode("glob");
inline constexpr FourCharCode input = fourCharCode("inpt");
inline constexpr FourCharCode output = fourCharCode("outp");
} // namespace AudioScope

// Property selectors the engine reads, writes or listens to.
namespace AudioProperty {
// System object.
inline constexpr FourCharCode processObjectList = fourCharCode("prs#");   // AudioObjectID[]
inline constexpr FourCharCode defaultOutputDevice = fourCharCode("dOut"); // AudioObjectID
// string, empty while none: why some audio the tap would take passes it
// unlevelled (it would feed the pipeline its own output); announced when it
// changes. Core Audio has no such property (always empty there).
inline constexpr FourCharCode unlevelledAudioReason = fourCharCode("unlv");
// Every object that has a name people know it by (devices, processes): string, may be absent.
inline constexpr FourCharCode objectName = fourCharCode("lnam");
// Process objects. The system object announces 'prs#' when processes come
// or go and when any of the properties below changes.
inline constexpr FourCharCode processPID = fourCharCode("ppid");             // int32
inline constexpr FourCharCode processIsRunningOutput = fourCharCode("piro"); // uint32
// string: what identifies the application across runs and processes: the
// bundle ID on Core Audio; on Linux the application's name, as mixers show
// it, else the binary's name. Absent when nothing identifies it.
inline constexpr FourCharCode processBundleID = fourCharCode("pbid");
// string, may be absent: the file name of the program the process runs.
inline constexpr FourCharCode processBinary = fourCharCode("pbin");
// string, may be absent: the application's icon in the desktop's icon theme.
inline constexpr FourCharCode processIconName = fourCharCode("picn");
// uint32, a DirectOutputReason: why the platform would have the process's
// output reach the device untouched. Core Audio knows no such reason (0).
inline constexpr FourCharCode processDirectOutputReason = fourCharCode("pdir");
// uint32: non-zero while the process has an output stream, playing or paused.
inline constexpr FourCharCode processHasOutputStream = fourCharCode("pout");
// string, empty while none: the name of the device the process's output
// plays on instead of the default output (it asked for that device, or
// someone moved it there), which the tap then leaves alone. Core Audio knows
// no such choice (always empty there).
inline constexpr FourCharCode processOutputDeviceName = fourCharCode("pdev");
// Taps.
inline constexpr FourCharCode tapFormat = fourCharCode("tfmt"); // AudioStreamBasicDescription
// uint32, non-zero while a running source plays into the tap; announced when
// it changes. Core Audio has no such property: its adapter derives it from
// the running-output flags of the processes the tap does not exclude.
inline constexpr FourCharCode tapHasRunningSource = fourCharCode("tsrc");
// Devices.
inline constexpr FourCharCode deviceUID = fourCharCode("uid ");                // string
inline constexpr FourCharCode deviceIsAlive = fourCharCode("livn");            // uint32
inline constexpr FourCharCode nominalSampleRate = fourCharCode("nsrt");        // float64
inline constexpr FourCharCode bufferFrameSize = fourCharCode("fsiz");          // uint32
inline constexpr FourCharCode bufferFrameSizeRange = fourCharCode("fsz#");     // float64[2]
inline constexpr FourCharCode transportType = fourCharCode("tran");            // uint32
inline constexpr FourCharCode streams = fourCharCode("stm#");                  // AudioObjectID[]
inline constexpr FourCharCode latency = fourCharCode("ltnc");                  // uint32
inline constexpr FourCharCode safetyOffset = fourCharCode("saft");             // uint32
inline constexpr FourCharCode deviceIsRunningSomewhere = fourCharCode("gone"); // uint32
inline constexpr FourCharCode processorOverload = fourCharCode("over");        // notification only
// Output scope: where each output channel plays (AudioChannelLayout), announced
// when it changes (a profile switch).
inline constexpr FourCharCode preferredChannelLayout = fourCharCode("srnd");
} // namespace AudioProperty

// Transport type codes.
namespace AudioTransport {
inline constexpr std::uint32_t unknown = 0;
inline constexpr std::uint32_t builtIn = fourCharCode("bltn");
inline constexpr std::uint32_t aggregate = fourCharCode("grup");
inline constexpr std::uint32_t virtualDevice = fourCharCode("virt");
inline constexpr std::uint32_t pci = fourCharCode("pci ");
inline constexpr std::uint32_t usb = fourCharCode("usb ");
inline constexpr std::uint32_t fireWire = fourCharCode("1394");
inline constexpr std::uint32_t bluetooth = fourCharCode("blue");
inline constexpr std::uint32_t bluetoothLE = fourCharCode("blea");
inline constexpr std::uint32_t hdmi = fourCharCode("hdmi");
inline constexpr std::uint32_t displayPort = fourCharCode("dprt");
inline constexpr std::uint32_t airPlay = fourCharCode("airp");
inline constexpr std::uint32_t thunderbolt = fourCharCode("thun");
} // namespace AudioTransport

// Channel labels: where a channel plays, as Core Audio names the speakers.
namespace AudioChannelLabel {
inline constexpr std::uint32_t unknown = 0xFFFFFFFF;
inline constexpr std::uint32_t unused = 0;
inline constexpr std::uint32_t left = 1;
inline constexpr std::uint32_t right = 2;
inline constexpr std::uint32_t center = 3;
inline constexpr std::uint32_t lfeScreen = 4;
inline constexpr std::uint32_t leftSurround = 5;
inline constexpr std::uint32_t rightSurround = 6;
inline constexpr std::uint32_t leftCenter = 7;
inline constexpr std::uint32_t rightCenter = 8;
inline constexpr std::uint32_t centerSurround = 9;
inline constexpr std::uint32_t leftSurroundDirect = 10;
inline constexpr std::uint32_t rightSurroundDirect = 11;
inline constexpr std::uint32_t topCenterSurround = 12;
inline constexpr std::uint32_t verticalHeightLeft = 13;
inline constexpr std::uint32_t verticalHeightCenter = 14;
inline constexpr std::uint32_t verticalHeightRight = 15;
inline constexpr std::uint32_t topBackLeft = 16;
inline constexpr std::uint32_t topBackCenter = 17;
inline constexpr std::uint32_t topBackRight = 18;
inline constexpr std::uint32_t rearSurroundLeft = 33;
inline constexpr std::uint32_t rearSurroundRight = 34;
inline constexpr std::uint32_t leftWide = 35;
inline constexpr std::uint32_t rightWide = 36;
inline constexpr std::uint32_t lfe2 = 37;
inline constexpr std::uint32_t mono = 42;
// Channels that play nowhere in particular: discrete0 + n for the n-th.
inline constexpr std::uint32_t discrete0 = 1u << 16;
} // namespace AudioChannelLabel

struct AudioObjectPropertyAddress {
    FourCharCode mSelector = 0;
    FourCharCode mScope = AudioScope::global;
    std::uint32_t mElement = 0;
};

// The stream format of a tap (40 bytes, as the platform lays it out).
struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AudioChannelDescription {
    std::uint32_t mChannelLabel = AudioChannelLabel::unknown;
    std::uint32_t mChannelFlags = 0;
    float mCoordinates[3] = {0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(AudioChannelDescription) == 20);

// A device's output channels in order (the platform's AudioChannelLayout).
// The property is variable in size: the three header words, then one
// description per channel. Adapters always describe every channel (they
// expand a layout tag); a read into this struct fails with
// kAudioHardwareBadPropertySizeError for devices of more channels than it
// holds.
struct AudioChannelLayout {
    static constexpr std::uint32_t useChannelDescriptions = 0; // the layout tag
    static constexpr std::uint32_t maxChannelDescriptions = 8;
    static constexpr std::uint32_t headerSize = 12;

    std::uint32_t mChannelLayoutTag = useChannelDescriptions;
    std::uint32_t mChannelBitmap = 0;
    std::uint32_t mNumberChannelDescriptions = 0;
    AudioChannelDescription mChannelDescriptions[maxChannelDescriptions];

    // The property's size for `channels` channels.
    static constexpr std::uint32_t sizeFor(std::uint32_t channels) {
        return headerSize + channels * static_cast<std::uint32_t>(sizeof(AudioChannelDescription));
    }
};
static_assert(sizeof(AudioChannelLayout) == AudioChannelLayout::sizeFor(8));

struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0;
    void* mData = nullptr; // may be absent
};

// A view of the buffers of one IO cycle; the server owns the storage.
struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer* mBuffers = nullptr;
};

// Why a process's output should reach the device untouched unless the user
// says otherwise: calls (echo cancellation compares what it plays with what
// the microphone hears) and pro-audio clients.
enum class DirectOutputReason : std::uint32_t { none = 0, callAudio = 1, proAudio = 2 };

// A global tap of every process except the excluded ones, muting what it taps.
//
// Neither the PipeWire adapter nor the simulated server reads the mute
// behaviour here or the clock device, sub-device list and drift compensation
// flags of the aggregate below: they are kept for a Core Audio adapter, whose
// tap and aggregate dictionaries need them, so that the engine's choices
// stay in one place.
struct TapDescription {
    enum class MuteBehavior : std::int32_t { unmuted = 0, muted = 1, mutedWhenTapped = 2 };

    std::vector<AudioObjectID> excludedProcesses;
    // By bundle ID ('pbid'): applications whose processes the tap never
    // takes, also those that start later, and applications it takes
    // although their output is direct by default (see tapTakesProcess).
    std::vector<std::string> excludedApplications;
    std::vector<std::string> includedApplications;
    // A stereo mixdown; or else the processes are mixed as for the stream
    // `stream` of the device `deviceUID`, in its channel count and layout.
    bool stereo = true;
    std::optional<std::string> deviceUID;
    std::uint32_t stream = 0;
    Uuid uuid;
    std::string name;
    MuteBehavior muteBehavior = MuteBehavior::mutedWhenTapped;
};

// Whether the tap takes a process's output: every process but the excluded
// ones, and those whose output is direct by default only when their
// application is included.
inline bool tapTakesProcess(const TapDescription& tap, AudioObjectID process,
                            const std::string& bundleID, DirectOutputReason reason) {
    const auto contains = [](const auto& list, const auto& value) {
        return std::find(list.begin(), list.end(), value) != list.end();
    };
    if (contains(tap.excludedProcesses, process) ||
        (!bundleID.empty() && contains(tap.excludedApplications, bundleID))) {
        return false;
    }
    return reason == DirectOutputReason::none ||
           (!bundleID.empty() && contains(tap.includedApplications, bundleID));
}

// The aggregate device's description dictionary, typed.
struct AggregateDeviceDescription {
    struct SubDevice {
        std::string uid;
        bool driftCompensation = false;
    };
    struct SubTap {
        std::string uid; // the tap description's UUID in upper-case text
        bool driftCompensation = true;
    };

    std::string name;
    std::string uid;
    std::string mainSubDevice; // "master"
    std::string clockDevice;   // "clock"
    std::vector<SubDevice> subDevices;
    std::vector<SubTap> taps;
};

// One IO cycle: the input buffers (from the tap, for an aggregate) and the
// device's output buffers. Runs on a real-time thread: never allocate, lock,
// log or block inside.
using AudioDeviceIOBlock =
    std::function<void(const AudioBufferList& input, AudioBufferList& output)>;
using AudioDeviceIOProcID = std::uint64_t;

// Runs on the main dispatcher after a listened property changed.
using AudioObjectPropertyListenerBlock = std::function<void()>;
using AudioObjectPropertyListenerID = std::uint64_t;

class AudioHal {
public:
    virtual ~AudioHal() = default;

    virtual bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) = 0;
    virtual OSStatus getPropertyDataSize(AudioObjectID object,
                                         const AudioObjectPropertyAddress& address,
                                         std::uint32_t& size) = 0;
    // Reads up to `size` bytes into `data`; on return `size` is what was written.
    virtual OSStatus getPropertyData(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address, std::uint32_t& size,
                                     void* data) = 0;
    // String-valued properties (the device UID): the platform's string object,
    // as text. A status of 0 with no value means the property had none.
    virtual OSStatus getPropertyString(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       std::optional<std::string>& value) = 0;
    virtual OSStatus setPropertyData(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address, std::uint32_t size,
                                     const void* data) = 0;

    virtual OSStatus createProcessTap(const TapDescription& description, AudioObjectID& tap) = 0;
    virtual OSStatus destroyProcessTap(AudioObjectID tap) = 0;
    // Core Audio's kAudioTapPropertyDescription, written: what the tap takes
    // changes at once, without rebuilding anything. Its UUID stays.
    virtual OSStatus setTapDescription(AudioObjectID tap, const TapDescription& description) = 0;

    virtual OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                           AudioObjectID& device) = 0;
    virtual OSStatus destroyAggregateDevice(AudioObjectID device) = 0;

    // The block never runs after destroyIOProcID returns.
    virtual OSStatus createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                                    AudioDeviceIOProcID& procID) = 0;
    virtual OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) = 0;
    virtual OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) = 0;
    // The block does not run after deviceStop returns.
    virtual OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) = 0;

    virtual OSStatus addPropertyListener(AudioObjectID object,
                                         const AudioObjectPropertyAddress& address,
                                         AudioObjectPropertyListenerBlock block,
                                         AudioObjectPropertyListenerID& listener) = 0;
    virtual OSStatus removePropertyListener(AudioObjectID object,
                                            const AudioObjectPropertyAddress& address,
                                            AudioObjectPropertyListenerID listener) = 0;

    // This process's identifier as the server knows it.
    virtual std::int32_t ownProcessID() = 0;
};

} // namespace quellora

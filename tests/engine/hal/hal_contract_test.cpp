#include "engine/device_queries.h"
#include "hal_contract.h"

#include <array>
#include <cstddef>
#include <vector>

namespace quellora {

AudioDeviceIOBlock HalContract::Probe::block() {
    return [this](const AudioBufferList& input, AudioBufferList&) {
        cycles.fetch_add(1, std::memory_order_relaxed);
        for (std::uint32_t b = 0; b < input.mNumberBuffers; ++b) {
            const auto* samples = static_cast<const float*>(input.mBuffers[b].mData);
            const auto count = samples ? input.mBuffers[b].mDataByteSize / sizeof(float) : 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (samples[i] != 0.0f) {
                    audible.fetch_add(1, std::memory_order_relaxed);
                    return;
                }
            }
        }
    };
}

AudioObjectID HalContract::defaultOutput() {
    return readUInt32(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice);
}

std::optional<std::string> HalContract::string(AudioObjectID object, FourCharCode selector) {
    std::optional<std::string> value;
    EXPECT_EQ(hal.getPropertyString(object, address(selector), value), kAudioHardwareNoError);
    return value;
}

std::uint32_t HalContract::readUInt32(AudioObjectID object, FourCharCode selector,
                                      FourCharCode scope) {
    std::uint32_t value = 0;
    std::uint32_t size = sizeof value;
    EXPECT_EQ(hal.getPropertyData(object, address(selector, scope), size, &value),
              kAudioHardwareNoError);
    EXPECT_EQ(size, sizeof value);
    return value;
}

AudioObjectPropertyListenerID HalContract::listen(AudioObjectID object, FourCharCode selector,
                                                  int& count) {
    AudioObjectPropertyListenerID listener = 0;
    EXPECT_EQ(hal.addPropertyListener(
                  object, address(selector), [&count] { ++count; }, listener),
              kAudioHardwareNoError);
    return listener;
}

HalContract::Pipeline HalContract::buildPipeline() {
    Pipeline pipeline;
    pipeline.tap.uuid = Uuid::random();
    EXPECT_EQ(hal.createProcessTap(pipeline.tap, pipeline.tapID), kAudioHardwareNoError);
    const auto output = string(defaultOutput(), AudioProperty::deviceUID).value_or("");
    AggregateDeviceDescription description;
    description.uid = Uuid::random().uppercaseString();
    description.mainSubDevice = description.clockDevice = output;
    description.subDevices = {{output, false}};
    description.taps = {{pipeline.tap.uuid.uppercaseString(), true}};
    EXPECT_EQ(hal.createAggregateDevice(description, pipeline.aggregate), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil([&] {
        return audioObjectUInt32(hal, pipeline.aggregate, AudioProperty::deviceIsAlive,
                                 AudioScope::global) == 1u;
    })) << "the aggregate never came alive";
    return pipeline;
}

AudioObjectID HalContract::processWithPID(std::int32_t pid) {
    for (const auto process : readProcessObjectList(hal)) {
        if (audioObjectUInt32(hal, process, AudioProperty::processPID, AudioScope::global) ==
            static_cast<std::uint32_t>(pid)) {
            return process;
        }
    }
    return kAudioObjectUnknown;
}

namespace {

TEST_P(HalContract, ReadsFollowTheSizeScopeAndPresenceRules) {
    const auto speakers = defaultOutput();
    world->startPlaying(); // a second process to list
    ASSERT_TRUE(world->runUntil([&] { return readProcessObjectList(hal).size() >= 2; }));
    std::uint32_t processListSize = 0;
    ASSERT_EQ(hal.getPropertyDataSize(kAudioObjectSystemObject,
                                      address(AudioProperty::processObjectList), processListSize),
              kAudioHardwareNoError);
    struct Read {
        const char* what;
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        std::uint32_t capacity;
        OSStatus status;
        std::uint32_t size;
    };
    const Read reads[] = {
        {"fixed value, exact buffer", speakers, address(AudioProperty::nominalSampleRate), 8,
         kAudioHardwareNoError, 8},
        {"fixed value, larger buffer", speakers, address(AudioProperty::transportType), 16,
         kAudioHardwareNoError, 4},
        {"fixed value, short buffer", speakers, address(AudioProperty::nominalSampleRate), 4,
         kAudioHardwareBadPropertySizeError, 4},
        {"array, whole", kAudioObjectSystemObject, address(AudioProperty::processObjectList), 64,
         kAudioHardwareNoError, processListSize},
        {"array, cut short", kAudioObjectSystemObject, address(AudioProperty::processObjectList), 4,
         kAudioHardwareNoError, 4},
        {"string as data", speakers, address(AudioProperty::deviceUID), 64,
         kAudioHardwareIllegalOperationError, 64},
        {"wrong scope", speakers, address(AudioProperty::latency), 4,
         kAudioHardwareUnknownPropertyError, 4},
        {"another kind's property", speakers, address(AudioProperty::tapFormat), 40,
         kAudioHardwareUnknownPropertyError, 40},
        {"unknown selector", speakers, address(fourCharCode("zzzz")), 4,
         kAudioHardwareUnknownPropertyError, 4},
        {"notification only", speakers, address(AudioProperty::processorOverload), 4,
         kAudioHardwareUnknownPropertyError, 4},
        {"unknown object", 9999, address(AudioProperty::nominalSampleRate), 8,
         kAudioHardwareBadObjectError, 8},
    };
    for (const auto& read : reads) {
        std::array<std::byte, 64> buffer{};
        auto size = read.capacity;
        EXPECT_EQ(hal.getPropertyData(read.object, read.address, size, buffer.data()), read.status)
            << read.what;
        EXPECT_EQ(size, read.size) << read.what;
        EXPECT_EQ(hal.hasProperty(read.object, read.address),
                  read.status != kAudioHardwareUnknownPropertyError &&
                      read.status != kAudioHardwareBadObjectError)
            << read.what;
    }
    std::uint32_t size = 0;
    EXPECT_EQ(hal.getPropertyDataSize(speakers, address(AudioProperty::deviceUID), size),
              kAudioHardwareIllegalOperationError);
    std::optional<std::string> text = "stale";
    EXPECT_EQ(hal.getPropertyString(speakers, address(AudioProperty::nominalSampleRate), text),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(hal.getPropertyString(9999, address(AudioProperty::deviceUID), text),
              kAudioHardwareBadObjectError);
}

TEST_P(HalContract, TheDefaultOutputDescribesItself) {
    const auto speakers = defaultOutput();
    EXPECT_EQ(string(speakers, AudioProperty::deviceUID), "speakers");
    EXPECT_EQ(string(speakers, AudioProperty::objectName), "Speakers");
    EXPECT_EQ(readUInt32(speakers, AudioProperty::deviceIsAlive), 1u);
    EXPECT_EQ(queryTransportType(hal, speakers), AudioTransport::virtualDevice);
    EXPECT_EQ(deviceInputStreamCount(hal, speakers), 0);
    EXPECT_EQ(queryOutputChannelLabels(hal, speakers),
              (std::vector<std::uint32_t>{AudioChannelLabel::left, AudioChannelLabel::right}));
    EXPECT_GT(deviceNominalSampleRate(hal, speakers), 0.0);
    readUInt32(speakers, AudioProperty::latency, AudioScope::output);
    readUInt32(speakers, AudioProperty::safetyOffset, AudioScope::output);

    const auto range = queryBufferFrameSizeRange(hal, speakers);
    ASSERT_TRUE(range);
    const auto frames = queryBufferFrameSize(hal, speakers);
    ASSERT_TRUE(frames);
    EXPECT_GE(*frames, range->min);
    EXPECT_LE(*frames, range->max);
    const auto tooMany = static_cast<std::uint32_t>(range->max * 2);
    EXPECT_EQ(hal.setPropertyData(speakers, address(AudioProperty::bufferFrameSize), sizeof tooMany,
                                  &tooMany),
              kAudioHardwareNoError);
    EXPECT_EQ(queryBufferFrameSize(hal, speakers), range->max) << "the server keeps to the range";
    EXPECT_EQ(applyBufferFrameSize(hal, speakers, range->min + 1), range->min + 1);

    const double rate = deviceNominalSampleRate(hal, speakers);
    const double other = rate * 2;
    EXPECT_EQ(hal.setPropertyData(speakers, address(AudioProperty::bufferFrameSize), sizeof other,
                                  &other),
              kAudioHardwareBadPropertySizeError);
    EXPECT_NE(hal.setPropertyData(speakers, address(AudioProperty::nominalSampleRate), sizeof other,
                                  &other),
              kAudioHardwareNoError);
    EXPECT_EQ(queryBufferFrameSize(hal, speakers), range->min + 1);
    EXPECT_EQ(deviceNominalSampleRate(hal, speakers), rate);
}

TEST_P(HalContract, DefaultOutputChangesAreAnnouncedOnceOnTheMainQueue) {
    const auto dOut = address(AudioProperty::defaultOutputDevice);
    int announced = 0;
    const auto listener = listen(kAudioObjectSystemObject, dOut.mSelector, announced);
    world->setDefaultOutput("speakers");
    world->settle();
    EXPECT_EQ(announced, 0) << "an unchanged value is not announced";

    world->setDefaultOutput("headphones");
    EXPECT_EQ(announced, 0) << "listeners hear only on the main queue";
    ASSERT_TRUE(world->runUntil([&] { return announced > 0; }));
    world->settle();
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(string(defaultOutput(), AudioProperty::deviceUID), "headphones");

    EXPECT_NE(hal.removePropertyListener(kAudioObjectSystemObject,
                                         address(AudioProperty::processObjectList), listener),
              kAudioHardwareNoError);
    EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, listener),
              kAudioHardwareNoError);
    EXPECT_NE(hal.removePropertyListener(kAudioObjectSystemObject, dOut, listener),
              kAudioHardwareNoError);
    world->setDefaultOutput("speakers");
    world->settle();
    EXPECT_EQ(announced, 1) << "a removed listener hears nothing";

    // What is pending when the server goes is never delivered.
    listen(kAudioObjectSystemObject, dOut.mSelector, announced);
    world->setDefaultOutput("headphones");
    world->closeHal();
    world->settle();
    EXPECT_EQ(announced, 1);
}

TEST_P(HalContract, AListenerRemovedBeforeItsDeliveryIsNotCalled) {
    const auto dOut = address(AudioProperty::defaultOutputDevice);
    int first = 0;
    int removedByFirst = 0;
    int removedByTest = 0;
    AudioObjectPropertyListenerID self = 0;
    AudioObjectPropertyListenerID victim = 0;
    ASSERT_EQ(hal.addPropertyListener(
                  kAudioObjectSystemObject, dOut,
                  [&] {
                      ++first;
                      EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, self),
                                kAudioHardwareNoError);
                      EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, victim),
                                kAudioHardwareNoError);
                  },
                  self),
              kAudioHardwareNoError);
    victim = listen(kAudioObjectSystemObject, dOut.mSelector, removedByFirst);
    const auto third = listen(kAudioObjectSystemObject, dOut.mSelector, removedByTest);

    world->setDefaultOutput("headphones");
    EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, third),
              kAudioHardwareNoError);
    ASSERT_TRUE(world->runUntil([&] { return first > 0; }));
    world->setDefaultOutput("speakers");
    world->settle();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(removedByFirst, 0);
    EXPECT_EQ(removedByTest, 0);
}

TEST_P(HalContract, AnUnpluggedDeviceIsAnnouncedAndGone) {
    const auto usb = world->plugDevice("usb");
    EXPECT_EQ(string(usb, AudioProperty::deviceUID), "usb");
    int announced = 0;
    const auto listener = listen(usb, AudioProperty::deviceIsAlive, announced);

    world->unplugDevice("usb");
    ASSERT_TRUE(world->runUntil([&] { return announced > 0; }));
    std::uint32_t alive = 1;
    std::uint32_t size = sizeof alive;
    EXPECT_EQ(hal.getPropertyData(usb, address(AudioProperty::deviceIsAlive), size, &alive),
              kAudioHardwareBadObjectError);
    AudioObjectPropertyListenerID another = 0;
    EXPECT_EQ(hal.addPropertyListener(
                  usb, address(AudioProperty::deviceIsAlive), [] {}, another),
              kAudioHardwareBadObjectError);
    // The engine cleans up after it learns of it.
    EXPECT_EQ(hal.removePropertyListener(usb, address(AudioProperty::deviceIsAlive), listener),
              kAudioHardwareNoError);
}

TEST_P(HalContract, TapsMixForTheDefaultOutput) {
    const auto speakers = defaultOutput();
    TapDescription description;
    description.stereo = false;
    description.deviceUID = "speakers";
    AudioObjectID tap = 0;
    ASSERT_EQ(hal.createProcessTap(description, tap), kAudioHardwareNoError);
    AudioStreamBasicDescription format;
    std::uint32_t size = sizeof format;
    ASSERT_EQ(hal.getPropertyData(tap, address(AudioProperty::tapFormat), size, &format),
              kAudioHardwareNoError);
    EXPECT_EQ(size, sizeof format);
    EXPECT_EQ(format.mSampleRate, deviceNominalSampleRate(hal, speakers));
    EXPECT_EQ(format.mFormatID, fourCharCode("lpcm"));
    EXPECT_EQ(format.mChannelsPerFrame, queryOutputChannelLabels(hal, speakers)->size());
    EXPECT_EQ(format.mBytesPerFrame, format.mChannelsPerFrame * sizeof(float));
    EXPECT_EQ(format.mBitsPerChannel, 32u);
    EXPECT_EQ(readUInt32(tap, AudioProperty::tapHasRunningSource), 0u);

    description.deviceUID = "nowhere";
    AudioObjectID unmade = 0;
    EXPECT_EQ(hal.createProcessTap(description, unmade), kAudioHardwareBadDeviceError);
    EXPECT_EQ(hal.destroyProcessTap(tap), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyProcessTap(tap), kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.setTapDescription(tap, description), kAudioHardwareBadObjectError);
    EXPECT_FALSE(hal.hasProperty(tap, address(AudioProperty::tapFormat)));
}

TEST_P(HalContract, AggregatesPlayOnTheirMainDevice) {
    const auto speakers = defaultOutput();
    const auto pipeline = buildPipeline();
    const auto aggregate = pipeline.aggregate;
    EXPECT_EQ(queryTransportType(hal, aggregate), AudioTransport::aggregate);
    EXPECT_EQ(deviceInputStreamCount(hal, aggregate), 1);
    const std::uint32_t delay = 480;
    EXPECT_EQ(hal.setPropertyData(aggregate, address(AudioProperty::latency, AudioScope::output),
                                  sizeof delay, &delay),
              kAudioHardwareNoError);
    EXPECT_EQ(readUInt32(aggregate, AudioProperty::latency, AudioScope::output), delay);
    EXPECT_EQ(readUInt32(aggregate, AudioProperty::bufferFrameSize, AudioScope::input),
              readUInt32(aggregate, AudioProperty::bufferFrameSize));

    int rateChanges = 0;
    listen(speakers, AudioProperty::nominalSampleRate, rateChanges);
    const double rate = deviceNominalSampleRate(hal, speakers) == 44100.0 ? 48000.0 : 44100.0;
    world->setSampleRate(rate);
    ASSERT_TRUE(world->runUntil([&] { return rateChanges > 0; }));
    EXPECT_EQ(deviceNominalSampleRate(hal, speakers), rate);
    EXPECT_EQ(deviceNominalSampleRate(hal, aggregate), rate)
        << "an aggregate runs at its device's rate";

    AggregateDeviceDescription nowhere;
    nowhere.uid = "elsewhere";
    nowhere.mainSubDevice = "nowhere";
    nowhere.taps = {{pipeline.tap.uuid.uppercaseString(), true}};
    AudioObjectID unmade = 0;
    EXPECT_EQ(hal.createAggregateDevice(nowhere, unmade), kAudioHardwareBadDeviceError);
    nowhere.mainSubDevice = "speakers";
    nowhere.taps = {{Uuid::random().uppercaseString(), true}};
    EXPECT_EQ(hal.createAggregateDevice(nowhere, unmade), kAudioHardwareBadDeviceError);
}

// The engine's whole round: build, run with what an application plays,
// change what the tap takes, stop, tear down.
TEST_P(HalContract, APipelineRunsOnTheTapsAudioAndLeavesNothingBehind) {
    const auto pipeline = buildPipeline();
    int sourceChanges = 0;
    const auto sourceListener =
        listen(pipeline.tapID, AudioProperty::tapHasRunningSource, sourceChanges);
    AudioDeviceIOProcID proc = 0;
    ASSERT_EQ(hal.createIOProcID(pipeline.aggregate, probe.block(), proc), kAudioHardwareNoError);
    world->settle();
    EXPECT_EQ(probe.cycles, 0) << "a proc runs only once started";
    ASSERT_EQ(hal.deviceStart(pipeline.aggregate, proc), kAudioHardwareNoError);

    const auto pid = world->startPlaying();
    const auto tapReceives = [&] {
        return audioObjectUInt32(hal, pipeline.tapID, AudioProperty::tapHasRunningSource,
                                 AudioScope::global) == 1u;
    };
    ASSERT_TRUE(world->runUntil([&] { return probe.audible > 0 && tapReceives(); }));
    EXPECT_TRUE(world->runUntil([&] { return sourceChanges > 0; }));
    const auto player = processWithPID(pid);
    ASSERT_NE(player, kAudioObjectUnknown);
    EXPECT_EQ(readUInt32(player, AudioProperty::processIsRunningOutput), 1u);
    EXPECT_EQ(readUInt32(player, AudioProperty::processHasOutputStream), 1u);

    auto description = pipeline.tap;
    description.excludedProcesses = {player};
    description.uuid = Uuid::random(); // ignored: a tap keeps its UUID
    ASSERT_EQ(hal.setTapDescription(pipeline.tapID, description), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil([&] { return !tapReceives(); }));
    ASSERT_EQ(hal.setTapDescription(pipeline.tapID, pipeline.tap), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil(tapReceives));

    ASSERT_EQ(hal.deviceStop(pipeline.aggregate, proc), kAudioHardwareNoError);
    const int cyclesWhenStopped = probe.cycles;
    world->settle();
    EXPECT_EQ(probe.cycles, cyclesWhenStopped) << "a stopped proc runs no more";
    ASSERT_EQ(hal.destroyIOProcID(pipeline.aggregate, proc), kAudioHardwareNoError);
    EXPECT_NE(hal.deviceStart(pipeline.aggregate, proc), kAudioHardwareNoError);
    EXPECT_NE(hal.destroyIOProcID(pipeline.aggregate, proc), kAudioHardwareNoError);

    EXPECT_EQ(hal.removePropertyListener(
                  pipeline.tapID, address(AudioProperty::tapHasRunningSource), sourceListener),
              kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyAggregateDevice(pipeline.aggregate), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyProcessTap(pipeline.tapID), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil([&] { return world->leftAsItWas(); }));
    EXPECT_EQ(hal.destroyAggregateDevice(pipeline.aggregate), kAudioHardwareBadObjectError);
    EXPECT_FALSE(hal.hasProperty(pipeline.aggregate, address(AudioProperty::deviceIsAlive)));
}

} // namespace
} // namespace quellora

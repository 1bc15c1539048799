#include "engine/device_queries.h"
#include "hal_contract.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace quellora {

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
    const auto output = audioObjectString(hal, defaultOutput(), AudioProperty::deviceUID);
    pipeline.tap.stereo = false;
    pipeline.tap.deviceUID = output;
    pipeline.tap.uuid = Uuid::random();
    EXPECT_EQ(hal.createProcessTap(pipeline.tap, pipeline.tapID), kAudioHardwareNoError);
    AggregateDeviceDescription description;
    description.uid = Uuid::random().uppercaseString();
    description.mainSubDevice = description.clockDevice = output.value_or("");
    description.subDevices = {{description.mainSubDevice, false}};
    description.taps = {{pipeline.tap.uuid.uppercaseString(), true}};
    EXPECT_EQ(hal.createAggregateDevice(description, pipeline.aggregate), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil([&] {
        return uint32(pipeline.aggregate, AudioProperty::deviceIsAlive) == 1u;
    })) << "the aggregate never came alive";
    return pipeline;
}

namespace {

TEST_P(HalContract, PropertiesReadAsTheEngineExpects) {
    const auto speakers = defaultOutput();
    EXPECT_EQ(audioObjectString(hal, speakers, AudioProperty::deviceUID), "speakers");
    EXPECT_EQ(audioObjectString(hal, speakers, AudioProperty::objectName), "Speakers");
    EXPECT_EQ(uint32(speakers, AudioProperty::deviceIsAlive), 1u);
    EXPECT_EQ(queryTransportType(hal, speakers), AudioTransport::virtualDevice);
    EXPECT_EQ(deviceInputStreamCount(hal, speakers), 0);
    EXPECT_EQ(queryOutputChannelLabels(hal, speakers),
              (std::vector<std::uint32_t>{AudioChannelLabel::left, AudioChannelLabel::right}));
    EXPECT_TRUE(uint32(speakers, AudioProperty::latency, AudioScope::output));
    EXPECT_TRUE(uint32(speakers, AudioProperty::safetyOffset, AudioScope::output));

    world->startPlaying(); // a process beside our own
    ASSERT_TRUE(world->runUntil([&] { return readProcessObjectList(hal).size() >= 2; }));
    std::uint32_t listSize = 0;
    ASSERT_EQ(hal.getPropertyDataSize(kAudioObjectSystemObject,
                                      address(AudioProperty::processObjectList), listSize),
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
        {"fixed value, larger buffer", speakers, address(AudioProperty::transportType), 16,
         kAudioHardwareNoError, 4},
        {"fixed value, short buffer", speakers, address(AudioProperty::nominalSampleRate), 4,
         kAudioHardwareBadPropertySizeError, 4},
        {"array, whole", kAudioObjectSystemObject, address(AudioProperty::processObjectList),
         listSize + 8, kAudioHardwareNoError, listSize},
        {"array, cut short", kAudioObjectSystemObject, address(AudioProperty::processObjectList), 4,
         kAudioHardwareNoError, 4},
        {"string as data", speakers, address(AudioProperty::deviceUID), 8,
         kAudioHardwareIllegalOperationError, 8},
        {"wrong scope", speakers, address(AudioProperty::latency), 4,
         kAudioHardwareUnknownPropertyError, 4},
        {"notification only", speakers, address(AudioProperty::processorOverload), 4,
         kAudioHardwareUnknownPropertyError, 4},
        {"unknown object", 9999, address(AudioProperty::nominalSampleRate), 8,
         kAudioHardwareBadObjectError, 8},
    };
    for (const auto& read : reads) {
        std::array<std::byte, 256> buffer{};
        auto size = read.capacity;
        EXPECT_EQ(hal.getPropertyData(read.object, read.address, size, buffer.data()), read.status)
            << read.what;
        EXPECT_EQ(size, read.size) << read.what;
        EXPECT_EQ(hal.hasProperty(read.object, read.address),
                  read.status != kAudioHardwareUnknownPropertyError &&
                      read.status != kAudioHardwareBadObjectError)
            << read.what;
    }
    std::optional<std::string> text;
    EXPECT_EQ(hal.getPropertyString(speakers, address(AudioProperty::nominalSampleRate), text),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(hal.getPropertyDataSize(speakers, address(AudioProperty::deviceUID), listSize),
              kAudioHardwareIllegalOperationError);

    // Buffer sizes: set within the range, never outside it, and only as whole frames.
    const auto range = queryBufferFrameSizeRange(hal, speakers);
    ASSERT_TRUE(range);
    const auto tooMany = static_cast<std::uint32_t>(range->max * 2);
    const auto fsiz = address(AudioProperty::bufferFrameSize);
    EXPECT_EQ(hal.setPropertyData(speakers, fsiz, sizeof tooMany, &tooMany), kAudioHardwareNoError);
    EXPECT_EQ(queryBufferFrameSize(hal, speakers), range->max);
    EXPECT_EQ(applyBufferFrameSize(hal, speakers, range->min + 1), range->min + 1);
    const double rate = deviceNominalSampleRate(hal, speakers);
    EXPECT_EQ(hal.setPropertyData(speakers, fsiz, sizeof rate, &rate),
              kAudioHardwareBadPropertySizeError);
    EXPECT_NE(hal.setPropertyData(speakers, address(AudioProperty::nominalSampleRate), sizeof rate,
                                  &rate),
              kAudioHardwareNoError);
    EXPECT_EQ(queryBufferFrameSize(hal, speakers), range->min + 1);
}

TEST_P(HalContract, ListenersHearEachChangeOnceOnTheMainQueue) {
    const auto dOut = address(AudioProperty::defaultOutputDevice);
    int heard = 0;
    int removedBeforeDelivery = 0;
    AudioObjectPropertyListenerID first = 0;
    AudioObjectPropertyListenerID second = 0;
    ASSERT_EQ(hal.addPropertyListener(
                  kAudioObjectSystemObject, dOut,
                  [&] {
                      ++heard;
                      EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, second),
                                kAudioHardwareNoError);
                  },
                  first),
              kAudioHardwareNoError);
    second = listen(kAudioObjectSystemObject, dOut.mSelector, removedBeforeDelivery);
    world->setDefaultOutput("speakers");
    world->settle();
    EXPECT_EQ(heard, 0) << "an unchanged value is not announced";

    world->setDefaultOutput("headphones");
    EXPECT_EQ(heard, 0) << "listeners hear only on the main queue";
    ASSERT_TRUE(world->runUntil([&] { return heard > 0; }));
    world->settle();
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(removedBeforeDelivery, 0);
    EXPECT_EQ(audioObjectString(hal, defaultOutput(), AudioProperty::deviceUID), "headphones");

    const auto prs = address(AudioProperty::processObjectList);
    EXPECT_NE(hal.removePropertyListener(kAudioObjectSystemObject, prs, first),
              kAudioHardwareNoError);
    EXPECT_EQ(hal.removePropertyListener(kAudioObjectSystemObject, dOut, first),
              kAudioHardwareNoError);
    EXPECT_NE(hal.removePropertyListener(kAudioObjectSystemObject, dOut, first),
              kAudioHardwareNoError);
    world->setDefaultOutput("speakers");
    world->settle();
    EXPECT_EQ(heard, 1) << "a removed listener hears nothing";

    listen(kAudioObjectSystemObject, dOut.mSelector, heard);
    world->setDefaultOutput("headphones");
    world->closeHal();
    world->settle();
    EXPECT_EQ(heard, 1) << "what was pending when the server went is dropped";
}

// The engine rebuilds on whatever output replaces an unplugged one, and
// stops listening to the old one afterwards.
TEST_P(HalContract, AnUnpluggedDefaultOutputGivesWayToAnother) {
    world->plugDevice("usb");
    world->setDefaultOutput("usb");
    const auto isDefault = [&](AudioObjectID device) {
        return audioObjectString(hal, device, AudioProperty::deviceUID) == "usb";
    };
    ASSERT_TRUE(world->runUntil([&] { return isDefault(defaultOutput()); }));
    const auto usb = defaultOutput();
    world->settle();
    int outputChanges = 0;
    listen(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice, outputChanges);
    int rateChanges = 0;
    const auto listener = listen(usb, AudioProperty::nominalSampleRate, rateChanges);

    world->unplugDevice("usb");
    ASSERT_TRUE(world->runUntil(
        [&] { return outputChanges > 0 && defaultOutput() != usb && defaultOutput() != 0; }));
    EXPECT_EQ(uint32(defaultOutput(), AudioProperty::deviceIsAlive), 1u);
    EXPECT_FALSE(hal.hasProperty(usb, address(AudioProperty::deviceUID)));
    AudioObjectPropertyListenerID another = 0;
    EXPECT_EQ(hal.addPropertyListener(
                  usb, address(AudioProperty::deviceIsAlive), [] {}, another),
              kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.removePropertyListener(usb, address(AudioProperty::nominalSampleRate), listener),
              kAudioHardwareNoError);
}

TEST_P(HalContract, TapsAndAggregatesRunWithTheirOutput) {
    const auto speakers = defaultOutput();
    const auto pipeline = buildPipeline();
    const auto aggregate = pipeline.aggregate;
    AudioStreamBasicDescription format;
    std::uint32_t size = sizeof format;
    ASSERT_EQ(hal.getPropertyData(pipeline.tapID, address(AudioProperty::tapFormat), size, &format),
              kAudioHardwareNoError);
    EXPECT_EQ(size, sizeof format);
    EXPECT_EQ(format.mSampleRate, deviceNominalSampleRate(hal, speakers));
    EXPECT_EQ(format.mFormatID, fourCharCode("lpcm"));
    EXPECT_EQ(format.mChannelsPerFrame, queryOutputChannelLabels(hal, speakers)->size());
    EXPECT_EQ(format.mBytesPerFrame, format.mChannelsPerFrame * sizeof(float));
    EXPECT_EQ(format.mBytesPerFrame * 8, format.mChannelsPerFrame * format.mBitsPerChannel);
    EXPECT_EQ(uint32(pipeline.tapID, AudioProperty::tapHasRunningSource), 0u);
    EXPECT_EQ(queryTransportType(hal, aggregate), AudioTransport::aggregate);
    EXPECT_EQ(deviceInputStreamCount(hal, aggregate), 1);
    EXPECT_EQ(uint32(aggregate, AudioProperty::bufferFrameSize, AudioScope::input),
              uint32(aggregate, AudioProperty::bufferFrameSize));
    const std::uint32_t delay = 480;
    EXPECT_EQ(hal.setPropertyData(aggregate, address(AudioProperty::latency, AudioScope::output),
                                  sizeof delay, &delay),
              kAudioHardwareNoError);
    EXPECT_EQ(uint32(aggregate, AudioProperty::latency, AudioScope::output), delay);

    int rateChanges = 0;
    listen(speakers, AudioProperty::nominalSampleRate, rateChanges);
    const double rate = deviceNominalSampleRate(hal, speakers) == 44100.0 ? 48000.0 : 44100.0;
    world->setSampleRate(rate);
    ASSERT_TRUE(world->runUntil([&] { return rateChanges > 0; }));
    EXPECT_EQ(deviceNominalSampleRate(hal, speakers), rate);
    EXPECT_EQ(deviceNominalSampleRate(hal, aggregate), rate);

    // What is made for an output that went fails.
    auto tap = pipeline.tap;
    tap.deviceUID = "nowhere";
    AudioObjectID unmade = 0;
    EXPECT_EQ(hal.createProcessTap(tap, unmade), kAudioHardwareBadDeviceError);
    AggregateDeviceDescription elsewhere;
    elsewhere.uid = "elsewhere";
    elsewhere.mainSubDevice = "nowhere";
    elsewhere.taps = {{pipeline.tap.uuid.uppercaseString(), true}};
    EXPECT_EQ(hal.createAggregateDevice(elsewhere, unmade), kAudioHardwareBadDeviceError);
}

// The engine's round: build, run on what an application plays, change what
// the tap takes, stop, tear down.
TEST_P(HalContract, APipelineRunsOnTheTapsAudioAndLeavesNothingBehind) {
    const auto pipeline = buildPipeline();
    int sourceChanges = 0;
    const auto sources = listen(pipeline.tapID, AudioProperty::tapHasRunningSource, sourceChanges);
    AudioDeviceIOProcID proc = 0;
    const auto count = [this](const AudioBufferList& input, AudioBufferList&) {
        cycles.fetch_add(1);
        const auto* first = input.mNumberBuffers > 0 ? input.mBuffers : nullptr;
        const auto* samples = first ? static_cast<const float*>(first->mData) : nullptr;
        const auto* end = samples ? samples + first->mDataByteSize / sizeof(float) : samples;
        if (std::any_of(samples, end, [](float sample) { return sample != 0.0f; })) {
            audibleCycles.fetch_add(1);
        }
    };
    ASSERT_EQ(hal.createIOProcID(pipeline.aggregate, count, proc), kAudioHardwareNoError);
    world->settle();
    EXPECT_EQ(cycles, 0) << "a proc runs only once started";
    ASSERT_EQ(hal.deviceStart(pipeline.aggregate, proc), kAudioHardwareNoError);

    const auto pid = world->startPlaying();
    const auto tapReceives = [&] {
        return uint32(pipeline.tapID, AudioProperty::tapHasRunningSource) == 1u;
    };
    ASSERT_TRUE(world->runUntil([&] { return audibleCycles > 0 && tapReceives(); }));
    EXPECT_TRUE(world->runUntil([&] { return sourceChanges > 0; }));
    const auto processes = readProcessObjectList(hal);
    const auto player = std::find_if(processes.begin(), processes.end(), [&](AudioObjectID p) {
        return uint32(p, AudioProperty::processPID) == static_cast<std::uint32_t>(pid);
    });
    ASSERT_NE(player, processes.end());
    EXPECT_EQ(uint32(*player, AudioProperty::processIsRunningOutput), 1u);
    EXPECT_EQ(uint32(*player, AudioProperty::processHasOutputStream), 1u);

    auto description = pipeline.tap;
    description.excludedProcesses = {*player};
    description.uuid = Uuid::random(); // not taken: a tap keeps its UUID
    ASSERT_EQ(hal.setTapDescription(pipeline.tapID, description), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil([&] { return !tapReceives(); }));
    ASSERT_EQ(hal.setTapDescription(pipeline.tapID, pipeline.tap), kAudioHardwareNoError);
    EXPECT_TRUE(world->runUntil(tapReceives));

    ASSERT_EQ(hal.deviceStop(pipeline.aggregate, proc), kAudioHardwareNoError);
    const int cyclesWhenStopped = cycles;
    world->settle();
    EXPECT_EQ(cycles, cyclesWhenStopped) << "a stopped proc runs no more";
    ASSERT_EQ(hal.destroyIOProcID(pipeline.aggregate, proc), kAudioHardwareNoError);
    EXPECT_NE(hal.deviceStart(pipeline.aggregate, proc), kAudioHardwareNoError);
    EXPECT_NE(hal.destroyIOProcID(pipeline.aggregate, proc), kAudioHardwareNoError);

    const auto tsrc = address(AudioProperty::tapHasRunningSource);
    EXPECT_EQ(hal.removePropertyListener(pipeline.tapID, tsrc, sources), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyAggregateDevice(pipeline.aggregate), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyProcessTap(pipeline.tapID), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyAggregateDevice(pipeline.aggregate), kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.destroyProcessTap(pipeline.tapID), kAudioHardwareBadObjectError);
    EXPECT_EQ(hal.setTapDescription(pipeline.tapID, pipeline.tap), kAudioHardwareBadObjectError);
    EXPECT_FALSE(hal.hasProperty(pipeline.aggregate, address(AudioProperty::deviceIsAlive)));
    EXPECT_FALSE(hal.hasProperty(pipeline.tapID, tsrc));
    EXPECT_TRUE(world->runUntil([&] { return world->leftAsItWas(); }));
}

} // namespace
} // namespace quellora

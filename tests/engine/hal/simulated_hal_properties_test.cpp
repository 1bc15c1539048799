#include "engine/device_queries.h"
#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <array>

namespace quellora {
namespace {

struct DeviceCase {
    const char* name;
    OutputDeviceProfile profile;
};

class SimulatedDevicePropertyTest : public SimulatedHalTest,
                                    public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(SimulatedDevicePropertyTest, DeviceQueriesReadBackThePluggedInDevice) {
    const auto& profile = GetParam().profile;
    const auto device = hal.addOutputDevice(profile);

    EXPECT_EQ(queryTransportType(hal, device), profile.transportType);
    EXPECT_EQ(deviceNominalSampleRate(hal, device), profile.nominalSampleRate);
    EXPECT_EQ(deviceInputStreamCount(hal, device), profile.inputStreamCount);
    EXPECT_EQ(queryBufferFrameSize(hal, device), profile.bufferFrameSize);
    const auto range = queryBufferFrameSizeRange(hal, device);
    ASSERT_EQ(range.has_value(), profile.bufferFrameSizeRange.has_value());
    if (range) {
        EXPECT_EQ(range->min, static_cast<std::int64_t>(profile.bufferFrameSizeRange->minimum));
        EXPECT_EQ(range->max, static_cast<std::int64_t>(profile.bufferFrameSizeRange->maximum));
    }
    const LatencyBreakdown expected{128, profile.bufferFrameSize, profile.bufferFrameSize,
                                    profile.latencyFrames, profile.safetyOffsetFrames};
    EXPECT_EQ(queryAddedLatency(hal, device, device, 128), expected);

    std::optional<std::string> uid;
    EXPECT_EQ(hal.getPropertyString(device, address(AudioProperty::deviceUID), uid),
              kAudioHardwareNoError);
    EXPECT_EQ(uid, profile.uid);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SimulatedDevicePropertyTest,
    ::testing::Values(DeviceCase{"BuiltIn",
                                 {.uid = "built-in", .latencyFrames = 24, .safetyOffsetFrames = 8}},
                      DeviceCase{"BluetoothCallMode",
                                 {.uid = "headset",
                                  .nominalSampleRate = 16000,
                                  .bufferFrameSize = 256,
                                  .bufferFrameSizeRange = std::nullopt,
                                  .transportType = AudioTransport::bluetooth,
                                  .inputStreamCount = 1,
                                  .latencyFrames = 480}},
                      DeviceCase{"UsbInterface",
                                 {.uid = "usb",
                                  .nominalSampleRate = 96000,
                                  .bufferFrameSize = 64,
                                  .bufferFrameSizeRange = FrameSizeRange{32.5, 2048},
                                  .transportType = AudioTransport::usb,
                                  .inputStreamCount = 2,
                                  .latencyFrames = 100,
                                  .safetyOffsetFrames = 12,
                                  .outputChannelCount = 6}}),
    CaseName());

TEST_F(SimulatedHalTest, ReadsFollowTheServerSizeAndPresenceRules) {
    hal.addProcess(1002);
    hal.addProcess(1003);
    hal.removeProperty(headphones, AudioProperty::bufferFrameSizeRange);
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
         kAudioHardwareNoError, 12},
        {"array, cut short", kAudioObjectSystemObject, address(AudioProperty::processObjectList), 8,
         kAudioHardwareNoError, 8},
        {"string as data", speakers, address(AudioProperty::deviceUID), 64,
         kAudioHardwareIllegalOperationError, 64},
        {"wrong scope", speakers, address(AudioProperty::latency), 4,
         kAudioHardwareUnknownPropertyError, 4},
        {"removed property", headphones, address(AudioProperty::bufferFrameSizeRange), 16,
         kAudioHardwareUnknownPropertyError, 16},
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
    EXPECT_EQ(readProcessObjectList(hal).size(), 3u);

    std::optional<std::string> uid = "stale";
    EXPECT_EQ(hal.getPropertyString(speakers, address(AudioProperty::nominalSampleRate), uid),
              kAudioHardwareIllegalOperationError);
    hal.setDeviceUID(speakers, std::nullopt);
    EXPECT_EQ(hal.getPropertyString(speakers, address(AudioProperty::deviceUID), uid),
              kAudioHardwareNoError);
    EXPECT_EQ(uid, std::nullopt);
}

struct BufferSizeCase {
    const char* name;
    std::optional<FrameSizeRange> range;
    std::optional<std::uint32_t> reportedFrames;
    std::int64_t desired;
    std::optional<std::uint32_t> requested; // what reached the server
    std::optional<std::int64_t> applied;
};

class SimulatedBufferFrameSizeTest : public SimulatedHalTest,
                                     public ::testing::WithParamInterface<BufferSizeCase> {};

TEST_P(SimulatedBufferFrameSizeTest, ApplyClampsToTheRangeAndReportsTheReadBack) {
    const auto& param = GetParam();
    const auto device = hal.addOutputDevice({.uid = "device", .bufferFrameSizeRange = param.range});
    hal.overrideReportedBufferFrameSize(device, param.reportedFrames);
    EXPECT_EQ(applyBufferFrameSize(hal, device, param.desired), param.applied);
    EXPECT_EQ(hal.lastBufferFrameSizeSet(device), param.requested);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatedBufferFrameSizeTest,
    ::testing::Values(BufferSizeCase{"InsideRange", FrameSizeRange{64, 1024}, {}, 256, 256, 256},
                      BufferSizeCase{"AboveRange", FrameSizeRange{64, 1024}, {}, 4096, 1024, 1024},
                      BufferSizeCase{"BelowRange", FrameSizeRange{64, 1024}, {}, 16, 64, 64},
                      BufferSizeCase{"NoRange", std::nullopt, {}, 3000, 3000, 3000},
                      BufferSizeCase{"DifferentReadBack", FrameSizeRange{64, 1024}, 480, 256, 256,
                                     480},
                      BufferSizeCase{"Zero", std::nullopt, {}, 0, std::nullopt, std::nullopt}),
    CaseName());

TEST_F(SimulatedHalTest, BufferFrameSizeWritesAreCheckedAndClampedByTheServer) {
    const auto fsiz = address(AudioProperty::bufferFrameSize);
    const std::uint32_t tooLarge = 9000;
    EXPECT_EQ(hal.setPropertyData(speakers, fsiz, sizeof tooLarge, &tooLarge),
              kAudioHardwareNoError);
    EXPECT_EQ(hal.lastBufferFrameSizeSet(speakers), 9000u);
    EXPECT_EQ(readUInt32(speakers, AudioProperty::bufferFrameSize), 4096u);

    const double rate = 96000;
    EXPECT_EQ(hal.setPropertyData(speakers, fsiz, sizeof rate, &rate),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(hal.setPropertyData(speakers, address(AudioProperty::nominalSampleRate), sizeof rate,
                                  &rate),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(deviceNominalSampleRate(hal, speakers), 48000.0);

    hal.removeProperty(speakers, AudioProperty::bufferFrameSize);
    EXPECT_EQ(applyBufferFrameSize(hal, speakers, 256), std::nullopt);
    EXPECT_EQ(hal.lastBufferFrameSizeSet(speakers), 9000u);
}

TEST_F(SimulatedHalTest, TapFormatIsStereoFloatAtTheDefaultOutputRateWhenCreated) {
    const auto readFormat = [&](AudioObjectID object) {
        AudioStreamBasicDescription format;
        std::uint32_t size = sizeof format;
        EXPECT_EQ(hal.getPropertyData(object, address(AudioProperty::tapFormat), size, &format),
                  kAudioHardwareNoError);
        EXPECT_EQ(size, sizeof format);
        return format;
    };
    hal.setDefaultOutput(headphones);
    TapDescription description;
    AudioObjectID first = 0;
    ASSERT_EQ(hal.createProcessTap(description, first), kAudioHardwareNoError);
    hal.setNominalSampleRate(headphones, 48000);

    const auto format = readFormat(first);
    EXPECT_EQ(format.mSampleRate, 44100.0);
    EXPECT_EQ(format.mFormatID, fourCharCode("lpcm"));
    EXPECT_EQ(format.mChannelsPerFrame, 2u);
    EXPECT_EQ(format.mBytesPerFrame, 8u);
    EXPECT_EQ(format.mBitsPerChannel, 32u);

    hal.overrideTapSampleRate(0.0);
    AudioObjectID second = 0;
    ASSERT_EQ(hal.createProcessTap(description, second), kAudioHardwareNoError);
    EXPECT_EQ(readFormat(second).mSampleRate, 0.0);
    EXPECT_EQ(hal.taps(), (std::vector<AudioObjectID>{first, second}));

    EXPECT_EQ(hal.destroyProcessTap(first), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyProcessTap(first), kAudioHardwareBadObjectError);
    EXPECT_FALSE(hal.hasProperty(first, address(AudioProperty::tapFormat)));
}

} // namespace
} // namespace quellora

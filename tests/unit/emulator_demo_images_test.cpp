// The demo images: deterministic, and usable for the whole upgrade sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "device/diagnostics.h"
#include "device/ibr_commands.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_target.h"

TEST(EmulatorDemoImages, AreDeterministicAndOnlyTheLoaderCarriesTheMarker)
{
    const std::vector<uint8_t> firmware = MakeDemoFirmware();
    EXPECT_EQ(firmware, MakeDemoFirmware());
    EXPECT_EQ(firmware.size(), kDemoFirmwareSize);
    EXPECT_EQ(MakeDemoFirmware(1000), std::vector<uint8_t>(firmware.begin(), firmware.begin() + 1000));
    // Erased flash must not pass for the image.
    EXPECT_LT(std::count(firmware.begin(), firmware.end(), 0xFF), static_cast<long>(firmware.size() / 100));
    EXPECT_NE(std::memcmp(firmware.data(), kFlashLoaderMarker, sizeof kFlashLoaderMarker), 0);

    const std::vector<uint8_t> loader = MakeDemoFlashLoader();
    EXPECT_EQ(loader, MakeDemoFlashLoader());
    EXPECT_EQ(loader.size(), kDemoFlashLoaderSize);
    EXPECT_EQ(std::memcmp(loader.data(), kFlashLoaderMarker, sizeof kFlashLoaderMarker), 0);
}

// The tool's whole order of calls: loader to SRAM, execute, find the target
// again in flash mode, erase with polling, write in 16 KiB pieces, verify.
TEST(EmulatorDemoImages, LoaderThenFirmwareDownloadRoundTrips)
{
    DiagnosticCapture quiet;
    VirtualClock clock;
    EmulatedTarget target(clock);
    target.SetTiming(TimingModel::Realistic());
    IbrLink link(target);
    DeviceHandle device = target.Open();
    std::vector<uint8_t> buffer(65536);

    std::vector<uint8_t> loader = MakeDemoFlashLoader();
    ASSERT_TRUE(link.CMD_IbrSetAddressSram(device, buffer.data()));
    for (size_t at = 0; at < loader.size(); at += 4096) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(4096, loader.size() - at));
        ASSERT_TRUE(link.CMD_IbrWrite(device, loader.data() + at, n));
    }
    ASSERT_TRUE(link.CMD_IbrExecute(device, buffer.data()));
    while (!target.Present()) clock.Sleep(500);
    device = target.Open();
    ASSERT_TRUE(link.CMD_IbrGetState(device, buffer.data()));
    ASSERT_EQ(buffer[0], kIbrStateFlash);

    const std::vector<uint8_t> firmware = MakeDemoFirmware();
    ASSERT_TRUE(link.CMD_IbrSetAddressFlashShort(device, buffer.data()));
    for (size_t block = 0; block < (firmware.size() + 65535) / 65536; ++block) {
        ASSERT_TRUE(link.CMD_IbrBlockErase(device, buffer.data()));
        do {
            clock.Sleep(50);
            ASSERT_TRUE(link.CMD_IbrGetSTS(device, buffer.data()));
        } while (buffer[0] != 0);
    }
    ASSERT_TRUE(link.CMD_IbrSetAddressFlashLong(device, buffer.data()));
    for (size_t at = 0; at < firmware.size(); at += 16384) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(16384, firmware.size() - at));
        ASSERT_TRUE(link.CMD_IbrWrite(device, firmware.data() + at, n));
    }
    ASSERT_TRUE(link.CMD_IbrGetSTS(device, buffer.data()));
    EXPECT_EQ(buffer[0], 0);

    ASSERT_TRUE(link.CMD_IbrSetAddressFlashLong(device, buffer.data()));
    for (size_t at = 0; at < firmware.size(); at += 65536) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(65536, firmware.size() - at));
        ASSERT_TRUE(link.CMD_IbrRead(device, buffer.data(), n));
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, firmware.begin() + at));
    }
}

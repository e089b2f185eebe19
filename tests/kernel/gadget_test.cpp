// The gadget's command path without a kernel: Bulk-Only framing and the
// thirteen cases, the disk's standard commands, and the vendor commands handed
// to the emulated target through a request block built from the wrapper.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/ibr_commands.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_target.h"
#include "gadget/bulk_only.h"
#include "gadget/function_fs.h"
#include "gadget/scsi_disk.h"
#include "gadget/target_device.h"

namespace {

CommandBlockWrapper MakeCbw(std::vector<uint8_t> cdb, DataDirection direction, uint32_t length, uint32_t tag = 7)
{
    CommandBlockWrapper cbw;
    cbw.tag = tag;
    cbw.dataLength = length;
    cbw.direction = length == 0 ? DataDirection::None : direction;
    cbw.flagIn = direction == DataDirection::In;
    cbw.cdbLength = static_cast<uint8_t>(cdb.size());
    std::memcpy(cbw.cdb, cdb.data(), cdb.size());
    return cbw;
}

CommandBlockWrapper FromIbr(const IbrCommand& command)
{
    return MakeCbw(std::vector<uint8_t>(command.cdb, command.cdb + 10),
                   command.dataIn == kIbrDataIn ? DataDirection::In : DataDirection::Out, command.transferLength);
}

std::vector<uint8_t> Cdb6(uint8_t opcode, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0)
{
    return {opcode, b1, b2, b3, b4, 0};
}

std::vector<uint8_t> Read10(uint32_t lba, uint16_t blocks)
{
    return {0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
            static_cast<uint8_t>(lba), 0, static_cast<uint8_t>(blocks >> 8), static_cast<uint8_t>(blocks), 0};
}

// --- Bulk-Only framing ----------------------------------------------------------

TEST(BulkOnly, CbwRoundTrip)
{
    const CommandBlockWrapper sent = MakeCbw({0x06, 0x51, 0x01, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, 8, 0x1234);
    const auto bytes = BuildCbw(sent);
    EXPECT_EQ(0x55, bytes[0]);
    EXPECT_EQ(0x43, bytes[3]);
    const auto parsed = ParseCbw(bytes.data(), bytes.size(), 0);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(0x1234u, parsed->tag);
    EXPECT_EQ(8u, parsed->dataLength);
    EXPECT_EQ(DataDirection::In, parsed->direction);
    EXPECT_EQ(10, parsed->cdbLength);
    EXPECT_EQ(0x51, parsed->cdb[1]);
}

TEST(BulkOnly, InvalidAndMeaninglessCbws)
{
    auto bytes = BuildCbw(MakeCbw({0x00, 0, 0, 0, 0, 0}, DataDirection::None, 0));
    EXPECT_EQ(CbwProblem::None, CheckCbw(bytes.data(), bytes.size(), 0));
    EXPECT_EQ(CbwProblem::NotValid, CheckCbw(bytes.data(), bytes.size() - 1, 0)); // short
    auto signature = bytes;
    signature[0] ^= 1;
    EXPECT_EQ(CbwProblem::NotValid, CheckCbw(signature.data(), signature.size(), 0));
    auto lun = bytes;
    lun[13] = 1; // a LUN the device does not have
    EXPECT_EQ(CbwProblem::NotMeaningful, CheckCbw(lun.data(), lun.size(), 0));
    auto cdbLength = bytes;
    cdbLength[14] = 17;
    EXPECT_EQ(CbwProblem::NotMeaningful, CheckCbw(cdbLength.data(), cdbLength.size(), 0));
    auto flags = bytes;
    flags[12] = 0x01; // reserved bits
    EXPECT_EQ(CbwProblem::NotMeaningful, CheckCbw(flags.data(), flags.size(), 0));
    EXPECT_FALSE(ParseCbw(lun.data(), lun.size(), 0).has_value());
}

TEST(BulkOnly, CswBytes)
{
    const auto csw = BuildCsw(0xAABBCCDD, 0x100, CswStatus::Failed);
    const std::vector<uint8_t> expected = {0x55, 0x53, 0x42, 0x53, 0xDD, 0xCC, 0xBB, 0xAA, 0x00, 0x01, 0x00, 0x00, 0x01};
    EXPECT_EQ(expected, std::vector<uint8_t>(csw.begin(), csw.end()));
}

DeviceResult Wants(DataDirection direction, uint32_t length, bool failed = false)
{
    DeviceResult result;
    result.direction = direction;
    result.length = length;
    result.commandFailed = failed;
    return result;
}

TEST(BulkOnly, ThirteenCases)
{
    using D = DataDirection;
    // 1: Hn = Dn.
    PhaseResolution r = ResolvePhases(D::None, 0, Wants(D::None, 0));
    EXPECT_EQ(CswStatus::Passed, r.status);
    // 2, 3: Hn < Di, Hn < Do.
    EXPECT_EQ(CswStatus::PhaseError, ResolvePhases(D::None, 0, Wants(D::In, 8)).status);
    EXPECT_EQ(CswStatus::PhaseError, ResolvePhases(D::None, 0, Wants(D::Out, 8)).status);
    // 4: Hi > Dn: nothing sent, halt, all of it residue.
    r = ResolvePhases(D::In, 36, Wants(D::None, 0, true));
    EXPECT_EQ(0u, r.sendBytes);
    EXPECT_TRUE(r.stallIn);
    EXPECT_EQ(36u, r.residue);
    EXPECT_EQ(CswStatus::Failed, r.status);
    // 5: Hi > Di: short data and a halt.
    r = ResolvePhases(D::In, 192, Wants(D::In, 24));
    EXPECT_EQ(24u, r.sendBytes);
    EXPECT_TRUE(r.stallIn);
    EXPECT_EQ(168u, r.residue);
    // 6: Hi = Di.
    r = ResolvePhases(D::In, 3583, Wants(D::In, 3583));
    EXPECT_EQ(3583u, r.sendBytes);
    EXPECT_FALSE(r.stallIn);
    EXPECT_EQ(0u, r.residue);
    // 7: Hi < Di: what the host asked for.
    r = ResolvePhases(D::In, 8, Wants(D::In, 36));
    EXPECT_EQ(8u, r.sendBytes);
    EXPECT_EQ(0u, r.residue);
    // 8: Hi <> Do.
    r = ResolvePhases(D::In, 512, Wants(D::Out, 512));
    EXPECT_EQ(CswStatus::PhaseError, r.status);
    EXPECT_TRUE(r.stallIn);
    // 9: Ho > Dn.
    r = ResolvePhases(D::Out, 512, Wants(D::None, 0, true));
    EXPECT_EQ(512u, r.residue);
    EXPECT_EQ(CswStatus::Failed, r.status);
    // 10: Ho <> Di.
    EXPECT_EQ(CswStatus::PhaseError, ResolvePhases(D::Out, 8, Wants(D::In, 8)).status);
    // 11, 12: Ho > Do, Ho = Do.
    EXPECT_EQ(512u, ResolvePhases(D::Out, 1024, Wants(D::Out, 512)).residue);
    r = ResolvePhases(D::Out, 4096, Wants(D::Out, 4096));
    EXPECT_EQ(CswStatus::Passed, r.status);
    EXPECT_EQ(0u, r.residue);
    // 13: Ho < Do.
    EXPECT_EQ(CswStatus::PhaseError, ResolvePhases(D::Out, 512, Wants(D::Out, 1024)).status);
}

TEST(BulkOnly, TransportFailureIsAPhaseError)
{
    DeviceResult failed;
    failed.transportFailed = true;
    const PhaseResolution in = ResolvePhases(DataDirection::In, 8, failed);
    EXPECT_EQ(CswStatus::PhaseError, in.status);
    EXPECT_TRUE(in.stallIn);
    EXPECT_EQ(0u, in.sendBytes);
    const PhaseResolution out = ResolvePhases(DataDirection::Out, 4096, failed);
    EXPECT_EQ(CswStatus::PhaseError, out.status);
    EXPECT_FALSE(out.stallIn);
}

// --- the disk's standard commands -------------------------------------------------

class Disk : public ::testing::Test {
protected:
    static std::vector<uint8_t> Pattern()
    {
        std::vector<uint8_t> volume(64 * kDiskBlockSize);
        for (size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<uint8_t>(i / kDiskBlockSize + i);
        return volume;
    }
    ScsiOutcome Run(const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& out = {})
    {
        return disk.Execute(cdb.data(), cdb.size(), out);
    }
    void ExpectSense(uint8_t key, uint8_t asc)
    {
        const ScsiOutcome sense = Run(Cdb6(0x03, 0, 0, 0, 18));
        ASSERT_EQ(18u, sense.data.size());
        EXPECT_EQ(0x70, sense.data[0]);
        EXPECT_EQ(key, sense.data[2]);
        EXPECT_EQ(asc, sense.data[12]);
    }
    ScsiDisk disk{Pattern()};
};

TEST_F(Disk, InquiryStandardData)
{
    const ScsiOutcome reply = Run(Cdb6(0x12, 0, 0, 0, 36));
    EXPECT_FALSE(reply.failed);
    ASSERT_EQ(36u, reply.data.size());
    EXPECT_EQ(0x00, reply.data[0]); // direct access
    EXPECT_EQ(0x80, reply.data[1]); // removable
    EXPECT_EQ(31, reply.data[4]);
    EXPECT_EQ("VANE    ", std::string(reply.data.begin() + 8, reply.data.begin() + 16));
    EXPECT_EQ(5u, Run(Cdb6(0x12, 0, 0, 0, 5)).data.size()); // within the allocation length
}

TEST_F(Disk, InquiryVitalProductData)
{
    const ScsiOutcome pages = Run(Cdb6(0x12, 1, 0x00, 0, 255));
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83}), pages.data);
    const ScsiOutcome serial = Run(Cdb6(0x12, 1, 0x80, 0, 255));
    EXPECT_EQ("VANE0001", std::string(serial.data.begin() + 4, serial.data.end()));
    EXPECT_TRUE(Run(Cdb6(0x12, 1, 0xB0, 0, 255)).failed);
    ExpectSense(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb);
}

TEST_F(Disk, CapacityAndRead)
{
    const ScsiOutcome capacity = Run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 63, 0, 0, 2, 0}), capacity.data);
    const ScsiOutcome read = Run(Read10(3, 2));
    ASSERT_EQ(1024u, read.data.size());
    EXPECT_EQ(Pattern()[3 * 512 + 100], read.data[100]);
    EXPECT_TRUE(Run(Read10(63, 2)).failed);
    ExpectSense(kSenseKeyIllegalRequest, kAscLbaOutOfRange);
}

TEST_F(Disk, SenseIsReportedOnceAndUnknownOpcodesAreRefused)
{
    EXPECT_TRUE(Run({0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}).failed); // REPORT LUNS: not this disk's
    ExpectSense(kSenseKeyIllegalRequest, kAscInvalidCommandOpcode);
    ExpectSense(kSenseKeyNoSense, 0);
    EXPECT_FALSE(Run(Cdb6(0x00)).failed);                            // TEST UNIT READY
    EXPECT_FALSE(Run(Cdb6(0x1E, 0, 0, 0, 1)).failed);                 // PREVENT MEDIUM REMOVAL
    EXPECT_FALSE(Run({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).failed);      // SYNCHRONIZE CACHE
}

TEST_F(Disk, ModeSenseReportsWriteProtectAndTheCachingPage)
{
    const ScsiOutcome six = Run(Cdb6(0x1A, 0, 0x3F, 0, 192));
    ASSERT_EQ(4u + 20u, six.data.size());
    EXPECT_EQ(six.data.size() - 1, six.data[0]);
    EXPECT_EQ(0x80, six.data[2]);
    EXPECT_EQ(0x08, six.data[4]);
    const ScsiOutcome ten = Run({0x5A, 0, 0x08, 0, 0, 0, 0, 0, 255, 0});
    ASSERT_EQ(8u + 20u, ten.data.size());
    EXPECT_EQ(0x80, ten.data[3]);
    EXPECT_TRUE(Run(Cdb6(0x1A, 0, 0x19, 0, 192)).failed);
}

TEST_F(Disk, WritesAreTakenAndRefused)
{
    const ScsiOutcome write = Run({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, std::vector<uint8_t>(512, 0xAA));
    EXPECT_TRUE(write.failed);
    EXPECT_EQ(DataDirection::Out, write.direction);
    EXPECT_EQ(512u, write.wantedOut);
    ExpectSense(kSenseKeyDataProtect, kAscWriteProtected);
    EXPECT_EQ(Pattern(), disk.Volume());
}

// --- the vendor commands through the emulated target ---------------------------------

class Vendor : public ::testing::Test {
protected:
    Vendor() { device.Connect(); }
    CommandResponse Run(const CommandBlockWrapper& cbw, const std::vector<uint8_t>& out = {})
    {
        return device.Run(cbw, out);
    }
    VirtualClock clock;
    EmulatedTarget target{clock};
    ScsiDisk disk{std::vector<uint8_t>(kDiskBlockSize)};
    TargetDevice device{target, disk};
};

TEST_F(Vendor, RequestBlockCarriesTheWrapperUnchanged)
{
    IbrRequestBlock block;
    uint8_t buffer[16];
    const CommandBlockWrapper cbw = FromIbr(MakeWrite(4096));
    BuildRequestBlockFromCbw(block, cbw, buffer);
    EXPECT_EQ(kIbrDataOut, block.spt.DataIn);
    EXPECT_EQ(4096u, block.spt.DataTransferLength);
    EXPECT_EQ(10, block.spt.CdbLength);
    EXPECT_EQ(0u, block.spt.TimeOutValue);
    EXPECT_EQ(kIbrSenseInfoLength, block.spt.SenseInfoLength);
    EXPECT_EQ(0, std::memcmp(block.spt.Cdb, MakeWrite(4096).cdb, 10));
}

TEST_F(Vendor, PingAndChipId)
{
    const CommandResponse ping = Run(FromIbr(MakePing()));
    EXPECT_FALSE(ping.result.commandFailed);
    EXPECT_EQ(DataDirection::In, ping.result.direction);
    EXPECT_EQ((std::vector<uint8_t>{'I', 'B', 'R', 0, 1, 2, 0, 0}), ping.data);
    const CommandResponse chip = Run(FromIbr(MakeGetChipId()));
    ASSERT_EQ(8u, chip.data.size());
    EXPECT_EQ(kEmuCompanyId, chip.data[0]);
    EXPECT_EQ(kEmuChipId, chip.data[1]);
    // The target's own trace: CDB, direction, length; no timeout crosses the bus.
    const std::vector<std::string> trace = target.Trace();
    ASSERT_EQ(2u, trace.size());
    EXPECT_EQ("06 51 01 00 00 00 00 00 00 00 in 8 0 ok", trace[0]);
}

TEST_F(Vendor, LongRepliesAreSentWhole)
{
    const CommandResponse reply = Run(FromIbr(MakeSetAddressFlashLong()));
    EXPECT_FALSE(reply.result.commandFailed);
    EXPECT_EQ(kIbrLongReplyLength, reply.result.length);
    EXPECT_EQ(kIbrLongReplyLength, reply.data.size());
}

TEST_F(Vendor, RefusalBecomesCheckConditionWithTheTargetsSense)
{
    // Flash writes are refused while only the boot ROM runs.
    Run(FromIbr(MakeSetAddressFlashShort()));
    const CommandResponse write = Run(FromIbr(MakeWrite(256)), std::vector<uint8_t>(256, 0));
    EXPECT_TRUE(write.result.commandFailed);
    EXPECT_FALSE(write.result.transportFailed);
    const CommandResponse sense = Run(MakeCbw(Cdb6(0x03, 0, 0, 0, 18), DataDirection::In, 18));
    ASSERT_EQ(18u, sense.data.size());
    EXPECT_EQ(kSenseIllegalRequest, sense.data[2]);
    EXPECT_EQ(0x2C, sense.data[12]);
}

TEST_F(Vendor, DataOutReachesTheTarget)
{
    std::vector<uint8_t> code = MakeDemoFlashLoader();
    code.resize(4096);
    Run(FromIbr(MakeSetAddressSram()));
    EXPECT_FALSE(Run(FromIbr(MakeWrite(4096)), code).result.commandFailed);
    const std::vector<uint8_t> sram = target.Sram();
    EXPECT_TRUE(std::equal(code.begin(), code.end(), sram.begin()));
}

TEST_F(Vendor, TransportFaultAndStaleSessionFailTheTransport)
{
    FaultPlan faults;
    faults.failCommand = 1;
    target.SetFaults(faults);
    EXPECT_TRUE(Run(FromIbr(MakePing())).result.transportFailed);
    EXPECT_EQ(kEmuErrorDeviceFailure, device.LastTransportError());

    // Execute of the loader: the target leaves; until reconnected the session is stale.
    std::vector<uint8_t> loader = MakeDemoFlashLoader();
    loader.resize(4096);
    Run(FromIbr(MakeSetAddressSram()));
    Run(FromIbr(MakeWrite(4096)), loader);
    EXPECT_FALSE(Run(FromIbr(MakeExecute())).result.transportFailed);
    EXPECT_FALSE(target.Present());
    clock.Advance(2000);
    ASSERT_TRUE(target.Present());
    EXPECT_TRUE(Run(FromIbr(MakePing())).result.transportFailed);
    EXPECT_EQ(kEmuErrorNotConnected, device.LastTransportError());
    device.Connect();
    EXPECT_FALSE(Run(FromIbr(MakePing())).result.transportFailed);
    EXPECT_EQ(kFlashLoaderState, target.BootState());
}

TEST(FunctionDescriptors, MassStorageBulkOnly)
{
    const std::vector<uint8_t> descriptors = BuildFunctionDescriptors();
    ASSERT_EQ(12u + 8u + 2u * (9u + 7u + 7u), descriptors.size());
    EXPECT_EQ(descriptors.size(), descriptors[4] | descriptors[5] << 8);
    const uint8_t* fullSpeed = descriptors.data() + 20;
    EXPECT_EQ(kMassStorageClass, fullSpeed[5]);
    EXPECT_EQ(kScsiTransparentSubclass, fullSpeed[6]);
    EXPECT_EQ(kBulkOnlyProtocol, fullSpeed[7]);
    EXPECT_EQ(0x81, fullSpeed[9 + 2]);     // bulk-in first: ep1
    EXPECT_EQ(0x02, fullSpeed[9 + 7 + 2]); // then bulk-out: ep2
    const uint8_t* highSpeed = fullSpeed + 23;
    EXPECT_EQ(512, highSpeed[9 + 4] | highSpeed[9 + 5] << 8);
    const std::vector<uint8_t> strings = BuildFunctionStrings();
    EXPECT_EQ(strings.size(), strings[4] | strings[5] << 8);
    EXPECT_EQ(0, strings.back());
}

} // namespace

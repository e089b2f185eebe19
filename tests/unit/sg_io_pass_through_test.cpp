// The SG_IO port: request blocks into sg_io_hdr, and what counts as completed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "device/ibr_commands.h"
#include "platform/linux/sg_io_pass_through.h"

namespace {

struct TableRow {
    const char* name;
    IbrCommand command;
    int direction;
    unsigned length;
    unsigned timeoutMs;
};

// Named in test listings by the command, not by its bytes.
void PrintTo(const TableRow& row, std::ostream* os) { *os << row.name; }

class SgIoTranslation : public ::testing::TestWithParam<TableRow> {};

TEST_P(SgIoTranslation, EveryCommandOfTheTableBecomesOneHeader)
{
    const TableRow& row = GetParam();
    auto block = std::make_unique<IbrRequestBlock>();
    uint8_t data[65536];
    BuildRequestBlock(*block, row.command, data);
    const sg_io_hdr_t h = BuildSgIoHeader(*block, data);

    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, row.direction);
    EXPECT_EQ(h.dxfer_len, row.length);
    EXPECT_EQ(h.dxferp, row.length == 0 ? nullptr : static_cast<void*>(data));
    EXPECT_EQ(h.cmd_len, 10);
    EXPECT_EQ(h.cmdp, block->spt.Cdb);
    EXPECT_EQ(0, std::memcmp(h.cmdp, row.command.cdb, 10));
    EXPECT_EQ(h.mx_sb_len, 24);
    EXPECT_EQ(h.sbp, block->sense);
    EXPECT_EQ(h.timeout, row.timeoutMs);
}

INSTANTIATE_TEST_SUITE_P(
    CommandTable, SgIoTranslation,
    ::testing::Values(TableRow{"Ping", MakePing(), SG_DXFER_FROM_DEV, 8, 1000},
                      TableRow{"GetChipId", MakeGetChipId(), SG_DXFER_FROM_DEV, 8, 2000},
                      TableRow{"Read", MakeRead(4096), SG_DXFER_FROM_DEV, 4096, 2000},
                      TableRow{"ReadNothing", MakeRead(0), SG_DXFER_NONE, 0, 2000},
                      TableRow{"SetAddress", MakeSetAddress(0x40040000), SG_DXFER_FROM_DEV, 3583, 5000},
                      TableRow{"SetAddressFlashShort", MakeSetAddressFlashShort(), SG_DXFER_FROM_DEV, 8, 2000},
                      TableRow{"SetAddressFlashLong", MakeSetAddressFlashLong(), SG_DXFER_FROM_DEV, 3583, 2000},
                      TableRow{"SetAddressSram", MakeSetAddressSram(), SG_DXFER_FROM_DEV, 3583, 2000},
                      TableRow{"BlockErase", MakeBlockErase(), SG_DXFER_FROM_DEV, 8, 3000},
                      TableRow{"Write", MakeWrite(16384), SG_DXFER_TO_DEV, 16384, 30000},
                      TableRow{"WriteLongest", MakeWrite(65535), SG_DXFER_TO_DEV, 65535, 30000},
                      TableRow{"WriteNothing", MakeWrite(0), SG_DXFER_NONE, 0, 30000},
                      TableRow{"Execute", MakeExecute(), SG_DXFER_FROM_DEV, 3583, 5000},
                      TableRow{"GetStatus", MakeGetStatus(), SG_DXFER_FROM_DEV, 8, 3000},
                      TableRow{"GetState", MakeGetState(), SG_DXFER_FROM_DEV, 8, 5000}),
    [](const ::testing::TestParamInfo<TableRow>& info) { return std::string(info.param.name); });

TEST(SgIoTranslation, HugeTimeoutIsClampedInsteadOfWrapping)
{
    auto block = std::make_unique<IbrRequestBlock>();
    BuildRequestBlock(*block, MakePing(), nullptr);
    block->spt.TimeOutValue = 0xFFFFFFFF;
    EXPECT_EQ(BuildSgIoHeader(*block, nullptr).timeout, 0xFFFFFFFFu);
}

sg_io_hdr_t Answered(unsigned status, unsigned host, unsigned driver)
{
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.status = static_cast<unsigned char>(status);
    h.host_status = static_cast<unsigned short>(host);
    h.driver_status = static_cast<unsigned short>(driver);
    return h;
}

TEST(SgIoCompletion, CompletedOnlyWithCleanHostAndDriver)
{
    EXPECT_TRUE(SgIoCompletion(0, 0, Answered(0, 0, 0)).completed);
    // CHECK CONDITION with sense data: the target refused, the transport completed.
    const PassThroughResult check = SgIoCompletion(0, 0, Answered(0x02, 0, kSgDriverSense));
    EXPECT_TRUE(check.completed);
    EXPECT_EQ(check.systemError, 0u);

    EXPECT_EQ(SgIoCompletion(0, 0, Answered(0, kSgHostNoConnect, 0)).systemError, static_cast<uint32_t>(ENODEV));
    EXPECT_EQ(SgIoCompletion(0, 0, Answered(0, kSgHostTimeOut, 0)).systemError, static_cast<uint32_t>(ETIMEDOUT));
    EXPECT_EQ(SgIoCompletion(0, 0, Answered(0, kSgHostBusBusy, 0)).systemError, static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(SgIoCompletion(0, 0, Answered(0, 0x07, 0)).systemError, static_cast<uint32_t>(EIO));
    EXPECT_EQ(SgIoCompletion(0, 0, Answered(0, 0, kSgDriverTimeout)).systemError, static_cast<uint32_t>(ETIMEDOUT));
    EXPECT_EQ(SgIoCompletion(0, 0, Answered(0, 0, kSgDriverSense | kSgDriverTimeout)).systemError,
              static_cast<uint32_t>(ETIMEDOUT));
    for (unsigned host : {1u, 2u, 3u, 4u, 5u, 0x0Bu}) EXPECT_FALSE(SgIoCompletion(0, 0, Answered(0, host, 0)).completed) << host;
    for (unsigned driver : {1u, 2u, 4u, 6u, 0x0Eu}) EXPECT_FALSE(SgIoCompletion(0, 0, Answered(0, 0, driver)).completed) << driver;
}

TEST(SgIoCompletion, FailedIoctlCarriesItsErrno)
{
    const PassThroughResult gone = SgIoCompletion(-1, ENODEV, Answered(0, 0, 0));
    EXPECT_FALSE(gone.completed);
    EXPECT_EQ(gone.systemError, static_cast<uint32_t>(ENODEV));
    // An ioctl that failed without saying why still fails, never with error 0.
    EXPECT_EQ(SgIoCompletion(-1, 0, Answered(0, 0, 0)).systemError, static_cast<uint32_t>(EIO));
}

TEST(SgIoResult, StatusAndMovedLengthGoBackIntoTheBlock)
{
    auto block = std::make_unique<IbrRequestBlock>();
    BuildRequestBlock(*block, MakeRead(4096), nullptr);
    sg_io_hdr_t h = Answered(0x02, 0, kSgDriverSense);
    h.resid = 96;
    h.sb_len_wr = 18;
    StoreSgIoResult(h, *block);
    EXPECT_EQ(block->spt.ScsiStatus, 0x02);
    EXPECT_EQ(block->spt.DataTransferLength, 4000u);
    EXPECT_EQ(block->spt.SenseInfoLength, 18);
    // A residue larger than the request is nonsense and changes nothing.
    h.resid = 100000;
    StoreSgIoResult(h, *block);
    EXPECT_EQ(block->spt.DataTransferLength, 4000u);
}

TEST(SgIoPassThroughPort, NullHandleAndNonSgFilesFail)
{
    SgIoPassThrough port;
    auto block = std::make_unique<IbrRequestBlock>();
    uint8_t reply[8];
    BuildRequestBlock(*block, MakePing(), reply);
    const PassThroughResult none = port.Send(nullptr, *block, reply);
    EXPECT_FALSE(none.completed);
    EXPECT_EQ(none.systemError, port.InvalidHandleError());
    EXPECT_EQ(port.ErrorText(ENODEV), std::strerror(ENODEV));

    // /dev/null takes no SG_IO: the ioctl's failure is the port's failure.
    SgDevice devNull{open("/dev/null", O_RDWR), "/dev/null"};
    ASSERT_GE(devNull.fd, 0);
    const PassThroughResult refused = port.Send(&devNull, *block, reply);
    close(devNull.fd);
    EXPECT_FALSE(refused.completed);
    EXPECT_NE(refused.systemError, 0u);
}

TEST(SgIoOpen, OnlyScsiGenericNodesOpen)
{
    int errorNumber = 0;
    std::string text;
    EXPECT_EQ(OpenSgDevice("/dev/null", errorNumber, text), nullptr);
    EXPECT_EQ(errorNumber, ENOTTY);
    EXPECT_NE(text.find("not a SCSI generic node"), std::string::npos);
    EXPECT_EQ(OpenSgDevice("/dev/sg-that-is-not-there", errorNumber, text), nullptr);
    EXPECT_EQ(errorNumber, ENOENT);
    EXPECT_EQ(text, std::strerror(ENOENT));
    CloseSgDevice(nullptr); // harmless
}

} // namespace

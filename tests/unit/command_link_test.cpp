// The command link: every operation's request block, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/diagnostics.h"
#include "device/ibr_commands.h"

namespace {

// Records the request blocks it is handed; answers as configured.
class RecordingPort final : public IScsiPassThrough {
public:
    struct Seen {
        IbrRequestBlock block;
        void* buffer;
    };
    PassThroughResult Send(DeviceHandle, IbrRequestBlock& block, void* dataBuffer) override
    {
        auto seen = std::make_unique<Seen>();
        std::memcpy(&seen->block, &block, sizeof block);
        seen->buffer = dataBuffer;
        seen_.push_back(std::move(seen));
        if (complete) return {true, 0};
        return {false, 31};
    }
    // As Windows gives its messages: each ends in its own line break.
    std::string ErrorText(uint32_t e) override
    {
        if (e == 0) return "The operation completed successfully.\r\n";
        if (e == 6) return "The handle is invalid.\r\n";
        if (e == 87) return "The parameter is incorrect.\r\n";
        return "A device attached to the system is not functioning.\r\n";
    }
    uint32_t InvalidHandleError() override { return 6; }
    uint32_t InvalidParameterError() override { return 87; }

    const IbrRequestBlock& Last() const { return seen_.back()->block; }
    size_t Count() const { return seen_.size(); }
    bool complete = true;

private:
    std::vector<std::unique_ptr<Seen>> seen_;
};

DeviceHandle FakeHandle() { return reinterpret_cast<DeviceHandle>(0x1234); }

std::vector<uint8_t> CdbOf(const IbrRequestBlock& b) { return {b.spt.Cdb, b.spt.Cdb + 16}; }

std::vector<uint8_t> Cdb(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> v(bytes);
    v.resize(16, 0);
    return v;
}

void ExpectCommonFields(const IbrRequestBlock& b)
{
    EXPECT_EQ(b.spt.Length, 44);
    EXPECT_EQ(b.spt.ScsiStatus, 0);
    EXPECT_EQ(b.spt.PathId, 0);
    EXPECT_EQ(b.spt.TargetId, 1);
    EXPECT_EQ(b.spt.Lun, 0);
    EXPECT_EQ(b.spt.CdbLength, 10);
    EXPECT_EQ(b.spt.SenseInfoLength, 24);
    EXPECT_EQ(b.spt.SenseInfoOffset, 48u);
    EXPECT_EQ(b.filler, 0u);
    for (uint8_t s : b.sense) ASSERT_EQ(s, 0);
}

struct TableRow {
    const char* name;
    std::function<bool(IbrLink&, uint8_t*)> call;
    std::vector<uint8_t> cdb;
    uint8_t dataIn;
    uint32_t length;
    uint32_t timeout;
};

} // namespace

TEST(CommandLink, RequestBlockHasTheDocumentedLayout)
{
    EXPECT_EQ(sizeof(IbrRequestBlock), 65584u);
    EXPECT_EQ(kIbrSenseInfoOffset, 48u);
    EXPECT_EQ(kIbrPassThroughLength, 44);
}

TEST(CommandLink, EveryOperationBuildsItsTableRow)
{
    SilenceDiagnostics();
    std::vector<TableRow> rows = {
        {"ping", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrPing(FakeHandle(), b); }, Cdb({6, 0x51, 1}), 1, 8, 1},
        {"chip", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrGetChipID(FakeHandle(), b); }, Cdb({6, 0x85}), 1, 8, 2},
        {"read", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrRead(FakeHandle(), b, 65536); }, Cdb({6, 0x71, 0, 0, 1, 0}), 1, 65536, 2},
        {"setaddr", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrSetAddress(FakeHandle(), b, 0x40040000); }, Cdb({6, 0x55, 0, 0, 4, 0x40}), 1, 3583, 5},
        {"flash short", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrSetAddressFlashShort(FakeHandle(), b); }, Cdb({6, 0x55, 0, 0, 0, 0x40}), 1, 8, 2},
        {"flash long", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrSetAddressFlashLong(FakeHandle(), b); }, Cdb({6, 0x55, 0, 0, 0, 0x40}), 1, 3583, 2},
        {"sram", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrSetAddressSram(FakeHandle(), b); }, Cdb({6, 0x55, 0, 0, 0, 0}), 1, 3583, 2},
        {"erase", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrBlockErase(FakeHandle(), b); }, Cdb({6, 0x8B, 1, 0}), 1, 8, 3},
        {"write", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrWrite(FakeHandle(), b, 4660); }, Cdb({6, 0x72, 0x34, 0x12, 0, 0}), 0, 4660, 30},
        {"execute", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrExecute(FakeHandle(), b); }, Cdb({6, 0x60}), 1, 3583, 5},
        {"status", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrGetSTS(FakeHandle(), b); }, Cdb({6, 0x89}), 1, 8, 3},
        {"state", [](IbrLink& l, uint8_t* b) { return l.CMD_IbrGetState(FakeHandle(), b); }, Cdb({6, 0x91, 1}), 1, 8, 5},
    };
    std::vector<uint8_t> buffer(65536);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingPort port;
        IbrLink link(port);
        ASSERT_TRUE(row.call(link, buffer.data()));
        ASSERT_EQ(port.Count(), 1u);
        const IbrRequestBlock& b = port.Last();
        ExpectCommonFields(b);
        EXPECT_EQ(CdbOf(b), row.cdb);
        EXPECT_EQ(b.spt.DataIn, row.dataIn);
        EXPECT_EQ(b.spt.DataTransferLength, row.length);
        EXPECT_EQ(b.spt.TimeOutValue, row.timeout);
        EXPECT_EQ(b.spt.DataBuffer, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data())));
    }
}

TEST(CommandLink, TransportFailureIsFalseAndStatusTwoIsStillTrue)
{
    SilenceDiagnostics();
    RecordingPort port;
    IbrLink link(port);
    uint8_t reply[8] = {2};
    EXPECT_TRUE(link.CMD_IbrGetSTS(FakeHandle(), reply)); // a status of 2 is an answer, not a failure
    port.complete = false;
    EXPECT_FALSE(link.CMD_IbrGetSTS(FakeHandle(), reply));
}

TEST(CommandLink, NullHandleFailsAtOnceLeavingTheBufferAndStillWritesResultLines)
{
    RecordingPort port;
    IbrLink link(port);
    uint8_t buffer[3583];
    std::memset(buffer, 0xA5, sizeof buffer);
    DiagnosticCapture capture;
    EXPECT_FALSE(link.CMD_IbrPing(nullptr, buffer));
    EXPECT_FALSE(link.CMD_IbrRead(nullptr, buffer, 16));
    EXPECT_FALSE(link.CMD_IbrSetAddress(nullptr, buffer, 0));
    EXPECT_FALSE(link.CMD_IbrExecute(nullptr, buffer));
    EXPECT_FALSE(link.CMD_IbrWrite(nullptr, buffer, 256));
    EXPECT_FALSE(link.CMD_IbrGetState(nullptr, buffer));
    EXPECT_EQ(port.Count(), 0u);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xA5);
    EXPECT_EQ(capture.Text(),
              "\n.\\dudivivur 814 Result: The handle is invalid.\r\n\n"
              "\n.\\dudivivur 1267 Result: The handle is invalid.\r\n\n");
}

TEST(CommandLink, ResultLinesCarryTheSystemTextOfThisCall)
{
    RecordingPort port;
    IbrLink link(port);
    uint8_t buffer[256] = {};
    DiagnosticCapture capture;
    EXPECT_TRUE(link.CMD_IbrWrite(FakeHandle(), buffer, 256));
    port.complete = false;
    EXPECT_FALSE(link.CMD_IbrGetState(FakeHandle(), buffer));
    EXPECT_EQ(capture.Text(),
              "\n.\\dudivivur 814 Result: The operation completed successfully.\r\n\n"
              "\n.\\dudivivur 1267 Result: A device attached to the system is not functioning.\r\n\n");
}

TEST(CommandLink, OverlongWriteIsRefusedNotTruncated)
{
    RecordingPort port;
    IbrLink link(port);
    std::vector<uint8_t> buffer(65536);
    DiagnosticCapture capture;
    EXPECT_FALSE(link.CMD_IbrWrite(FakeHandle(), buffer.data(), 65536));
    EXPECT_EQ(port.Count(), 0u);
    EXPECT_EQ(capture.Text(), "\n.\\dudivivur 814 Result: The parameter is incorrect.\r\n\n"); // the port's own text
    EXPECT_TRUE(link.CMD_IbrWrite(FakeHandle(), buffer.data(), 65535));
    EXPECT_EQ(CdbOf(port.Last()), Cdb({6, 0x72, 0xFF, 0xFF, 0, 0}));
}

#include "device/ibr_commands.h"

#include <cstring>
#include <type_traits>

#include "device/diagnostics.h"

namespace {

IbrCommand Command(uint8_t subCode, uint8_t dataIn, uint32_t length, uint32_t timeout)
{
    IbrCommand c;
    c.cdb[0] = kIbrOpcode;
    c.cdb[1] = subCode;
    c.dataIn = dataIn;
    c.transferLength = length;
    c.timeoutSeconds = timeout;
    return c;
}

void PutLittleEndian32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

IbrCommand SetAddressForm(uint32_t address, uint32_t length, uint32_t timeout)
{
    IbrCommand c = Command(kIbrSubSetAddress, kIbrDataIn, length, timeout);
    PutLittleEndian32(&c.cdb[2], address);
    return c;
}

constexpr int kWriteResultNumber = 814;
constexpr int kGetStateResultNumber = 1267;

} // namespace

IbrCommand MakePing()
{
    IbrCommand c = Command(kIbrSubPing, kIbrDataIn, kIbrShortReplyLength, 1);
    c.cdb[2] = 0x01;
    return c;
}

IbrCommand MakeGetChipId() { return Command(kIbrSubGetChipId, kIbrDataIn, kIbrShortReplyLength, 2); }

IbrCommand MakeRead(uint32_t length)
{
    IbrCommand c = Command(kIbrSubRead, kIbrDataIn, length, 2);
    PutLittleEndian32(&c.cdb[2], length);
    return c;
}

IbrCommand MakeSetAddress(uint32_t address) { return SetAddressForm(address, kIbrLongReplyLength, 5); }
IbrCommand MakeSetAddressFlashShort() { return SetAddressForm(kIbrFlashBase, kIbrShortReplyLength, 2); }
IbrCommand MakeSetAddressFlashLong() { return SetAddressForm(kIbrFlashBase, kIbrLongReplyLength, 2); }
IbrCommand MakeSetAddressSram() { return SetAddressForm(0, kIbrLongReplyLength, 2); }

IbrCommand MakeBlockErase()
{
    IbrCommand c = Command(kIbrSubBlockErase, kIbrDataIn, kIbrShortReplyLength, 3);
    c.cdb[2] = 0x01;
    return c;
}

IbrCommand MakeWrite(uint32_t length)
{
    IbrCommand c = Command(kIbrSubWrite, kIbrDataOut, length, 30);
    c.cdb[2] = static_cast<uint8_t>(length);
    c.cdb[3] = static_cast<uint8_t>(length >> 8);
    return c;
}

IbrCommand MakeExecute() { return Command(kIbrSubExecute, kIbrDataIn, kIbrLongReplyLength, 5); }
IbrCommand MakeGetStatus() { return Command(kIbrSubGetStatus, kIbrDataIn, kIbrShortReplyLength, 3); }

IbrCommand MakeGetState()
{
    IbrCommand c = Command(kIbrSubGetState, kIbrDataIn, kIbrShortReplyLength, 5);
    c.cdb[2] = 0x01;
    return c;
}

void BuildRequestBlock(IbrRequestBlock& block, const IbrCommand& command, void* buffer)
{
    std::memset(&block, 0, sizeof block);
    block.spt.Length = kIbrPassThroughLength;
    block.spt.PathId = 0;
    block.spt.TargetId = kIbrTargetId;
    block.spt.Lun = 0;
    block.spt.CdbLength = kIbrCdbLength;
    block.spt.SenseInfoLength = kIbrSenseInfoLength;
    block.spt.DataIn = command.dataIn;
    block.spt.DataTransferLength = command.transferLength;
    block.spt.TimeOutValue = command.timeoutSeconds;
    SetRequestDataBuffer(block, buffer);
    block.spt.SenseInfoOffset = kIbrSenseInfoOffset;
    std::memcpy(block.spt.Cdb, command.cdb, sizeof command.cdb);
}

void WriteSystemErrorLine(int number, const std::string& messageText)
{
    DiagPrintf("\n%s %d Result: %s\n", ".\\dudivivur", number, messageText.c_str());
}

PassThroughResult IbrLink::Send(DeviceHandle device, const IbrCommand& command, void* buffer)
{
    if (device == nullptr) return {false, port_.InvalidHandleError()};
    // The block is 64 KiB: kept off the stack of the job threads, one per
    // thread, reused for every command that thread sends. It is a plain
    // block with nothing to destroy: MinGW's runtime frees a thread's
    // storage before running the destructors of its thread_locals, so an
    // owning pointer here would be read after that storage was freed.
    static_assert(std::is_trivially_destructible_v<IbrRequestBlock>);
    thread_local IbrRequestBlock block;
    BuildRequestBlock(block, command, buffer);
    return port_.Send(device, block, buffer);
}

void IbrLink::WriteResultLine(int number, uint32_t systemError)
{
    WriteSystemErrorLine(number, port_.ErrorText(systemError));
}

bool IbrLink::CMD_IbrPing(DeviceHandle d, uint8_t* b) { return Send(d, MakePing(), b).completed; }
bool IbrLink::CMD_IbrGetChipID(DeviceHandle d, uint8_t* b) { return Send(d, MakeGetChipId(), b).completed; }
bool IbrLink::CMD_IbrRead(DeviceHandle d, uint8_t* b, uint32_t length) { return Send(d, MakeRead(length), b).completed; }
bool IbrLink::CMD_IbrSetAddress(DeviceHandle d, uint8_t* b, uint32_t address) { return Send(d, MakeSetAddress(address), b).completed; }
bool IbrLink::CMD_IbrSetAddressFlashShort(DeviceHandle d, uint8_t* b) { return Send(d, MakeSetAddressFlashShort(), b).completed; }
bool IbrLink::CMD_IbrSetAddressFlashLong(DeviceHandle d, uint8_t* b) { return Send(d, MakeSetAddressFlashLong(), b).completed; }
bool IbrLink::CMD_IbrSetAddressSram(DeviceHandle d, uint8_t* b) { return Send(d, MakeSetAddressSram(), b).completed; }
bool IbrLink::CMD_IbrBlockErase(DeviceHandle d, uint8_t* b) { return Send(d, MakeBlockErase(), b).completed; }
bool IbrLink::CMD_IbrExecute(DeviceHandle d, uint8_t* b) { return Send(d, MakeExecute(), b).completed; }
bool IbrLink::CMD_IbrGetSTS(DeviceHandle d, uint8_t* b) { return Send(d, MakeGetStatus(), b).completed; }

bool IbrLink::CMD_IbrWrite(DeviceHandle d, const uint8_t* b, uint32_t length)
{
    if (length > kIbrMaxWriteLength) {
        // The CDB holds 16 bits of length: never send a truncated one.
        WriteResultLine(kWriteResultNumber, port_.InvalidParameterError());
        return false;
    }
    const PassThroughResult r = Send(d, MakeWrite(length), const_cast<uint8_t*>(b));
    WriteResultLine(kWriteResultNumber, r.systemError);
    return r.completed;
}

bool IbrLink::CMD_IbrGetState(DeviceHandle d, uint8_t* b)
{
    PassThroughResult r = Send(d, MakeGetState(), b);
    WriteResultLine(kGetStateResultNumber, r.systemError);
    return r.completed;
}

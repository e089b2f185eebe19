// Hostile replies for a whole upgrade: every reply of one sub-code starts with
// chosen bytes, a final status of any value, any boot state, one flipped
// reply byte, erases that stay busy for a while. Whatever the target answers:
// the job ends, the dialog is released, "Complete!" (or a success outcome)
// only with the image and the identity on the flash, nothing written outside
// the blocks the upgrade erases, and kept bytes never lost without a named copy.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "fuzz/fuzz_rig.h"
#include "firmware/image_name.h"

namespace {

constexpr uint32_t kBlock = 64 * 1024;
constexpr size_t kImageSize = 70000; // two blocks, a short last piece
constexpr uint32_t kIdBlock = kEmuIdBlockOffset;
constexpr uint32_t kCheckedSize = 6 * kBlock;
const char kImageName[] = "Vane_TX_V1030.fir";

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = 0x2545F491;
    for (uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 7);
    }
    return bytes;
}

const std::string& ImagePath()
{
    static const std::string path = [] {
        const auto p = FuzzFolder() / "small" / kImageName;
        WriteFuzzFile(p, MakeDemoFirmware(kImageSize));
        return p.string();
    }();
    return path;
}

bool Equal(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t offset, uint32_t length)
{
    return std::equal(a.begin() + offset, a.begin() + offset + length, b.begin() + offset);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static const uint8_t kSubCodes[] = {kIbrSubPing, kIbrSubGetChipId, kIbrSubRead, kIbrSubSetAddress, kIbrSubBlockErase,
                                        kIbrSubWrite, kIbrSubExecute, kIbrSubGetStatus, kIbrSubGetState};
    const uint8_t states[] = {kBootRomState, kFlashLoaderState, in.ConsumeIntegral<uint8_t>()};
    const uint8_t bootState = in.PickValueInArray(states);
    FaultPlan plan;
    plan.replySubCode = in.PickValueInArray(kSubCodes);
    plan.replyBytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 16));
    plan.finalStatus = in.ConsumeBool() ? -1 : in.ConsumeIntegral<uint8_t>();
    TimingModel timing;
    timing.erasePolls = in.ConsumeIntegralInRange<uint32_t>(0, 4);
    const uint64_t flipAt = in.ConsumeIntegralInRange<uint64_t>(0, 120);
    plan.flipOffset = in.ConsumeIntegral<uint16_t>();

    std::error_code ignored;
    std::filesystem::remove_all(FuzzFolder() / "Backup", ignored); // copies of earlier inputs
    std::vector<uint8_t> before;
    FuzzRig rig(bootState, [&](FuzzRig& r) {
        r.target.LoadFlash(0, Pattern(kCheckedSize));
        r.target.SetIdentityText(kEmuDefaultIdentity);
        before = r.target.Flash();
        r.target.SetTiming(timing);
        r.target.SetFaults(plan);
    });
    if (flipAt != 0) rig.target.Faults().flipReadAt = rig.target.CommandCount() + flipAt;
    rig.window->AdvanceTime(kGetVersionDelayMs);
    rig.WaitIdle();
    rig.dlg->ShowCodePath(ImagePath());
    rig.dlg->RefreshCodeFileInfo(ImagePath());
    const size_t boxesBefore = rig.window->MessageBoxes().size();
    const int jobsBefore = rig.dlg->JobsFinished();
    rig.Press();

    FuzzCheck(rig.dlg->Threads().Idle() && !rig.dlg->m_bBusy, "the dialog is released");
    const std::vector<uint8_t> flash = rig.target.Flash();
    for (uint32_t block = 2 * kBlock; block < kCheckedSize; block += kBlock)
        if (block != kIdBlock) FuzzCheck(Equal(flash, before, block, kBlock), "nothing changes outside the erased blocks");

    const bool imageOk = std::equal(flash.begin(), flash.begin() + kImageSize, MakeDemoFirmware(kImageSize).begin());
    const bool textOk = std::equal(kImageName, kImageName + sizeof kImageName - 1, flash.begin() + kIdBlock + 16);
    const uint32_t tail = kIdBlock + 16 + sizeof kImageName - 1;
    const bool keptOk = Equal(flash, before, kIdBlock, 16) && Equal(flash, before, tail, kIdBlock + 256 - tail);
    const std::string status = rig.window->Text(IDC_PROGRESS_TEXT);
    const bool claimed = status.rfind("Complete!", 0) == 0 ||
                         (rig.dlg->JobsFinished() > jobsBefore && rig.dlg->LastJobOutcome() == JobOutcome::Succeeded);
    if (claimed) FuzzCheck(imageOk && textOk && keptOk, "success is claimed only for what the flash holds");
    // Every read answered with the same wrong bytes defeats reading twice: the
    // copy then holds what the reads said (a limit of the method, not checked).
    const bool readsLie = plan.replySubCode == kIbrSubRead && !plan.replyBytes.empty();
    if (!keptOk && !readsLie) {
        bool named = status.find("Backup") != std::string::npos;
        const auto boxes = rig.window->MessageBoxes();
        for (size_t i = boxesBefore; i < boxes.size(); ++i) named |= boxes[i].text.find("Backup") != std::string::npos;
        if (!named) {
            std::fprintf(stderr, "state %d sub %02x bytes %zu final %d flip %llu@%u polls %u\n", bootState, plan.replySubCode,
                         plan.replyBytes.size(), plan.finalStatus, static_cast<unsigned long long>(flipAt), plan.flipOffset,
                         timing.erasePolls);
            for (uint32_t a = kIdBlock; a < kIdBlock + 256; ++a)
                if (flash[a] != before[a]) std::fprintf(stderr, "  0x%x: %02x was %02x\n", a, flash[a], before[a]);
            std::fprintf(stderr, "status [%s], %zu boxes:\n", status.c_str(), boxes.size() - boxesBefore);
            for (size_t i = boxesBefore; i < boxes.size(); ++i) std::fprintf(stderr, "  [%s]\n", boxes[i].text.c_str());
        }
        FuzzCheck(named, "lost identity bytes are in a named copy");
    }
    return 0;
}

// Numbers typed by the user: the hexadecimal series-number text, and the
// dump size (decimal, as atoi reads it, up to the flash size) through a whole
// dump on the dialog.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdio>

#include "fuzz/fuzz_rig.h"
#include "operations/hex_text.h"

namespace {

uint32_t ReferenceHex(const std::string& text)
{
    size_t i = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    uint64_t value = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        value = (value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10)) & 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

// The size a dump takes from its text, or nothing when it is refused.
std::optional<uint32_t> ReferenceDumpSize(const std::string& text, uint64_t limit)
{
    if (text.empty()) return std::nullopt;
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > limit) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<uint32_t>(value);
}

FuzzRig& Rig()
{
    static FuzzRig* rig = [] {
        auto* r = new FuzzRig();
        r->window->AdvanceTime(kGetVersionDelayMs);
        r->WaitIdle();
        r->window->SelectComboRow(IDC_MODE, kModeRowDump);
        r->window->QueueFilePath((FuzzFolder() / "dump.bin").string());
        r->window->SendClick(IDC_CODE_BUTTON);
        return r;
    }();
    return *rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string hex = in.ConsumeRandomLengthString(40);
    FuzzCheck(HexTextToUInt(hex) == ReferenceHex(hex), "hex text reads its leading digits modulo 2^32");

    // A known flash size keeps the dumps small; its text may carry anything after the digits.
    const uint32_t limit = in.ConsumeIntegralInRange<uint32_t>(1, 0x10000);
    char limitText[16];
    std::snprintf(limitText, sizeof limitText, in.ConsumeBool() ? "%x" : "%X", limit);
    std::string suffix = in.ConsumeRandomLengthString(4);
    std::erase_if(suffix, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    const std::string flashSize = limitText + suffix;
    const std::string sizeText = in.ConsumeRandomLengthString(40);

    FuzzRig& rig = Rig();
    rig.dlg->m_strFlashSize = flashSize;
    rig.window->SetWindowText(IDC_DUMP_LENGTH, sizeText);
    std::error_code ignored;
    std::filesystem::remove(FuzzFolder() / "dump.bin", ignored);
    const size_t boxes = rig.window->MessageBoxes().size();
    rig.Press();
    FuzzCheck(!rig.dlg->m_bBusy && rig.dlg->Threads().Idle(), "the dialog is released");

    const std::optional<uint32_t> expected = ReferenceDumpSize(sizeText, limit);
    const bool complete = rig.window->Text(IDC_PROGRESS_TEXT) == "Complete!";
    if (complete != expected.has_value())
        std::fprintf(stderr, "size text [%s] flash size [%s] status [%s]\n", sizeText.c_str(), flashSize.c_str(),
                     rig.window->Text(IDC_PROGRESS_TEXT).c_str());
    FuzzCheck(complete == expected.has_value(), "a size is dumped exactly when it is valid");
    if (expected) {
        const std::vector<uint8_t> file = ReadFuzzFile(FuzzFolder() / "dump.bin");
        const std::vector<uint8_t> flash = rig.target.Flash();
        FuzzCheck(file.size() == *expected && std::equal(file.begin(), file.end(), flash.begin()), "the file holds the flash");
    } else {
        const auto shown = rig.window->MessageBoxes();
        FuzzCheck(shown.size() > boxes && shown[boxes].text == "Please Check Read Data Size Value", "a refused size says so");
    }
    return 0;
}

// Image names and identity texts of any length and content: the version and
// model-tag rules of a name, and the identity step, the version read and the
// hex read on a device whose identity block holds anything at all.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>

#include "fuzz/fuzz_rig.h"
#include "firmware/image_name.h"

namespace {

constexpr uint32_t kIdBlock = kEmuIdBlockOffset;

void CheckNameRules(const std::string& name)
{
    const std::optional<uint32_t> version = VersionNumberOf(name);
    FuzzCheck(version.has_value() == (name.size() >= kMinVersionedNameLength), "a version needs twelve characters");
    if (version) {
        auto d = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(name[i])) - '0'; };
        FuzzCheck(*version == d(9) * 100u + d(10) * 10u + d(11), "the version is characters 9 to 11");
    }
    FuzzCheck(HasModelTag(name) == (name.size() >= kModelTagLength && name.compare(0, kModelTagLength, kModelTag) == 0),
              "the model tag is the first seven characters");
    const std::string file = FileNameOf(name);
    FuzzCheck(file.find_first_of("\\/") == std::string::npos, "a file name has no separator");
    FuzzCheck(name.size() >= file.size() && name.compare(name.size() - file.size(), file.size(), file) == 0,
              "the file name ends the path");
}

// One dialog for the whole run: flash mode, identity step only.
FuzzRig& Rig()
{
    static FuzzRig* rig = [] {
        auto* r = new FuzzRig(kFlashLoaderState);
        r->window->SetCheck(IDC_CODE_OPTION, false);
        r->window->KillTimer(kTimerFileInfo); // it would put the image's name back into the edits
        return r;
    }();
    return *rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string name = in.ConsumeRandomLengthString(300);
    CheckNameRules(name);
    const std::string text = in.ConsumeRandomLengthString(600);
    CheckNameRules(text);
    const std::vector<uint8_t> device = in.ConsumeBytes<uint8_t>(256);
    const int answer = in.ConsumeBool() ? IDOK : IDCANCEL;

    FuzzRig& rig = Rig();
    std::error_code ignored;
    std::filesystem::remove_all(FuzzFolder() / "Backup", ignored);
    rig.target.LoadFlash(kIdBlock, device);
    const std::vector<uint8_t> block = [&] {
        std::vector<uint8_t> f = rig.target.Flash();
        return std::vector<uint8_t>(f.begin() + kIdBlock, f.begin() + kIdBlock + 256);
    }();

    // The version read shows at most 13 characters, up to the first zero.
    rig.window->SendClick(IDC_GET_VER);
    std::string shown;
    for (size_t i = 16; i < 29 && block[i] != 0; ++i) shown += static_cast<char>(block[i]);
    FuzzCheck(rig.window->Text(IDC_VERSION) == "Current version:" + shown, "the version read shows the identity");
    rig.window->SendClick(IDC_READ_ID_HEX);
    FuzzCheck(rig.window->Text(IDC_ID_HEX).size() == 40, "the hex read shows 20 bytes");

    // The identity step: either nothing written, or the block with the text
    // (cut to its 240 characters) in place of the name.
    rig.window->SetWindowText(IDC_CODE_NAME, name);
    rig.window->SetWindowText(IDC_ID_TEXT, text);
    rig.window->SetDefaultAnswer(answer);
    rig.Press();
    rig.window->SetDefaultAnswer(IDOK);
    std::vector<uint8_t> written = block;
    const size_t stored = std::min<size_t>(text.size(), 240);
    std::memcpy(written.data() + 16, text.data(), stored);
    const std::vector<uint8_t> flash = rig.target.Flash();
    const std::vector<uint8_t> now(flash.begin() + kIdBlock, flash.begin() + kIdBlock + 256);
    const bool complete = rig.window->Text(IDC_PROGRESS_TEXT) == "Complete!";
    FuzzCheck(!rig.dlg->m_bBusy && rig.dlg->Threads().Idle(), "the dialog is released");
    FuzzCheck(now == block || now == written, "the identity block is as it was or holds the new text");
    // A declined question ends at "Complete!" too, with the block untouched.
    if (complete && answer == IDOK) FuzzCheck(now == written, "\"Complete!\" after OK only with the text written");
    return 0;
}

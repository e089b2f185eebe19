// The main window's look: the skin, the colours of the controls, the progress
// bar's colours, the tooltips and the button pictures.
#include "app/rodediz_dlg.h"

namespace {

constexpr Colour kWhite = Rgb(255, 255, 255);
constexpr Colour kBlack = Rgb(0, 0, 0);
constexpr Colour kValueBlue = Rgb(0, 0, 255);
constexpr Colour kProgressBar = Rgb(0, 0, 160);

// Statics that show values: blue text over the skin.
constexpr int kValueTexts[] = {
    IDC_STATUS, IDC_PROGRESS_TEXT, IDC_PRODUCT_LINE, IDC_MODEL, IDC_CODE_NAME,
    IDC_DATA_NAME, IDC_CODE_DATE, IDC_DATA_DATE, IDC_CODE_SIZE, IDC_OFFSET_DISPLAY,
    IDC_SERIES_DISPLAY, IDC_DATA_SIZE, IDC_DATA_START, IDC_HEX_PREFIX_LABEL, IDC_VERSION,
};

constexpr int kEdits[] = {
    IDC_CODE_PATH, IDC_SERIES_EDIT, IDC_OFFSET_EDIT, IDC_DATA_PATH, IDC_DUMP_LENGTH,
};

// Statics that name a value: black text over the skin. Controls without an
// identifier of their own (-1) are labels too.
constexpr int kLabels[] = {
    IDC_USING_FOR_LABEL, IDC_DUMP_UNIT, IDC_PATH_LABEL, IDC_UPGRADE_TO_LABEL,
    IDC_RELEASED_LABEL, IDC_FILE_NAME_LABEL, IDC_SIZE_LABEL, IDC_NUMBER_LABEL,
    IDC_OFFSET_LABEL, IDC_SERIES_OPTION_LABEL, IDC_DATE_LABEL, IDC_DATA_SIZE_LABEL,
    IDC_ADDRESS_LABEL, IDC_STATUS_LABEL, -1,
};

template <size_t N>
bool IsIn(const int (&ids)[N], int id)
{
    for (int candidate : ids)
        if (candidate == id) return true;
    return false;
}

struct ToolTipRow {
    int id;
    const char* text;
};

// Texts as the product has always shown them, spelling included.
constexpr ToolTipRow kToolTips[] = {
    {IDC_EXIT, "[Exit] Close Dialog and Leave"},
    {IDC_EXECUTE, "[Upgrade] Upgrade data to target"},
    {IDC_CODE_BUTTON, "Open File Dialog and select your file"},
    {IDC_DUMP_LENGTH, "Fill in decimal number you want to Dump within SPI Flash"},
    {IDC_SERIES_OPTION_LABEL, "Write the series number into the specified address"},
    {IDC_SERIES_OPTION_LABEL, "Write the series number into the specified address"},
    {IDC_OFFSET_DISPLAY, "Doblue click to modify the offset address"},
    {IDC_SERIES_DISPLAY, "Doblue click to modify the series number"},
    {IDC_PROGRESS, "Current Progress "},
};

constexpr int kMaxTipWidth = 400;

} // namespace

void CRODEdizDlg::OnPaint(ICanvas& canvas, const Rect& client)
{
    // Loaded and stretched anew on every paint: nothing is cached.
    canvas.StretchBitmap(IDB_SKIN, client);
}

CtlColorResult CRODEdizDlg::OnCtlColor(int controlId)
{
    CtlColorResult result = CDialog::OnCtlColor(controlId); // its brush is replaced below
    result.brush = &m_brBack;
    if (IsIn(kValueTexts, controlId)) {
        result.setTextColour = true;
        result.textColour = kValueBlue;
        result.setBkColour = true;
        result.bkColour = kWhite;
        result.bkMode = CtlColorResult::BkMode::Transparent;
    } else if (IsIn(kEdits, controlId)) {
        result.setTextColour = true;
        result.textColour = kValueBlue;
        result.setBkColour = true;
        result.bkColour = m_crEditBk;
        result.brush = &m_brEdit;
    } else if (IsIn(kLabels, controlId)) {
        result.setTextColour = true;
        result.textColour = kBlack;
        result.bkMode = CtlColorResult::BkMode::Transparent;
    } else if (controlId == IDD_RODEDIZ_DIALOG) {
        result.setBkColour = true;
        result.bkColour = kWhite;
    }
    return result;
}

void CRODEdizDlg::SetupProgressBar()
{
    m_ctlProgress.SetRange(0, 100);
    m_ctlProgress.SetBkColor(kWhite);
    m_ctlProgress.SetBarColor(kProgressBar);
}

void CRODEdizDlg::SetupToolTips()
{
    m_toolTip.Create(Window());
    m_toolTip.Activate(true);
    for (const ToolTipRow& row : kToolTips) m_toolTip.AddTool(row.id, row.text);
    m_toolTip.SetMaxTipWidth(kMaxTipWidth);
}

void CRODEdizDlg::SetupEditColours()
{
    m_crEditBk = kWhite;
    m_brEdit.CreateSolidBrush(m_crEditBk);
    m_brBack.CreateSolidBrush(kWhite);
}

void CRODEdizDlg::SetupButtonPictures()
{
    m_btnExecute.SetBitmap(IDB_EXECUTE);
    m_btnExit.SetBitmap(IDB_EXIT);
}

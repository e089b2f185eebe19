// The action button: checks, the boot-state question, and the job it starts.
#include <cstdio>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "operations/hex_text.h"

bool CRODEdizDlg::StartJob(void (CRODEdizDlg::*job)())
{
    // The busy flag is taken here, before the thread starts, so that a second
    // press (or Return) can never start a second job on the same handle. A job
    // releases the flag at its own exits: until its thread has finished (the
    // in-job flag clears) nothing new starts, or the end below would clear the
    // flag of the newcomer.
    if (m_bInJob || m_bBusy.exchange(true)) return false;
    m_bInJob = true;
    // Before the thread runs: a mode change meanwhile would query the target
    // in the middle of the job's commands (the jobs enable them at their ends).
    EnableJobControls(false);
    m_bJobFailed = false;
    {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        m_strJobFailure.clear();
        m_outcome.seriesAdvanced = false;
    }
    m_jobOutcome = JobOutcome::Running;
    m_threads.Start([this, job] {
        std::lock_guard<std::mutex> buffers(m_jobMutex);
        (this->*job)();
        // Whatever exit the job took, it releases the target.
        if (m_jobOutcome == JobOutcome::Running) m_jobOutcome = m_bJobFailed ? JobOutcome::Failed : JobOutcome::Succeeded;
        m_bBusy = false;
        m_bInJob = false; // last: from here on a new job or monitor run may take the flag
        ++m_nJobsFinished;
        StartPendingVersionRead();
    });
    return true;
}

void CRODEdizDlg::MarkJobFailed(const std::string& failure)
{
    // The job goes on after some failures: the last one reported is what ended it.
    std::lock_guard<std::mutex> lock(m_outcomeMutex);
    m_bJobFailed = true;
    m_strJobFailure = failure;
}

std::string CRODEdizDlg::LastJobFailure() const
{
    std::lock_guard<std::mutex> lock(m_outcomeMutex);
    return m_strJobFailure;
}

void CRODEdizDlg::OnExecute()
{
    if (m_bBusy || m_bInJob || !m_bConnected || m_bClosing) return;
    const int row = SelectedMode();
    if (row == kModeRowSram) {
        if (m_nCodeSize <= 0) {
            AfxMessageBox("Please Check your file!!");
            return;
        }
        if (m_link.CMD_IbrGetState(m_hDevice, m_abyReply) && m_abyReply[0] == kIbrStateFlash) m_bFlashMode = true;
        StartJob(&CRODEdizDlg::DownloadSram);
        return;
    }
    if (row == kModeRowSpi) {
        const std::string codePath = GetDlgItemText(IDC_CODE_PATH);
        if (codePath.empty()) {
            AfxMessageBox("Please Check your file!");
            return;
        }
        // An empty image would write zeros over unerased flash and verify nothing.
        auto isEmptyFile = [this](const std::string& path) {
            std::string error;
            auto file = Services().files.Open(path, FileOpenMode::Read, error);
            return file && file->Length() == 0;
        };
        if (Window()->GetCheck(IDC_CODE_OPTION) && isEmptyFile(CodePathSnapshot())) {
            AfxMessageBox("Please Check your file!");
            return;
        }
        if (Window()->GetCheck(IDC_DATA_OPTION)) {
            if (GetDlgItemText(IDC_DATA_PATH).empty() || isEmptyFile(DataPathSnapshot())) {
                AfxMessageBox("Please Check your file!");
                return;
            }
            // The start that the data step will use, not the one of the last run.
            uint32_t start = 0;
            ParseHex(GetDlgItemText(IDC_DATA_START), start);
            m_nSpiSeriesOffset = start;
            if (m_nSpiSeriesOffset % 256 != 0) {
                AfxMessageBox("Start Address must be PAGE alignment (256 bytes)");
                return;
            }
        }
        SetStatusLine("Download to SPI Falsh");
        if (!m_link.CMD_IbrPing(m_hDevice, m_abyReply)) {
            // No job starts: say so instead of leaving the status line as if one ran.
            AfxMessageBox("Ping FAILED");
            return;
        }
        for (int i = 0; i < 4; ++i)
            if (m_link.CMD_IbrGetState(m_hDevice, m_abyReply)) break;
        if (m_abyReply[0] == kIbrStateFlash) {
            StartJob(&CRODEdizDlg::DownloadSpiFlash);
        } else {
            StartJob(&CRODEdizDlg::LoadFlashLoader);
        }
        return;
    }
    StartJob(&CRODEdizDlg::DumpSpiFlash);
}

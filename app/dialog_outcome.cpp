// The dialog's outcome: the facts its handlers decided, kept beside the
// texts they show so that a front end without a screen reads them here.
#include "app/rodediz_dlg.h"

DialogOutcome CRODEdizDlg::Outcome() const
{
    DialogOutcome outcome;
    {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        outcome = m_outcome;
        outcome.jobFailure = m_strJobFailure;
    }
    outcome.connected = m_bConnected;
    outcome.target = m_hDevice;
    outcome.busy = m_bBusy || !m_threads.Idle();
    outcome.jobsFinished = m_nJobsFinished;
    outcome.job = m_jobOutcome;
    return outcome;
}

void CRODEdizDlg::SetStatusLine(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        m_outcome.statusLine = text;
    }
    m_ctlProgressText.SetWindowText(text);
}

void CRODEdizDlg::ShowVersion(const std::string& line, bool read, const std::string& version)
{
    {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        m_outcome.versionRead = read;
        m_outcome.version = version;
        m_outcome.versionLine = line;
    }
    SetDlgItemText(IDC_VERSION, line);
}

void CRODEdizDlg::OnMessageBoxClosed(const std::string& text, unsigned type, int answer)
{
    std::lock_guard<std::mutex> lock(m_outcomeMutex);
    m_outcome.lastMessage = text;
    if ((type & 0xF) == MB_OK) ++m_outcome.messagesShown;
    else if (answer != IDOK) ++m_outcome.questionsDeclined;
}

#pragma once
// The main dialog: the whole state of a run, its controls and handlers.
// The connection monitor, the jobs and the dispatcher are member operations
// of this one object, each in the file of its subsystem.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/dialog_outcome.h"
#include "app/dialog_services.h"
#include "controls/clr_button.h"
#include "controls/new_edit.h"
#include "device/ibr_commands.h"
#include "framework/dialog.h"
#include "framework/thread_keeper.h"
#include "resources/resource.h"

constexpr int kTimerFileInfo = 1;
constexpr int kTimerGetVersion = 2;
constexpr unsigned kFileInfoPeriodMs = 2000;
constexpr unsigned kGetVersionDelayMs = 200;
constexpr int kVolumeSlots = 32;
constexpr int kVolumePathSlots = 8;
constexpr int kModeRowSram = 0;
constexpr int kModeRowSpi = 1;
constexpr int kModeRowDump = 2;

// A process-wide flag: the user declined a compatibility question.
extern std::atomic<bool> g_bDeclined;

class CAboutDlg : public CDialog {
public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
};

class KeptBytesCopy;
class PieceSource;

class CRODEdizDlg : public CDialog {
public:
    explicit CRODEdizDlg(DialogServices services);
    ~CRODEdizDlg() override;

    // --- framework overrides ---
    bool OnInitDialog() override;
    bool PreTranslateMessage(const Message& message) override;
    intptr_t WindowProc(const Message& message) override;
    CtlColorResult OnCtlColor(int controlId) override;
    void OnPaint(ICanvas& canvas, const Rect& client) override;
    void OnOK() override;
    void OnCancel() override;

    // --- job control ---
    void EnableJobControls(bool enable);
    // Waits for every worker and monitor thread while the window keeps running.
    void WaitForThreads();
    ThreadKeeper& Threads() { return m_threads; }
    JobOutcome LastJobOutcome() const { return m_jobOutcome.load(); }
    std::string LastJobFailure() const;
    int JobsFinished() const { return m_nJobsFinished.load(); }
    // What the handlers decided so far, as one copy (see app/dialog_outcome.h).
    DialogOutcome Outcome() const;

    // --- discovery (device link) ---
    bool FindTargetVolume(const std::string& pid);

    // --- connection monitor ---
    void ConnectTarget(int maxAttempts);
    static unsigned ConnectThreadProc(void* dialog);
    void OnReconnect();
    void ShowTargetModel();
    void WriteRegistryIds(const std::string& pid);
    // Starts a monitor run on a thread of its own unless one runs (takes the busy flag first).
    bool StartConnectThread();

    // --- firmware images ---
    void RefreshCodeFileInfo(std::string path);
    void RefreshDataFileInfo(std::string path);
    void ShowCodePath(const std::string& path);
    void ShowDataPath(const std::string& path);
    void InitDefaultFiles();

    // --- identity ---
    void OnWriteId();
    void OnGetVer();
    void OnReadIdHex();

    // --- jobs ---
    void DownloadSpiFlash();
    void DownloadSpiData();
    bool CompareBuffer(const uint8_t* expected, const uint8_t* actual, uint32_t count);
    void DownloadSram();
    void LoadFlashLoader();
    void DumpSpiFlash();
    bool ReadFlashToFile();
    bool BurnSeriesNumber();
    void AdvanceSeriesNumber();

    // --- dispatch ---
    void OnExecute();

    // --- file selection and mode controls ---
    void OnSelchangeMode();
    void OnCodeButton();
    void OnDataButton();
    void OnDropFiles(const std::vector<std::string>& files);
    void OnUpdateCodePath();

    // --- dialog handlers ---
    void OnTimer(uintptr_t timerId);
    void OnSysCommand(uint32_t id);
    void OnOffsetDisplayDblClk();
    void OnSeriesDisplayDblClk();
    void OnOffsetEditKillFocus();
    void OnSeriesEditKillFocus();
    void OnOffsetEditSetFocus();
    void OnSeriesEditSetFocus();
    void ApplySeriesOption();
    void ToggleSeriesOption();
    void CommitOffsetEditor();
    void CommitSeriesEditor();

    // --- state (names as the rest of the program uses them) ---
    int m_hIcon = IDR_MAINFRAME;
    DeviceHandle m_hVolume[kVolumeSlots] = {};
    std::atomic<DeviceHandle> m_hDevice{nullptr};
    std::string m_strHardwareId;
    std::string m_strVolumePath[kVolumePathSlots];
    int32_t m_nVolumeIndex = 0;
    RegistryKey m_hRegKey = nullptr;
    uint32_t m_nSeriesNumber = 0;
    uint32_t m_nSeriesOffset = 0;
    uint32_t m_nSpiSeriesOffset = 0;
    std::string m_strSeriesNumber;
    std::string m_strSeriesOffset;
    std::string m_strStatus;
    std::string m_strSeriesEdit;
    std::string m_strOffsetEdit;
    std::string m_szExePath;
    uint8_t m_abyReply[16] = {};
    std::atomic<bool> m_bFlashMode{false};
    std::string m_strCodePath;
    std::string m_strDataPath;
    std::atomic<bool> m_bConnected{false};
    std::atomic<bool> m_bBusy{false};
    std::string m_strOffsetBefore;
    std::string m_strSeriesBefore;
    std::string m_strFlashSize;
    std::atomic<int32_t> m_nCodeSize{0};

    // --- control members ---
    CStatic m_ctlStatus;
    CProgressCtrl m_ctlProgress;
    CStatic m_ctlProgressText;
    CClrButton m_btnExit;
    CClrButton m_btnReconnect;
    CClrButton m_btnCode;
    CClrButton m_btnExecute;
    CComboBox m_cbMode;
    CNewEdit m_editSeries;
    CNewEdit m_editOffset;
    CToolTipCtrl m_toolTip;
    CBrush m_brEdit;
    CBrush m_brBack;
    Colour m_crEditBk = 0;

    // --- services ---
    DialogServices& Services() { return m_services; }
    IbrLink& Link() { return m_link; }

protected:
    void DoDataExchange(CDataExchange& dx) override;
    void OnMessageBoxClosed(const std::string& text, unsigned type, int answer) override;
    const MessageMap& GetMessageMap() const override;

private:
    friend class DialogTestAccess;
    // Message-map adapters.
    intptr_t OnSysCommandMessage(const Message& m);
    intptr_t OnQueryDragIcon(const Message& m);
    intptr_t OnTimerMessage(const Message& m);
    intptr_t OnDropFilesMessage(const Message& m);
    intptr_t OnSetFocusMessage(const Message& m);
    intptr_t OnLButtonDownMessage(const Message& m);
    intptr_t OnPaintMessage(const Message& m);
    intptr_t OnCtlColorMessage(const Message& m);

    // Appearance steps of start-up.
    void SetupProgressBar();
    void SetupToolTips();
    void SetupEditColours();
    void SetupButtonPictures();

    // Runs a job on a worker thread unless one runs: takes the busy flag before
    // the thread starts, so that a second press can never start a second job.
    bool StartJob(void (CRODEdizDlg::*job)());
    // The identity steps; the caller holds the controls.
    void WriteIdentity();
    // Set-address to the identity block and a read of its first bytes, with their messages.
    bool ReadIdentityHead(uint8_t* block, uint32_t length);
    // Version read of timer 2, deferred while the target is held.
    void RunVersionReadOrDefer();
    void StartPendingVersionRead();
    // Polls the status every 50 ms until byte 0 is 0, at most timeoutMs; false on a failed poll or timeout.
    bool WaitStatusIdle(uint32_t timeoutMs);
    // Job bookkeeping: a failure of any step makes the whole job fail; the
    // last failure marked is the one the job reports.
    void MarkJobFailed(const std::string& failure);
    bool JobFailed() const { return m_bJobFailed.load(); }
    // The completion of the flash download.
    void CompleteDownload();
    // The steps of the flash download's code image; false when the job ended there.
    enum class StepEnd { Continue, Completion, Ended };
    StepEnd DownloadCodeImage();
    bool WaitForFlashMode();
    // Erases blocks at the current address, polling the status after each;
    // note is added to every failure message (the name of a kept copy).
    enum class EraseEnd { Done, EraseFailed, PollTimedOut };
    EraseEnd EraseBlocks(uint32_t blocks, const std::string& note = "");
    // Writes total bytes of source at the current flash address in 16 KiB
    // pieces, status on the status line for each; a short last piece is
    // zero-filled and rounded up to a page. A failed write is reported (note
    // added to its message) and ends the loop with false.
    bool WriteFlashPieces(PieceSource& source, uint64_t total, const std::string& status, const std::string& note);
    // Reads total bytes back from the current flash address in 64 KiB pieces
    // (the kept head of source as one piece of its own) and compares them
    // with source; the kept copy, if any, goes once the head is verified.
    // tracePieces: each piece's lengths go to the diagnostic log. The caller
    // reports the end.
    enum class ReadBackEnd { Verified, Differs, ReadFailed };
    ReadBackEnd ReadBackFlashPieces(PieceSource& source, uint64_t total, KeptBytesCopy* keptCopy, bool tracePieces);
    bool SeriesOffsetInRange();
    // Copies of texts that the window thread may change while a job reads them.
    std::string CodePathSnapshot();
    std::string DataPathSnapshot();
    void SetStatusLine(const std::string& text);
    // The version field: the line shown, and whether it carries a version read from the target.
    void ShowVersion(const std::string& line, bool read, const std::string& version = "");
    void SetDeviceStatus(const std::string& text) { m_ctlStatus.SetWindowText(text); }
    int SelectedMode() { return m_cbMode.GetCurSel(); }
    void SetCodePath(const std::string& path);
    void SetDataPath(const std::string& path);

    DialogServices m_services;
    IbrLink m_link;
    ThreadKeeper m_threads;
    std::mutex m_pathMutex;               // guards m_strCodePath and m_strDataPath
    std::atomic<bool> m_bClosing{false};
    std::atomic<bool> m_bInJob{false};    // a job (not a monitor run) holds the target
    std::atomic<bool> m_bVersionReadPending{false};
    std::atomic<bool> m_bJobFailed{false};
    std::atomic<JobOutcome> m_jobOutcome{JobOutcome::None};
    std::atomic<int> m_nJobsFinished{0};
    mutable std::mutex m_outcomeMutex;    // guards m_strJobFailure and m_outcome
    std::string m_strJobFailure;
    // The facts of Outcome() that no other member holds.
    DialogOutcome m_outcome;
    bool m_bPathTipsAdded = false;        // the path tooltips exist
    std::atomic<bool> m_bDumpPathChosen{false}; // Dump mode: an output path was chosen after the mode change
    // True until the end of the first monitor run: the attempt counter is not shown then.
    std::atomic<bool> s_bFirstConnect{true};
    std::mutex m_jobMutex;                // one job's buffers at a time
    // Fixed buffers of the jobs, reused for every piece.
    std::unique_ptr<uint8_t[]> m_writeBuffer;    // 16384 (+ room for the SRAM piece extension)
    std::unique_ptr<uint8_t[]> m_readBackBuffer; // 65536
    std::unique_ptr<uint8_t[]> m_compareBuffer;  // 65536
    std::unique_ptr<uint8_t[]> m_keepBuffer;     // 65536
    uint8_t m_abyLongReply[3583] = {};           // long replies of set-address and execute
};

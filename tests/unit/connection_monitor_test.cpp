// The connection monitor: following the target as it is plugged in,
// identified, silent and unplugged.
#include "dialog_fixture.h"

namespace {

// Collects the texts a control shows, in order.
struct TextLog {
    std::mutex mutex;
    std::vector<std::string> texts;
    void Add(const std::string& t)
    {
        std::lock_guard<std::mutex> lock(mutex);
        texts.push_back(t);
    }
    std::vector<std::string> Copy()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return texts;
    }
};

void LogStatus(DialogRig& rig, TextLog& log)
{
    rig.window->SetTextListener([&log](int id, const std::string& text) {
        if (id == IDC_STATUS) log.Add(text);
    });
}

} // namespace

TEST(ConnectionMonitor, FirstRunWithoutTargetShowsNoCounter)
{
    DialogRig rig({.targetPresent = false, .open = false});
    TextLog status;
    LogStatus(rig, status);
    DiagnosticCapture lines;
    rig.window->Open();
    rig.WaitIdle();
    EXPECT_EQ(status.Copy(), (std::vector<std::string>{"Detecting target ...", "Disconnected"}));
    EXPECT_EQ(rig.window->Text(IDC_PRODUCT_LINE), "Unknown");
    EXPECT_FALSE(rig.dlg->m_bConnected);
    EXPECT_FALSE(rig.dlg->m_bBusy);
    EXPECT_EQ(lines.Count(" No Device found\n"), 10u);
    // Each attempt wrote the identifiers: 4 bytes each, no terminator.
    EXPECT_EQ(rig.registry.Value("SOFTWARE\\Ruzorez Auto-Copy", "vid"), "0416");
    EXPECT_EQ(rig.registry.Value("SOFTWARE\\Ruzorez Auto-Copy", "pid"), "B190");
    EXPECT_EQ(rig.registry.OpenKeyCount(), 0);
}

TEST(ConnectionMonitor, LaterRunsCountTheirAttempts)
{
    DialogRig rig({.targetPresent = false});
    TextLog status;
    LogStatus(rig, status);
    rig.window->ShowWindow(IDC_RECONNECT, true);
    rig.window->Click(IDC_RECONNECT);
    rig.WaitIdle();
    std::vector<std::string> expected = {"Detecting target ..."};
    for (int i = 1; i <= 10; ++i) expected.push_back("Connecting...(" + std::to_string(i) + ")");
    expected.push_back("Disconnected");
    EXPECT_EQ(status.Copy(), expected);
}

TEST(ConnectionMonitor, ArrivalStartsARunThatConnects)
{
    DialogRig rig({.targetPresent = false});
    rig.target.Plug();
    rig.WaitIdle();
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Connected");
    EXPECT_TRUE(rig.dlg->m_bConnected);
    rig.Advance(200);
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version:Vane_TX_V1020");
}

TEST(ConnectionMonitor, UnplugAndPlugBack)
{
    DialogRig rig;
    rig.Advance(200);
    DiagnosticCapture lines;
    rig.target.Unplug();
    rig.WaitIdle();
    EXPECT_EQ(lines.Count("Find USB Disconnect\n"), 1u);
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Disconnected");
    EXPECT_EQ(rig.window->Text(IDC_PRODUCT_LINE), "Unknown");
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version: Unknown");
    EXPECT_TRUE(rig.window->Enabled(IDC_EXIT));
    EXPECT_TRUE(rig.window->Enabled(IDC_RECONNECT));
    EXPECT_FALSE(rig.dlg->m_bConnected);

    rig.target.Plug();
    rig.WaitIdle();
    EXPECT_EQ(lines.Count("Find USB Device\n"), 1u);
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Connected");
}

TEST(ConnectionMonitor, RemovalOfAnotherDeviceChangesNothing)
{
    DialogRig rig;
    rig.window->DeviceChange(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Connected");
    EXPECT_TRUE(rig.dlg->m_bConnected);
}

TEST(ConnectionMonitor, ArrivalWhileBusyStartsNoRunButIsLogged)
{
    DialogRig rig({.targetPresent = false});
    rig.dlg->m_bBusy = true;
    DiagnosticCapture lines;
    rig.window->DeviceChange(DBT_DEVICEARRIVAL);
    rig.WaitIdle();
    EXPECT_EQ(lines.Count("Find USB Device\n"), 1u);
    EXPECT_EQ(lines.Count(" No Device found\n"), 0u);
    rig.dlg->m_bBusy = false;
}

TEST(ConnectionMonitor, TwoArrivalsAndReconnectStartOneRun)
{
    DialogRig rig({.targetPresent = false});
    DiagnosticCapture lines;
    rig.window->DeviceChange(DBT_DEVICEARRIVAL);
    rig.window->DeviceChange(DBT_DEVICEARRIVAL);
    rig.window->ShowWindow(IDC_RECONNECT, true);
    rig.window->Click(IDC_RECONNECT);
    rig.WaitIdle();
    EXPECT_EQ(lines.Count(" No Device found\n"), 10u); // one run of ten attempts
}

TEST(ConnectionMonitor, SilentTargetIsDisconectedAndArrivalsStartNothing)
{
    DialogRig rig({.open = false});
    FaultPlan faults;
    faults.failSubCode = kIbrSubPing;
    faults.failSubCodeEvery = true;
    rig.target.SetFaults(faults);
    rig.window->Open();
    rig.WaitIdle();
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Disconected");
    EXPECT_EQ(rig.window->Text(IDC_PRODUCT_LINE), "Refresh...");
    EXPECT_TRUE(rig.dlg->m_bConnected);
    DiagnosticCapture lines;
    rig.window->DeviceChange(DBT_DEVICEARRIVAL);
    rig.WaitIdle();
    EXPECT_EQ(lines.Count("Mass Storage Connected !\n"), 0u);
    EXPECT_TRUE(rig.window->RunningTimers().size() == 1u); // timer 1 only: no version read scheduled
}

TEST(ConnectionMonitor, UnreadableChipIdShowsUnknownButStillReadsTheVersion)
{
    DialogRig rig({.open = false});
    FaultPlan faults;
    faults.failSubCode = kIbrSubGetChipId;
    faults.failSubCodeEvery = true;
    rig.target.SetFaults(faults);
    rig.window->Open();
    rig.WaitIdle();
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Connected");
    EXPECT_EQ(rig.window->Text(IDC_PRODUCT_LINE), "Unknown");
    rig.Advance(200);
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version:Vane_TX_V1020");
}

TEST(ConnectionMonitor, RegistryKeyThatCannotBeCreatedIsLoggedAndTheRunGoesOn)
{
    DialogRig rig({.open = false});
    rig.registry.failCreate = true;
    DiagnosticCapture lines;
    rig.window->Open();
    rig.WaitIdle();
    EXPECT_GE(lines.Count("Create Key error !"), 1u);
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Connected");
}

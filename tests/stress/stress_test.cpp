// The dialog under load, on real threads: while jobs run, a user thread fires
// Return, Execute, Re-Connect, mode changes and timer ticks at random (posted
// to the window thread, as a window system delivers them), and a bus thread
// unplugs and plugs the target at random. Checked: never two jobs or monitor
// runs at once (no worker thread sends a command after another worker began,
// none sends without the busy flag), and the dialog closes without a
// deadlock at a random moment. Built for ThreadSanitizer (tests/stress.cmake).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "unit/dialog_fixture.h"

namespace {

using namespace std::chrono_literals;

// Watches who sends commands: worker threads (jobs and monitor runs, each on
// a thread of its own) must follow one another, never interleave.
class WatchedPort final : public IScsiPassThrough {
public:
    explicit WatchedPort(IScsiPassThrough& inner) : inner_(inner) {}

    void Watch(const CRODEdizDlg* dialog, std::thread::id windowThread)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dialog_ = dialog;
        windowThread_ = windowThread;
    }

    PassThroughResult Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer) override
    {
        Note(block.spt.Cdb[1]);
        return inner_.Send(device, block, dataBuffer);
    }
    std::string ErrorText(uint32_t systemError) override { return inner_.ErrorText(systemError); }
    uint32_t InvalidHandleError() override { return inner_.InvalidHandleError(); }
    uint32_t InvalidParameterError() override { return inner_.InvalidParameterError(); }

    uint64_t Commands() const { return commands_.load(); }
    std::vector<std::string> Problems()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return problems_;
    }

private:
    void Note(uint8_t subCode)
    {
        static std::atomic<uint64_t> nextSerial{1};
        thread_local const uint64_t me = nextSerial.fetch_add(1);
        ++commands_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (dialog_ == nullptr || std::this_thread::get_id() == windowThread_) return;
        char command[48];
        std::snprintf(command, sizeof command, " (sub-code %02x)", subCode);
        if (superseded_.count(me) && problems_.size() < 10)
            problems_.push_back(std::string("a worker sent a command after another worker had begun") + command);
        if (!dialog_->m_bBusy && problems_.size() < 10)
            problems_.push_back(std::string("a worker sent a command without the busy flag") + command);
        if (me != current_) {
            if (current_ != 0) superseded_.insert(current_);
            current_ = me;
        }
    }

    IScsiPassThrough& inner_;
    std::atomic<uint64_t> commands_{0};
    std::mutex mutex_;
    const CRODEdizDlg* dialog_ = nullptr;
    std::thread::id windowThread_;
    uint64_t current_ = 0;
    std::set<uint64_t> superseded_;
    std::vector<std::string> problems_;
};

struct RoundFigures {
    uint64_t actions = 0, busEvents = 0, jobs = 0, commands = 0;
};

// One dialog from opening to closing under random load.
class StressRound {
public:
    StressRound(unsigned seed, int mode)
        : target(clock),
          port(target),
          tree(target),
          files((folder.Path() / "state" / "backup").string()),
          services{clock, port, tree, registry, files},
          dlg(std::make_unique<CRODEdizDlg>(services)),
          window(std::make_unique<HeadlessWindow>(*dlg, clock, &clock)),
          seed_(seed),
          mode_(mode)
    {
        SilenceDiagnostics();
        window->SetPumpSafetyLimit(0ms);
        port.Watch(dlg.get(), std::this_thread::get_id());
        target.SetBusListener([this](const BusEvent& e) {
            Message m;
            m.message = WM_DEVICECHANGE;
            m.wParam = e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
            window->PostMessage(m);
        });
    }

    ~StressRound()
    {
        target.SetBusListener(nullptr);
        dlg->Threads().Reap();
        dlg.reset();
        window.reset();
        ResetDiagnosticSinks();
    }

    RoundFigures Run(std::chrono::milliseconds length)
    {
        window->Open();
        SetUpMode();
        std::atomic<bool> stop{false};
        std::thread user([&] { UserThread(stop); });
        std::thread bus([&] { BusThread(stop); });
        const auto closeAt = std::chrono::steady_clock::now() + length;
        window->PostTask([] {}); // the pump starts at once
        window->PumpMessagesUntil([&] {
            if (std::chrono::steady_clock::now() >= closeAt && !closeRequested_.exchange(true))
                window->PostTask([this] { window->Close(); });
            return window->Ended();
        });
        stop = true;
        user.join();
        bus.join();
        RoundFigures f;
        f.actions = actions_;
        f.busEvents = busEvents_;
        f.jobs = static_cast<uint64_t>(dlg->JobsFinished());
        f.commands = port.Commands();
        return f;
    }

    VirtualClock clock;
    EmulatedTarget target;
    WatchedPort port;
    WorkingFolder folder;
    EmulatedDeviceTree tree;
    MemoryRegistry registry;
    FilesWithBackupFolder files;
    DialogServices services;
    std::unique_ptr<CRODEdizDlg> dlg;
    std::unique_ptr<HeadlessWindow> window;

private:
    void SetUpMode()
    {
        if (mode_ == kModeRowDump) {
            window->SelectComboRow(IDC_MODE, kModeRowDump);
            window->QueueFilePath((folder.Path() / "dump.bin").string());
            window->SendClick(IDC_CODE_BUTTON);
            window->SetWindowText(IDC_DUMP_LENGTH, "20000");
        } else if (mode_ == kModeRowSram) {
            WriteFileBytes(folder.Path() / "code.bin", MakeDemoFirmware(6000));
            window->SelectComboRow(IDC_MODE, kModeRowSram);
            window->QueueFilePath((folder.Path() / "code.bin").string());
            window->SendClick(IDC_CODE_BUTTON);
        }
    }

    void UserThread(const std::atomic<bool>& stop)
    {
        std::mt19937 random(seed_);
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            const unsigned choice = random() % 100;
            ++actions_;
            if (choice < 30) {
                window->PostTask([this] { window->PressKey(VK_RETURN); });
            } else if (choice < 45) {
                window->PostTask([this] { window->Click(IDC_EXECUTE); });
            } else if (choice < 60) {
                window->PostTask([this] { window->Click(IDC_RECONNECT); });
            } else if (choice < 70) {
                window->PostTask([this] { window->FireTimer(kTimerGetVersion); });
            } else if (choice < 78) {
                window->PostTask([this] { window->FireTimer(kTimerFileInfo); });
            } else if (choice < 96) {
                const unsigned ms = random() % 400;
                window->PostTask([this, ms] { window->AdvanceTime(ms); });
            } else {
                window->PostTask([this] { window->SelectComboRow(IDC_MODE, mode_); });
            }
        }
    }

    void BusThread(const std::atomic<bool>& stop)
    {
        std::mt19937 random(seed_ * 7919u + 1);
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 60));
            if (random() % 2) {
                target.Unplug();
            } else {
                target.Plug();
            }
            ++busEvents_;
        }
    }

    unsigned seed_;
    int mode_;
    std::atomic<uint64_t> actions_{0};
    std::atomic<uint64_t> busEvents_{0};
    std::atomic<bool> closeRequested_{false};
};

// Ends the process if closing deadlocks (a test time-out would say less).
class DeadlockWatch {
public:
    DeadlockWatch(std::chrono::seconds limit, std::string round)
        : thread_([this, limit, round = std::move(round)] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "stress: %s: the dialog did not close within %lld s (deadlock at shut-down)\n",
                               round.c_str(), static_cast<long long>(limit.count()));
                  std::_Exit(3);
              }
          })
    {
    }
    ~DeadlockWatch()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// VANE_STRESS_SEED replays a run: the seed is printed before the first round.
unsigned BaseSeed()
{
    if (const char* text = std::getenv("VANE_STRESS_SEED")) {
        char* end = nullptr;
        const unsigned long seed = std::strtoul(text, &end, 10);
        if (end != text && *end == '\0') return static_cast<unsigned>(seed);
        ADD_FAILURE() << "VANE_STRESS_SEED=" << text << " is not a decimal number; a new seed is drawn";
    }
    return std::random_device{}();
}

std::chrono::milliseconds TotalLength()
{
    const char* text = std::getenv("VANE_STRESS_SECONDS");
    const double seconds = text ? std::atof(text) : 4.0;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

} // namespace

TEST(Stress, RandomActionsWhileJobsRunNeverOverlapAndCloseCleanly)
{
    const auto total = TotalLength();
    const int rounds = 8;
    const int modes[] = {kModeRowSpi, kModeRowDump, kModeRowSpi, kModeRowSram};
    RoundFigures sum;
    std::vector<std::string> problems;
    const unsigned baseSeed = BaseSeed();
    std::printf("[stress] seed %u (replay with VANE_STRESS_SEED=%u)\n", baseSeed, baseSeed);
    std::fflush(stdout);
    for (int r = 0; r < rounds; ++r) {
        DeadlockWatch watch(std::chrono::seconds(60), "seed " + std::to_string(baseSeed) + ", round " + std::to_string(r));
        StressRound round(baseSeed + static_cast<unsigned>(r), modes[r % 4]);
        const RoundFigures f = round.Run(total / rounds);
        sum.actions += f.actions;
        sum.busEvents += f.busEvents;
        sum.jobs += f.jobs;
        sum.commands += f.commands;
        for (const std::string& p : round.port.Problems()) problems.push_back("round " + std::to_string(r) + ": " + p);
        EXPECT_TRUE(round.dlg->Threads().Idle()) << "seed " << baseSeed << ", round " << r;
        EXPECT_FALSE(round.dlg->m_bBusy) << "seed " << baseSeed << ", round " << r;
    }
    std::printf("[stress] %d rounds (seed %u): %llu user actions, %llu plug/unplug, %llu jobs, %llu commands, %zu problems\n",
                rounds, baseSeed, static_cast<unsigned long long>(sum.actions), static_cast<unsigned long long>(sum.busEvents),
                static_cast<unsigned long long>(sum.jobs), static_cast<unsigned long long>(sum.commands), problems.size());
    std::fflush(stdout);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    EXPECT_GT(sum.jobs, 0u);
}

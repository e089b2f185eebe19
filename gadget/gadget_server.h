#pragma once
// The gadget at work: FunctionFS endpoint files, the control endpoint's events
// (class requests of Bulk-Only: Get Max LUN and the reset) on a thread of
// their own, and the Bulk-Only command loop on the calling thread. When the
// emulated target leaves the bus (its flash loader starts) the gadget is
// unbound, and bound again when the target is back, so that the host sees a
// real removal and a new arrival; the target model and its flash stay.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <linux/usb/ch9.h>
#include <pthread.h>

#include <csignal>

#include "emulator/emulated_target.h"
#include "gadget/bulk_only.h"
#include "gadget/scsi_disk.h"
#include "gadget/target_device.h"

struct GadgetConfig {
    std::string ffsDir;      // the mounted FunctionFS of the function
    std::string udcFile;     // the configfs gadget's UDC attribute
    std::string controller;  // the device controller to bind to
    std::FILE* log = nullptr;   // one line per event and command (may be null)
    std::FILE* trace = nullptr; // the target's wire trace of the vendor commands (may be null)
    std::string readyFile;   // touched once the gadget is first bound
    uint32_t presencePollMs = 20;
};

class GadgetServer {
public:
    GadgetServer(EmulatedTarget& target, ScsiDisk& disk, GadgetConfig config);
    ~GadgetServer();

    // Writes the descriptors and strings, opens the endpoints, starts the
    // control thread and binds the gadget.
    bool Start(std::string& error);
    // Serves commands until stop becomes true (a signal sets it; the signal
    // also interrupts any endpoint I/O of the calling thread). Unbinds at the end.
    void Run(const std::atomic<bool>& stop);

    // The signal the control thread sends to interrupt the command loop's I/O.
    static constexpr int kInterruptSignal = SIGUSR1;

private:
    void ControlLoop();
    void HandleSetup(const usb_ctrlrequest& setup);
    void ServeCommand(const CommandBlockWrapper& cbw);
    bool ReceiveOut(uint32_t length, std::vector<uint8_t>& out);
    bool SendIn(const uint8_t* data, size_t length);
    bool HaltIn();
    void HaltOut();
    bool Aborted() const; // a reset or a stop is pending: leave the command
    void FollowPresence();
    bool Bind();
    void Unbind();
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    EmulatedTarget& target_;
    ScsiDisk& disk_;
    TargetDevice device_;
    GadgetConfig config_;
    int ep0_ = -1, in_ = -1, out_ = -1;
    bool bound_ = false;
    uint32_t generation_ = 0;
    const std::atomic<bool>* stop_ = nullptr;
    std::atomic<bool> quitControl_{false};
    std::atomic<bool> resetPending_{false};
    std::atomic<bool> loopInIo_{false};
    pthread_t loopThread_{};
    std::thread control_;
    std::mutex logMutex_;
    uint64_t startMs_ = 0;
    SystemClock logClock_;
};

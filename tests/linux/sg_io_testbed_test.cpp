// The SG_IO port through real system calls: umockdev answers the ioctls of
// a scripted sg node with the emulated target, so open, SG_GET_VERSION_NUM
// and SG_IO run as they do on a device, and a whole upgrade runs through the
// Linux backends (udev discovery, sg handles, hotplug monitor).
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "app/dialog_services.h"
#include "device/diagnostics.h"
#include "device/ibr_commands.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_target.h"
#include "platform/linux/sg_io_pass_through.h"
#include "platform/linux/udev_device_tree.h"
#include "ports/registry.h"
#include "programs/vane_upgrade/dialog_session.h"
#include "programs/vane_upgrade/output/human_output.h"
#include "platform/linux/udev_bus_events.h"
#include "tests/linux/udev_testbed.h"

namespace fs = std::filesystem;

namespace {

// Serves the ioctls of one sg node with an emulated target.
class SgNodeServer {
public:
    SgNodeServer(UMockdevTestbed* bed, const std::string& node, EmulatedTarget& target) : target_(target)
    {
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&SgNodeServer::Handle), this);
        GError* error = nullptr;
        attached_ = umockdev_testbed_attach_ioctl(bed, node.c_str(), handler_, &error);
        if (error != nullptr) {
            message_ = error->message;
            g_error_free(error);
        }
        session_ = target_.Open();
    }
    ~SgNodeServer()
    {
        for (UMockdevIoctlData* data : held_) g_object_unref(data);
        g_object_unref(handler_);
    }
    bool Attached() const { return attached_; }
    const std::string& Message() const { return message_; }
    int Requests() const { return requests_; }

private:
    static gboolean Handle(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
    {
        return static_cast<SgNodeServer*>(self)->Serve(client);
    }

    // The resolved memory must outlive the handler: completing writes it back
    // to the client later, on the testbed's own thread.
    UMockdevIoctlData* Resolve(UMockdevIoctlData* data, gsize offset, gsize length)
    {
        GError* error = nullptr;
        UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
        if (error != nullptr) g_error_free(error);
        if (child != nullptr) held_.push_back(child);
        return child;
    }

    gboolean Serve(UMockdevIoctlClient* client)
    {
        ++requests_;
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        if (request == SG_GET_VERSION_NUM) {
            UMockdevIoctlData* version = Resolve(arg, 0, sizeof(int));
            const int number = 30536;
            std::memcpy(version->data, &number, sizeof number);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        if (request != SG_IO) {
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
        }
        UMockdevIoctlData* headerData = Resolve(arg, 0, sizeof(sg_io_hdr_t));
        sg_io_hdr_t header;
        std::memcpy(&header, headerData->data, sizeof header);
        UMockdevIoctlData* cdb = Resolve(headerData, offsetof(sg_io_hdr_t, cmdp), header.cmd_len);
        UMockdevIoctlData* sense = Resolve(headerData, offsetof(sg_io_hdr_t, sbp), header.mx_sb_len);
        UMockdevIoctlData* data = header.dxfer_len > 0 ? Resolve(headerData, offsetof(sg_io_hdr_t, dxferp), header.dxfer_len) : nullptr;

        // The request as the emulated target takes it: a request block.
        auto block = std::make_unique<IbrRequestBlock>();
        std::memset(block.get(), 0, sizeof *block);
        block->spt.CdbLength = header.cmd_len;
        block->spt.SenseInfoLength = header.mx_sb_len;
        block->spt.DataIn = header.dxfer_direction == SG_DXFER_TO_DEV ? kIbrDataOut : kIbrDataIn;
        block->spt.DataTransferLength = header.dxfer_len;
        block->spt.TimeOutValue = header.timeout / 1000;
        std::memcpy(block->spt.Cdb, cdb->data, std::min<size_t>(header.cmd_len, sizeof block->spt.Cdb));
        const PassThroughResult result = target_.Send(session_, *block, data != nullptr ? data->data : nullptr);

        header.status = block->spt.ScsiStatus;
        header.host_status = result.completed ? 0 : kSgHostNoConnect;
        header.driver_status = block->spt.ScsiStatus != 0 ? kSgDriverSense : 0;
        std::memcpy(sense->data, block->sense, header.mx_sb_len);
        header.sb_len_wr = block->spt.ScsiStatus != 0 ? header.mx_sb_len : 0;
        // Only the fields the driver writes go back (the pointers stay the client's).
        auto put = [&](size_t offset, const void* value, size_t size) {
            std::memcpy(headerData->data + offset, value, size);
        };
        put(offsetof(sg_io_hdr_t, status), &header.status, sizeof header.status);
        put(offsetof(sg_io_hdr_t, sb_len_wr), &header.sb_len_wr, sizeof header.sb_len_wr);
        put(offsetof(sg_io_hdr_t, host_status), &header.host_status, sizeof header.host_status);
        put(offsetof(sg_io_hdr_t, driver_status), &header.driver_status, sizeof header.driver_status);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    EmulatedTarget& target_;
    UMockdevIoctlBase* handler_ = nullptr;
    bool attached_ = false;
    std::string message_;
    DeviceHandle session_ = nullptr;
    int requests_ = 0;
    std::vector<UMockdevIoctlData*> held_;
};

class SgIoOnTestbed : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run this program under umockdev-wrapper";
        SilenceDiagnostics();
        added = bed.AddStorage("1-1", "0416", "b190", 6, 2);
        target.SetBootState(kFlashLoaderState);
        folder = fs::temp_directory_path() / ("vane-sgio-" + std::to_string(::getpid()));
        fs::create_directories(folder / "Data");
        Write(folder / "Data" / "Vane_TX_V1030.fir", image);
        Write(folder / "Data" / "wtf.fir", MakeDemoFlashLoader());
        previous = fs::current_path();
        fs::current_path(folder);
    }
    void TearDown() override
    {
        fs::current_path(previous);
        fs::remove_all(folder);
        ResetDiagnosticSinks();
    }
    static void Write(const fs::path& path, const std::vector<uint8_t>& bytes)
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // An upgrade through the Linux backends; its exit code.
    int Upgrade(std::vector<std::string>& complaints)
    {
        SgIoPassThrough port;
        UdevDeviceTree tree;
        MemoryRegistry registry;
        UdevBusEvents bus;
        std::FILE* out = std::tmpfile();
        HumanOutput output(out, out, false, Verbosity::Normal);
        EventReporter reporter(output, clock, nullptr, "-");
        ConsoleMessageBoxes boxes(QuestionPolicy::No, false, out, nullptr);
        SessionParts parts{{clock, port, tree, registry, PlatformFileSystem()}, bus, reporter, boxes,
                           [&](const std::string& line) { complaints.push_back(line); }, nullptr, [](int) {}};
        Options options;
        options.command = Command::Upgrade;
        SessionReport report;
        const int code = RunDialogSession(options, parts, report);
        std::fclose(out);
        return code;
    }

    bool FlashHoldsTheImage()
    {
        const std::vector<uint8_t> flash = target.Flash();
        const std::string identity(reinterpret_cast<const char*>(&flash[kEmuIdBlockOffset + 16]), 17);
        return std::equal(image.begin(), image.end(), flash.begin()) && identity == "Vane_TX_V1030.fir";
    }

    UdevTestbed bed;
    UdevTestbed::Added added;
    SystemClock clock;
    EmulatedTarget target{clock};
    const std::vector<uint8_t> image = MakeDemoFirmware();
    fs::path folder, previous;
};

TEST_F(SgIoOnTestbed, CommandsTravelThroughTheIoctl)
{
    SgNodeServer server(bed.Raw(), "/dev/sg2", target);
    ASSERT_TRUE(server.Attached()) << server.Message();
    int errorNumber = 0;
    std::string error;
    SgDevice* device = OpenSgDevice("/dev/sg2", errorNumber, error);
    ASSERT_NE(device, nullptr) << error;

    SgIoPassThrough port;
    IbrLink link(port);
    uint8_t reply[kIbrLongReplyLength] = {};
    ASSERT_TRUE(link.CMD_IbrGetChipID(device, reply));
    EXPECT_EQ(reply[0], kEmuCompanyId);
    EXPECT_EQ(reply[1], kEmuChipId);
    // Data both ways: a page written to the flash comes back.
    uint8_t page[256];
    for (int i = 0; i < 256; ++i) page[i] = static_cast<uint8_t>(i ^ 0x5A);
    ASSERT_TRUE(link.CMD_IbrSetAddress(device, reply, 0x40100000));
    ASSERT_TRUE(link.CMD_IbrWrite(device, page, sizeof page));
    uint8_t back[256] = {};
    ASSERT_TRUE(link.CMD_IbrSetAddress(device, reply, 0x40100000));
    ASSERT_TRUE(link.CMD_IbrRead(device, back, sizeof back));
    EXPECT_EQ(0, std::memcmp(page, back, sizeof page));
    // A refused command (out of range) still completes, with its CHECK CONDITION.
    ASSERT_TRUE(link.CMD_IbrSetAddress(device, reply, 0x7FFFFF00));
    EXPECT_TRUE(link.CMD_IbrRead(device, back, sizeof back));
    CloseSgDevice(device);
    EXPECT_GE(server.Requests(), 8);
}

TEST_F(SgIoOnTestbed, AWholeUpgradeThroughTheLinuxBackends)
{
    SgNodeServer server(bed.Raw(), "/dev/sg2", target);
    ASSERT_TRUE(server.Attached()) << server.Message();
    std::vector<std::string> complaints;
    EXPECT_EQ(Upgrade(complaints), 0) << (complaints.empty() ? "" : complaints.front());
    EXPECT_TRUE(FlashHoldsTheImage());
}

TEST_F(SgIoOnTestbed, FromTheBootRomTheTargetIsFollowedToItsNewNode)
{
    // The flash loader makes the target leave the bus and come back: the
    // machine then removes its devices and adds them anew, with another sg node.
    target.SetBootState(kBootRomState);
    std::vector<std::unique_ptr<SgNodeServer>> servers;
    servers.push_back(std::make_unique<SgNodeServer>(bed.Raw(), "/dev/sg2", target));
    std::mutex mutex;
    std::vector<BusEvent> events;
    target.SetBusListener([&](const BusEvent& e) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
    });
    std::atomic<bool> stop{false};
    std::atomic<int> arrivals{0};
    std::thread machine([&] {
        while (!stop) {
            target.Present(); // lets the return after re-enumeration happen
            std::vector<BusEvent> taken;
            {
                std::lock_guard<std::mutex> lock(mutex);
                taken.swap(events);
            }
            for (const BusEvent& e : taken) {
                if (e.kind == BusEvent::Removal) {
                    bed.RemoveStorage(added);
                } else {
                    added = bed.AddStorage("1-1", "0416", "b190", 7, 3);
                    servers.push_back(std::make_unique<SgNodeServer>(bed.Raw(), "/dev/sg3", target));
                    ++arrivals;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::vector<std::string> complaints;
    const int code = Upgrade(complaints);
    stop = true;
    machine.join();
    target.SetBusListener(nullptr);
    EXPECT_EQ(code, 0) << (complaints.empty() ? "" : complaints.front());
    EXPECT_EQ(arrivals, 1);
    EXPECT_TRUE(FlashHoldsTheImage());
    EXPECT_GT(servers.back()->Requests(), 20) << "the download went to the new node";
}

} // namespace

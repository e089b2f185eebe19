// The dialog on the Qt window, offscreen, on the emulated target and virtual
// time, driven through its widgets as a user drives it: mouse clicks, keys,
// a dropped file, a question answered in a real message box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "emulator/demo_images.h"
#include "framework/system_colours.h"
#include "platform/qt/qt_window_system.h"
#include "programs/vane_upgrade_gui/gui_options.h"
#include "unit/dialog_fixture.h"

namespace {

constexpr Colour kBarColour = Rgb(0, 0, 160);
constexpr Colour kValueBlue = Rgb(0, 0, 255);

// The dialog, its emulated target and the Qt window system, on virtual time.
struct QtRig {
    explicit QtRig(uint8_t bootState = kBootRomState, bool present = true)
        : target(clock), tree(target), files((folder.Path() / "state" / "vane-upgrade" / "backup").string()),
          services{clock, target, tree, registry, files}, windows("RODEdiz", clock, &clock), dlg(services)
    {
        if (!std::getenv("VANE_QT_DIAG")) SilenceDiagnostics();
        target.SetBootState(bootState);
        if (!present) target.Unplug();
        target.TakeBusEvents();
        target.SetBusListener([this](const BusEvent& e) {
            windows.PostDeviceChange(e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
        });
    }
    ~QtRig()
    {
        target.SetBusListener(nullptr);
        ResetDiagnosticSinks();
    }

    // Runs the window; script runs inside it once it is shown and must end it.
    int Run(const std::function<void(QtDialogWindow&)>& script)
    {
        windows.onOpen = [&](QtDialogWindow& w) {
            window = &w;
            w.Model().SetPumpSafetyLimit(std::chrono::seconds(30)); // a scenario that hangs fails instead
            WaitIdle();
            script(w);
        };
        return windows.RunModal(dlg);
    }

    void WaitIdle()
    {
        window->PumpUntil([this] { return dlg.Threads().Idle(); });
        window->Refresh();
    }
    // What the widget of a control shows.
    std::string Shown(int id) const
    {
        auto* view = dynamic_cast<QtControlView*>(window->Widget(id));
        return view ? view->State().text : std::string("<no widget>");
    }
    void Click(int id)
    {
        QTest::mouseClick(window->Widget(id), Qt::LeftButton);
    }
    std::vector<uint8_t> FlashRange(uint32_t offset, size_t length) { return target.FlashRange(offset, length); }

    WorkingFolder folder;
    VirtualClock clock;
    EmulatedTarget target;
    EmulatedDeviceTree tree;
    MemoryRegistry registry;
    FilesWithBackupFolder files;
    DialogServices services;
    QtWindowSystem windows;
    CRODEdizDlg dlg;
    QtDialogWindow* window = nullptr;
};

QColor Qc(Colour c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

int CountColour(const QImage& image, const QRect& area, Colour colour)
{
    const QRgb wanted = Qc(colour).rgb();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (wanted & 0xFFFFFF)) ++count;
    return count;
}

// The four edges of a button's ring as the window shows them: the top and left
// edges in one colour, the bottom and right edges (corners included) in the other.
::testing::AssertionResult RingIs(const QImage& image, const QRect& r, Colour topLeft, Colour bottomRight)
{
    const auto at = [&](int x, int y, Colour wanted) -> std::string {
        const QRgb got = image.pixel(x, y) & 0xFFFFFF;
        if (got == (Qc(wanted).rgb() & 0xFFFFFF)) return "";
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + QColor(got).name().toStdString() +
               ", wanted " + Qc(wanted).name().toStdString();
    };
    std::string fault;
    for (int x = r.left(); x < r.right() && fault.empty(); ++x) fault = at(x, r.top(), topLeft);
    for (int y = r.top(); y < r.bottom() && fault.empty(); ++y) fault = at(r.left(), y, topLeft);
    for (int x = r.left(); x <= r.right() && fault.empty(); ++x) fault = at(x, r.bottom(), bottomRight);
    for (int y = r.top(); y <= r.bottom() && fault.empty(); ++y) fault = at(r.right(), y, bottomRight);
    if (fault.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << fault;
}

} // namespace

TEST(QtWindow, UpgradeFromTheBootRomToCompleteAsTheWindowShowsIt)
{
    QtRig rig;
    QImage shot;
    QRect bar, status, header;
    const int result = rig.Run([&](QtDialogWindow& w) {
        EXPECT_EQ(rig.Shown(IDC_STATUS), "Connected");
        w.Model().AdvanceTime(200);
        rig.WaitIdle();
        EXPECT_EQ(rig.Shown(IDC_VERSION), "Current version:Vane_TX_V1020");

        rig.Click(IDC_EXECUTE);
        rig.WaitIdle();
        EXPECT_EQ(rig.dlg.LastJobOutcome(), JobOutcome::Succeeded);
        EXPECT_EQ(rig.Shown(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(dynamic_cast<QtControlView*>(w.Widget(IDC_PROGRESS))->State().progressPos, 100);

        shot = w.Surface()->grab().toImage();
        bar = w.Widget(IDC_PROGRESS)->geometry();
        status = w.Widget(IDC_STATUS)->geometry();
        // The identity edit lies in the header: drawing it is off, so only the skin shows there.
        header = w.Widget(IDC_ID_TEXT)->geometry();
        EXPECT_FALSE(w.Widget(IDC_ID_TEXT)->isVisible());
        if (const char* path = std::getenv("VANE_QT_SCREENSHOT")) shot.save(QString::fromLocal8Bit(path));
        QTest::keyClick(w.Surface(), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    const std::vector<uint8_t> image = MakeDemoFirmware();
    EXPECT_EQ(rig.FlashRange(0, image.size()), image);

    // A full bar in its own colour inside its border, the blue value text on white, the skin alone in the header.
    ASSERT_FALSE(shot.isNull());
    const QRect inside = bar.adjusted(1, 1, -1, -1);
    EXPECT_EQ(CountColour(shot, inside, kBarColour), inside.width() * inside.height());
    EXPECT_GT(CountColour(shot, status, kValueBlue), 10);
    EXPECT_GT(CountColour(shot, status, Rgb(255, 255, 255)), status.width() * status.height() / 2);
    EXPECT_LT(CountColour(shot, header, Rgb(255, 255, 255)), header.width() * header.height() / 10);
}

TEST(QtWindow, EngineeringControlsBurnTheSeriesNumberAfterTheUpgrade)
{
    QtRig rig;
    std::string offsetShown, numberShown;
    rig.Run([&](QtDialogWindow& w) {
        w.Model().AdvanceTime(200);
        rig.WaitIdle();
        // Nothing in the window shows the engineering controls; the engineering path brings them up.
        for (int id : {IDC_SERIES_OPTION, IDC_OFFSET_DISPLAY, IDC_SERIES_DISPLAY}) w.ShowWindow(id, true);
        w.Refresh();
        rig.Click(IDC_SERIES_OPTION);
        rig.WaitIdle();
        ASSERT_TRUE(w.GetCheck(IDC_SERIES_OPTION));

        // Each value in its in-place editor: double-click the display, clear, type.
        const auto edit = [&](int display, int editor, const char* typed) {
            QTest::mouseDClick(w.Widget(display), Qt::LeftButton);
            rig.WaitIdle();
            ASSERT_TRUE(w.Widget(editor)->isVisible());
            for (int i = 0; i < 8; ++i) QTest::keyClick(w.Widget(editor), Qt::Key_Backspace);
            QTest::keyClicks(w.Widget(editor), typed);
        };
        // Opening the second editor commits the first; Return commits the second and starts the job.
        edit(IDC_OFFSET_DISPLAY, IDC_OFFSET_EDIT, "50010");
        edit(IDC_SERIES_DISPLAY, IDC_SERIES_EDIT, "a1"); // typed in lower case, kept in upper case
        EXPECT_FALSE(w.Widget(IDC_OFFSET_EDIT)->isVisible());
        EXPECT_EQ(rig.Shown(IDC_OFFSET_DISPLAY), "50010");
        QTest::keyClick(w.Widget(IDC_SERIES_EDIT), Qt::Key_Return);
        rig.WaitIdle();
        EXPECT_FALSE(w.Widget(IDC_SERIES_EDIT)->isVisible());
        EXPECT_EQ(rig.Shown(IDC_SERIES_DISPLAY), "A1");
        EXPECT_EQ(rig.dlg.LastJobOutcome(), JobOutcome::Succeeded);
        EXPECT_EQ(rig.Shown(IDC_PROGRESS_TEXT), "Complete!");
        offsetShown = rig.Shown(IDC_OFFSET_DISPLAY);
        numberShown = w.GetWindowText(IDC_SERIES_EDIT);
        QTest::keyClick(w.Surface(), Qt::Key_Escape);
    });
    const std::vector<uint8_t> image = MakeDemoFirmware();
    EXPECT_EQ(rig.FlashRange(0, image.size()), image);
    EXPECT_EQ(rig.FlashRange(0x50010, 4), (std::vector<uint8_t>{0xA1, 0, 0, 0}));
    EXPECT_EQ(offsetShown, "50010");
    EXPECT_EQ(numberShown, "A2"); // ready for the next device
}

TEST(QtWindow, ColourButtonShowsItsEdgesRaisedAndWhilePressed)
{
    QtRig rig(kFlashLoaderState);
    QImage raised, pressed, released;
    QRect button;
    int dialogsOpened = 0;
    rig.Run([&](QtDialogWindow& w) {
        w.SetModalShown([&](QDialog& dialog) {
            ++dialogsOpened;
            dialog.reject();
        });
        // The code button is never drawn in the window; with drawing on and enabled, it draws itself.
        w.SetRedraw(IDC_CODE_BUTTON, true);
        w.EnableWindow(IDC_CODE_BUTTON, true);
        w.Refresh();
        QWidget* widget = w.Widget(IDC_CODE_BUTTON);
        ASSERT_TRUE(widget->isVisible());
        button = widget->geometry();
        raised = w.Surface()->grab().toImage();
        QTest::mousePress(widget, Qt::LeftButton);
        pressed = w.Surface()->grab().toImage();
        // Let go away from it: no click, and the button comes back up.
        QTest::mouseMove(widget, QPoint(-5, -5));
        QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(-5, -5));
        released = w.Surface()->grab().toImage();
        rig.WaitIdle();
        QTest::keyClick(w.Surface(), Qt::Key_Escape);
    });
    EXPECT_EQ(dialogsOpened, 0); // a click would have opened the file dialog
    const Colour highlight = GetSystemColour(COLOR_BTNHIGHLIGHT), light = GetSystemColour(COLOR_3DLIGHT);
    const Colour shadow = GetSystemColour(COLOR_BTNSHADOW), darkShadow = GetSystemColour(COLOR_3DDKSHADOW);
    ASSERT_FALSE(raised.isNull());
    ASSERT_GT(button.width(), 4);
    const QRect inner = button.adjusted(1, 1, -1, -1);
    EXPECT_TRUE(RingIs(raised, button, highlight, darkShadow));
    EXPECT_TRUE(RingIs(raised, inner, light, shadow));
    EXPECT_TRUE(RingIs(pressed, button, darkShadow, darkShadow));
    EXPECT_TRUE(RingIs(pressed, inner, shadow, shadow));
    EXPECT_TRUE(RingIs(released, button, highlight, darkShadow));
    EXPECT_TRUE(RingIs(released, inner, light, shadow));
}

TEST(QtWindow, DroppedOlderImageIsAskedAboutAndCancelWritesNothing)
{
    QtRig rig(kFlashLoaderState);
    rig.target.SetIdentityText("Vane_TX_V1030.fir");
    WriteFileBytes(rig.folder.Path() / "Data" / "Vane_TX_V1020.fir", MakeDemoFirmware(1000));
    const std::vector<uint8_t> before = rig.target.Flash();
    std::vector<std::string> questions;
    rig.Run([&](QtDialogWindow& w) {
        // Dropped from a file manager onto the top of the window.
        QMimeData files;
        const QString dropped = QString::fromStdString((rig.folder.Path() / "Data" / "Vane_TX_V1020.fir").string());
        files.setUrls({QUrl::fromLocalFile(dropped)});
        QDropEvent drop(QPointF(40, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enter(QPoint(40, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.Surface(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QCoreApplication::sendEvent(w.Surface(), &drop);
        rig.WaitIdle();
        EXPECT_EQ(rig.Shown(IDC_CODE_PATH), dropped.toStdString());
        EXPECT_EQ(rig.Shown(IDC_CODE_NAME), "Vane_TX_V1020.fir");

        // The question comes up in a message box; the user presses Cancel.
        w.SetModalShown([&](QDialog& dialog) {
            auto* box = dynamic_cast<QMessageBox*>(&dialog);
            ASSERT_NE(box, nullptr);
            questions.push_back(box->text().toStdString());
            QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
        });
        rig.Click(IDC_EXECUTE);
        rig.WaitIdle();
        EXPECT_EQ(questions.size(), 1u);
        // Return presses Upgrade again and never closes the window; the close box does.
        QTest::keyClick(w.Surface(), Qt::Key_Return);
        rig.WaitIdle();
        EXPECT_FALSE(w.Model().Ended());
        w.Surface()->close();
    });
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0], "Update File Version is old!\nContinue to upgrade?");
    EXPECT_EQ(questions[1], questions[0]);
    EXPECT_EQ(rig.dlg.LastJobOutcome(), JobOutcome::Failed);
    EXPECT_EQ(rig.target.Flash(), before);
}

TEST(QtWindow, ArrivalsAndRemovalsAreFollowedAndClosingDuringTheJobWaitsForIt)
{
    QtRig rig(kBootRomState, false);
    const int result = rig.Run([&](QtDialogWindow& w) {
        EXPECT_NE(rig.Shown(IDC_STATUS), "Connected");
        rig.target.Plug();
        rig.target.SetBootState(kFlashLoaderState); // the loader runs already: the job writes at once
        rig.target.Present();
        w.PumpUntil([&] { return rig.Shown(IDC_STATUS) == "Connected" && rig.dlg.Threads().Idle(); });
        w.Refresh();
        EXPECT_EQ(rig.Shown(IDC_STATUS), "Connected");
        // Pulled out and plugged in again: the window follows.
        rig.target.Unplug();
        rig.target.Present();
        w.PumpUntil([&] { return rig.Shown(IDC_STATUS) == "Disconnected" && rig.dlg.Threads().Idle(); });
        rig.target.Plug();
        rig.target.SetBootState(kFlashLoaderState);
        rig.target.Present();
        w.PumpUntil([&] { return rig.Shown(IDC_STATUS) == "Connected" && rig.dlg.Threads().Idle(); });
        // Escape at once after the press: the window ends only after the job.
        rig.Click(IDC_EXECUTE);
        QTest::keyClick(w.Surface(), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(rig.dlg.JobsFinished(), 1);
    EXPECT_EQ(rig.dlg.LastJobOutcome(), JobOutcome::Succeeded);
    const std::vector<uint8_t> image = MakeDemoFirmware();
    EXPECT_EQ(rig.FlashRange(0, image.size()), image);

    // The window is gone: a job's late request returns at once and changes nothing.
    std::atomic<bool> returned{false};
    std::thread late([&] {
        rig.window->SetWindowText(IDC_STATUS, "late");
        EXPECT_EQ(rig.window->GetWindowText(IDC_STATUS), "");
        returned = true;
    });
    late.join();
    EXPECT_TRUE(returned);
}

TEST(QtProgram, CommandLineLeavesQtItsOptionsAndTheLogGoesToTheStateFolder)
{
    const char* withQt[] = {"vane-upgrade-gui", "-platform", "offscreen", "--emulate", "--emulate-state", "flash",
                            "--emulate-fault", "fail:3"};
    const ParsedGuiCommandLine parsed = ParseGuiCommandLine(8, withQt);
    ASSERT_TRUE(parsed.run) << parsed.message;
    EXPECT_TRUE(parsed.options.emulate);
    EXPECT_TRUE(parsed.options.emulateFlashState);
    ASSERT_EQ(parsed.options.faults.size(), 1u);
    EXPECT_EQ(parsed.options.faults[0].value, 3u);

    const char* withoutEmulate[] = {"vane-upgrade-gui", "--emulate-flash", "f.bin"};
    EXPECT_FALSE(ParseGuiCommandLine(3, withoutEmulate).run);
    const char* unknown[] = {"vane-upgrade-gui", "--emulat"};
    EXPECT_EQ(ParseGuiCommandLine(2, unknown).exitCode, kExitUsage);

    EXPECT_EQ(GuiLogFolder("/s", "/home/u"), "/s/vane-upgrade");
    // A relative state folder does not count; without any home there is no log.
    EXPECT_EQ(GuiLogFolder("rel", "/home/u"), "/home/u/.local/state/vane-upgrade");
    EXPECT_EQ(GuiLogFolder(nullptr, nullptr), "");
}

int main(int argc, char** argv)
{
    // Offscreen, with a private runtime folder, unless the caller chose.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    char runtime[] = "/tmp/vane-qt-runtime-XXXXXX";
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && mkdtemp(runtime) != nullptr) qputenv("XDG_RUNTIME_DIR", runtime);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        // The offscreen platform cannot pass size hints on; nothing else is expected.
        if (text.contains(QStringLiteral("propagateSizeHints"))) return;
        std::fprintf(stderr, "Qt %d: %s\n", static_cast<int>(type), text.toLocal8Bit().constData());
    });
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

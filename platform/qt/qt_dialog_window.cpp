#include "platform/qt/qt_dialog_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <map>
#include <thread>

#include "platform/qt/qt_pictures.h"
#include "resources/control_table.h"

namespace {

// The longest the pump sleeps in Qt's loop before it looks at its condition
// again: what it waits for (a thread that ends) wakes nobody.
constexpr std::chrono::milliseconds kPumpPoll{20};

} // namespace

void QtWakeReceiver::customEvent(QEvent*) { window_.OnWake(); }

QtDialogWindow::QtDialogWindow(CDialog& dialog, IClock& clock, VirtualClock* virtualClock, std::string programTitle)
    : dialog_(dialog),
      model_(dialog, clock, virtualClock),
      title_(std::move(programTitle)),
      font_(TemplateFont(MainDialogTemplate().fontName, MainDialogTemplate().fontPoints)),
      units_(MeasureBaseUnits(font_)),
      waker_(*this)
{
    idleTimer_.setSingleShot(true);
    idleTimer_.setTimerType(Qt::PreciseTimer);
    model_.SetPumpSafetyLimit(std::chrono::milliseconds(0)); // a window runs as long as its user wants
    model_.SetHost([this] { Wake(); }, [this](std::chrono::milliseconds most) { WaitForEvents(most); }, kPumpPoll);
    model_.SetMessageBoxHook([this](const MessageBoxRecord& box) -> std::optional<int> {
        if (!OnGuiThread() || !surface_) return IDCANCEL; // no window to ask on
        Refresh();
        return RunQtMessageBox(surface_, box.text, box.caption.empty() ? title_ : box.caption, box.type, ModalListener());
    });
    model_.SetFileDialogHook([this](const FileDialogSpec& spec) -> std::optional<FileDialogResult> {
        FileDialogResult result;
        if (!OnGuiThread() || !surface_) return std::nullopt;
        Refresh();
        if (!RunQtFileDialog(surface_, spec, result, ModalListener())) return std::nullopt;
        return result;
    });
}

QtDialogWindow::~QtDialogWindow()
{
    model_.SetHost({}, {}, std::chrono::milliseconds(0));
    delete surface_.data();
}

bool QtDialogWindow::OnGuiThread() const { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

void QtDialogWindow::SetModalShown(ModalShown shown)
{
    std::lock_guard<std::mutex> lock(modalMutex_);
    modalShown_ = std::move(shown);
}

ModalShown QtDialogWindow::ModalListener()
{
    std::lock_guard<std::mutex> lock(modalMutex_);
    return modalShown_;
}

// ---------------------------------------------------------------- life

void QtDialogWindow::Build()
{
    const DialogTemplateInfo& t = MainDialogTemplate();
    auto* surface = new QtDialogSurface(*this, units_);
    surface->setWindowTitle(QString::fromLocal8Bit(t.caption));
    surface->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const std::optional<HeadlessControl> self = model_.Control(kNoControl);
    surface->SetClientSize(self ? self->dialogUnits : Rect{0, 0, t.width, t.height});
    for (int id : model_.ControlIds())
        if (const std::optional<HeadlessControl> c = model_.Control(id)) surface->AddControl(*c);
    surface_ = surface;
}

int QtDialogWindow::Run(const std::function<void(QtDialogWindow&)>& opened)
{
    Build();
    surface_->show();
    pumping_ = true;
    // Opened from inside the pump, so that the GUI thread is inside the
    // dialog from its first handler to its end.
    model_.PostTask([this, opened] {
        model_.Open();
        Refresh();
        if (opened) opened(*this);
    });
    model_.PumpMessagesUntil([this] { return model_.Ended(); });
    pumping_ = false;
    const int result = model_.Ended() ? model_.Result() : -1;
    model_.MarkDestroyed();
    if (surface_) surface_->hide();
    delete surface_.data();
    return result;
}

void QtDialogWindow::Wake()
{
    if (wakePending_.exchange(true)) return;
    QCoreApplication::postEvent(&waker_, new QEvent(QEvent::User));
}

void QtDialogWindow::OnWake()
{
    wakePending_ = false;
    if (pumping_ && !model_.Destroyed()) {
        // Also inside a nested loop (a box): requests and posted messages keep running.
        model_.ProcessPostedMessages();
        model_.RunDueTimers();
    }
    Refresh();
}

void QtDialogWindow::WaitForEvents(std::chrono::milliseconds most)
{
    if (!OnGuiThread()) {
        // Another thread waits for the dialog: it cannot run Qt's loop.
        std::this_thread::sleep_for(most);
        return;
    }
    Refresh();
    if (most.count() > 0) idleTimer_.start(most);
    QCoreApplication::processEvents(most.count() > 0 ? QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents
                                                     : QEventLoop::AllEvents);
}

void QtDialogWindow::PumpMessagesUntil(const std::function<bool()>& done) { model_.PumpMessagesUntil(done); }

void QtDialogWindow::IntoDialog(const std::function<void()>& fn)
{
    if (model_.Destroyed()) return;
    model_.RunOnWindowThread([&] {
        if (!model_.Destroyed()) fn();
    });
}

// ---------------------------------------------------------------- the widgets

void QtDialogWindow::Refresh()
{
    if (!OnGuiThread() || !surface_) return;
    std::map<int, std::string> tips;
    if (model_.ToolTipActive())
        for (const ToolTipInfo& tip : model_.ToolTips()) tips[tip.id] = tip.text;
    for (QtControlView* view : surface_->Views()) {
        if (const std::optional<HeadlessControl> c = model_.Control(view->Id())) view->Show(*c);
        auto tip = tips.find(view->Id());
        view->SetTipText(tip == tips.end() ? QString() : QString::fromLocal8Bit(tip->second.c_str()));
    }
    const QString title = QString::fromLocal8Bit(model_.Text(kNoControl).c_str());
    if (surface_->windowTitle() != title) surface_->setWindowTitle(title);
    const std::vector<int> icons = model_.Icons();
    if (!icons.empty() && icons.back() != shownIcon_) {
        shownIcon_ = icons.back();
        surface_->setWindowIcon(IconOf(shownIcon_));
    }
    surface_->setAcceptDrops(model_.AcceptsFiles());
    surface_->SetSystemMenu(model_.SystemMenu());
    const int focus = model_.Focus();
    if (focus != shownFocus_) {
        if (QtControlView* old = surface_->View(shownFocus_)) old->update();
        shownFocus_ = focus;
        QtControlView* now = surface_->View(focus);
        if (now != nullptr && now->isVisible()) {
            now->setFocus(Qt::OtherFocusReason);
            now->update();
        } else {
            surface_->setFocus(Qt::OtherFocusReason);
        }
    }
}

QWidget* QtDialogWindow::Widget(int id) const
{
    if (!surface_) return nullptr;
    if (id == kNoControl) return surface_;
    return surface_->View(id);
}

// ---------------------------------------------------------------- the dialog's drawing

CtlColorResult QtDialogWindow::ColoursOf(int id)
{
    CtlColorResult colours;
    IntoDialog([&] { colours = dialog_.OnCtlColor(id); });
    return colours;
}

void QtDialogWindow::DrawItem(int id, const DrawItemInfo& info, ICanvas& canvas)
{
    IntoDialog([&] { dialog_.DrawItem(id, info, canvas); });
}

void QtDialogWindow::PaintDialog(ICanvas& canvas, const Rect& client)
{
    IntoDialog([&] { dialog_.OnPaint(canvas, client); });
}

// ---------------------------------------------------------------- the user

void QtDialogWindow::UserClick(int id)
{
    model_.Click(id);
    Refresh();
}

void QtDialogWindow::UserDoubleClick(int id)
{
    model_.SecondClick(id);
    Refresh();
}

void QtDialogWindow::UserPressOnDialog(Point client)
{
    model_.LButtonDown(kNoControl, client);
    Refresh();
}

void QtDialogWindow::UserKey(uintptr_t vk, int id)
{
    model_.PressKey(vk, id);
    Refresh();
}

void QtDialogWindow::UserChar(int id, unsigned character)
{
    model_.TypeChar(id, character);
    Refresh();
}

void QtDialogWindow::UserDropDown(int id)
{
    model_.DropDownCombo(id);
    Refresh();
}

void QtDialogWindow::UserPickRow(int id, int row)
{
    model_.SelectComboRow(id, row);
    Refresh();
}

void QtDialogWindow::UserDrop(const std::vector<std::string>& paths, Point cursor)
{
    model_.DropFiles(paths, cursor);
    Refresh();
}

void QtDialogWindow::UserClose()
{
    model_.Close();
    Refresh();
}

void QtDialogWindow::UserSystemCommand(uint32_t command)
{
    model_.SystemCommand(command);
    Refresh();
}

// ---------------------------------------------------------------- requests with more to them

Rect QtDialogWindow::GetWindowRect(int id)
{
    Rect r;
    IntoDialog([&] {
        QWidget* widget = OnGuiThread() ? Widget(id) : nullptr;
        if (widget == nullptr) {
            r = model_.GetWindowRect(id);
            return;
        }
        const QRect area = id == kNoControl ? widget->frameGeometry() : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        r = {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
    });
    return r;
}

int QtDialogWindow::ComboAddString(int id, const std::string& text)
{
    const int row = model_.ComboAddString(id, text);
    Wake();
    return row;
}

int QtDialogWindow::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    return model_.MessageBox(text, caption, type);
}

bool QtDialogWindow::RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result)
{
    return model_.RunFileDialog(spec, result);
}

void QtDialogWindow::ShowAboutBox()
{
    model_.ShowAboutBox();
    IntoDialog([&] {
        if (OnGuiThread() && surface_) RunQtAboutBox(surface_, ModalListener());
    });
}

Point QtDialogWindow::GetCursorPos() { return model_.GetCursorPos(); }

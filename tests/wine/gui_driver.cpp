// Drives a dialog program from outside, step by step, as a user would:
//
//   gui_driver [--caption TEXT] PROGRAM STEP...
//
// Starts PROGRAM, finds its window by caption (default "TALMO Upgrade for
// Mirra") and runs the steps in order. The first mismatch ends the run with a
// message on standard error and exit status 1; 0 when every step held.
//
// Steps (ids are control identifiers, times in seconds):
//   expect ID TEXT              the control's text is TEXT now
//   expect-contains ID TEXT     ... contains TEXT
//   wait ID TEXT SECONDS        the text becomes TEXT within SECONDS
//   wait-contains ID TEXT SECONDS
//   expect-enabled ID 0|1       the control is disabled / enabled
//   expect-visible ID 0|1       the control is hidden / visible
//   click ID                    a button click (BN_CLICKED to the dialog)
//   select ID ROW               a combo row chosen (CB_SETCURSEL, CBN_SELCHANGE sent)
//   syscommand N                a system-menu command (WM_SYSCOMMAND)
//   key return|escape           the key, to the control that has the focus
//   box TEXT ok|cancel SECONDS  a message box (or other dialog box) of the
//                               program whose texts contain TEXT appears and
//                               is answered
//   centred                     the window is centred on the screen's work area
//   box-centred TEXT SECONDS    a dialog box of the program whose texts
//                               contain TEXT appears centred over the window
//                               (it is left open)
//   no-box SECONDS              no message box appears for SECONDS
//   still-open SECONDS          the window is still there after SECONDS
//   expect-exit SECONDS         the program ends within SECONDS
//   sleep SECONDS
//   signal FILE                 creates FILE (a script waits for it)
//   await FILE SECONDS          waits until FILE exists (the script made it)
// A program still running after the last step is ended.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 100;
constexpr UINT kSendTimeoutMs = 3000;
constexpr DWORD kFindWindowMs = 60000; // a fresh Wine prefix starts slowly

struct Target {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;
};

bool Fail(size_t step, const std::string& what)
{
    std::fprintf(stderr, "gui_driver: step %zu: %s\n", step, what.c_str());
    return false;
}

bool Running(const Target& t) { return WaitForSingleObject(t.process.hProcess, 0) == WAIT_TIMEOUT; }

bool ReadText(HWND window, std::string& text)
{
    char buffer[4096] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &copied))
        return false;
    text.assign(buffer, copied < sizeof buffer ? copied : sizeof buffer - 1);
    return true;
}

bool ControlText(const Target& t, int id, std::string& text)
{
    HWND control = GetDlgItem(t.dialog, id);
    return control != nullptr && ReadText(control, text);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

constexpr LONG kCentreTolerance = 2; // pixels: halves rounded either way

// Whether inner is centred on outer; describes both when it is not.
bool CentredOn(const RECT& inner, const RECT& outer, std::string& how)
{
    const LONG dx = (inner.left + inner.right) - (outer.left + outer.right);
    const LONG dy = (inner.top + inner.bottom) - (outer.top + outer.bottom);
    char text[160];
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld) on (%ld,%ld)-(%ld,%ld)", inner.left, inner.top, inner.right,
                  inner.bottom, outer.left, outer.top, outer.right, outer.bottom);
    how = text;
    return dx >= -2 * kCentreTolerance && dx <= 2 * kCentreTolerance && dy >= -2 * kCentreTolerance &&
           dy <= 2 * kCentreTolerance;
}

// Waits until check() holds or the time is up; check() is tried at least once.
template <typename Check>
bool WaitFor(double seconds, Check check)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (check()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(kPollMs);
    }
}

struct BoxSearch {
    DWORD processId;
    HWND dialog;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == search->processId && window != search->dialog && IsWindowVisible(window) &&
        std::string(cls) == "#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindMessageBox(const Target& t)
{
    BoxSearch search{t.process.dwProcessId, t.dialog, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Every static text of a message box, one after the other.
std::string BoxText(HWND box)
{
    std::string all;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[64] = {};
        GetClassNameA(child, cls, sizeof cls);
        std::string text;
        if (lstrcmpiA(cls, "Static") == 0 && ReadText(child, text)) all += text + "\n";
    }
    return all;
}

HWND FocusedWindow(const Target& t)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(t.dialog, nullptr);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr) return info.hwndFocus;
    return t.dialog;
}

bool ParseInt(const std::string& s, int& value)
{
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0') return false;
    value = static_cast<int>(v);
    return true;
}

bool ParseSeconds(const std::string& s, double& value)
{
    char* end = nullptr;
    value = std::strtod(s.c_str(), &end);
    return !s.empty() && *end == '\0' && value >= 0;
}

class Steps {
public:
    Steps(Target& target, std::vector<std::string> words) : t_(target), words_(std::move(words)) {}

    bool Run()
    {
        while (next_ < words_.size()) {
            ++step_;
            if (!RunOne()) return false;
        }
        return true;
    }

private:
    bool Take(std::string& word)
    {
        if (next_ >= words_.size()) return false;
        word = words_[next_++];
        return true;
    }
    bool TakeId(int& id)
    {
        std::string w;
        return Take(w) && ParseInt(w, id);
    }
    bool TakeSeconds(double& s)
    {
        std::string w;
        return Take(w) && ParseSeconds(w, s);
    }
    bool Usage(const std::string& name) { return Fail(step_, "bad arguments for " + Quoted(name)); }

    bool TextStep(const std::string& name, bool waiting, bool contains)
    {
        int id = 0;
        std::string wanted;
        double seconds = 0;
        if (!TakeId(id) || !Take(wanted) || (waiting && !TakeSeconds(seconds))) return Usage(name);
        std::string got;
        bool read = false;
        const bool held = WaitFor(seconds, [&] {
            read = ControlText(t_, id, got);
            return read && (contains ? got.find(wanted) != std::string::npos : got == wanted);
        });
        if (held) return true;
        if (!read) return Fail(step_, name + " " + std::to_string(id) + ": no such control, or it does not answer");
        return Fail(step_, name + " " + std::to_string(id) + ": the text is " + Quoted(got) + ", expected " +
                               (contains ? "it to contain " : "") + Quoted(wanted) +
                               (waiting ? " within the time given" : ""));
    }

    bool RunOne()
    {
        std::string name;
        Take(name);
        if (name == "expect") return TextStep(name, false, false);
        if (name == "expect-contains") return TextStep(name, false, true);
        if (name == "wait") return TextStep(name, true, false);
        if (name == "wait-contains") return TextStep(name, true, true);
        if (name == "expect-enabled" || name == "expect-visible") {
            const bool enabledStep = name == "expect-enabled";
            int id = 0, wanted = 0;
            std::string w;
            if (!TakeId(id) || !Take(w) || !ParseInt(w, wanted)) return Usage(name);
            HWND control = GetDlgItem(t_.dialog, id);
            if (control == nullptr) return Fail(step_, "no control " + std::to_string(id));
            const bool is = enabledStep ? IsWindowEnabled(control) != FALSE : IsWindowVisible(control) != FALSE;
            if (is != (wanted != 0))
                return Fail(step_, "control " + std::to_string(id) + " is " + (is ? "" : "not ") +
                                       (enabledStep ? "enabled" : "visible"));
            return true;
        }
        if (name == "click") {
            int id = 0;
            if (!TakeId(id)) return Usage(name);
            HWND control = GetDlgItem(t_.dialog, id);
            if (control == nullptr) return Fail(step_, "no control " + std::to_string(id) + " to click");
            PostMessageA(t_.dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
            return true;
        }
        if (name == "settext") {
            // As if the user typed the text: the control raises its change notifications.
            int id = 0;
            std::string text;
            if (!TakeId(id) || !Take(text)) return Usage(name);
            HWND control = GetDlgItem(t_.dialog, id);
            DWORD_PTR result = 0;
            if (control == nullptr || !SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
                return Fail(step_, "cannot set the text of " + std::to_string(id));
            return true;
        }
        if (name == "syscommand") {
            int command = 0;
            if (!TakeId(command)) return Usage(name);
            PostMessageA(t_.dialog, WM_SYSCOMMAND, static_cast<WPARAM>(command), 0);
            return true;
        }
        if (name == "select") {
            int id = 0, row = 0;
            std::string w;
            if (!TakeId(id) || !Take(w) || !ParseInt(w, row)) return Usage(name);
            HWND combo = GetDlgItem(t_.dialog, id);
            DWORD_PTR result = 0;
            if (combo == nullptr || !SendMessageTimeoutA(combo, CB_SETCURSEL, static_cast<WPARAM>(row), 0,
                                                         SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) ||
                static_cast<LRESULT>(result) != row)
                return Fail(step_, "cannot select row " + std::to_string(row) + " of " + std::to_string(id));
            // Sent, not posted: the next step sees what the dialog made of the change.
            if (!SendMessageTimeoutA(t_.dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo),
                                     SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
                return Fail(step_, "the dialog did not take the change of " + std::to_string(id));
            return true;
        }
        if (name == "key") {
            std::string which;
            if (!Take(which)) return Usage(name);
            WPARAM vk = 0;
            if (which == "return") vk = VK_RETURN;
            else if (which == "escape") vk = VK_ESCAPE;
            else return Usage(name);
            HWND focus = FocusedWindow(t_);
            const UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), MAPVK_VK_TO_VSC);
            PostMessageA(focus, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
            PostMessageA(focus, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3LL << 30));
            return true;
        }
        if (name == "box") {
            std::string wanted, answer;
            double seconds = 0;
            if (!Take(wanted) || !Take(answer) || !TakeSeconds(seconds) || (answer != "ok" && answer != "cancel"))
                return Usage(name);
            HWND box = nullptr;
            if (!WaitFor(seconds, [&] { return (box = FindMessageBox(t_)) != nullptr; }))
                return Fail(step_, "no message box appeared (expected one with " + Quoted(wanted) + ")");
            // The box fills its texts as it opens: give it a moment.
            std::string text;
            WaitFor(2, [&] { return (text = BoxText(box)).find(wanted) != std::string::npos; });
            if (text.find(wanted) == std::string::npos)
                return Fail(step_, "the message box says " + Quoted(text) + ", expected " + Quoted(wanted));
            const int button = answer == "ok" ? IDOK : IDCANCEL;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            if (!WaitFor(5, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
                return Fail(step_, "the message box did not close");
            return true;
        }
        if (name == "centred") {
            RECT window{}, area{};
            GetWindowRect(t_.dialog, &window);
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
            std::string how;
            if (!CentredOn(window, area, how)) return Fail(step_, "the window is not centred: " + how);
            return true;
        }
        if (name == "box-centred") {
            std::string wanted;
            double seconds = 0;
            if (!Take(wanted) || !TakeSeconds(seconds)) return Usage(name);
            HWND box = nullptr;
            if (!WaitFor(seconds, [&] { return (box = FindMessageBox(t_)) != nullptr; }))
                return Fail(step_, "no dialog box appeared (expected one with " + Quoted(wanted) + ")");
            std::string text;
            WaitFor(2, [&] { return (text = BoxText(box)).find(wanted) != std::string::npos; });
            if (text.find(wanted) == std::string::npos)
                return Fail(step_, "the dialog box says " + Quoted(text) + ", expected " + Quoted(wanted));
            RECT inner{}, outer{};
            GetWindowRect(box, &inner);
            GetWindowRect(t_.dialog, &outer);
            std::string how;
            if (!CentredOn(inner, outer, how)) return Fail(step_, "the dialog box is not centred over the window: " + how);
            return true;
        }
        if (name == "no-box") {
            double seconds = 0;
            if (!TakeSeconds(seconds)) return Usage(name);
            HWND box = nullptr;
            if (WaitFor(seconds, [&] { return (box = FindMessageBox(t_)) != nullptr; }))
                return Fail(step_, "a message box appeared: " + Quoted(BoxText(box)));
            return true;
        }
        if (name == "still-open") {
            double seconds = 0;
            if (!TakeSeconds(seconds)) return Usage(name);
            Sleep(static_cast<DWORD>(seconds * 1000));
            if (!IsWindow(t_.dialog) || !Running(t_)) return Fail(step_, "the window closed");
            return true;
        }
        if (name == "expect-exit") {
            double seconds = 0;
            if (!TakeSeconds(seconds)) return Usage(name);
            if (WaitForSingleObject(t_.process.hProcess, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0)
                return Fail(step_, "the program did not end within the time given");
            return true;
        }
        if (name == "sleep") {
            double seconds = 0;
            if (!TakeSeconds(seconds)) return Usage(name);
            Sleep(static_cast<DWORD>(seconds * 1000));
            return true;
        }
        if (name == "signal") {
            std::string path;
            if (!Take(path)) return Usage(name);
            HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (f == INVALID_HANDLE_VALUE) return Fail(step_, "cannot create " + path);
            CloseHandle(f);
            return true;
        }
        if (name == "await") {
            std::string path;
            double seconds = 0;
            if (!Take(path) || !TakeSeconds(seconds)) return Usage(name);
            if (!WaitFor(seconds, [&] { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }))
                return Fail(step_, path + " did not appear");
            return true;
        }
        return Fail(step_, "unknown step " + Quoted(name));
    }

    Target& t_;
    std::vector<std::string> words_;
    size_t next_ = 0;
    size_t step_ = 0;
};

struct WindowSearch {
    DWORD processId;
    const char* caption;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    if (pid == search->processId && std::string(text) == search->caption && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    std::string caption = "TALMO Upgrade for Mirra";
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--caption") {
        caption = argv[2];
        first = 3;
    }
    if (argc <= first) {
        std::fprintf(stderr, "usage: gui_driver [--caption TEXT] PROGRAM STEP...\n");
        return 2;
    }
    std::string commandLine = std::string("\"") + argv[first] + "\"";
    std::vector<std::string> words(argv + first + 1, argv + argc);

    Target t;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &t.process)) {
        std::fprintf(stderr, "gui_driver: cannot start %s (error %lu)\n", argv[first],
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    WindowSearch search{t.process.dwProcessId, caption.c_str(), nullptr};
    WaitFor(kFindWindowMs / 1000.0, [&] {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr || !Running(t);
    });
    t.dialog = search.found;

    int status = 0;
    if (t.dialog == nullptr) {
        std::fprintf(stderr, "gui_driver: no window captioned \"%s\" appeared%s\n", caption.c_str(),
                     Running(t) ? "" : " (the program ended)");
        status = 1;
    } else if (!Steps(t, words).Run()) {
        status = 1;
    }
    if (Running(t)) {
        if (status == 0) std::printf("gui_driver: the program still runs after the last step; ending it\n");
        TerminateProcess(t.process.hProcess, 3);
        WaitForSingleObject(t.process.hProcess, 5000);
    }
    if (status == 0) std::printf("gui_driver: every step held\n");
    CloseHandle(t.process.hThread);
    CloseHandle(t.process.hProcess);
    return status;
}

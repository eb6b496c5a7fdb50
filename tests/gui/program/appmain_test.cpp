// FileEncryption.exe driven from outside, as a user meets it: the program runs as its own process,
// its window is found by caption, its buttons are pressed, its dialogs filled in, and what it
// leaves behind (files, exit code) is checked. Runs under Wine's null driver; every wait has a
// time-out, and a program still running when its test ends is terminated.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../dialogdriver.h"
#include "../windows/windowtest.h"
#include "support/support.h"

namespace rt::test {
namespace {

constexpr DWORD WAIT_MS = 15000;

// The program as the build placed it. Wine shows the Linux root as drive Z.
std::wstring ProgramPath() {
    std::wstring path;
    for (const char* c = FILE_ENCRYPTION_EXE; *c != 0; c++) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    return path[0] == L'\\' ? L"Z:" + path : path;
}

// One run of the program in a folder of its own; terminated if it is still running at the end.
class Program {
  public:
    explicit Program(const std::filesystem::path& folder) {
        std::wstring path = ProgramPath();
        std::wstring commandLine = L"\"" + path + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        started_ = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, folder.wstring().c_str(), &startup, &process_);
    }
    ~Program() {
        if (!started_) {
            return;
        }
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, WAIT_MS);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    DWORD Id() const { return process_.dwProcessId; }
    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    // The program's window "File Encryption" once it is visible and holds both buttons (the last
    // is made after the window is shown), or null.
    HWND Window() {
        if (window_ == nullptr && started_) {
            WaitUntil(
                [&] {
                    HWND found = FindWindowOf(Id(), nullptr, L"File Encryption");
                    return found != nullptr &&
                           FindWindowExW(found, nullptr, L"Button", L"Decrypt File") &&
                           (window_ = found) != nullptr;
                },
                WAIT_MS);
        }
        return window_;
    }
    HWND Button(const WCHAR* text) { return FindWindowExW(Window(), nullptr, L"Button", text); }

    // Presses a button as a click does, without waiting for the action: the window comes to the
    // front first, as it does under the user's mouse.
    void Press(const WCHAR* text) {
        ToFront();
        PostMessageW(Button(text), BM_CLICK, 0, 0);
    }

    // True once the program's thread answers messages again: back in its event loop (or in a
    // dialog's), not inside an action's file work.
    bool Answers() {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(Window(), WM_NULL, 0, 0, SMTO_NORMAL, WAIT_MS, &result) != 0;
    }

    // The exit code once the process has ended, or -1 when it is still running after the wait.
    int64_t ExitCode() {
        if (WaitForSingleObject(process_.hProcess, WAIT_MS) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    // Brings the program's window to the front, so that keys pressed go to it.
    bool ToFront() {
        SetForegroundWindow(Window());
        return WaitUntil([&] { return GetForegroundWindow() == Window(); }, WAIT_MS);
    }

    // The control that has the keyboard focus in the program.
    HWND Focus() {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(GetWindowThreadProcessId(Window(), nullptr), &info);
        return info.hwndFocus;
    }

  private:
    PROCESS_INFORMATION process_ = {};
    BOOL started_ = FALSE;
    HWND window_ = nullptr;
};

// A left click at a screen point, through the system's input queue.
void ClickAt(POINT point) {
    SetCursorPos(point.x, point.y);
    INPUT inputs[2] = {{INPUT_MOUSE, {.mi = {0, 0, 0, MOUSEEVENTF_LEFTDOWN, 0, 0}}},
                       {INPUT_MOUSE, {.mi = {0, 0, 0, MOUSEEVENTF_LEFTUP, 0, 0}}}};
    SendInput(2, inputs, sizeof(INPUT));
}

// The middle of the window's close box: the point of its caption row where the window's own hit
// test answers HTCLOSE, searched from the right.
POINT CloseBox(HWND window) {
    RECT frame;
    GetWindowRect(window, &frame);
    POINT clientOrigin = {0, 0};
    ClientToScreen(window, &clientOrigin);
    int32_t row = (frame.top + clientOrigin.y) / 2;
    int32_t right = 0;
    for (int32_t x = frame.right - 1; x > frame.left; x--) {
        LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, row));
        if (hit == HTCLOSE && right == 0) {
            right = x;
        } else if (hit != HTCLOSE && right != 0) {
            return {(x + 1 + right) / 2, row};
        }
    }
    return {right, row};
}

TEST(FileEncryptionWindow, IsLaidOutAsDesigned) {
    TempFolder folder;
    Program program(folder.Path());
    HWND window = program.Window();
    ASSERT_NE(window, nullptr) << "no window \"File Encryption\" appeared";

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 250);
    EXPECT_EQ(client.bottom, 80);
    RECT frame;
    GetWindowRect(window, &frame);
    int32_t width = frame.right - frame.left;
    int32_t height = frame.bottom - frame.top;
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU) << "no close box";
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    struct ButtonRow {
        const WCHAR* text;
        LONG x;
        LONG y;
    };
    const ButtonRow buttons[] = {{L"Encrypt File", 15, 15}, {L"Decrypt File", 135, 15}};
    for (const ButtonRow& row : buttons) {
        SCOPED_TRACE(testing::Message() << "button at x " << row.x);
        HWND button = program.Button(row.text);
        ASSERT_NE(button, nullptr);
        RECT place;
        GetWindowRect(button, &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, row.x);
        EXPECT_EQ(place.top, row.y);
        EXPECT_EQ(place.right - place.left, 100);
        EXPECT_EQ(place.bottom - place.top, 50);
    }

    ASSERT_TRUE(program.ToFront());
    PressKeys({VK_TAB});
    EXPECT_TRUE(
        WaitUntil([&] { return program.Focus() == program.Button(L"Encrypt File"); }, WAIT_MS))
        << "the first Tab did not focus \"Encrypt File\"";
}

struct ActionCase {
    const WCHAR* button;
    const WCHAR* dialogTitle;
    const char* inputName;
    std::string input;
    const char* outputName;
    std::string output;
};

TEST(FileEncryptionActions, WriteTheTransformedSibling) {
    const ActionCase cases[] = {
        // Every line ends with CR LF in the copy; bytes outside 33..126 stay as they are.
        {L"Encrypt File", L"Open file to encrypt", "letter.txt", "Hello, World!\ncaf\xE9 xyz\n",
         "letter-enc.txt", "w6==@[ (@C=5P\r\n427\xE9 IJK\r\n"},
        {L"Decrypt File", L"Open file to decrypt", "letter-enc.txt", "w6==@[ (@C=5P\r\n~!\r\n",
         "letter-enc-dec.txt", "Hello, World!\r\nOP\r\n"},
    };
    for (const ActionCase& action : cases) {
        SCOPED_TRACE(action.outputName);
        TempFolder folder;
        WriteBytes(folder.Path(action.inputName), action.input);
        Program program(folder.Path());
        ASSERT_NE(program.Window(), nullptr);

        DialogDriver driver(
            [&](DialogDriver& script) {
                script.ChooseFile(action.dialogTitle, folder.Path(action.inputName).wstring());
            },
            program.Id());
        program.Press(action.button);
        EXPECT_EQ(driver.Finish(), "");
        ASSERT_TRUE(program.Answers());
        std::vector<std::string> names = {action.inputName, action.outputName};
        std::sort(names.begin(), names.end());
        EXPECT_EQ(NamesIn(folder.Path()), names);
        EXPECT_EQ(ReadBytes(folder.Path(action.outputName)), action.output);
        EXPECT_EQ(ReadBytes(folder.Path(action.inputName)), action.input);
        EXPECT_TRUE(program.Running()) << "the program ended after its action";
    }
}

TEST(FileEncryptionActions, CancelCreatesNothing) {
    TempFolder folder;
    WriteBytes(folder.Path("letter.txt"), "abc\n");
    Program program(folder.Path());
    ASSERT_NE(program.Window(), nullptr);
    const std::pair<const WCHAR*, const WCHAR*> presses[] = {
        {L"Encrypt File", L"Open file to encrypt"}, {L"Decrypt File", L"Open file to decrypt"}};
    for (auto [button, title] : presses) {
        DialogDriver driver([&](DialogDriver& script) { script.Cancel(title); }, program.Id());
        program.Press(button);
        EXPECT_EQ(driver.Finish(), "");
        ASSERT_TRUE(program.Answers());
    }
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"letter.txt"});
}

TEST(FileEncryptionActions, MissingInputIsToldAndCreatesNothing) {
    TempFolder folder;
    Program program(folder.Path());
    ASSERT_NE(program.Window(), nullptr);
    std::wstring message;
    HWND owner = nullptr;
    DialogDriver driver(
        [&](DialogDriver& script) {
            if (script.ChooseFile(L"Open file to encrypt", folder.Path("absent.txt").wstring())) {
                message = script.AnswerMessageBox(L"File Encryption", &owner);
            }
        },
        program.Id());
    program.Press(L"Encrypt File");
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_EQ(message.rfind(L"The file could not be opened:", 0), 0u);
    EXPECT_NE(message.find(L"absent.txt"), std::wstring::npos);
    EXPECT_EQ(owner, program.Window());
    ASSERT_TRUE(program.Answers());
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{});
}

TEST(FileEncryptionClose, ARequestDuringAnActionIsServedAfterIt) {
    TempFolder folder;
    std::string input;
    for (int line = 0; line < 2000; line++) {
        input += "line " + std::to_string(line) + "\n";
    }
    WriteBytes(folder.Path("long.txt"), input);
    Program program(folder.Path());
    HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    bool runningAfterRequest = false;
    DialogDriver driver(
        [&](DialogDriver& script) {
            if (script.WaitForDialog(L"Open file to encrypt") == nullptr) {
                return;
            }
            // The request arrives while the action waits in its dialog.
            PostMessageW(window, WM_CLOSE, 0, 0);
            Sleep(200);
            runningAfterRequest = program.Running();
            script.ChooseFile(L"Open file to encrypt", folder.Path("long.txt").wstring());
        },
        program.Id());
    program.Press(L"Encrypt File");
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_TRUE(runningAfterRequest) << "the close request ended the program during its action";
    EXPECT_EQ(program.ExitCode(), 0);
    std::string output = ReadBytes(folder.Path("long-enc.txt"));
    EXPECT_EQ(output.size(), input.size() + 2000) << "the copy is not complete";
    EXPECT_EQ(output.substr(0, 7), "=:?6 _\r");
}

TEST(FileEncryptionClose, EveryWayToCloseEndsWithExitCodeZero) {
    struct CloseCase {
        const char* name;
        std::function<void(Program&)> close;
    };
    const CloseCase cases[] = {
        {"close box", [](Program& program) { ClickAt(CloseBox(program.Window())); }},
        {"Alt+F4",
         [](Program& program) {
             program.ToFront();
             PressKeys({VK_MENU, VK_F4});
         }},
        {"system menu",
         [](Program& program) {
             // The system menu's Close sends this command to the window.
             PostMessageW(program.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
         }},
    };
    for (const CloseCase& way : cases) {
        SCOPED_TRACE(way.name);
        TempFolder folder;
        Program program(folder.Path());
        ASSERT_NE(program.Window(), nullptr);
        way.close(program);
        EXPECT_EQ(program.ExitCode(), 0);
    }
}

}  // namespace
}  // namespace rt::test

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/app.h"
#include "dialogdriver.h"
#include "support/support.h"
#include "testwindow.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using rt::test::DialogDriver;
using rt::test::NamesIn;
using rt::test::ReadBytes;
using rt::test::TempFolder;
using rt::test::TestWindow;
using rt::test::WriteBytes;

constexpr const WCHAR* ENCRYPT_TITLE = L"Open file to encrypt";
constexpr const WCHAR* DECRYPT_TITLE = L"Open file to decrypt";
constexpr const WCHAR* CAPTION = L"File Encryption";
constexpr int MESSAGE_ICON = 0x0440;

// Runs `action` with the program's window in front, choosing `path` in its dialog; returns the
// text of the message box it showed (empty: none), after checking the box's owner and icon.
std::wstring Choose(int64_t (*action)(), const WCHAR* title, const std::wstring& path,
                    bool expectMessage = false) {
    TestWindow window;
    SetForegroundWindow(window.Handle());
    std::wstring text;
    HWND owner = nullptr;
    bool errorIcon = false;
    DialogDriver driver([&](DialogDriver& d) {
        if (!d.ChooseFile(title, path) || !expectMessage) {
            return;
        }
        HWND box = d.WaitForDialog(CAPTION);
        if (box != nullptr) {
            errorIcon = SendDlgItemMessageW(box, MESSAGE_ICON, STM_GETICON, 0, 0) ==
                        reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_ERROR));
            text = d.AnswerMessageBox(CAPTION, &owner);
        }
    });
    EXPECT_EQ(action(), 0);
    EXPECT_EQ(driver.Finish(), "");
    if (expectMessage) {
        EXPECT_EQ(owner, window.Handle());
        EXPECT_TRUE(errorIcon);
    }
    return text;
}

TEST(EncryptFileAction, ChosenFileIsEncryptedAndDecryptedBack) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\nPlain text\r\n");
    EXPECT_EQ(Choose(EncryptFileAction, ENCRYPT_TITLE, folder.Name("notes.txt")), L"");
    EXPECT_EQ(ReadBytes(folder.Path("notes-enc.txt")), "234\r\n!=2:? E6IE\r\n");

    EXPECT_EQ(Choose(DecryptFileAction, DECRYPT_TITLE, folder.Name("notes-enc.txt")), L"");
    EXPECT_EQ(ReadBytes(folder.Path("notes-enc-dec.txt")), "abc\r\nPlain text\r\n");
}

TEST(EncryptFileAction, CancelDoesNothing) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    // The dialog opens in the current folder: a file created by mistake would land there.
    fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    TestWindow window;
    SetForegroundWindow(window.Handle());
    DialogDriver driver([](DialogDriver& d) { d.Cancel(ENCRYPT_TITLE); });
    EXPECT_EQ(EncryptFileAction(), 0);
    EXPECT_EQ(driver.Finish(), "");
    fs::current_path(previous);
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"notes.txt"});
}

TEST(EncryptFileAction, MissingInputIsToldInAMessageBoxAndNothingIsCreated) {
    TempFolder folder;
    EXPECT_EQ(Choose(EncryptFileAction, ENCRYPT_TITLE, folder.Name("missing.txt"), true),
              L"The file could not be opened:\n" + folder.Name("missing.txt"));
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
}

TEST(EncryptFileAction, ReadOnlyInputThatAViewerHoldsOpenIsEncrypted) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    SetFileAttributesW(folder.Name("notes.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    // A viewer that lets others only read: an open for writing would now fail.
    HANDLE viewer = CreateFileW(folder.Name("notes.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    ASSERT_EQ(CreateFileW(folder.Name("notes.txt").c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);

    EXPECT_EQ(Choose(EncryptFileAction, ENCRYPT_TITLE, folder.Name("notes.txt")), L"");
    CloseHandle(viewer);
    SetFileAttributesW(folder.Name("notes.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadBytes(folder.Path("notes-enc.txt")), "234\r\n");
}

TEST(DecryptFileAction, OutputThatCannotBeCreatedIsToldInAMessageBox) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    fs::create_directory(folder.Path("notes-dec.txt"));
    EXPECT_EQ(Choose(DecryptFileAction, DECRYPT_TITLE, folder.Name("notes.txt"), true),
              L"The file could not be created:\n" + folder.Name("notes-dec.txt"));
    EXPECT_TRUE(fs::is_directory(folder.Path("notes-dec.txt")));
}

}  // namespace
}  // namespace app

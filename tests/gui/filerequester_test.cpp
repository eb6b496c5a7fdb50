#include <gtest/gtest.h>

#include "dialogdriver.h"
#include "runtime/gui/requesters/requesters.h"
#include "runtime/strings/strings.h"
#include "support/support.h"
#include "testwindow.h"

namespace rt {
namespace {

using test::ControlText;
using test::DialogDriver;
using test::TempFolder;
using test::TestWindow;

constexpr int FILE_NAME_BOX = 0x47C;
constexpr int FILE_TYPE_LIST = 0x470;
constexpr int READ_ONLY_BOX = 0x410;
constexpr const WCHAR* TITLE = L"Open file to encrypt";

// Takes a requester's result: it must start at the mark, with the builder position just after
// it; the builder is then rewound.
std::wstring Take(const WCHAR* result, int32_t mark) {
    EXPECT_EQ(reinterpret_cast<const char*>(result),
              reinterpret_cast<const char*>(StringBuilderBase()) + mark);
    std::wstring text = result;
    EXPECT_EQ(StringBuilderMark(), mark + static_cast<int32_t>(2 * text.size()));
    StringBuilderRewind(mark);
    return text;
}

std::wstring Open(const WCHAR* defaultFile, const WCHAR* pattern = L"*.*", int32_t position = 0) {
    int32_t mark = StringBuilderMark();
    return Take(RequestOpenFile(TITLE, defaultFile, pattern, position, mark), mark);
}

std::wstring OpenSeveral(const WCHAR* defaultFile) {
    int32_t mark = StringBuilderMark();
    return Take(RequestOpenFileEx(TITLE, defaultFile, L"*.*", 0, REQUEST_MULTISELECT, mark), mark);
}

std::wstring Next() {
    int32_t mark = StringBuilderMark();
    return Take(RequestNextFile(mark), mark);
}

// The folder the dialog shows, without a trailing separator.
std::wstring FolderOf(HWND dialog) {
    WCHAR folder[MAX_PATH] = {};
    SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    std::wstring text = folder;
    if (!text.empty() && text.back() == L'\\') {
        text.pop_back();
    }
    return text;
}

std::wstring CurrentFolder() {
    WCHAR folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    return folder;
}

void BringToFront(HWND window) {
    SetForegroundWindow(window);
    ASSERT_EQ(GetForegroundWindow(), window);
}

TEST(RequestOpenFile, ApplicationCallShowsAnOwnedModalDialogAndReturnsThePath) {
    TempFolder folder;
    test::WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    TestWindow main;
    TestWindow other;
    BringToFront(main.Handle());
    std::wstring startFolder = CurrentFolder();

    HWND owner = nullptr;
    std::wstring name = L"?";
    std::wstring filter;
    LRESULT filterCount = 0;
    LRESULT filterSelected = -1;
    bool readOnlyBoxShown = true;
    bool otherEnabled = true;
    DialogDriver driver([&](DialogDriver& d) {
        HWND dialog = d.WaitForDialog(TITLE);
        if (dialog == nullptr) {
            return;
        }
        owner = GetWindow(dialog, GW_OWNER);
        name = ControlText(dialog, FILE_NAME_BOX);
        HWND types = GetDlgItem(dialog, FILE_TYPE_LIST);
        filterCount = SendMessageW(types, CB_GETCOUNT, 0, 0);
        filterSelected = SendMessageW(types, CB_GETCURSEL, 0, 0);
        WCHAR text[64] = {};
        SendMessageW(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
        filter = text;
        readOnlyBoxShown = IsWindowVisible(GetDlgItem(dialog, READ_ONLY_BOX));
        otherEnabled = IsWindowEnabled(other.Handle());
        d.ChooseFile(TITLE, folder.Name("notes.txt"));
    });
    std::wstring chosen = Open(L"");
    EXPECT_EQ(driver.Finish(), "");

    EXPECT_EQ(chosen, folder.Name("notes.txt"));
    EXPECT_EQ(owner, main.Handle());
    EXPECT_EQ(name, L"");
    EXPECT_EQ(filterCount, 1);
    EXPECT_EQ(filter, L"*.*");
    EXPECT_EQ(filterSelected, 0);
    EXPECT_FALSE(readOnlyBoxShown);
    // The owner is disabled by the dialog itself while it is up; the thread's other window by the
    // requester. Both are enabled again afterwards.
    EXPECT_FALSE(otherEnabled);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_TRUE(IsWindowEnabled(other.Handle()));
    // The dialog does not change the program's current folder.
    EXPECT_EQ(CurrentFolder(), startFolder);
}

TEST(RequestOpenFile, CancelReturnsTheEmptyString) {
    DialogDriver driver([](DialogDriver& d) { d.Cancel(TITLE); });
    EXPECT_EQ(Open(L""), L"");
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_EQ(Next(), L"");
}

TEST(RequestOpenFile, FileThatDoesNotExistIsAccepted) {
    TempFolder folder;
    DialogDriver driver([&](DialogDriver& d) { d.ChooseFile(TITLE, folder.Name("missing.txt")); });
    EXPECT_EQ(Open(L""), folder.Name("missing.txt"));
    EXPECT_EQ(driver.Finish(), "");
}

// Shows the dialog with `defaultFile` and returns the folder and name it starts with.
std::pair<std::wstring, std::wstring> StartOf(const std::wstring& defaultFile) {
    std::pair<std::wstring, std::wstring> start;
    DialogDriver driver([&](DialogDriver& d) {
        HWND dialog = d.WaitForDialog(TITLE);
        if (dialog != nullptr) {
            start = {FolderOf(dialog), ControlText(dialog, FILE_NAME_BOX)};
            d.Press(dialog, IDCANCEL);
        }
    });
    EXPECT_EQ(Open(defaultFile.c_str()), L"");
    EXPECT_EQ(driver.Finish(), "");
    return start;
}

TEST(RequestOpenFile, DefaultFileIsSplitIntoFolderAndName) {
    TempFolder folder;
    std::wstring path = test::WidePath(folder.Path());
    using Start = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(StartOf(path + L"\\report.txt"), Start(path, L"report.txt"));
    // A bare name opens in the current folder with the name filled in.
    EXPECT_EQ(StartOf(L"report.txt"), Start(CurrentFolder(), L"report.txt"));
    // A wildcard pattern is not a valid name: the folder opens with an empty name field.
    EXPECT_EQ(StartOf(path + L"\\*.txt"), Start(path, L""));
    // A backslash at the very start makes no folder, and the name it leaves is not valid.
    EXPECT_EQ(StartOf(L"\\report.txt"), Start(CurrentFolder(), L""));
}

TEST(RequestOpenFile, PatternPositionSelectsThePairShownFirst) {
    LRESULT count = 0;
    LRESULT selected = -1;
    WCHAR description[64] = {};
    DialogDriver driver([&](DialogDriver& d) {
        HWND dialog = d.WaitForDialog(TITLE);
        if (dialog != nullptr) {
            HWND types = GetDlgItem(dialog, FILE_TYPE_LIST);
            count = SendMessageW(types, CB_GETCOUNT, 0, 0);
            selected = SendMessageW(types, CB_GETCURSEL, 0, 0);
            SendMessageW(types, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(description));
            d.Press(dialog, IDCANCEL);
        }
    });
    EXPECT_EQ(Open(L"", L"Text files|*.txt|All files|*.*", 1), L"");
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(selected, 1);
    EXPECT_STREQ(description, L"All files");
}

TEST(RequestOpenFileEx, SelectionOfSeveralFilesIsReadOneByOne) {
    TempFolder folder;
    std::wstring path = test::WidePath(folder.Path());
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        test::WriteBytes(folder.Path(name), "x");
    }
    DialogDriver driver(
        [](DialogDriver& d) { d.ChooseFile(TITLE, L"\"c.txt\" \"a.txt\" \"b.txt\""); });
    EXPECT_EQ(OpenSeveral((path + L"\\*.*").c_str()), path + L"\\c.txt");
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_EQ(Next(), path + L"\\a.txt");
    EXPECT_EQ(Next(), path + L"\\b.txt");
    EXPECT_EQ(Next(), L"");
    EXPECT_EQ(Next(), L"");
}

TEST(RequestOpenFileEx, SelectionOfOneFileReturnsItsPathAndNothingMore) {
    TempFolder folder;
    test::WriteBytes(folder.Path("a.txt"), "x");
    DialogDriver driver([&](DialogDriver& d) { d.ChooseFile(TITLE, folder.Name("a.txt")); });
    EXPECT_EQ(OpenSeveral(L""), folder.Name("a.txt"));
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_EQ(Next(), L"");
}

TEST(RequestOpenFileEx, SaveDialogKeepsAPendingSelectionAndOpenDialogDiscardsIt) {
    TempFolder folder;
    std::wstring path = test::WidePath(folder.Path());
    test::WriteBytes(folder.Path("kept.txt"), "old");
    DialogDriver several(
        [](DialogDriver& d) { d.ChooseFile(TITLE, L"\"a.txt\" \"b.txt\" \"c.txt\""); });
    EXPECT_EQ(OpenSeveral((path + L"\\*.*").c_str()), path + L"\\a.txt");
    EXPECT_EQ(several.Finish(), "");

    // Saving over an existing file asks nothing: a prompt would show up as a stray dialog.
    DialogDriver save([&](DialogDriver& d) { d.ChooseFile(L"Save", folder.Name("kept.txt")); });
    int32_t mark = StringBuilderMark();
    EXPECT_EQ(Take(RequestSaveFile(L"Save", L"", L"*.*", 0, mark), mark), folder.Name("kept.txt"));
    EXPECT_EQ(save.Finish(), "");
    EXPECT_EQ(Next(), path + L"\\b.txt");

    DialogDriver open([](DialogDriver& d) { d.Cancel(TITLE); });
    EXPECT_EQ(Open(L""), L"");
    EXPECT_EQ(open.Finish(), "");
    EXPECT_EQ(Next(), L"");
}

TEST(RequestOpenFileEx, ResultLongerThanThePathRoomIsDeliveredWhole) {
    TempFolder folder;
    std::wstring path = test::WidePath(folder.Path());
    // Names typed as full paths come back joined to the dialog's folder, however long that makes
    // the result.
    std::wstring first = path + L"\\" + std::wstring(200, L'f') + L".txt";
    std::wstring second = path + L"\\" + std::wstring(150, L's') + L".txt";
    DialogDriver driver(
        [&](DialogDriver& d) { d.ChooseFile(TITLE, L"\"" + first + L"\" \"" + second + L"\""); });
    std::wstring result = OpenSeveral((path + L"\\*.*").c_str());
    EXPECT_EQ(driver.Finish(), "");
    EXPECT_GT(result.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(result, path + L"\\" + first);
    EXPECT_EQ(Next(), path + L"\\" + second);
    EXPECT_EQ(Next(), L"");
}

}  // namespace
}  // namespace rt

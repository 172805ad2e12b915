// Start-up pieces in this process: the version strings as read (line ends kept), the command line,
// and the instance guard's lock.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/gui/GuiOptions.h"
#include "app/gui/InstanceGuard.h"
#include "app/gui/StartUp.h"
#include "app/gui/StartupMessage.h"
#include "base/DisplayPath.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "support/TestSupport.h"
#include "ui/VersionStrings.h"

namespace {

TEST(ReadVersionFile, LinesKeepTheirEndsLoseControlCharactersAndMissingLinesStayEmpty) {
    struct Row {
        const char* name;
        std::string text;
        std::wstring type, firmware, data, radar;
    };
    const Row rows[] = {
        {"two lines", "AC7811\n0105\n", L"AC7811\n", L"0105\n", L"", L""},
        {"no last line end", "AC7811\n0105\n0300\n1a2c", L"AC7811\n", L"0105\n", L"0300\n", L"1a2c"},
        {"fifth line ignored", "a\nb\nc\nd\ne\n", L"a\n", L"b\n", L"c\n", L"d\n"},
        {"split line", std::string(3000, 'z') + "\n", std::wstring(2047, L'z'), std::wstring(953, L'z') + L"\n", L"", L""},
        {"utf-8", "Тип\n", L"Тип\n", L"", L"", L""},
        // Control characters never reach a label or a terminal; the line end stays as text mode gives it.
        {"CR LF line ends", "AC7811\r\n0105\r\n", L"AC7811\n", L"0105\n", L"", L""},
        {"control characters", "AC\x1b[2J7811\a\n01\t05\n\x7f" "0300\r\n1a\xc2\x9b" "2c", L"AC[2J7811\n", L"0105\n",
         L"0300\n", L"1a2c"},
        {"byte-order mark", "\xef\xbb\xbf" "AC7811\n", L"AC7811\n", L"", L"", L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::TempDir dir;
        testsupport::WriteTextFile(dir.File("ver.txt"), r.text);
        VerFileRadar = L"stale";
        EXPECT_EQ(ReadVersionFile(std::wstring(dir.Path().begin(), dir.Path().end()) + L"/"), 1);
        EXPECT_EQ(VerDeviceType, r.type);
        EXPECT_EQ(VerFileFirmware, r.firmware);
        EXPECT_EQ(VerFileData, r.data);
        EXPECT_EQ(VerFileRadar, r.radar);
    }
}

TEST(ReadVersionFile, AMissingFileLeavesTheStringsEmpty) {
    testsupport::TempDir dir;
    VerDeviceType = L"stale";
    EXPECT_EQ(ReadVersionFile(std::wstring(dir.Path().begin(), dir.Path().end()) + L"/"), 0);
    EXPECT_EQ(VerDeviceType, L"");
    EXPECT_EQ(VerFileRadar, L"");
}

TEST(GuiOptions, OwnOptionsAndQtsOptions) {
    testsupport::TempDir dir;
    std::string relative = std::filesystem::relative(dir.Path()).string();
    // Windows: the temporary folder may lie on another drive than the working folder, with no
    // relative path between them.
    if (relative.empty()) relative = dir.Path();
    const GuiOptions options = ParseGuiOptions({"-platform", "offscreen", "--port", "/dev/a", "--port", "/dev/b",
                                                "--folder", relative, "--automation"});
    EXPECT_EQ(options.error, "");
    EXPECT_EQ(options.ports, (std::vector<std::string>{"/dev/a", "/dev/b"}));
    // Compared as paths: on Windows the parser writes slashes where the temporary folder has backslashes.
    EXPECT_TRUE(std::filesystem::path(options.folder) == testsupport::Utf8Path(dir.Path() + "/"))
        << std::filesystem::path(options.folder).string();
    EXPECT_EQ(options.folder.back(), L'/');
    EXPECT_TRUE(options.automation);
    EXPECT_FALSE(options.help);
}

// The rules iap-cli follows too; a word with one '-' and whatever follows it belong to Qt.
TEST(GuiOptions, RefusalsAndWhatIsLeftToQt) {
    testsupport::TempDir dir;
    const std::string cyrillic = dir.File("Обновление");
    std::filesystem::create_directory(testsupport::Utf8Path(cyrillic));
    struct Row {
        std::vector<std::string> args;
        std::string error;
        std::vector<std::string> ports;
        bool help;
    };
    const Row rows[] = {
        {{"--folder=" + cyrillic, "-reverse"}, "", {}, false},
        {{"--port", "COM3", "offscreen", "-h"}, "", {"COM3"}, true},
        {{"-platform", "offscreen", "--bogus"}, "неизвестный параметр: --bogus", {}, false},
        {{"--automation=no"}, "параметр --automation не принимает значения", {}, false},
        {{"--port", "COM3", "--port"}, "параметру --port нужно значение", {"COM3"}, false},
        {{"--folder", dir.File("нет")}, "--folder " + DisplayPath(dir.File("нет")) + ": нет такой папки", {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.error);
        const GuiOptions options = ParseGuiOptions(row.args);
        EXPECT_EQ(options.error, row.error);
        if (!row.error.empty()) continue;
        EXPECT_EQ(options.ports, row.ports);
        EXPECT_EQ(options.help, row.help);
    }
    // The folder's Cyrillic name arrives whole (on Windows through the wide text).
    const GuiOptions cyrillicFolder = ParseGuiOptions({"--folder=" + cyrillic});
    EXPECT_TRUE(testsupport::Utf8Path(WideToUtf8(cyrillicFolder.folder)) == testsupport::Utf8Path(cyrillic + "/"))
        << WideToUtf8(cyrillicFolder.folder);
    EXPECT_NE(GuiUsage().find("Вызов: iap-tool [--port PORT]... [--folder DIR] [--automation] [--help]"), std::string::npos)
        << GuiUsage();
}

// Help and hints name ports as the platform's users know them: COM ports on Windows, device files
// elsewhere; never the other platform's.
TEST(GuiOptions, HelpNamesThePlatformsPorts) {
#ifdef _WIN32
    const char* const named[] = {"COM20", "IAP_PORTS=COM20:COM21"};
    const char* const foreign = "/dev/";
#else
    const char* const named[] = {"/dev/ttyUSB0", "IAP_PORTS=путь1:путь2"};
    const char* const foreign = "COM";
#endif
    const std::string help = GuiUsage();
    for (const char* word : named) EXPECT_NE(help.find(word), std::string::npos) << word << "\n" << help;
    EXPECT_EQ(help.find(foreign), std::string::npos) << help;
}

TEST(StartupMessage, BoxesOnlyWherePeopleSeeWindows) {
    const struct {
        const char* platform;
        bool shows;
    } rows[] = {{"windows", true}, {"xcb", true}, {"wayland", true}, {"offscreen", false}, {"minimal", false}, {"", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.platform);
        EXPECT_EQ(PlatformShowsWindows(QString::fromLatin1(row.platform)), row.shows);
    }
}

// The box a user sees when the program cannot start: its title, the problem and the hint, and it ends
// with its button.
TEST(StartupMessage, TheBoxSaysWhatIsWrongAndWhatToDo) {
    int argc = 1;
    char name[] = "StartUp_test";
    char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString title, text, hint;
    bool seen = false;
    // The box runs its own event loop; the timer looks for it there, reads it and presses OK.
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        title = box->windowTitle();
        text = box->text();
        hint = box->informativeText();
        seen = true;
        box->button(QMessageBox::Ok)->click();
    });
    look.start(10);
    // Never left waiting: a box that never came is closed with the rest when the time is up.
    QTimer::singleShot(testsupport::ScaledMs(10000), [] { QApplication::closeAllWindows(); });
    ShowProblemBox(L"--folder C:\\Обновлене: нет такой папки", L"Справка по параметрам: iap-tool --help");
    look.stop();
    ASSERT_TRUE(seen);
    EXPECT_EQ(title, QStringLiteral("IAP Tool"));
    EXPECT_TRUE(text.contains(QStringLiteral("--folder C:\\Обновлене: нет такой папки"))) << text.toStdString();
    EXPECT_EQ(hint, QStringLiteral("Справка по параметрам: iap-tool --help"));
}

#ifdef _WIN32
// Windows: a named mutex, so a second guard in the same session (here: the same process) finds it.
TEST(InstanceGuardTest, ASecondGuardFindsTheFirstUntilItIsGone) {
    auto first = std::make_unique<CInstanceGuard>();
    ASSERT_EQ(first->Acquire(), CInstanceGuard::Result::Acquired) << first->Error();
    CInstanceGuard second;
    EXPECT_EQ(second.Acquire(), CInstanceGuard::Result::AlreadyRunning);
    first.reset();
    CInstanceGuard third;
    EXPECT_EQ(third.Acquire(), CInstanceGuard::Result::Acquired) << third.Error();
}
#else
// POSIX: a lock file in the session's runtime folder (else in /tmp, named after the user).
class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadRuntime_ = old != nullptr;
        if (hadRuntime_) oldRuntime_ = old;
        setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
    }
    void TearDown() override {
        if (hadRuntime_) setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
    }

    testsupport::TempDir dir_;
    bool hadRuntime_ = false;
    std::string oldRuntime_;
};

TEST_F(InstanceGuardTest, WithoutASessionFolderTheLockIsTheUsersOwnInTmp) {
    unsetenv("XDG_RUNTIME_DIR");
    CInstanceGuard guard;
    const CInstanceGuard::Result result = guard.Acquire();
    // Another instance of this user may hold it on a developer's machine; both answers name the file.
    EXPECT_NE(result, CInstanceGuard::Result::Failed) << guard.Error();
    EXPECT_TRUE(std::filesystem::exists("/tmp/{5A7136DF-3CE5-4278-931A-96E9F480A93B}}-" + std::to_string(getuid()) + ".lock"));
}

TEST_F(InstanceGuardTest, ALockPathThatCannotBeOpenedIsAFailureNotAHang) {
    // A symbolic link where the lock file belongs is never followed.
    std::filesystem::create_symlink(dir_.File("elsewhere"), dir_.File("{5A7136DF-3CE5-4278-931A-96E9F480A93B}}.lock"));
    CInstanceGuard guard;
    EXPECT_EQ(guard.Acquire(), CInstanceGuard::Result::Failed);
    EXPECT_NE(guard.Error().find("cannot open"), std::string::npos) << guard.Error();
    EXPECT_FALSE(std::filesystem::exists(dir_.File("elsewhere")));
}
#endif

}  // namespace

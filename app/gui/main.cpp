// iap-tool: the window program. One instance per session; the main window runs modally and the
// engine is stopped before the program ends.
#include <QApplication>
#include <QIcon>
#include <QMetaObject>
#include <QWidget>

#include <memory>

#include "app/common/CommandLine.h"
#include "app/common/Console.h"
#include "app/gui/Automation.h"
#include "app/gui/GuiOptions.h"
#include "app/gui/InstanceGuard.h"
#include "app/gui/StartUp.h"
#include "app/gui/StartupMessage.h"
#include "base/ConsoleText.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"
#include "transport/PortList.h"
#include "ui/EngineLink.h"
#include "ui/FolderMemory.h"
#include "ui/Frame_Update.h"
#include "ui/PaintManagerUI.h"

namespace {

StartupBox g_startupBox = StartupBox::WhereVisible;

int Fail(const std::wstring& message) {
    ShowStartupProblem(g_startupBox, message);
    return 1;
}

// A second start asked for the window: the one shown (the main window, or the settings window that
// hides it) comes forward.
void BringWindowsForward() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->parentWidget() != nullptr) continue;
        if (top->isMinimized()) top->showNormal();
        top->raise();
        top->activateWindow();
    }
    Trace(L"iap-tool: a second start brought the window forward\n");
}

}  // namespace

int main(int argc, char** argv) {
    UseUtf8Console();
    const GuiOptions options = ParseGuiOptions(CommandLineArgs(argc, argv));
    if (options.automation) g_startupBox = StartupBox::Never;
    if (!options.error.empty()) {
        // The box needs an application object; without a display there is the line only.
        std::unique_ptr<QApplication> boxApp;
        if (g_startupBox != StartupBox::Never && CheckDisplay().empty()) boxApp = std::make_unique<QApplication>(argc, argv);
        ShowStartupProblem(g_startupBox, Utf8ToWide(options.error), L"Справка по параметрам: iap-tool --help",
                           GuiUsage());
        return 1;
    }
    if (options.help) {
        WriteConsoleUtf8(stdout, GuiUsage());
        return 0;
    }

    // Before anything is shown: a second instance brings the first one's window forward and ends.
    CInstanceGuard guard;
    switch (guard.Acquire()) {
    case CInstanceGuard::Result::Acquired: break;
    case CInstanceGuard::Result::AlreadyRunning:
        // The running window takes the folder this start was given; if it cannot be reached, say so.
        if (guard.AskRunningToShow(WideToUtf8(options.folder)) == 0 && !options.folder.empty())
            return Fail(L"программа уже запущена, но передать ей папку " + options.folder +
                        L" не удалось; выберите папку в её окне кнопкой «Папка...»");
        return 0;
    case CInstanceGuard::Result::Failed:
        Trace(L"iap-tool: single-instance guard: %ls\n", Utf8ToWide(guard.Error()).c_str());
        return 0;
    }

    if (std::wstring fault = CheckDisplay(); !fault.empty()) return Fail(fault);
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/iap-tool.png")));
    CFrame_Update* window = nullptr;  // set while the main window exists; UI thread only
    // The watcher hands requests to the UI thread through the application object, so it ends first.
    struct WatchStop {
        CInstanceGuard& guard;
        ~WatchStop() { guard.StopWatching(); }
    } watchStop{guard};
    guard.WatchShowRequests([&window](const std::string& folder) {
        QMetaObject::invokeMethod(qApp, [&window, folder] {
            BringWindowsForward();
            if (window != nullptr && !folder.empty()) window->RequestFolder(Utf8ToWide(folder));
        }, Qt::QueuedConnection);
    });
    // The automation channel owns standard output; diagnostics move to standard error.
    if (options.automation) SetTraceFile(stderr);

    CPaintManagerUI::SetInstance();
    CPaintManagerUI::SetCurrentPath(CPaintManagerUI::GetInstancePath());
    CPaintManagerUI::SetResourcePath(L"Skin");
    if (std::wstring fault = CheckSkins(); !fault.empty()) return Fail(fault);

    const std::wstring toolFolder = StartFolder(options.folder, CPaintManagerUI::GetInstancePath(), RememberedFolder());
    ReadVersionFile(toolFolder);
    if (!options.ports.empty()) SetPortList(options.ports);

    // The window keeps looking for the device while none answers, and again after its line was lost:
    // at new ports as they appear, at the ones that did not answer only when the user asks ("Искать
    // снова"), so that other serial devices are not probed for as long as the window is open.
    EngineOptions engineOptions = CWork_BK::Instance()->Options();
    engineOptions.keepScanning = true;
    engineOptions.reprobeMs = 0;
    CWork_BK::Instance()->SetOptions(engineOptions);

    auto frame = std::make_unique<CFrame_Update>(L"frame_Update.xml", toolFolder);
    if (frame->Create(nullptr, L"IAP Tool", UI_WS_VISIBLE | UI_WS_OVERLAPPEDWINDOW, UI_WS_EX_WINDOWEDGE) == 0)
        return Fail(frame->LastError());
    if (options.automation && StartAutomation() == 0) Trace(L"iap-tool: --automation is not available here\n");
    window = frame.get();
    frame->ShowModal();
    window = nullptr;

    // The closed window drops engine messages, so engine threads waiting on it are free to stop.
    Engine().SetNotifyWindow(nullptr);
    Engine().StopEngine();
    frame.reset();
    return 0;
}

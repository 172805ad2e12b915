// iap-tool: the window program. One instance per session; the main window runs modally and the
// engine is stopped before the program ends.
#include <QApplication>

#include <cstdio>
#include <memory>

#include "app/common/CommandLine.h"
#include "app/common/Console.h"
#include "app/gui/Automation.h"
#include "app/gui/GuiOptions.h"
#include "app/gui/InstanceGuard.h"
#include "app/gui/StartUp.h"
#include "engine/frame/Trace.h"
#include "transport/PortList.h"
#include "ui/EngineLink.h"
#include "ui/Frame_Update.h"
#include "ui/PaintManagerUI.h"

namespace {

int Fail(const std::wstring& message) {
    const std::string text = "iap-tool: " + WideToUtf8(message) + "\n";
    std::fputs(text.c_str(), stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    UseUtf8Console();
    const GuiOptions options = ParseGuiOptions(CommandLineArgs(argc, argv));
    if (!options.error.empty()) {
        std::fprintf(stderr, "iap-tool: %s\n%s", options.error.c_str(), GuiUsage());
        return 1;
    }
    if (options.help) {
        std::fputs(GuiUsage(), stdout);
        return 0;
    }

    // Before anything is shown: a second instance ends at once and says nothing.
    CInstanceGuard guard;
    switch (guard.Acquire()) {
    case CInstanceGuard::Result::Acquired: break;
    case CInstanceGuard::Result::AlreadyRunning: return 0;
    case CInstanceGuard::Result::Failed:
        Trace(L"iap-tool: single-instance guard: %hs\n", guard.Error().c_str());
        return 0;
    }

    if (std::wstring fault = CheckDisplay(); !fault.empty()) return Fail(fault);
    QApplication app(argc, argv);
    // The automation channel owns standard output; diagnostics move to standard error.
    if (options.automation) SetTraceFile(stderr);

    CPaintManagerUI::SetInstance();
    CPaintManagerUI::SetCurrentPath(CPaintManagerUI::GetInstancePath());
    CPaintManagerUI::SetResourcePath(L"Skin");
    if (std::wstring fault = CheckSkins(); !fault.empty()) return Fail(fault);

    const std::wstring toolFolder = options.folder.empty() ? CPaintManagerUI::GetInstancePath() : options.folder;
    ReadVersionFile(toolFolder);
    if (!options.ports.empty()) SetPortList(options.ports);

    auto frame = std::make_unique<CFrame_Update>(L"frame_Update.xml", toolFolder);
    if (frame->Create(nullptr, L"IAP Tool", UI_WS_VISIBLE | UI_WS_OVERLAPPEDWINDOW, UI_WS_EX_WINDOWEDGE) == 0)
        return Fail(frame->LastError());
    if (options.automation && StartAutomation() == 0) Trace(L"iap-tool: --automation is not available here\n");
    frame->ShowModal();

    // The closed window drops engine messages, so engine threads waiting on it are free to stop.
    Engine().SetNotifyWindow(nullptr);
    Engine().StopEngine();
    frame.reset();
    return 0;
}

#include "app/gui/StartupMessage.h"

#include <QApplication>
#include <QMessageBox>

#include "base/ConsoleText.h"

bool PlatformShowsWindows(const QString& platformName) {
    return !platformName.isEmpty() && platformName != QLatin1String("offscreen") &&
           platformName != QLatin1String("minimal");
}

void ShowStartupProblem(StartupBox shown, const std::wstring& problem, const std::wstring& hint,
                        const std::string& details) {
    WriteConsoleText(stderr, L"iap-tool: " + problem + L"\n");
    if (!details.empty()) WriteConsoleUtf8(stderr, details);
    if (shown == StartupBox::Never || qApp == nullptr || !PlatformShowsWindows(QGuiApplication::platformName())) return;
    ShowProblemBox(problem, hint);
}

void ShowProblemBox(const std::wstring& problem, const std::wstring& hint) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("IAP Tool"),
                    QStringLiteral("Программа не может начать работу:\n") + QString::fromStdWString(problem),
                    QMessageBox::Ok);
    if (!hint.empty()) box.setInformativeText(QString::fromStdWString(hint));
    box.exec();
}

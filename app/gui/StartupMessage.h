// Why the window program cannot start, told where the user looks. A program started from the menu,
// Explorer or a desktop entry has no console, so the line on standard error reaches nobody: where
// people can see windows, a message box shows it too. The standard-error line stays for terminals,
// scripts and tests. UI thread only.
#pragma once

#include <QString>

#include <string>

// True for a Qt platform whose windows people see; false for "offscreen" and "minimal", the tests' and
// scripts' platforms, where a modal box would wait for ever.
bool PlatformShowsWindows(const QString& platformName);

// Whether a box may be shown: never for a program driven through --automation, whose caller reads
// standard error and would wait for an answer while the box waits for a click.
enum class StartupBox { WhereVisible, Never };

// Writes "iap-tool: <problem>\n" and `details` (UTF-8) to standard error; then, with
// StartupBox::WhereVisible, a running QApplication and a platform that shows windows, shows
// ShowProblemBox and returns when the user closes it.
void ShowStartupProblem(StartupBox box, const std::wstring& problem, const std::wstring& hint = {},
                        const std::string& details = {});

// The modal box itself (titled "IAP Tool"): the problem, and `hint` below it. Needs a QApplication.
void ShowProblemBox(const std::wstring& problem, const std::wstring& hint);

// The automation channel's commands, shared by the platform readers of standard input
// (Automation_posix.cpp, Automation_win32.cpp), which only differ in how a line reaches the UI thread.
// UI thread only.
#pragma once

#include <QString>

#include <string>

// Writes "@@ " + line and a '\n' to standard output and flushes it.
void AutomationAnswer(const std::string& line);
// Runs one command line (a trailing '\r' is ignored); answers it with exactly one line.
void RunAutomationCommand(const QString& line);
// Standard input ended: every window is closed, so a tool whose driver died does not stay behind.
void AutomationInputEnded();

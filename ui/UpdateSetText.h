// What the main window says about the update set before a run: each file's state, why a run cannot
// start and what to do, the versions with a disagreement shown, the settings waiting to be written.
// Plain C++ (no Qt), any thread.
#pragma once

#include <string>

#include "engine/UpdateSet.h"

// One line per file in run order: "flagdata.bin: готов к отправке", "AC7811_project.hex: ошибка:
// запись 3: ...". An absent file is listed too, so the user sees which names are looked for.
std::wstring FileStatesText(const UpdateSet& set);
// Why "Обновить" stays disabled because of `file`, and what to do about it.
std::wstring BlockedRunText(const UpdateFileCheck& file);
// "0105", or "0105 (в ver.txt: 0999)" when "ver.txt" names another version than the file carries.
std::wstring ShownVersionText(const ShownVersion& version);
// How to point the window at another folder.
std::wstring ChooseFolderHint();
// A folder another start of the program asked for during a run was taken when the run ended.
std::wstring FolderTakenText(const std::wstring& folder);
// After OK in the settings window: the edits wait for the next run.
std::wstring SettingsPendingText();
// A run with no file to send and edited settings: at its start and at its successful end.
std::wstring SettingsOnlyRunText();
std::wstring SettingsOnlyDoneText();

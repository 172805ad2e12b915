// Watches a folder of update files: a file added, replaced, removed or written to is reported once
// the folder has been quiet for kSettleMs, so a file that is still being copied is read when whole.
// Editors and copy tools replace a file by a new one, which the watch would lose, so every report
// watches the files of that moment again.
//
// UI thread only; `changed` runs on the UI thread, from the event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QFileSystemWatcher;
class QTimer;

class CUpdateSetWatch {
public:
    static constexpr int kSettleMs = 250;

    explicit CUpdateSetWatch(std::function<void()> changed);
    ~CUpdateSetWatch();
    CUpdateSetWatch(const CUpdateSetWatch&) = delete;
    CUpdateSetWatch& operator=(const CUpdateSetWatch&) = delete;

    // From now on `folder` (ending in a separator), its update files and "ver.txt" are watched; the
    // previous folder no longer.
    void Watch(const std::wstring& folder);

private:
    void WatchPaths();
    void OnChange();

    std::function<void()> changed_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
    std::unique_ptr<QTimer> settle_;
    std::wstring folder_;
};

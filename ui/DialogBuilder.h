// CDialogBuilder: builds a control tree from a skin file (Qt Designer's .ui XML) at run time.
// UI thread only.
#pragma once

#include <string>

#include "ui/Notify.h"

class QWidget;

class CDialogBuilder {
public:
    // `skinFile` is looked up in the resource folder unless it is an absolute path. Elements of classes
    // Qt does not know go to `callback` (none: they are left out). Returns the tree's root, owned by the
    // caller (or by `parent` when given), or null when the file is missing, is not well-formed XML or
    // is not a skin; LastError then says why, naming the file.
    QWidget* Create(const std::wstring& skinFile, IDialogBuilderCallback* callback = nullptr, QWidget* parent = nullptr);
    const std::wstring& LastError() const { return lastError_; }

    // The full path of a skin file as Create resolves it.
    static std::wstring SkinPath(const std::wstring& skinFile);
    // Empty when `path` is a readable, well-formed XML file; else a message naming the file and the fault.
    static std::wstring CheckSkinXml(const std::wstring& path);

private:
    std::wstring lastError_;
};

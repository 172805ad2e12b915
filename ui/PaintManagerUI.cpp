#include "ui/PaintManagerUI.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QStringList>
#include <QWidget>

namespace {

struct Folders {
    std::wstring instance;
    std::wstring resource = L"Skin";
};

Folders& ProcessFolders() {
    static Folders folders;
    return folders;
}

std::wstring WithSeparator(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'/' && folder.back() != L'\\') folder += L'/';
    return folder;
}

}  // namespace

void CPaintManagerUI::SetInstance() {
    SetInstancePath(QCoreApplication::applicationDirPath().toStdWString());
}

void CPaintManagerUI::SetInstancePath(const std::wstring& folder) {
    ProcessFolders().instance = WithSeparator(QDir::fromNativeSeparators(QString::fromStdWString(folder)).toStdWString());
}

std::wstring CPaintManagerUI::GetInstancePath() { return ProcessFolders().instance; }

int CPaintManagerUI::SetCurrentPath(const std::wstring& folder) {
    return QDir::setCurrent(QString::fromStdWString(folder)) ? 1 : 0;
}

std::wstring CPaintManagerUI::GetCurrentPath() { return WithSeparator(QDir::currentPath().toStdWString()); }

void CPaintManagerUI::SetResourcePath(const std::wstring& folder) { ProcessFolders().resource = folder; }

std::wstring CPaintManagerUI::GetResourcePath() {
    const QString resource = QString::fromStdWString(ProcessFolders().resource);
    if (QDir::isAbsolutePath(resource)) return WithSeparator(QDir::cleanPath(resource).toStdWString());
    const QString base = ProcessFolders().instance.empty() ? QDir::currentPath()
                                                           : QString::fromStdWString(ProcessFolders().instance);
    return WithSeparator(QDir::cleanPath(base + QLatin1Char('/') + resource).toStdWString());
}

void CPaintManagerUI::Attach(QWidget* host, QWidget* root) {
    host_ = host;
    root_ = root;
}

void CPaintManagerUI::ConnectNotifications(INotifyUI* target) {
    if (root_ == nullptr || target == nullptr) return;
    QList<QWidget*> widgets = root_->findChildren<QWidget*>();
    widgets.prepend(root_);
    for (QWidget* w : widgets) {
        QPointer<QWidget> sender(w);
        auto send = [target, sender](const wchar_t* type) {
            if (!sender) return;
            TNotifyUI msg{type, CControlUI(sender.data())};
            target->Notify(msg);
        };
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [send](int) { send(L"itemselect"); });
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            QObject::connect(button, &QAbstractButton::clicked, button, [send](bool) { send(L"click"); });
            const bool isOption = ControlClassName(w) == L"OptionUI";
            // An option reports becoming selected; the one that lost the selection stays quiet, else
            // each tab change would also announce the previous tab.
            QObject::connect(button, &QAbstractButton::toggled, button, [send, isOption](bool on) {
                if (on || !isOption) send(L"selectchanged");
            });
        }
    }
}

CControlUI CPaintManagerUI::GetRoot() const { return CControlUI(root_); }

CControlUI CPaintManagerUI::FindControl(const std::wstring& name) const {
    if (root_ == nullptr || name.empty()) return {};
    const QString qname = QString::fromStdWString(name);
    if (root_->objectName() == qname) return CControlUI(root_);
    return CControlUI(root_->findChild<QWidget*>(qname));
}

CControlUI CPaintManagerUI::FindControl(UiPoint p) const {
    if (host_ == nullptr || root_ == nullptr) return {};
    QWidget* hit = host_->childAt(QPoint(p.x, p.y));
    if (hit == nullptr || (hit != root_ && !root_->isAncestorOf(hit))) return {};
    return CControlUI(hit);
}

UiRect CPaintManagerUI::RootRectProperty(const char* name) const {
    if (root_ == nullptr) return {};
    const QStringList parts = root_->property(name).toString().split(QLatin1Char(','));
    if (parts.size() != 4) return {};
    int v[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) return {};
    }
    return {v[0], v[1], v[2], v[3]};
}

UiRect CPaintManagerUI::GetSizeBox() const { return RootRectProperty("sizebox"); }

UiRect CPaintManagerUI::GetCaptionRect() const { return RootRectProperty("caption"); }

UiSize CPaintManagerUI::GetClientSize() const {
    return host_ != nullptr ? UiSize{host_->width(), host_->height()} : UiSize{};
}

bool CPaintManagerUI::IsZoomed() const { return host_ != nullptr && host_->isMaximized(); }

UiPoint CPaintManagerUI::ScreenToClient(UiPoint s) const {
    if (host_ == nullptr) return s;
    const QPoint local = host_->mapFromGlobal(QPoint(s.x, s.y));
    return {local.x(), local.y()};
}

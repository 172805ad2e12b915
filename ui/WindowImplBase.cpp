#include "ui/WindowImplBase.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include "base/Trace.h"

// The top-level widget of a skin window. It has no system frame: presses that reach it (the skin's
// controls pass on the ones they don't use) go through the window's hit test and become a system move
// or resize.
class CFrameHost final : public QWidget {
public:
    explicit CFrameHost(WindowImplBase* owner) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), owner_(owner) {
        setMouseTracking(true);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
        const QPoint g = e->globalPosition().toPoint();
        const int code = owner_->OnNcHitTest({g.x(), g.y()});
        QWindow* window = windowHandle();
        if (window == nullptr || code == HTCLIENT) return QWidget::mousePressEvent(e);
        if (code == HTCAPTION) {
            window->startSystemMove();
        } else if (Qt::Edges edges = EdgesOf(code); edges != Qt::Edges()) {
            window->startSystemResize(edges);
        }
        e->accept();
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override {
        const QPoint g = e->globalPosition().toPoint();
        if (e->button() == Qt::LeftButton && owner_->OnNcHitTest({g.x(), g.y()}) == HTCAPTION) {
            isMaximized() ? showNormal() : showMaximized();
            e->accept();
            return;
        }
        QWidget::mouseDoubleClickEvent(e);
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (e->buttons() == Qt::NoButton) {
            const QPoint g = e->globalPosition().toPoint();
            setCursor(CursorOf(owner_->OnNcHitTest({g.x(), g.y()})));
        }
        QWidget::mouseMoveEvent(e);
    }

    void closeEvent(QCloseEvent* e) override {
        if (!WindowImplBase::ClosingForced() && !owner_->CanClose()) {
            e->ignore();
            return;
        }
        QWidget::closeEvent(e);
        if (e->isAccepted()) owner_->OnHostClosed();
    }

    void timerEvent(QTimerEvent* e) override { owner_->OnHostTimer(e->timerId()); }

private:
    static Qt::Edges EdgesOf(int code) {
        switch (code) {
        case HTLEFT: return Qt::LeftEdge;
        case HTRIGHT: return Qt::RightEdge;
        case HTTOP: return Qt::TopEdge;
        case HTBOTTOM: return Qt::BottomEdge;
        case HTTOPLEFT: return Qt::TopEdge | Qt::LeftEdge;
        case HTTOPRIGHT: return Qt::TopEdge | Qt::RightEdge;
        case HTBOTTOMLEFT: return Qt::BottomEdge | Qt::LeftEdge;
        case HTBOTTOMRIGHT: return Qt::BottomEdge | Qt::RightEdge;
        default: return {};
        }
    }

    static Qt::CursorShape CursorOf(int code) {
        switch (code) {
        case HTLEFT:
        case HTRIGHT: return Qt::SizeHorCursor;
        case HTTOP:
        case HTBOTTOM: return Qt::SizeVerCursor;
        case HTTOPLEFT:
        case HTBOTTOMRIGHT: return Qt::SizeFDiagCursor;
        case HTTOPRIGHT:
        case HTBOTTOMLEFT: return Qt::SizeBDiagCursor;
        default: return Qt::ArrowCursor;
        }
    }

    WindowImplBase* owner_;
};

namespace {
// UI thread only, like the windows.
bool g_closingForced = false;
}  // namespace

// Notes whether a close event reached the watched window while it is installed.
class CCloseEventWatch final : public QObject {
public:
    explicit CCloseEventWatch(QWidget* window) : window_(window) { window_->installEventFilter(this); }
    ~CCloseEventWatch() override {
        if (window_) window_->removeEventFilter(this);
    }
    bool Seen() const { return seen_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == window_ && e->type() == QEvent::Close) seen_ = true;
        return false;
    }

private:
    QPointer<QWidget> window_;
    bool seen_ = false;
};

void WindowImplBase::ForceClosing() { g_closingForced = true; }

bool WindowImplBase::CloseTopLevel(QWidget* window) {
    // A close asked from inside the window's own close is Qt's to finish.
    static QWidget* delivering = nullptr;
    if (window == nullptr || window == delivering) return false;
    QPointer<QWidget> guard(window);
    bool closed = false;
    bool seen = false;
    {
        CCloseEventWatch watch(window);
        closed = window->close();
        seen = watch.Seen();
    }
    if (seen || guard.isNull() || !window->isVisible()) return closed;
    Trace(L"%hs: the close event did not arrive; delivering it\n", qPrintable(window->objectName()));
    QCloseEvent e;
    delivering = window;
    QCoreApplication::sendEvent(window, &e);
    delivering = nullptr;
    if (guard.isNull()) return true;
    if (!e.isAccepted()) return false;
    window->hide();
    if (window->testAttribute(Qt::WA_DeleteOnClose)) window->deleteLater();
    return true;
}
bool WindowImplBase::ClosingForced() { return g_closingForced; }

WindowImplBase::WindowImplBase() = default;

WindowImplBase::~WindowImplBase() {
    if (bridge_) bridge_->Close();
    if (modalLoop_ != nullptr) modalLoop_->quit();
    // The host's children (the skin) go with it; their notifications point at this object.
    host_.reset();
}

void WindowImplBase::Notify(TNotifyUI&) {}

intptr_t WindowImplBase::HandleCustomMessage(uint32_t, NotifyWParam, NotifyLParam, bool& handled) {
    handled = false;
    return 0;
}

int WindowImplBase::OnNcHitTest(UiPoint) { return HTCLIENT; }

QWidget* WindowImplBase::CreateControl(const std::wstring&) { return nullptr; }

int WindowImplBase::Create(WindowImplBase* parent, const std::wstring& caption, uint32_t style, uint32_t,
                           int x, int y, int cx, int cy) {
    if (host_) {
        lastError_ = L"window " + GetWindowClassName() + L" was created already";
        return 0;
    }
    CDialogBuilder builder;
    QWidget* root = builder.Create(GetSkinFile(), this);
    if (root == nullptr) {
        lastError_ = builder.LastError();
        Trace(L"%ls: %ls\n", GetWindowClassName().c_str(), lastError_.c_str());
        return 0;
    }
    host_ = std::make_unique<CFrameHost>(this);
    host_->setObjectName(QString::fromStdWString(GetWindowClassName()));
    host_->setWindowTitle(QString::fromStdWString(caption));
    if (parent != nullptr && parent->Host() != nullptr) host_->setWindowIcon(parent->Host()->windowIcon());
    const QSize skinSize = root->size();
    auto* layout = new QVBoxLayout(host_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(root);
    host_->resize(cx != UI_CW_USEDEFAULT ? cx : skinSize.width(), cy != UI_CW_USEDEFAULT ? cy : skinSize.height());
    if (x != UI_CW_USEDEFAULT && y != UI_CW_USEDEFAULT) host_->move(x, y);

    pm_.Attach(host_.get(), root);
    pm_.ConnectNotifications(this);
    bridge_ = std::make_unique<CNotifyBridge>([this](uint32_t message, NotifyWParam wParam, NotifyLParam lParam) {
        bool handled = false;
        return HandleCustomMessage(message, wParam, lParam, handled);
    });

    InitWindow();
    if ((style & UI_WS_VISIBLE) != 0) host_->show();
    TNotifyUI init{L"windowinit", pm_.GetRoot()};
    Notify(init);
    return 1;
}

int WindowImplBase::ShowModal() {
    if (!host_) return -1;
    if (closed_) return result_;
    host_->show();
    QEventLoop loop;
    QEventLoop* outer = modalLoop_;
    modalLoop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = outer;
    return result_;
}

void WindowImplBase::ShowWindow(bool show) {
    if (host_ && !closed_) host_->setVisible(show);
}

void WindowImplBase::Close(int result) {
    if (!host_ || closed_) return;
    result_ = result;
    CloseTopLevel(host_.get());
}

void WindowImplBase::CenterWindow() {
    if (!host_) return;
    QScreen* screen = host_->screen() != nullptr ? host_->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = host_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    host_->move(frame.topLeft());
}

void WindowImplBase::SetIcon(int resourceId) {
    if (!host_) return;
    const QString path = QString::fromStdWString(CPaintManagerUI::GetResourcePath()) + QString::number(resourceId) + ".png";
    if (QFile::exists(path)) host_->setWindowIcon(QIcon(path));
}

NotifyHandle WindowImplBase::GetHWND() const { return bridge_.get(); }

int WindowImplBase::SetTimer(int id, uint32_t periodMs) {
    if (!host_ || closed_) return 0;
    KillTimer(id);
    const int qtId = host_->startTimer(static_cast<int>(periodMs));
    if (qtId == 0) return 0;
    timers_[id] = qtId;
    return 1;
}

void WindowImplBase::KillTimer(int id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    if (host_) host_->killTimer(it->second);
    timers_.erase(it);
}

bool WindowImplBase::IsTimerRunning(int id) const { return timers_.count(id) != 0; }

bool WindowImplBase::IsWindowOpen() const { return host_ && !closed_; }

QWidget* WindowImplBase::Host() const { return host_.get(); }

void WindowImplBase::OnHostClosed() {
    closed_ = true;
    // A closed window is gone for the engine: its messages are dropped from now on, so the UI thread may
    // stop engine threads that are waiting for this window.
    if (bridge_) bridge_->Close();
    for (const auto& [id, qtId] : timers_) host_->killTimer(qtId);
    timers_.clear();
    if (modalLoop_ != nullptr) modalLoop_->quit();
}

void WindowImplBase::OnHostTimer(int qtTimerId) {
    for (const auto& [id, qtId] : timers_) {
        if (qtId == qtTimerId) {
            bool handled = false;
            HandleCustomMessage(UI_WM_TIMER, static_cast<NotifyWParam>(id), 0, handled);
            return;
        }
    }
}

HitTestInput WindowImplBase::HitTestInputAt(UiPoint screenPoint) const {
    const CPaintManagerUI& pm = PaintManager();
    HitTestInput in;
    in.point = pm.ScreenToClient(screenPoint);
    in.client = pm.GetClientSize();
    in.maximized = pm.IsZoomed();
    in.sizeBox = pm.GetSizeBox();
    in.caption = pm.GetCaptionRect();
    const CControlUI control = pm.FindControl(in.point);
    in.hasControl = static_cast<bool>(control);
    in.controlClass = control.GetClass();
    return in;
}

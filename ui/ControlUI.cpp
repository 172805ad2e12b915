#include "ui/ControlUI.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>

#include <algorithm>

namespace {

const char* const kClassProperty = "uiClass";
const char* const kUserDataProperty = "uiUserData";
const char* const kFontIndexProperty = "uiFontIndex";
const char* const kTextProperty = "uiText";
const char* const kTextPaddingProperty = "uiTextPadding";

QString Q(const std::wstring& text) { return QString::fromStdWString(text); }

}  // namespace

std::wstring ControlClassName(const QWidget* w) {
    if (w == nullptr) return {};
    const QVariant declared = w->property(kClassProperty);
    if (declared.isValid() && !declared.toString().isEmpty()) return declared.toString().toStdWString();
    if (qobject_cast<const QCheckBox*>(w)) return L"CheckBoxUI";
    if (qobject_cast<const QRadioButton*>(w)) return L"OptionUI";
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->isCheckable() && button->autoExclusive() ? L"OptionUI" : L"ButtonUI";
    if (qobject_cast<const QComboBox*>(w)) return L"ComboUI";
    if (qobject_cast<const QScrollBar*>(w)) return L"ScrollBarUI";
    if (qobject_cast<const QAbstractSlider*>(w)) return L"SliderUI";
    if (qobject_cast<const QLineEdit*>(w)) return L"EditUI";
    if (qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w)) return L"RichEditUI";
    if (qobject_cast<const QProgressBar*>(w)) return L"ProgressUI";
    if (qobject_cast<const QLabel*>(w)) return L"LabelUI";
    if (qobject_cast<const QStackedWidget*>(w) || qobject_cast<const QTabWidget*>(w)) return L"TabLayoutUI";
    if (qobject_cast<const QGroupBox*>(w)) return L"ContainerUI";
    const QLayout* layout = w->layout();
    if (auto* box = qobject_cast<const QBoxLayout*>(layout)) {
        const bool horizontal = box->direction() == QBoxLayout::LeftToRight || box->direction() == QBoxLayout::RightToLeft;
        return horizontal ? L"HorizontalLayoutUI" : L"VerticalLayoutUI";
    }
    if (qobject_cast<const QGridLayout*>(layout)) return L"TileLayoutUI";
    return layout != nullptr ? L"ContainerUI" : L"ControlUI";
}

std::wstring CControlUI::GetName() const { return widget_ ? widget_->objectName().toStdWString() : std::wstring(); }

std::wstring CControlUI::GetClass() const { return ControlClassName(widget_.data()); }

void CControlUI::SetText(const std::wstring& text) {
    QWidget* w = widget_.data();
    if (w == nullptr) return;
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(Q(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(Q(text));
    else if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(Q(text));
    else if (auto* rich = qobject_cast<QTextEdit*>(w)) rich->setPlainText(Q(text));
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) plain->setPlainText(Q(text));
    else if (auto* group = qobject_cast<QGroupBox*>(w)) group->setTitle(Q(text));
    else w->setProperty(kTextProperty, Q(text));
}

std::wstring CControlUI::GetText() const {
    const QWidget* w = widget_.data();
    if (w == nullptr) return {};
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdWString();
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text().toStdWString();
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text().toStdWString();
    if (auto* rich = qobject_cast<const QTextEdit*>(w)) return rich->toPlainText().toStdWString();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(w)) return plain->toPlainText().toStdWString();
    if (auto* group = qobject_cast<const QGroupBox*>(w)) return group->title().toStdWString();
    if (auto* combo = qobject_cast<const QComboBox*>(w)) return combo->currentText().toStdWString();
    return w->property(kTextProperty).toString().toStdWString();
}

void CControlUI::SetEnabled(bool enabled) {
    if (widget_) widget_->setEnabled(enabled);
}

bool CControlUI::IsEnabled() const {
    return widget_ && !widget_->testAttribute(Qt::WA_ForceDisabled);
}

void CControlUI::SetVisible(bool visible) {
    if (widget_) widget_->setVisible(visible);
}

void CControlUI::SetUserData(const std::wstring& data) {
    if (widget_) widget_->setProperty(kUserDataProperty, Q(data));
}

std::wstring CControlUI::GetUserData() const {
    return widget_ ? widget_->property(kUserDataProperty).toString().toStdWString() : std::wstring();
}

void CControlUI::SetFont(int index) {
    QWidget* w = widget_.data();
    if (w == nullptr) return;
    w->setProperty(kFontIndexProperty, index);
    const QByteArray name = "font" + QByteArray::number(index);
    for (const QWidget* scope = w; scope != nullptr; scope = scope->parentWidget()) {
        const QVariant font = scope->property(name.constData());
        if (font.canConvert<QFont>()) {
            w->setFont(font.value<QFont>());
            return;
        }
    }
}

int CControlUI::GetFont() const {
    if (!widget_) return -1;
    const QVariant index = widget_->property(kFontIndexProperty);
    return index.isValid() ? index.toInt() : -1;
}

void CControlUI::SetTextPadding(const UiRect& p) {
    QWidget* w = widget_.data();
    if (w == nullptr) return;
    w->setProperty(kTextPaddingProperty, QVariantList{p.left, p.top, p.right, p.bottom});
    // A label lays its text out inside its contents margins. Buttons and options draw theirs through
    // the style, which sets their margins itself; for them the padding is only kept.
    if (auto* label = qobject_cast<QLabel*>(w)) label->setContentsMargins(p.left, p.top, p.right, p.bottom);
}

UiRect CControlUI::GetTextPadding() const {
    if (!widget_) return {};
    const QVariantList v = widget_->property(kTextPaddingProperty).toList();
    if (v.size() != 4) return {};
    return {v[0].toInt(), v[1].toInt(), v[2].toInt(), v[3].toInt()};
}

void CControlUI::SetValue(int value) {
    if (auto* bar = qobject_cast<QProgressBar*>(widget_.data())) bar->setValue(value);
    else if (auto* slider = qobject_cast<QAbstractSlider*>(widget_.data())) slider->setValue(value);
}

int CControlUI::GetValue() const {
    if (auto* bar = qobject_cast<const QProgressBar*>(widget_.data())) return bar->value();
    if (auto* slider = qobject_cast<const QAbstractSlider*>(widget_.data())) return slider->value();
    return -1;
}

bool CControlUI::IsSelected() const {
    auto* button = qobject_cast<const QAbstractButton*>(widget_.data());
    return button != nullptr && button->isCheckable() && button->isChecked();
}

void CControlUI::Selected(bool selected) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget_.data()); button != nullptr && button->isCheckable())
        button->setChecked(selected);
}

int CControlUI::AddItem(const std::wstring& text, const std::wstring& userData) {
    auto* combo = qobject_cast<QComboBox*>(widget_.data());
    if (combo == nullptr) return -1;
    // QComboBox selects the first item added to an empty list; a list element added by the program
    // must not do that, nor report a selection change.
    const QSignalBlocker quiet(combo);
    const int selected = combo->currentIndex();
    combo->addItem(Q(text), Q(userData));
    if (combo->currentIndex() != selected) combo->setCurrentIndex(selected);
    return combo->count() - 1;
}

void CControlUI::RemoveAllItems() {
    if (auto* combo = qobject_cast<QComboBox*>(widget_.data())) {
        const QSignalBlocker quiet(combo);
        combo->clear();
    }
}

int CControlUI::GetCount() const {
    auto* combo = qobject_cast<const QComboBox*>(widget_.data());
    return combo != nullptr ? combo->count() : 0;
}

std::wstring CControlUI::GetItemText(int index) const {
    auto* combo = qobject_cast<const QComboBox*>(widget_.data());
    if (combo == nullptr || index < 0 || index >= combo->count()) return {};
    return combo->itemText(index).toStdWString();
}

std::wstring CControlUI::GetItemUserData(int index) const {
    auto* combo = qobject_cast<const QComboBox*>(widget_.data());
    if (combo == nullptr || index < 0 || index >= combo->count()) return {};
    return combo->itemData(index).toString().toStdWString();
}

bool CControlUI::SelectItem(int index) {
    auto* combo = qobject_cast<QComboBox*>(widget_.data());
    if (combo == nullptr || index < 0 || index >= combo->count()) return false;
    combo->setCurrentIndex(index);
    return true;
}

int CControlUI::GetCurSel() const {
    auto* combo = qobject_cast<const QComboBox*>(widget_.data());
    return combo != nullptr ? combo->currentIndex() : -1;
}

bool CControlUI::SelectPage(int index) {
    if (auto* stack = qobject_cast<QStackedWidget*>(widget_.data())) {
        if (index < 0 || index >= stack->count()) return false;
        stack->setCurrentIndex(index);
        return true;
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(widget_.data())) {
        if (index < 0 || index >= tabs->count()) return false;
        tabs->setCurrentIndex(index);
        return true;
    }
    return false;
}

int CControlUI::GetCurPage() const {
    if (auto* stack = qobject_cast<const QStackedWidget*>(widget_.data())) return stack->currentIndex();
    if (auto* tabs = qobject_cast<const QTabWidget*>(widget_.data())) return tabs->currentIndex();
    return -1;
}

bool CControlUI::SetItemIndex(const CControlUI& child, int index) {
    QWidget* w = widget_.data();
    QWidget* item = child.Widget();
    auto* box = w != nullptr ? qobject_cast<QBoxLayout*>(w->layout()) : nullptr;
    if (box == nullptr || item == nullptr) return false;
    const int current = box->indexOf(item);
    if (current < 0 || index < 0) return false;
    if (current == index) return true;
    box->removeWidget(item);
    box->insertWidget(std::min(index, box->count()), item);
    return true;
}

int CControlUI::GetItemIndex(const CControlUI& child) const {
    const QWidget* w = widget_.data();
    auto* box = w != nullptr ? qobject_cast<const QBoxLayout*>(w->layout()) : nullptr;
    if (box == nullptr || child.Widget() == nullptr) return -1;
    return box->indexOf(child.Widget());
}

void CControlUI::SetToolTip(const std::wstring& text) {
    if (widget_) widget_->setToolTip(QString::fromStdWString(text));
}

std::wstring CControlUI::GetToolTip() const { return widget_ ? widget_->toolTip().toStdWString() : std::wstring(); }

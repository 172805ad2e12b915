// CControlUI: a handle on one control of a skin (a Qt widget), with the control operations the
// windows use. The handle does not own the widget and turns null when the widget is destroyed; every
// operation on a null handle, or one that does not apply to the control's kind, does nothing and
// reports "nothing" (empty text, -1, false). UI thread only.
#pragma once

#include <string>

#include <QPointer>
#include <QWidget>

#include "ui/UiTypes.h"

// The skin class name of a widget: the dynamic property "uiClass" when the skin sets one, else the name
// that matches the widget's Qt type ("ButtonUI", "OptionUI", "CheckBoxUI", "ComboUI", "LabelUI", ...).
std::wstring ControlClassName(const QWidget* widget);

class CControlUI {
public:
    CControlUI() = default;
    explicit CControlUI(QWidget* widget) : widget_(widget) {}

    explicit operator bool() const { return !widget_.isNull(); }
    QWidget* Widget() const { return widget_.data(); }
    friend bool operator==(const CControlUI& a, const CControlUI& b) { return a.widget_ == b.widget_; }

    std::wstring GetName() const;
    std::wstring GetClass() const;

    // Text of a label, button, option, check box, edit or group; other controls keep it as a property.
    void SetText(const std::wstring& text);
    std::wstring GetText() const;
    void SetEnabled(bool enabled);
    bool IsEnabled() const;  // the control's own flag, whatever its parents say
    void SetVisible(bool visible);
    void SetToolTip(const std::wstring& text);
    std::wstring GetToolTip() const;
    void SetUserData(const std::wstring& data);
    std::wstring GetUserData() const;

    // Font `index` of the skin's font table (the "font<index>" property of the nearest enclosing skin
    // root). The index is remembered even when no skin defines that font; GetFont gives -1 before any.
    void SetFont(int index);
    int GetFont() const;
    // Left, top, right, bottom padding of the text (a label's contents margins; kept for other controls).
    void SetTextPadding(const UiRect& padding);
    UiRect GetTextPadding() const;

    // Progress bar, 0 to 100.
    void SetValue(int value);
    int GetValue() const;

    // Options and check boxes.
    bool IsSelected() const;
    void Selected(bool selected);
    void SetCheck(bool checked) { Selected(checked); }
    bool GetCheck() const { return IsSelected(); }

    // Combo box. Items are list label elements: a text and a user-data string. Adding items never
    // changes the selection; SelectItem with an index outside the items changes nothing and returns
    // false. GetCurSel is -1 when nothing is selected.
    int AddItem(const std::wstring& text, const std::wstring& userData);
    void RemoveAllItems();
    int GetCount() const;
    std::wstring GetItemText(int index) const;
    std::wstring GetItemUserData(int index) const;
    bool SelectItem(int index);
    int GetCurSel() const;

    // Tab layout: the shown page.
    bool SelectPage(int index);
    int GetCurPage() const;

    // Container: the position of a child in the container's row or column.
    bool SetItemIndex(const CControlUI& child, int index);
    int GetItemIndex(const CControlUI& child) const;

private:
    QPointer<QWidget> widget_;
};

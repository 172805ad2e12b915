#include "ui/Frame_Set.h"

#include <QString>

#include <array>
#include <cwchar>
#include <string_view>
#include <vector>

#include "base/Trace.h"
#include "ui/DialogBuilder.h"
#include "ui/EngineLink.h"

namespace {

constexpr std::wstring_view kClientClasses[] = {L"ButtonUI", L"OptionUI", L"SliderUI", L"EditUI",
                                                L"RichEditUI", L"ComboUI", L"CheckBoxUI"};

constexpr int kFontSubTab = 3;
constexpr int kFontSubTabSelected = 4;

struct ComboItems {
    const wchar_t* name;
    std::vector<std::wstring> items;
    bool itemUserData;  // each item also carries its text as user data
    int initial;
};

std::vector<std::wstring> Words(std::initializer_list<const wchar_t*> words) {
    return std::vector<std::wstring>(words.begin(), words.end());
}

std::vector<std::wstring> Numbers(const wchar_t* format, int first, int last, int step) {
    std::vector<std::wstring> items;
    for (int v = first; v <= last; v += step) {
        wchar_t text[32];
        std::swprintf(text, 32, format, v);
        items.emplace_back(text);
    }
    return items;
}

// In the order the window fills them.
const std::vector<ComboItems>& ComboTable() {
    static const std::vector<ComboItems> table = [] {
        const auto onOff = Words({L"On", L"Off"});
        return std::vector<ComboItems>{
            {L"como_frame1_1", Words({L"Россия", L"Казахстан", L"Узбекистан"}), true, 1},
            {L"como_frame1_2", Words({L"СМАРТ", L"ТУРБО", L"ТРАССА", L"ГОРОД", L"ТИХИЙ ГОРОД", L"МЕГАПОЛИС", L"УЛЬТРА К"}), true, 1},
            {L"como_frame1_3", Words({L"Смарт", L"Auto", L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9"}), true, 0},
            {L"como_frame1_gpsdata", onOff, true, 0},
            {L"como_frame1_content_1_1", onOff, true, 0},
            {L"como_frame1_content_2_1", onOff, true, 0},
            {L"como_frame1_content_3_1", onOff, true, 0},
            {L"como_frame1_content_4_1", onOff, true, 0},
            {L"como_frame1_content_5_1", onOff, true, 0},
            {L"como_frame1_content_6_1", onOff, true, 0},
            {L"como_frame1_content_7_2", onOff, true, 0},
            {L"como_frame1_content_1_2", Numbers(L"%dKM/h", 80, 150, 5), false, 0},
            {L"como_frame1_content_2_2", Numbers(L"%dM", 100, 1500, 100), false, 0},
            {L"como_frame1_content_3_2", Numbers(L"%dKM/h", 1, 20, 1), false, 0},
            {L"como_frame1_content_4_2", Numbers(L"%dKM/h", 60, 160, 10), false, 0},
            {L"como_frame1_content_5_2", Numbers(L"%dKM/h", 0, 70, 5), false, 0},
            {L"como_frame1_content_6_2", Numbers(L"%dKM/h", 0, 85, 5), true, 0},
            {L"como_frame1_content_7_1", Numbers(L"%d", 1, 9, 1), false, 0},
        };
    }();
    return table;
}

struct BoundCombo {
    const wchar_t* name;
    int base;  // sub-page p (1 to 4) edits byte base + p
};

constexpr BoundCombo kBoundCombos[] = {
    {L"como_frame1_content_1_1", 0},  {L"como_frame1_content_2_1", 5},  {L"como_frame1_content_4_1", 10},
    {L"como_frame1_content_5_1", 15}, {L"como_frame1_content_6_1", 20}, {L"como_frame1_content_2_2", 25},
    {L"como_frame1_content_3_2", 30}, {L"como_frame1_content_4_2", 35}, {L"como_frame1_content_5_2", 45},
    {L"como_frame1_content_6_2", 50}, {L"como_frame1_content_7_2", 55},
};

struct BoundCheckBox {
    const wchar_t* name;
    int byte;  // 0 when checked, 1 when not
};

constexpr BoundCheckBox kCheckBoxes[] = {
    {L"checkbox_frame1_1_1", 61}, {L"checkbox_frame1_3_2", 62}, {L"checkbox_frame1_1_3", 63},
    {L"checkbox_frame1_1_4", 64}, {L"checkbox_frame1_2_1", 65}, {L"checkbox_frame1_2_3", 66},
    {L"checkbox_frame1_3_4", 67}, {L"checkbox_frame1_2_2", 68}, {L"checkbox_frame1_3_3", 69},
    {L"checkbox_frame1_2_4", 70}, {L"checkbox_frame1_1_2", 71}, {L"checkbox_frame1_3_1", 72},
};

constexpr const wchar_t* kSubTabs[] = {L"option_frame_1_1", L"option_frame_1_2", L"option_frame_1_3",
                                       L"option_frame_1_4", L"option_frame_1_5"};

// Boxes that no byte of the settings block stands behind: the device does not take them from the tool,
// so they are shown disabled rather than let the user edit what OK would drop.
constexpr const wchar_t* kUnboundCombos[] = {L"como_frame1_content_1_2", L"como_frame1_content_3_1",
                                             L"como_frame1_content_7_1"};
// Not stored either, but they switch other boxes on and off.
constexpr const wchar_t* kSteeringCombos[] = {L"como_frame1_1", L"como_frame1_2", L"como_frame1_3",
                                              L"como_frame1_gpsdata"};
constexpr const wchar_t* kNotTakenTip = L"Устройство не принимает эту настройку от программы";
constexpr const wchar_t* kBoundPagesTip = L"Изменяется на вкладках сигналов; на вкладке «Общий» не сохраняется";
constexpr const wchar_t* kNotWrittenTip = L"Не записывается в устройство: только включает и выключает другие настройки";

constexpr int kGpsOff = 1;
constexpr int kSensitivitySmart = 0;

bool IsBoundPage(int page) { return page >= 1 && page <= 4; }

bool IsUnbound(std::wstring_view name) {
    for (const wchar_t* unbound : kUnboundCombos)
        if (name == unbound) return true;
    return false;
}

}  // namespace

CFrame_Set::CFrame_Set(std::wstring skinFile) : skinFile_(std::move(skinFile)) {}

CFrame_Set::~CFrame_Set() = default;

void CFrame_Set::InitWindow() { CenterWindow(); }

int CFrame_Set::HitTest(const HitTestInput& input) { return NcHitTest(input, kClientClasses); }

int CFrame_Set::OnNcHitTest(UiPoint screenPoint) {
    return HitTest(HitTestInputAt(screenPoint));
}

QWidget* CFrame_Set::CreateControl(const std::wstring& className) {
    const QString name = QString::fromStdWString(className);
    for (const wchar_t* known : {L"Frame_Set_Client_1", L"Frame_Set_Client_2"}) {
        const QString knownName = QString::fromWCharArray(known);
        if (name.compare(knownName, Qt::CaseInsensitive) != 0) continue;
        CDialogBuilder builder;
        QWidget* control = builder.Create(knownName.toStdWString() + L".xml");
        if (control == nullptr) Trace(L"CFrame_Set: %ls\n", builder.LastError().c_str());
        return control;
    }
    return nullptr;
}

void CFrame_Set::Notify(TNotifyUI& msg) {
    const std::wstring name = msg.sender.GetName();
    if (msg.type == L"windowinit") {
        Engine().GetSettingsInfoBlock(SettingsInfoCopy.data());
        Engine().GetSettingsBlock(DeviceSettingsCopy.data());
        WorkingSettings = SettingsEditBuffer;
        InitControls();
        ShowPage(1);
        LoadCheckBoxes();
    } else if (msg.type == L"click") {
        if (name == L"btn_ok") {
            SavePage(currentPage_);
            SaveCheckBoxes();
            SettingsEditBuffer = WorkingSettings;
            Close(1);
        } else if (name == L"btn_cancel") {
            Close(1);
        } else if (name == L"btn_rdsfd") {
            WorkingSettings = DeviceSettingsCopy;
            ShowPage(currentPage_);
            LoadCheckBoxes();
        } else if (name == L"btn_dfs") {
            WorkingSettings = SettingsInfoCopy;
            ShowPage(currentPage_);
            LoadCheckBoxes();
        }
    } else if (msg.type == L"selectchanged") {
        if (name == L"option_main_1" || name == L"option_main_2") {
            const int index = name == L"option_main_1" ? 0 : 1;
            if (CControlUI tab = PaintManager().FindControl(L"tab_main")) tab.SelectPage(index);
            SelectMainTab(index);
        } else {
            for (int i = 0; i < 5; ++i) {
                if (name == kSubTabs[i]) SelectSubTab(i);
            }
        }
    } else if (msg.type == L"itemselect") {
        if (name == L"como_frame1_gpsdata") {
            const bool enable = msg.sender.GetCurSel() != kGpsOff;
            for (const BoundCheckBox& box : kCheckBoxes) {
                if (CControlUI control = PaintManager().FindControl(box.name)) control.SetEnabled(enable);
            }
        } else if (name == L"como_frame1_3") {
            // The level box is one the device does not take; it stays disabled whatever is chosen.
            if (CControlUI level = PaintManager().FindControl(L"como_frame1_content_7_1"))
                level.SetEnabled(msg.sender.GetCurSel() == kSensitivitySmart && !IsUnbound(L"como_frame1_content_7_1"));
        }
    }
    WindowImplBase::Notify(msg);
}

void CFrame_Set::InitControls() {
    if (CControlUI tab = PaintManager().FindControl(L"tab_main")) tab.SelectPage(0);
    SelectMainTab(0);
    for (const ComboItems& combo : ComboTable()) {
        CControlUI control = PaintManager().FindControl(combo.name);
        if (!control) continue;
        control.RemoveAllItems();
        for (const std::wstring& item : combo.items) control.AddItem(item, combo.itemUserData ? item : std::wstring());
        control.SelectItem(combo.initial);
    }
    for (const wchar_t* name : kUnboundCombos) {
        if (CControlUI control = PaintManager().FindControl(name)) {
            control.SetEnabled(false);
            control.SetToolTip(kNotTakenTip);
        }
    }
    for (const wchar_t* name : kSteeringCombos)
        if (CControlUI control = PaintManager().FindControl(name)) control.SetToolTip(kNotWrittenTip);
}

void CFrame_Set::ShowPage(int page) {
    if (page != currentPage_) {
        SavePage(currentPage_);
        currentPage_ = page;
    }
    // The sub-page "Общий" has no bytes of its own: its boxes are shown, but nothing there is stored.
    for (const BoundCombo& bound : kBoundCombos) {
        if (CControlUI control = PaintManager().FindControl(bound.name)) {
            control.SetEnabled(IsBoundPage(page));
            control.SetToolTip(IsBoundPage(page) ? std::wstring() : std::wstring(kNotTakenTip) + L". " + kBoundPagesTip);
        }
    }
    if (!IsBoundPage(page)) return;
    for (const BoundCombo& bound : kBoundCombos) {
        // A byte beyond the combo box's items selects nothing new: the box keeps its selection.
        if (CControlUI control = PaintManager().FindControl(bound.name)) control.SelectItem(WorkingSettings[bound.base + page]);
    }
}

void CFrame_Set::SavePage(int page) {
    if (!IsBoundPage(page)) return;
    for (const BoundCombo& bound : kBoundCombos) {
        if (CControlUI control = PaintManager().FindControl(bound.name))
            WorkingSettings[bound.base + page] = static_cast<uint8_t>(control.GetCurSel());
    }
}

void CFrame_Set::LoadCheckBoxes() {
    for (const BoundCheckBox& box : kCheckBoxes) {
        if (CControlUI control = PaintManager().FindControl(box.name)) control.SetCheck(WorkingSettings[box.byte] == 0);
    }
}

void CFrame_Set::SaveCheckBoxes() {
    for (const BoundCheckBox& box : kCheckBoxes) {
        if (CControlUI control = PaintManager().FindControl(box.name)) WorkingSettings[box.byte] = control.GetCheck() ? 0 : 1;
    }
}

void CFrame_Set::SelectMainTab(int index) {
    CControlUI first = PaintManager().FindControl(L"option_main_1");
    CControlUI second = PaintManager().FindControl(L"option_main_2");
    CControlUI row = PaintManager().FindControl(L"hlyr_mainoption");
    if (!first || !second || !row) return;
    if (index == 0) {
        first.SetTextPadding({0, 0, 0, 0});
        second.SetTextPadding({0, 0, -40, 0});
        row.SetItemIndex(second, 0);
        row.SetItemIndex(first, 1);
    } else if (index == 1) {
        first.SetTextPadding({-80, 0, 0, 0});
        second.SetTextPadding({0, 0, 0, 0});
        row.SetItemIndex(first, 0);
        row.SetItemIndex(second, 1);
    }
}

void CFrame_Set::SelectSubTab(int index) {
    std::array<CControlUI, 5> labels;
    for (int i = 0; i < 5; ++i) {
        labels[i] = PaintManager().FindControl(kSubTabs[i]);
        if (!labels[i]) return;
    }
    for (int i = 0; i < 5; ++i) labels[i].SetFont(i == index ? kFontSubTabSelected : kFontSubTab);
    ShowPage(index);
}

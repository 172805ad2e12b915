// The settings window: its combo boxes and check boxes, which byte of the settings block each one
// edits on which sub-page, and what OK, Cancel and the two restore buttons do with the edit buffer.
#include <QFont>
#include <QTimer>
#include <QWidget>

#include <cwchar>
#include <memory>

#include "UiTestSupport.h"
#include "ui/Frame_Set.h"

using namespace uitest;

namespace {

std::vector<std::wstring> Numbers(const wchar_t* format, int first, int last, int step) {
    std::vector<std::wstring> items;
    for (int v = first; v <= last; v += step) {
        wchar_t text[32];
        std::swprintf(text, 32, format, v);
        items.emplace_back(text);
    }
    return items;
}

struct ComboRow {
    const wchar_t* name;
    std::vector<std::wstring> items;
    bool userData;
    int initial;
};

std::vector<ComboRow> ExpectedCombos() {
    const std::vector<std::wstring> onOff = {L"On", L"Off"};
    return {
        {L"como_frame1_1", {L"Россия", L"Казахстан", L"Узбекистан"}, true, 1},
        {L"como_frame1_2", {L"СМАРТ", L"ТУРБО", L"ТРАССА", L"ГОРОД", L"ТИХИЙ ГОРОД", L"МЕГАПОЛИС", L"УЛЬТРА К"}, true, 1},
        {L"como_frame1_3", {L"Смарт", L"Auto", L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9"}, true, 0},
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
}

struct Bound {
    const wchar_t* name;
    int base;
    int items;
};

const Bound kBound[] = {
    {L"como_frame1_content_1_1", 0, 2},   {L"como_frame1_content_2_1", 5, 2},   {L"como_frame1_content_4_1", 10, 2},
    {L"como_frame1_content_5_1", 15, 2},  {L"como_frame1_content_6_1", 20, 2},  {L"como_frame1_content_2_2", 25, 15},
    {L"como_frame1_content_3_2", 30, 20}, {L"como_frame1_content_4_2", 35, 11}, {L"como_frame1_content_5_2", 45, 15},
    {L"como_frame1_content_6_2", 50, 18}, {L"como_frame1_content_7_2", 55, 2},
};

struct Check {
    const wchar_t* name;
    int byte;
};

const Check kChecks[] = {
    {L"checkbox_frame1_1_1", 61}, {L"checkbox_frame1_3_2", 62}, {L"checkbox_frame1_1_3", 63},
    {L"checkbox_frame1_1_4", 64}, {L"checkbox_frame1_2_1", 65}, {L"checkbox_frame1_2_3", 66},
    {L"checkbox_frame1_3_4", 67}, {L"checkbox_frame1_2_2", 68}, {L"checkbox_frame1_3_3", 69},
    {L"checkbox_frame1_2_4", 70}, {L"checkbox_frame1_1_2", 71}, {L"checkbox_frame1_3_1", 72},
};

const wchar_t* const kSubTabs[] = {L"option_frame_1_1", L"option_frame_1_2", L"option_frame_1_3", L"option_frame_1_4",
                                   L"option_frame_1_5"};

std::string Narrow(const wchar_t* text) { return QString::fromWCharArray(text).toStdString(); }

// A valid block in which every bound byte differs from its neighbours and from the other pages.
SettingsBlock PatternBlock(int shift) {
    SettingsBlock block{};
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0xA0 + i);  // opaque bytes
    for (const Bound& b : kBound) {
        for (int page = 1; page <= 4; ++page) block[static_cast<size_t>(b.base + page)] = static_cast<uint8_t>((page + shift) % b.items);
    }
    for (const Check& c : kChecks) block[static_cast<size_t>(c.byte)] = static_cast<uint8_t>((c.byte + shift) % 2);
    return block;
}

class FrameSetTest : public WindowTest {
protected:
    std::unique_ptr<CFrame_Set> Open(const std::wstring& skin = L"Frame_Set.xml") {
        auto window = std::make_unique<CFrame_Set>(skin);
        EXPECT_EQ(window->Create(nullptr, L"IAP Tool", kVisibleWindow, UI_WS_EX_WINDOWEDGE), 1)
            << QString::fromStdWString(window->LastError()).toStdString();
        return window;
    }

    static void ExpectPageShown(const CFrame_Set& window, const SettingsBlock& block, int page) {
        for (const Bound& b : kBound)
            EXPECT_EQ(Control(window, b.name).GetCurSel(), block[static_cast<size_t>(b.base + page)])
                << Narrow(b.name) << " on sub-page " << page;
    }

    static void ExpectChecksShown(const CFrame_Set& window, const SettingsBlock& block) {
        for (const Check& c : kChecks)
            EXPECT_EQ(Control(window, c.name).GetCheck(), block[static_cast<size_t>(c.byte)] == 0) << Narrow(c.name);
    }
};

TEST_F(FrameSetTest, EveryComboBoxHasItsItemsAndStartsAtItsInitialIndex) {
    SettingsEditBuffer = {};
    auto window = Open();
    for (const ComboRow& row : ExpectedCombos()) {
        SCOPED_TRACE(Narrow(row.name));
        const CControlUI combo = Control(*window, row.name);
        ASSERT_TRUE(combo);
        EXPECT_EQ(combo.GetClass(), L"ComboUI");
        ASSERT_EQ(combo.GetCount(), static_cast<int>(row.items.size()));
        for (int i = 0; i < combo.GetCount(); ++i) {
            EXPECT_EQ(combo.GetItemText(i), row.items[static_cast<size_t>(i)]);
            EXPECT_EQ(combo.GetItemUserData(i), row.userData ? row.items[static_cast<size_t>(i)] : L"");
        }
        EXPECT_EQ(combo.GetCurSel(), row.initial);
    }
    EXPECT_EQ(window->CurrentSubPage(), 1);
}

TEST_F(FrameSetTest, EachSubPageShowsAndStoresItsOwnBytes) {
    const SettingsBlock loaded = PatternBlock(0);
    SettingsEditBuffer = loaded;
    auto window = Open();
    ExpectPageShown(*window, loaded, 1);

    // On every sub-page choose the next item in every bound combo box; switching pages keeps the edits.
    SettingsBlock expected = loaded;
    for (int page : {1, 2, 3, 4}) {
        SCOPED_TRACE(testing::Message() << "sub-page " << page);
        ASSERT_TRUE(Click(*window, kSubTabs[page]));
        EXPECT_EQ(window->CurrentSubPage(), page);
        ExpectPageShown(*window, loaded, page);
        for (const Bound& b : kBound) {
            const auto byte = static_cast<size_t>(b.base + page);
            expected[byte] = static_cast<uint8_t>((loaded[byte] + 1) % b.items);
            ASSERT_TRUE(Choose(*window, b.name, expected[byte]));
        }
    }
    // Back on sub-page 2 its edits are shown again.
    ASSERT_TRUE(Click(*window, kSubTabs[2]));
    ExpectPageShown(*window, expected, 2);
    EXPECT_EQ(SettingsEditBuffer, loaded) << "nothing is stored before OK";
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    EXPECT_EQ(SettingsEditBuffer, expected);
    EXPECT_FALSE(window->IsWindowOpen());
}

TEST_F(FrameSetTest, BytesTheWindowDoesNotBindPassThrough) {
    SettingsBlock loaded = PatternBlock(1);
    for (int i : {0, 5, 10, 15, 20, 25, 30, 35, 40, 41, 42, 43, 44, 45, 50, 55, 60}) loaded[static_cast<size_t>(i)] = static_cast<uint8_t>(0xF0 + i % 16);
    SettingsEditBuffer = loaded;
    auto window = Open();
    // The combo boxes that no byte belongs to, and edits on sub-page 0, are not stored.
    ASSERT_TRUE(Choose(*window, L"como_frame1_content_1_2", 7));
    ASSERT_TRUE(Choose(*window, L"como_frame1_content_3_1", 1));
    ASSERT_TRUE(Choose(*window, L"como_frame1_content_7_1", 4));
    ASSERT_TRUE(Choose(*window, L"como_frame1_1", 2));
    ASSERT_TRUE(Click(*window, kSubTabs[0]));
    EXPECT_EQ(window->CurrentSubPage(), 0);
    ExpectPageShown(*window, loaded, 1);  // sub-page 0 loads nothing
    ASSERT_TRUE(Choose(*window, L"como_frame1_content_2_2", 9));
    ASSERT_TRUE(Click(*window, kSubTabs[3]));
    ExpectPageShown(*window, loaded, 3);
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    EXPECT_EQ(SettingsEditBuffer, loaded);
}

TEST_F(FrameSetTest, ThreeHundredMetresSurvivesASubPageSwitch) {
    SettingsEditBuffer = PatternBlock(0);
    auto window = Open();
    ASSERT_TRUE(Choose(*window, L"como_frame1_content_2_2", 2));
    EXPECT_EQ(Control(*window, L"como_frame1_content_2_2").GetText(), L"300M");
    ASSERT_TRUE(Click(*window, L"option_frame_1_3"));
    ASSERT_TRUE(Click(*window, L"option_frame_1_2"));
    EXPECT_EQ(Control(*window, L"como_frame1_content_2_2").GetText(), L"300M");
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    EXPECT_EQ(SettingsEditBuffer[26], 2);
}

TEST_F(FrameSetTest, CheckBoxesBindTheirBytesWithZeroForChecked) {
    SettingsBlock loaded = PatternBlock(0);
    loaded[71] = 7;  // not zero: unchecked, stored back as 1
    SettingsEditBuffer = loaded;
    auto window = Open();
    ExpectChecksShown(*window, loaded);
    SettingsBlock expected = loaded;
    for (const Check& c : kChecks) {
        const CControlUI box = Control(*window, c.name);
        EXPECT_EQ(box.GetClass(), L"CheckBoxUI") << Narrow(c.name);
        if (c.byte % 3 == 0) {
            ASSERT_TRUE(Click(*window, c.name));
            expected[static_cast<size_t>(c.byte)] = loaded[static_cast<size_t>(c.byte)] == 0 ? 1 : 0;
        } else {
            expected[static_cast<size_t>(c.byte)] = loaded[static_cast<size_t>(c.byte)] == 0 ? 0 : 1;
        }
    }
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    EXPECT_EQ(SettingsEditBuffer, expected);
    EXPECT_EQ(SettingsEditBuffer[71], 1);
}

TEST_F(FrameSetTest, CancelStoresNothingAndTheNextOpeningStartsAfresh) {
    const SettingsBlock loaded = PatternBlock(0);
    SettingsEditBuffer = loaded;
    {
        auto window = Open();
        ASSERT_TRUE(Click(*window, kSubTabs[3]));
        ASSERT_TRUE(Choose(*window, L"como_frame1_content_4_2", 9));
        ASSERT_TRUE(Click(*window, L"checkbox_frame1_2_2"));
        ASSERT_TRUE(Choose(*window, L"como_frame1_2", 5));
        QTimer::singleShot(0, [&] { Click(*window, L"btn_cancel"); });
        EXPECT_EQ(window->ShowModal(), 1);
    }
    EXPECT_EQ(SettingsEditBuffer, loaded);
    auto again = Open();
    EXPECT_EQ(again->CurrentSubPage(), 1);
    ExpectPageShown(*again, loaded, 1);
    ExpectChecksShown(*again, loaded);
    EXPECT_EQ(Control(*again, L"como_frame1_2").GetCurSel(), 1);
}

TEST_F(FrameSetTest, RestoreButtonsLoadTheDeviceOrTheInformationBlock) {
    engine_.block = PatternBlock(1);
    engine_.infoBlock = PatternBlock(2);
    struct Row {
        const wchar_t* button;
        SettingsBlock expected;
    };
    const Row rows[] = {{L"btn_rdsfd", PatternBlock(1)}, {L"btn_dfs", PatternBlock(2)}};
    for (const Row& r : rows) {
        SCOPED_TRACE(Narrow(r.button));
        SettingsEditBuffer = PatternBlock(0);
        auto window = Open();
        ASSERT_TRUE(Click(*window, kSubTabs[4]));
        ASSERT_TRUE(Click(*window, r.button));
        EXPECT_EQ(window->CurrentSubPage(), 4);
        ExpectPageShown(*window, r.expected, 4);
        ExpectChecksShown(*window, r.expected);
        EXPECT_EQ(window->Working(), r.expected);
        EXPECT_EQ(SettingsEditBuffer, PatternBlock(0));
        ASSERT_TRUE(Click(*window, L"btn_ok"));
        EXPECT_EQ(SettingsEditBuffer, r.expected);
    }
}

TEST_F(FrameSetTest, GpsDataOffDisablesTheCheckBoxesButTheirStatesAreStillSaved) {
    SettingsBlock loaded = PatternBlock(0);
    loaded[61] = 0;
    SettingsEditBuffer = loaded;
    auto window = Open();
    for (const Check& c : kChecks) EXPECT_TRUE(Control(*window, c.name).IsEnabled()) << Narrow(c.name);
    ASSERT_TRUE(Click(*window, L"checkbox_frame1_1_1"));
    ASSERT_TRUE(Choose(*window, L"como_frame1_gpsdata", 1));
    for (const Check& c : kChecks) EXPECT_FALSE(Control(*window, c.name).IsEnabled()) << Narrow(c.name);
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    SettingsBlock expected = loaded;
    for (const Check& c : kChecks) expected[static_cast<size_t>(c.byte)] = loaded[static_cast<size_t>(c.byte)] == 0 ? 0 : 1;
    expected[61] = 1;
    EXPECT_EQ(SettingsEditBuffer, expected);

    auto again = Open();
    ASSERT_TRUE(Choose(*again, L"como_frame1_gpsdata", 1));
    ASSERT_TRUE(Choose(*again, L"como_frame1_gpsdata", 0));
    for (const Check& c : kChecks) EXPECT_TRUE(Control(*again, c.name).IsEnabled()) << Narrow(c.name);
}

// Boxes no byte stands behind are shown disabled whatever else is chosen, with a tooltip that says why;
// the boxes that only steer others say that they are not written.
TEST_F(FrameSetTest, BoxesThatStoreNothingAreDisabledAndSaySo) {
    auto window = Open();
    for (int index = 0; index < 12; ++index) {
        ASSERT_TRUE(Choose(*window, L"como_frame1_3", index));
        EXPECT_FALSE(Control(*window, L"como_frame1_content_7_1").IsEnabled()) << "index " << index;
    }
    for (const wchar_t* name : {L"como_frame1_content_1_2", L"como_frame1_content_3_1", L"como_frame1_content_7_1"}) {
        EXPECT_FALSE(Control(*window, name).IsEnabled()) << Narrow(name);
        EXPECT_EQ(Control(*window, name).GetToolTip(), L"Устройство не принимает эту настройку от программы");
    }
    for (const wchar_t* name : {L"como_frame1_1", L"como_frame1_2", L"como_frame1_3", L"como_frame1_gpsdata"}) {
        EXPECT_TRUE(Control(*window, name).IsEnabled()) << Narrow(name);
        EXPECT_EQ(Control(*window, name).GetToolTip().rfind(L"Не записывается в устройство", 0), 0u) << Narrow(name);
    }
    // On "Общий" the bound boxes store nothing; on a signal's page they work again.
    ASSERT_TRUE(Click(*window, L"option_frame_1_1"));
    EXPECT_FALSE(Control(*window, L"como_frame1_content_2_2").IsEnabled());
    EXPECT_FALSE(Control(*window, L"como_frame1_content_2_2").GetToolTip().empty());
    EXPECT_TRUE(Control(*window, L"checkbox_frame1_1_1").IsEnabled()) << "check boxes are stored on every page";
    ASSERT_TRUE(Click(*window, L"option_frame_1_3"));
    EXPECT_TRUE(Control(*window, L"como_frame1_content_2_2").IsEnabled());
    EXPECT_TRUE(Control(*window, L"como_frame1_content_2_2").GetToolTip().empty());
}

TEST_F(FrameSetTest, AByteBeyondTheItemsKeepsThePreviousSelection) {
    SettingsBlock loaded = PatternBlock(0);
    loaded[26] = 3;
    loaded[27] = 99;   // no such item on sub-page 2
    loaded[31] = 200;  // nor on sub-page 1 for "como_frame1_content_3_2": the initial index stays
    SettingsEditBuffer = loaded;
    auto window = Open();
    EXPECT_EQ(Control(*window, L"como_frame1_content_3_2").GetCurSel(), 0);
    ASSERT_TRUE(Click(*window, kSubTabs[2]));
    EXPECT_EQ(Control(*window, L"como_frame1_content_2_2").GetCurSel(), 3);
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    EXPECT_EQ(SettingsEditBuffer[27], 3);
    EXPECT_EQ(SettingsEditBuffer[31], 0);
}

TEST_F(FrameSetTest, MainTabsSwapTheirHeaders) {
    auto window = Open();
    const CControlUI tab = Control(*window, L"tab_main");
    const CControlUI row = Control(*window, L"hlyr_mainoption");
    const CControlUI first = Control(*window, L"option_main_1");
    const CControlUI second = Control(*window, L"option_main_2");
    ASSERT_TRUE(tab && row && first && second);
    EXPECT_EQ(first.GetClass(), L"OptionUI");

    struct State {
        int page;
        int firstPosition, secondPosition;
        UiRect firstPadding, secondPadding;
    };
    auto expect = [&](const State& s) {
        EXPECT_EQ(tab.GetCurPage(), s.page);
        EXPECT_EQ(row.GetItemIndex(first), s.firstPosition);
        EXPECT_EQ(row.GetItemIndex(second), s.secondPosition);
        EXPECT_EQ(first.GetTextPadding(), s.firstPadding);
        EXPECT_EQ(second.GetTextPadding(), s.secondPadding);
    };
    const State page0{0, 1, 0, {0, 0, 0, 0}, {0, 0, -40, 0}};
    const State page1{1, 0, 1, {-80, 0, 0, 0}, {0, 0, 0, 0}};
    expect(page0);
    ASSERT_TRUE(Click(*window, L"option_main_2"));
    expect(page1);
    EXPECT_TRUE(Control(*window, L"como_frame1_gpsdata").Widget()->isVisible());
    ASSERT_TRUE(Click(*window, L"option_main_1"));
    expect(page0);
    EXPECT_TRUE(Control(*window, L"como_frame1_content_1_1").Widget()->isVisible());
}

TEST_F(FrameSetTest, SubTabsMarkTheChosenOneWithFontFour) {
    auto window = Open();
    ASSERT_TRUE(Click(*window, kSubTabs[3]));
    for (int i = 0; i < 5; ++i) {
        const CControlUI label = Control(*window, kSubTabs[i]);
        EXPECT_EQ(label.GetFont(), i == 3 ? 4 : 3) << i;
        EXPECT_EQ(label.Widget()->font().bold(), i == 3) << "fonts 3 and 4 come from the skin";
    }
}

// A skin of our own: some sub-tabs missing, a custom element in other letter case, an unknown one.
TEST_F(FrameSetTest, MissingControlsAreSkippedAndCustomElementsMatchAnyCase) {
    testsupport::TempDir dir;
    testsupport::WriteTextFile(dir.File("set.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>set</class>
 <widget class="QWidget" name="set">
  <layout class="QVBoxLayout" name="l">
   <item><widget class="QPushButton" name="option_frame_1_1"><property name="checkable"><bool>true</bool></property><property name="autoExclusive"><bool>true</bool></property></widget></item>
   <item><widget class="QPushButton" name="option_frame_1_2"><property name="checkable"><bool>true</bool></property><property name="autoExclusive"><bool>true</bool></property></widget></item>
   <item><widget class="QPushButton" name="option_frame_1_4"><property name="checkable"><bool>true</bool></property><property name="autoExclusive"><bool>true</bool></property></widget></item>
   <item><widget class="QPushButton" name="option_main_2"><property name="checkable"><bool>true</bool></property></widget></item>
   <item><widget class="frame_set_client_2" name="general"/></item>
   <item><widget class="Frame_Set_Client_3" name="unknown"/></item>
   <item><widget class="QPushButton" name="btn_ok"/></item>
  </layout>
 </widget>
</ui>)");
    SettingsBlock loaded = PatternBlock(0);
    loaded[61] = 0;
    SettingsEditBuffer = loaded;
    auto window = Open(QString::fromStdString(dir.File("set.xml")).toStdWString());
    EXPECT_TRUE(Control(*window, L"como_frame1_gpsdata"));   // built from Frame_Set_Client_2.xml
    EXPECT_FALSE(Control(*window, L"unknown"));
    EXPECT_FALSE(Control(*window, L"como_frame1_content_1_1"));
    EXPECT_EQ(Control(*window, L"como_frame1_1").GetCurSel(), 1);
    EXPECT_TRUE(Control(*window, L"checkbox_frame1_1_1").GetCheck());
    // With a sub-tab missing, choosing another one changes nothing at all.
    ASSERT_TRUE(Click(*window, L"option_frame_1_4"));
    EXPECT_EQ(window->CurrentSubPage(), 1);
    EXPECT_EQ(Control(*window, L"option_frame_1_4").GetFont(), -1);
    ASSERT_TRUE(Click(*window, L"option_main_2"));  // no "option_main_1", no header row: no change
    EXPECT_EQ(Control(*window, L"option_main_2").GetTextPadding(), (UiRect{0, 0, 0, 0}));
    ASSERT_TRUE(Click(*window, L"checkbox_frame1_1_1"));
    ASSERT_TRUE(Click(*window, L"btn_ok"));
    SettingsBlock expected = loaded;
    for (const Check& c : kChecks) expected[static_cast<size_t>(c.byte)] = loaded[static_cast<size_t>(c.byte)] == 0 ? 0 : 1;
    expected[61] = 1;
    EXPECT_EQ(SettingsEditBuffer, expected);
}

}  // namespace

IAP_UI_TEST_MAIN()

// The borderless windows' hit test: resize margins, caption and the controls that keep the mouse.
#include <QWidget>

#include "UiTestSupport.h"
#include "ui/Frame_Set.h"
#include "ui/Frame_Update.h"
#include "ui/HitTest.h"

using namespace uitest;

namespace {

constexpr UiSize kClient{600, 430};
constexpr UiRect kSizeBox{4, 4, 4, 4};
constexpr UiRect kCaption{0, 0, 0, 40};

HitTestInput At(int x, int y, const wchar_t* controlClass = L"LabelUI") {
    HitTestInput in;
    in.point = {x, y};
    in.client = kClient;
    in.sizeBox = kSizeBox;
    in.caption = kCaption;
    in.hasControl = controlClass != nullptr;
    in.controlClass = controlClass != nullptr ? controlClass : L"";
    return in;
}

struct Row {
    int x, y;
    int expected;
};

TEST(HitTest, MarginsCornersAndEdges) {
    const Row rows[] = {
        {0, 0, HTTOPLEFT},       {3, 3, HTTOPLEFT},      {300, 0, HTTOP},          {599, 0, HTTOPRIGHT},
        {596, 3, HTTOPRIGHT},    {0, 200, HTLEFT},       {3, 200, HTLEFT},         {599, 200, HTRIGHT},
        {596, 200, HTRIGHT},     {0, 429, HTBOTTOMLEFT}, {300, 426, HTBOTTOM},     {599, 429, HTBOTTOMRIGHT},
        {3, 426, HTBOTTOMLEFT},  {4, 200, HTCLIENT},     {595, 200, HTCLIENT},     {300, 425, HTCLIENT},
        // Inside the caption but within a margin: the margin wins.
        {2, 20, HTLEFT},         {300, 2, HTTOP},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "at " << r.x << "," << r.y);
        EXPECT_EQ(CFrame_Update::HitTest(At(r.x, r.y)), r.expected);
        EXPECT_EQ(CFrame_Set::HitTest(At(r.x, r.y)), r.expected);
    }
}

TEST(HitTest, CaptionEdgesAndInsets) {
    HitTestInput in = At(300, 39);
    EXPECT_EQ(CFrame_Update::HitTest(in), HTCAPTION);
    in = At(300, 40);  // the bottom edge belongs to the client area
    EXPECT_EQ(CFrame_Update::HitTest(in), HTCLIENT);

    in = At(0, 0);
    in.sizeBox = {};
    in.caption = {10, 5, 20, 40};
    const Row rows[] = {{9, 20, HTCLIENT},  {10, 20, HTCAPTION}, {579, 20, HTCAPTION},
                        {580, 20, HTCLIENT}, {300, 4, HTCLIENT}, {300, 5, HTCAPTION}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "at " << r.x << "," << r.y);
        in.point = {r.x, r.y};
        EXPECT_EQ(CFrame_Set::HitTest(in), r.expected);
    }
}

TEST(HitTest, MaximisedWindowHasNoResizeMargins) {
    HitTestInput in = At(0, 0);
    in.maximized = true;
    EXPECT_EQ(CFrame_Update::HitTest(in), HTCAPTION);
    in.point = {599, 429};
    EXPECT_EQ(CFrame_Update::HitTest(in), HTCLIENT);
}

TEST(HitTest, ControlsThatKeepTheMouseInTheCaption) {
    struct ClassRow {
        const wchar_t* controlClass;  // null: no control under the point
        int update;
        int settings;
    };
    const ClassRow rows[] = {
        {L"ButtonUI", HTCLIENT, HTCLIENT},   {L"OptionUI", HTCLIENT, HTCLIENT},
        {L"SliderUI", HTCLIENT, HTCLIENT},   {L"EditUI", HTCLIENT, HTCLIENT},
        {L"RichEditUI", HTCLIENT, HTCLIENT}, {L"ComboUI", HTCLIENT, HTCLIENT},
        // Only the settings window keeps check boxes out of the drag area.
        {L"CheckBoxUI", HTCAPTION, HTCLIENT},
        {L"LabelUI", HTCAPTION, HTCAPTION},  {L"HorizontalLayoutUI", HTCAPTION, HTCAPTION},
        {L"ProgressUI", HTCAPTION, HTCAPTION},
        {nullptr, HTCLIENT, HTCLIENT},
    };
    for (const ClassRow& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.controlClass ? QString::fromWCharArray(r.controlClass).toStdString() : "none"));
        EXPECT_EQ(CFrame_Update::HitTest(At(200, 20, r.controlClass)), r.update);
        EXPECT_EQ(CFrame_Set::HitTest(At(200, 20, r.controlClass)), r.settings);
    }
}

class LiveHitTest : public WindowTest {};

// The real skin and window: the caption's title drags, the buttons click, the edges resize.
TEST_F(LiveHitTest, MainWindowSkin) {
    CFrame_Update frame(L"frame_Update.xml", L"/tmp/");
    ASSERT_EQ(frame.Create(nullptr, L"IAP Tool", kVisibleWindow, UI_WS_EX_WINDOWEDGE), 1) << QString::fromStdWString(frame.LastError()).toStdString();
    QWidget* host = frame.Host();
    auto screenOf = [&](QWidget* w) {
        const QPoint p = w->mapToGlobal(w->rect().center());
        return UiPoint{p.x(), p.y()};
    };
    EXPECT_EQ(frame.PaintManager().GetSizeBox(), (UiRect{4, 4, 4, 4}));
    EXPECT_EQ(frame.PaintManager().GetCaptionRect(), (UiRect{0, 0, 0, 40}));
    EXPECT_EQ(frame.OnNcHitTest(screenOf(Control(frame, L"lbl_caption").Widget())), HTCAPTION);
    EXPECT_EQ(frame.OnNcHitTest(screenOf(Control(frame, L"btn_update").Widget())), HTCLIENT);
    EXPECT_EQ(frame.OnNcHitTest(screenOf(Control(frame, L"lbl_status").Widget())), HTCLIENT);
    const QPoint left = host->mapToGlobal(QPoint(1, host->height() / 2));
    EXPECT_EQ(frame.OnNcHitTest({left.x(), left.y()}), HTLEFT);
    const QPoint corner = host->mapToGlobal(QPoint(host->width() - 1, host->height() - 1));
    EXPECT_EQ(frame.OnNcHitTest({corner.x(), corner.y()}), HTBOTTOMRIGHT);
}

}  // namespace

IAP_UI_TEST_MAIN()

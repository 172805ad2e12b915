// The main window against a recording engine: what each engine message shows, the update button's
// settings rule, the elapsed-time clock and the settings window's round trip.
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <thread>

#include "UiTestSupport.h"
#include "support/HexText.h"
#include "ui/Frame_Set.h"
#include "ui/FolderMemory.h"
#include "ui/Frame_Update.h"
#include "ui/StepTexts.h"
#include "ui/VersionStrings.h"

using namespace uitest;

namespace {

class FrameUpdateTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        std::filesystem::create_directories(Folder());
        testsupport::WriteTextFile(Folder() + "ver.txt", "AC7811\n0105\n0300\n1a2c");
        WriteFirmware("0105\r\n");
        testsupport::WriteFile(Folder() + "flagdata.bin", testsupport::PseudoRandomBytes(5000, 1));
        testsupport::WriteFile(Folder() + "rdfwd.bin", testsupport::PseudoRandomBytes(2000, 2));
    }

    // The update folder of the window (ending in '/').
    std::string Folder() const { return dir_.File("update/"); }
    std::wstring WideFolder() const { return QString::fromStdString(Folder()).toStdWString(); }

    void WriteFirmware(const std::string& trailer) {
        std::vector<testsupport::HexRecord> records = testsupport::HexRecordsFor(0x0800C000, testsupport::PseudoRandomBytes(600, 3));
        records.push_back({0x01, 0, {}});
        testsupport::WriteTextFile(Folder() + "AC7811_project.hex", testsupport::HexFile(records, trailer));
    }
    void TearDown() override {
        VerDeviceType.clear();
        VerFileFirmware.clear();
        VerFileData.clear();
        VerFileRadar.clear();
        WindowTest::TearDown();
    }

    std::unique_ptr<CFrame_Update> Open(const std::wstring& skin = L"frame_Update.xml") {
        auto frame = std::make_unique<CFrame_Update>(skin, WideFolder());
        EXPECT_EQ(frame->Create(nullptr, L"IAP Tool", kVisibleWindow, UI_WS_EX_WINDOWEDGE), 1)
            << QString::fromStdWString(frame->LastError()).toStdString();
        frame->SetTickSource([this] { return now_; });
        return frame;
    }

    static intptr_t Send(CFrame_Update& frame, uint32_t message, NotifyWParam w, NotifyLParam l) {
        return frame.GetHWND()->Send(message, w, l);
    }

    // A window in the middle of a run: the device answered and the user pressed "btn_update".
    std::unique_ptr<CFrame_Update> OpenRunning() {
        auto frame = Open();
        Send(*frame, WM_ENGINE_READY, 0, 0);
        Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
        EXPECT_TRUE(Click(*frame, L"btn_update"));
        return frame;
    }

    static void ExpectButtons(const CFrame_Update& frame, bool enabled) {
        for (const wchar_t* name : {L"btn_update", L"btn_settings", L"btn_cancel"})
            EXPECT_EQ(Control(frame, name).IsEnabled(), enabled) << QString::fromWCharArray(name).toStdString();
    }

    uint32_t now_ = 5000;
    testsupport::TempDir dir_;
};

TEST_F(FrameUpdateTest, OpeningStartsTheEngineAndShowsTheFileVersions) {
    auto frame = Open();
    EXPECT_EQ(engine_.window, frame->GetHWND());
    ASSERT_NE(engine_.window, nullptr);
    EXPECT_EQ(engine_.portLimit, 50u);
    EXPECT_EQ(engine_.baudRate, 256000u);
    EXPECT_EQ(engine_.folder, WideFolder());
    EXPECT_EQ(engine_.calls, (std::vector<std::string>{"SetNotifyWindow", "StartEngine"}));
    // The lines of ver.txt keep their line end; the labels show the value only.
    EXPECT_EQ(Text(*frame, L"lbl_device_type"), L"AC7811");
    EXPECT_EQ(Text(*frame, L"lbl_file_firmwareversion"), L"0105");
    EXPECT_EQ(Text(*frame, L"lbl_file_dataversion"), L"0300");
    EXPECT_EQ(Text(*frame, L"lbl_file_radarversion"), L"1a2c");
    for (const wchar_t* name : {L"lbl_device_firmwareversion", L"lbl_device_dataversion", L"lbl_device_radarversion"})
        EXPECT_EQ(Text(*frame, name), L"");
    // Until the device answers there is nothing to update and no settings to edit.
    EXPECT_FALSE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_FALSE(Control(*frame, L"btn_settings").IsEnabled());
    EXPECT_TRUE(Control(*frame, L"btn_cancel").IsEnabled());
    EXPECT_TRUE(frame->Host()->isVisible());
    EXPECT_TRUE(frame->Host()->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(frame->Host()->windowTitle(), QString("IAP Tool"));
}

TEST_F(FrameUpdateTest, ReadyEnablesUpdateAndShowsDeviceVersions) {
    auto frame = Open();
    bool handled = true;
    EXPECT_EQ(frame->HandleCustomMessage(WM_ENGINE_READY, 0, 0, handled), 0);
    EXPECT_FALSE(handled);
    EXPECT_TRUE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_FALSE(Control(*frame, L"btn_settings").IsEnabled());
    EXPECT_EQ(Text(*frame, L"lbl_file_firmwareversion"), L"0105");
    EXPECT_EQ(Text(*frame, L"lbl_device_firmwareversion"), L"0012");
    EXPECT_EQ(Text(*frame, L"lbl_device_dataversion"), L"0256");
    EXPECT_EQ(Text(*frame, L"lbl_device_radarversion"), L"1a2b");
}

// Each file's state is shown before a run; a damaged or empty firmware file keeps "btn_update" off,
// and the status names the file, the reason and what to do. Versions come from the file where it
// carries one, and a "ver.txt" that disagrees is shown beside it.
TEST_F(FrameUpdateTest, EachFileIsShownWithItsStateAndABadOneKeepsTheRunFromStarting) {
    struct Row {
        const char* name;
        std::function<void()> change;
        bool updateAllowed;
        std::wstring statusPart;   // in the status after the device answered; empty: "Устройство подключено."
        std::wstring filesLine;    // one line of lbl_files
        std::wstring firmware;     // lbl_file_firmwareversion
    };
    std::vector<testsupport::HexRecord> damaged = testsupport::HexRecordsFor(0x0800C000, testsupport::PseudoRandomBytes(64, 4));
    damaged.push_back({0x01, 0, {}});
    std::string damagedText = testsupport::HexFile(damaged, "0105\r\n");
    const size_t third = damagedText.find(':', damagedText.find(':', damagedText.find(':') + 1) + 1);
    damagedText[third + 9] = damagedText[third + 9] == '0' ? '1' : '0';  // a data digit of record 3
    const Row rows[] = {
        {"all ready", [] {}, true, L"", L"AC7811_project.hex: готов к отправке", L"0105"},
        {"damaged firmware", [&] { testsupport::WriteTextFile(Folder() + "AC7811_project.hex", damagedText); }, false,
         L"Файл AC7811_project.hex не будет отправлен: запись 3: ", L"AC7811_project.hex: ошибка: запись 3: ", L"файл с ошибкой"},
        {"empty firmware", [&] { testsupport::WriteTextFile(Folder() + "AC7811_project.hex", ""); }, false,
         L"Файл AC7811_project.hex пуст: положите в папку целый файл прошивки", L"AC7811_project.hex: пустой файл, обновление не начнётся",
         L"пустой файл"},
        {"empty data", [&] { testsupport::WriteTextFile(Folder() + "flagdata.bin", ""); }, true, L"",
         L"flagdata.bin: пустой файл, будет пропущен", L"0105"},
        {"ver.txt disagrees", [&] { testsupport::WriteTextFile(Folder() + "ver.txt", "AC7811\n0999\n0300\n1a2c\n"); }, true, L"",
         L"audioHead.bin: нет", L"0105 (в ver.txt: 0999)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        r.change();
        auto frame = Open();
        Send(*frame, WM_ENGINE_READY, 0, 0);
        EXPECT_EQ(Control(*frame, L"btn_update").IsEnabled(), r.updateAllowed);
        const std::wstring status = Text(*frame, L"lbl_status");
        if (r.statusPart.empty())
            EXPECT_EQ(status, L"Устройство подключено.");
        else
            EXPECT_NE(status.find(r.statusPart), std::wstring::npos) << QString::fromStdWString(status).toStdString();
        const std::wstring files = Text(*frame, L"lbl_files");
        EXPECT_NE(files.find(r.filesLine), std::wstring::npos) << QString::fromStdWString(files).toStdString();
        EXPECT_EQ(Text(*frame, L"lbl_file_firmwareversion"), r.firmware);
        if (!r.updateAllowed) {
            // Pressed anyway (it was enabled a moment before): the files are read again and nothing starts.
            Control(*frame, L"btn_update").SetEnabled(true);
            ASSERT_TRUE(Click(*frame, L"btn_update"));
            EXPECT_EQ(engine_.runs, 0);
        }
    }
}

// The window follows the folder: a file that goes bad, is fixed, removed or added shows within the
// watch's settle time, and a file broken just before the click stops the run at the click.
TEST_F(FrameUpdateTest, TheWindowFollowsTheFolderAndTheClickReadsItAgain) {
    auto frame = Open();
    Send(*frame, WM_ENGINE_READY, 0, 0);
    ASSERT_TRUE(Control(*frame, L"btn_update").IsEnabled());
    const auto shows = [&](const wchar_t* name, const std::wstring& part) {
        return PumpUntil([&] { return Text(*frame, name).find(part) != std::wstring::npos; }, 5000);
    };
    testsupport::WriteTextFile(Folder() + "AC7811_project.hex", ":10000000");
    EXPECT_TRUE(shows(L"lbl_status", L"Файл AC7811_project.hex не будет отправлен")) << QString::fromStdWString(Text(*frame, L"lbl_status")).toStdString();
    EXPECT_FALSE(Control(*frame, L"btn_update").IsEnabled());
    WriteFirmware("0107\r\n");
    EXPECT_TRUE(shows(L"lbl_file_firmwareversion", L"0107 (в ver.txt: 0105)"));
    EXPECT_TRUE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Устройство подключено.");
    std::filesystem::remove(Folder() + "flagdata.bin");
    EXPECT_TRUE(shows(L"lbl_files", L"flagdata.bin: нет"));
    EXPECT_EQ(Text(*frame, L"lbl_file_dataversion"), L"нет файла");
    testsupport::WriteFile(Folder() + "picHead.bin", testsupport::PseudoRandomBytes(100, 5));
    EXPECT_TRUE(shows(L"lbl_files", L"picHead.bin: готов к отправке"));

    // No time for the watch: the click itself finds the damage.
    testsupport::WriteTextFile(Folder() + "AC7811_project.hex", "");
    ASSERT_TRUE(Click(*frame, L"btn_update"));
    EXPECT_EQ(engine_.runs, 0);
    EXPECT_FALSE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_NE(Text(*frame, L"lbl_status").find(L"Файл AC7811_project.hex пуст"), std::wstring::npos);
    std::filesystem::remove(Folder() + "AC7811_project.hex");
    ASSERT_TRUE(PumpUntil([&] { return Control(*frame, L"btn_update").IsEnabled(); }, 5000));
    ASSERT_TRUE(Click(*frame, L"btn_update"));
    EXPECT_EQ(engine_.runs, 1);
}

// Another folder, chosen or dropped: the engine reads from there, the window shows its files, and it
// is remembered for the next start; while a run goes the folder stays.
TEST_F(FrameUpdateTest, AChosenOrDroppedFolderHoldsTheUpdateFilesFromNowOn) {
    testsupport::TempDir other;
    testsupport::WriteTextFile(other.File("ver.txt"), "AC7811\n0200\n0400\n1a2d\n");
    testsupport::WriteFile(other.File("flagdata.bin"), testsupport::PseudoRandomBytes(100, 6));
    auto frame = Open();
    Send(*frame, WM_ENGINE_READY, 0, 0);
    engine_.calls.clear();
    ASSERT_TRUE(frame->ChooseFolder(QString::fromStdString(other.Path()).toStdWString()));
    // The window keeps a folder with '/' between its parts, on Windows too.
    const std::wstring chosen = (QDir::fromNativeSeparators(QString::fromStdString(other.Path())) + "/").toStdWString();
    EXPECT_EQ(engine_.folder, chosen);
    EXPECT_EQ(engine_.calls, (std::vector<std::string>{"SetToolFolder"}));
    EXPECT_EQ(RememberedFolder(), chosen);
    EXPECT_EQ(Text(*frame, L"lbl_file_firmwareversion"), L"нет файла");
    EXPECT_EQ(Text(*frame, L"lbl_file_dataversion"), L"0400");
    EXPECT_EQ(Control(*frame, L"lbl_folder").Widget()->toolTip(), QDir::toNativeSeparators(QString::fromStdWString(chosen)));
    EXPECT_FALSE(frame->ChooseFolder(QString::fromStdString(other.File("nothing-here")).toStdWString()));

    // A file dropped on the window names its folder.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(Folder() + "rdfwd.bin"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame->Host(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame->Host(), &drop);
    const std::wstring dropped = (QDir::fromNativeSeparators(QString::fromStdString(Folder()))).toStdWString();
    EXPECT_EQ(engine_.folder, dropped);
    EXPECT_EQ(RememberedFolder(), dropped);
    EXPECT_EQ(Text(*frame, L"lbl_file_firmwareversion"), L"0105");

    ASSERT_TRUE(Click(*frame, L"btn_update"));
    EXPECT_FALSE(Control(*frame, L"btn_folder").IsEnabled());
    EXPECT_FALSE(frame->ChooseFolder(QString::fromStdString(other.Path()).toStdWString()));
    EXPECT_EQ(engine_.folder, dropped);
    // Another start's folder, asked for during the run, is taken when the run ends.
    frame->RequestFolder(QString::fromStdString(other.Path()).toStdWString());
    EXPECT_EQ(engine_.folder, dropped);
    Send(*frame, WM_ENGINE_STEP_END, 7, 0);
    EXPECT_EQ(engine_.folder, chosen);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Успешно обновлено! Теперь файлы обновления берутся из папки " + chosen + L".");
    EXPECT_EQ(Text(*frame, L"lbl_file_dataversion"), L"0400");
}

TEST_F(FrameUpdateTest, SettingsAnswerEnablesSettingsAndFillsTheEditBuffer) {
    auto frame = Open();
    for (size_t i = 0; i < engine_.block.size(); ++i) engine_.block[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(Send(*frame, WM_ENGINE_SETTINGS, 0, 0), 0);
    EXPECT_TRUE(Control(*frame, L"btn_settings").IsEnabled());
    EXPECT_FALSE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_EQ(SettingsEditBuffer, engine_.block);

    // An answer during a run keeps the user's edits and does not offer the settings mid-run.
    Send(*frame, WM_ENGINE_READY, 0, 0);
    SettingsEditBuffer[4] = static_cast<uint8_t>(SettingsEditBuffer[4] + 1);
    const SettingsBlock edits = SettingsEditBuffer;
    ASSERT_TRUE(Click(*frame, L"btn_update"));
    engine_.block.fill(0x42);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    EXPECT_EQ(SettingsEditBuffer, edits);
    EXPECT_FALSE(Control(*frame, L"btn_settings").IsEnabled());
    Send(*frame, WM_ENGINE_STEP_END, 7, 0);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    EXPECT_EQ(SettingsEditBuffer, engine_.block);
}

// Edits made with OK wait for the next run: the status says so, a reconnect's settings read does not
// replace them, and only a run that wrote them lets the device's block back in. Without update files
// the run writes the settings alone and says so.
TEST_F(FrameUpdateTest, EditedSettingsAreKeptUntilARunHasWrittenThem) {
    for (const char* name : {"AC7811_project.hex", "flagdata.bin", "rdfwd.bin"}) std::filesystem::remove(Folder() + name);
    engine_.block.fill(1);
    auto frame = Open();
    Send(*frame, WM_ENGINE_READY, 0, 0);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    frame->SetSettingsWindowHook([](CFrame_Set& settings) {
        QTimer::singleShot(0, [&settings] {
            Choose(settings, L"como_frame1_content_2_2", 4);
            Click(settings, L"btn_ok");
        });
    });
    ASSERT_TRUE(Click(*frame, L"btn_settings"));
    const SettingsBlock edits = SettingsEditBuffer;
    ASSERT_NE(edits, engine_.block);
    const std::wstring pending = L"Изменённые настройки будут записаны в устройство при нажатии «Обновить».";
    const auto endsWithPending = [&] {
        const std::wstring status = Text(*frame, L"lbl_status");
        return status.size() >= pending.size() && status.compare(status.size() - pending.size(), pending.size(), pending) == 0;
    };
    EXPECT_TRUE(endsWithPending()) << QString::fromStdWString(Text(*frame, L"lbl_status")).toStdString();

    Send(*frame, WM_ENGINE_CONNECT, static_cast<NotifyWParam>(ConnectState::LineLost), 0);
    EXPECT_TRUE(endsWithPending());
    engine_.block.fill(2);  // another read of the device
    Send(*frame, WM_ENGINE_READY, 0, 0);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    EXPECT_EQ(SettingsEditBuffer, edits);
    EXPECT_TRUE(endsWithPending());

    ASSERT_TRUE(Click(*frame, L"btn_update"));
    EXPECT_EQ(engine_.pending, 1);
    EXPECT_EQ(engine_.block, edits);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Файлов обновления нет: в устройство записываются только настройки...");
    Send(*frame, WM_ENGINE_STEP_BEGIN, 6, 1);
    Send(*frame, WM_ENGINE_STEP_END, 6, 0);
    Send(*frame, WM_ENGINE_STEP_END, 7, 0);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Настройки записаны в устройство. Файлов обновления для отправки не было.");
    // Written: the device's own block is what the window takes from now on.
    engine_.block.fill(3);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    EXPECT_EQ(SettingsEditBuffer, engine_.block);
}

TEST_F(FrameUpdateTest, ProgressHasAFloorOfSixButThePercentageIsTrue) {
    auto frame = OpenRunning();
    Send(*frame, WM_ENGINE_STEP_BEGIN, 2, 200);
    struct Row {
        NotifyLParam sent;
        int bar;
        const wchar_t* label;
    };
    const Row rows[] = {{1, 6, L"0%"},   {2, 6, L"1%"},   {12, 6, L"6%"},
                        {13, 6, L"6%"},  {14, 7, L"7%"},  {200, 100, L"100%"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "sent " << r.sent);
        EXPECT_EQ(Send(*frame, WM_ENGINE_PACKET, 200, r.sent), 0);
        EXPECT_EQ(Control(*frame, L"prog_step").GetValue(), r.bar);
        EXPECT_EQ(Text(*frame, L"lbl_progress"), r.label);
        EXPECT_EQ(Text(*frame, L"lbl_status"), L"Обновление базы камер...");
        EXPECT_EQ(frame->StepTotal(), 200u);
        EXPECT_EQ(frame->StepSent(), static_cast<uint32_t>(r.sent));
    }
}

TEST_F(FrameUpdateTest, APacketMessageWithoutPacketsShowsNoProgress) {
    auto frame = OpenRunning();
    Send(*frame, WM_ENGINE_STEP_BEGIN, 5, 0);
    EXPECT_EQ(Send(*frame, WM_ENGINE_PACKET, 0, 3), 0);
    EXPECT_EQ(Control(*frame, L"prog_step").GetValue(), 6);
    EXPECT_EQ(Text(*frame, L"lbl_progress"), L"0%");
}

TEST_F(FrameUpdateTest, StepBeginShowsTheStepText) {
    struct Row {
        NotifyWParam step;
        const wchar_t* status;
        int bar;
    };
    const Row rows[] = {
        {1, L"Обновление ПО...", 0},
        {2, L"Обновление базы камер...", 0},
        {3, L"Обновление звуковых файлов...", 0},
        {4, L"Обновление файла ресурсов отображения...", 0},
        {5, L"Обновление ПО радарной части...", 0},
        {6, L"Обновление меню устройства...", 0},
        {7, L"", 100},
        {0, L"", 0},
        {8, L"", 0},
    };
    auto frame = OpenRunning();
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "step " << r.step);
        Send(*frame, WM_ENGINE_PACKET, 10, 5);  // leaves a percentage the step begin must clear
        EXPECT_EQ(Send(*frame, WM_ENGINE_STEP_BEGIN, r.step, 321), 0);
        EXPECT_EQ(Text(*frame, L"lbl_status"), r.status);
        EXPECT_EQ(Text(*frame, L"lbl_progress"), L"");
        EXPECT_EQ(Control(*frame, L"prog_step").GetValue(), r.bar);
        EXPECT_EQ(frame->CurrentStep(), static_cast<int>(r.step));
        EXPECT_EQ(frame->StepTotal(), 321u);
        EXPECT_EQ(frame->StepSent(), 0u);
        // Progress keeps showing the step that began last.
        Send(*frame, WM_ENGINE_PACKET, 321, 1);
        EXPECT_EQ(Text(*frame, L"lbl_status"), r.status);
    }
}

TEST_F(FrameUpdateTest, StepEndTextsAndButtons) {
    struct Row {
        NotifyWParam step;
        const wchar_t* failed;
        const wchar_t* succeeded;
    };
    const Row rows[] = {
        {1, L"Не удалось обновить ПО!", L"Обновление ПО прошло успешно!"},
        {2, L"Не удалось обновить базу камер!", L"Обновление базы камер прошло успешно!"},
        {3, L"Не удалось обновить звуковые файлы!", L"Обновление звуковых файлов прошло успешно!"},
        {4, L"Не удалось обновить раздел ресурсов!", L"Обновление файла ресурсов отображения прошло успешно!"},
        {5, L"Не удалось обновить ПО радарной части!", L"Обновление ПО радарной части прошло успешно!"},
        {6, L"Не удалось обновить меню устройства!", L"Меню устройства обновлено успешно!"},
        {7, L"Ошибка обновления!", L"Успешно обновлено!"},
        {8, L"", L""},
    };
    engine_.packets = 1;  // a run with something to send
    for (const Row& r : rows) {
        for (const NotifyLParam result : {NotifyLParam{0}, NotifyLParam{1}}) {
            SCOPED_TRACE(testing::Message() << "step " << r.step << " result " << result);
            auto frame = OpenRunning();
            Send(*frame, WM_ENGINE_STEP_BEGIN, r.step == 8 ? 3 : r.step, 40);
            Send(*frame, WM_ENGINE_PACKET, 40, 20);
            EXPECT_EQ(Send(*frame, WM_ENGINE_STEP_END, r.step, result), 0);
            EXPECT_EQ(Text(*frame, L"lbl_status"), result == 0 ? r.succeeded : r.failed);
            // A failed step or run leaves the bar where the transfer stopped.
            EXPECT_EQ(Control(*frame, L"prog_step").GetValue(), result == 0 ? 100 : 50);
            EXPECT_EQ(Text(*frame, L"lbl_progress"), L"");
            const bool runEnded = r.step == 7;
            ExpectButtons(*frame, runEnded);
            EXPECT_EQ(frame->IsTimerRunning(USE_TIME_TIMER), !runEnded);
            if (runEnded) {
                EXPECT_EQ(frame->CurrentStep(), 7);
            }
        }
    }
}

// The device restarts after its firmware: the run looks for it and goes on; the window says so and
// keeps the run going (buttons off, clock on), then shows the next step and the versions the device
// reports when it is back.
TEST_F(FrameUpdateTest, TheRestartAfterTheFirmwareKeepsTheRunGoing) {
    engine_.packets = 1;
    auto frame = OpenRunning();
    Send(*frame, WM_ENGINE_STEP_BEGIN, 1, 40);
    Send(*frame, WM_ENGINE_STEP_END, 1, 0);
    Send(*frame, WM_ENGINE_WAIT, 0, 10000);
    Send(*frame, WM_ENGINE_CONNECT, static_cast<NotifyWParam>(ConnectState::Restarting), 0);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Устройство перезапускается; ожидание его возвращения на связь...");
    ExpectButtons(*frame, false);
    EXPECT_TRUE(frame->IsTimerRunning(USE_TIME_TIMER));
    engine_.firmware = L"0106";
    Send(*frame, WM_ENGINE_READY, 0, 0);
    EXPECT_EQ(Text(*frame, L"lbl_device_firmwareversion"), L"0106");
    ExpectButtons(*frame, false);
    Send(*frame, WM_ENGINE_STEP_BEGIN, 2, 3);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Обновление базы камер...");

    // Outside a run the state says nothing.
    auto idle = Open();
    Send(*idle, WM_ENGINE_READY, 0, 0);
    const std::wstring before = Text(*idle, L"lbl_status");
    Send(*idle, WM_ENGINE_CONNECT, static_cast<NotifyWParam>(ConnectState::Restarting), 0);
    EXPECT_EQ(Text(*idle, L"lbl_status"), before);
}

// The engine says once in a run that the adapter holds every answer back: the status keeps saying so
// beside the step, the pause and the run's end, until the next run starts. Outside a run it says nothing.
TEST_F(FrameUpdateTest, ASlowAdapterIsNamedUntilTheNextRun) {
    engine_.packets = 1;
    auto frame = OpenRunning();
    Send(*frame, WM_ENGINE_STEP_BEGIN, 1, 40);
    Send(*frame, WM_ENGINE_PACKET, 40, 32);
    Send(*frame, WM_ENGINE_SLOW_ANSWERS, 15, 16200);
    const std::wstring notice = SlowAdapterText(15);
    EXPECT_NE(notice.find(L"примерно на 15 мс"), std::wstring::npos);
    EXPECT_NE(notice.find(LatencyTimerSteps()), std::wstring::npos);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Обновление ПО... " + notice);
    Send(*frame, WM_ENGINE_PACKET, 40, 33);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Обновление ПО... " + notice);
    EXPECT_EQ(Text(*frame, L"lbl_progress"), L"82%");
    Send(*frame, WM_ENGINE_WAIT, 5000, 10000);
    EXPECT_EQ(Text(*frame, L"lbl_status"), FirmwarePauseText(5000) + L" " + notice);
    Send(*frame, WM_ENGINE_STEP_END, 7, 0);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Успешно обновлено! " + notice);

    ASSERT_TRUE(Click(*frame, L"btn_update"));
    Send(*frame, WM_ENGINE_STEP_BEGIN, 1, 40);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Обновление ПО...");

    auto idle = Open();
    Send(*idle, WM_ENGINE_READY, 0, 0);
    const std::wstring before = Text(*idle, L"lbl_status");
    Send(*idle, WM_ENGINE_SLOW_ANSWERS, 15, 16200);
    EXPECT_EQ(Text(*idle, L"lbl_status"), before);
}

TEST_F(FrameUpdateTest, ElapsedTimeFormat) {
    struct Row {
        uint32_t startTick;
        uint32_t elapsedMs;
        const wchar_t* text;
    };
    const Row rows[] = {
        {5000, 3723456, L"Время обновления: 01:02:03"},
        {5000, 61u * 3600u * 1000u, L"Время обновления: 01:00:00"},
        {5000, 999, L"Время обновления: 00:00:00"},
        {5000, 59999, L"Время обновления: 00:00:59"},
        // The tick count wraps after 49.7 days; the elapsed time doesn't care.
        {0xFFFFFC18u, 3000, L"Время обновления: 00:00:03"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "elapsed " << r.elapsedMs);
        now_ = r.startTick;
        auto frame = OpenRunning();
        EXPECT_TRUE(frame->IsTimerRunning(USE_TIME_TIMER));
        now_ = r.startTick + r.elapsedMs;
        bool handled = true;
        EXPECT_EQ(frame->HandleCustomMessage(UI_WM_TIMER, USE_TIME_TIMER, 0, handled), 0);
        EXPECT_FALSE(handled);
        EXPECT_EQ(Text(*frame, L"lbl_usetime"), r.text);
        // Another timer changes nothing.
        now_ += 7000;
        frame->HandleCustomMessage(UI_WM_TIMER, USE_TIME_TIMER + 1, 0, handled);
        frame->HandleCustomMessage(UI_WM_TIMER, 0, 0, handled);
        EXPECT_EQ(Text(*frame, L"lbl_usetime"), r.text);
    }
}

TEST_F(FrameUpdateTest, TheClockTicksOnItsOwnAndStopsAtTheEndOfTheRun) {
    auto frame = OpenRunning();
    now_ += 5000;
    ASSERT_TRUE(PumpUntil([&] { return Text(*frame, L"lbl_usetime") == L"Время обновления: 00:00:05"; }, 3000));
    Send(*frame, WM_ENGINE_STEP_END, 7, 0);
    now_ += 60000;
    QTimer pause;  // run the event loop for a few periods of the clock: the label must stay
    int ticks = 0;
    QObject::connect(&pause, &QTimer::timeout, [&] { ++ticks; });
    pause.start(100);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
    EXPECT_EQ(Text(*frame, L"lbl_usetime"), L"Время обновления: 00:00:05");
}

TEST_F(FrameUpdateTest, UpdateButtonStartsTheRun) {
    auto frame = Open();
    Send(*frame, WM_ENGINE_READY, 0, 0);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    Send(*frame, WM_ENGINE_PACKET, 10, 5);
    engine_.calls.clear();
    ASSERT_TRUE(Click(*frame, L"btn_update"));
    ExpectButtons(*frame, false);
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Старт обновления...");
    EXPECT_EQ(Control(*frame, L"prog_step").GetValue(), 0);
    EXPECT_TRUE(frame->IsTimerRunning(USE_TIME_TIMER));
    EXPECT_EQ(frame->CurrentStep(), 0);
    EXPECT_EQ(frame->StepTotal(), 0u);
    EXPECT_EQ(frame->StepSent(), 0u);
    EXPECT_EQ(engine_.runs, 1);
    // A disabled button does nothing: a second press cannot start a second run.
    Click(*frame, L"btn_update");
    EXPECT_EQ(engine_.runs, 1);
}

TEST_F(FrameUpdateTest, UpdateButtonHandsOnlyEditedSettingsToTheEngine) {
    SettingsBlock device{};
    for (size_t i = 0; i < device.size(); ++i) device[i] = static_cast<uint8_t>(i % 3);
    SettingsBlock edited = device;
    edited[26] = static_cast<uint8_t>(device[26] + 1);

    struct Row {
        const char* name;
        SettingsBlock buffer;
        bool written;
    };
    const Row rows[] = {{"unchanged", device, false}, {"all zero", SettingsBlock{}, false}, {"edited", edited, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        engine_.block = device;
        engine_.pending = 0;
        auto frame = Open();
        Send(*frame, WM_ENGINE_READY, 0, 0);
        SettingsEditBuffer = r.buffer;
        engine_.calls.clear();
        ASSERT_TRUE(Click(*frame, L"btn_update"));
        if (r.written) {
            EXPECT_EQ(engine_.calls,
                      (std::vector<std::string>{"SetSettingsPending", "SetSettingsBlock", "StartUpdateRun"}));
            EXPECT_EQ(engine_.pending, 1);
            EXPECT_EQ(engine_.block, edited);
        } else {
            EXPECT_EQ(engine_.calls, (std::vector<std::string>{"StartUpdateRun"}));
            EXPECT_EQ(engine_.pending, 0);
            EXPECT_EQ(engine_.block, device);
        }
        EXPECT_EQ(SettingsEditBuffer, r.buffer);
    }
}

TEST_F(FrameUpdateTest, CancelClosesTheWindowAndEndsTheModalLoop) {
    auto frame = Open();
    QTimer::singleShot(0, [&] { Click(*frame, L"btn_cancel"); });
    EXPECT_EQ(frame->ShowModal(), 1);
    EXPECT_FALSE(frame->IsWindowOpen());
    EXPECT_FALSE(frame->Host()->isVisible());
    // A closed window is gone for the engine: its messages are dropped.
    EXPECT_EQ(Send(*frame, WM_ENGINE_READY, 0, 0), 0);
    EXPECT_FALSE(Control(*frame, L"btn_update").IsEnabled());
}

// Ports that did not answer are probed again only when the user asks: "no device" and a lost line
// offer "Искать снова", which asks the engine once and waits for its next word.
TEST_F(FrameUpdateTest, SearchAgainIsOfferedWhileNoDeviceAnswers) {
    auto frame = Open();
    EXPECT_FALSE(Control(*frame, L"btn_search").IsEnabled());
    for (const ConnectState state : {ConnectState::NoDevice, ConnectState::LineLost}) {
        Send(*frame, WM_ENGINE_CONNECT, static_cast<NotifyWParam>(state), 0);
        EXPECT_TRUE(Control(*frame, L"btn_search").IsEnabled());
        if (state == ConnectState::NoDevice) {
            EXPECT_NE(Text(*frame, L"lbl_status").find(L"нажмите «Искать снова»"), std::wstring::npos);
        }
        ASSERT_TRUE(Click(*frame, L"btn_search"));
        EXPECT_FALSE(Control(*frame, L"btn_search").IsEnabled());
        EXPECT_EQ(Text(*frame, L"lbl_status").rfind(L"Поиск устройства на всех портах...", 0), 0u);
    }
    EXPECT_EQ(std::count(engine_.calls.begin(), engine_.calls.end(), "SearchAgain"), 2);
    // A device that answers takes the offer back.
    Send(*frame, WM_ENGINE_CONNECT, static_cast<NotifyWParam>(ConnectState::NoDevice), 0);
    Send(*frame, WM_ENGINE_READY, 0, 0);
    EXPECT_FALSE(Control(*frame, L"btn_search").IsEnabled());
}

TEST_F(FrameUpdateTest, SettingsButtonRunsTheSettingsWindowModallyInItsPlace) {
    auto frame = Open();
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    int opened = 0;
    bool mainHidden = false;
    frame->SetSettingsWindowHook([&](CFrame_Set& settings) {
        ++opened;
        mainHidden = !frame->Host()->isVisible();
        EXPECT_TRUE(settings.Host()->isVisible());
        EXPECT_EQ(settings.Host()->windowTitle(), QString("IAP Tool"));
        QTimer::singleShot(0, [&settings] { Click(settings, L"btn_cancel"); });
    });
    ASSERT_TRUE(Click(*frame, L"btn_settings"));  // returns when the settings window has closed
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(mainHidden);
    EXPECT_TRUE(frame->Host()->isVisible());
    EXPECT_TRUE(frame->IsWindowOpen());
}

TEST_F(FrameUpdateTest, EngineThreadsWaitUntilTheWindowHasShownTheirMessage) {
    auto frame = Open();
    NotifyHandle handle = frame->GetHWND();
    std::atomic<bool> done{false};
    std::atomic<int> readsWhenReturned{-1};
    std::thread reader([&] {
        handle->Send(WM_ENGINE_READY, 0, 0);
        readsWhenReturned = engine_.versionReads.load();
        handle->Send(WM_ENGINE_STEP_BEGIN, 4, 50);
        for (NotifyLParam sent = 1; sent <= 50; ++sent) handle->Send(WM_ENGINE_PACKET, 50, sent);
        handle->Send(WM_ENGINE_STEP_END, 4, 0);
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 5000));
    reader.join();
    EXPECT_EQ(readsWhenReturned.load(), 1) << "Send returned before the window handled the message";
    EXPECT_TRUE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_EQ(Text(*frame, L"lbl_status"), L"Обновление файла ресурсов отображения прошло успешно!");
}

// At exit the UI thread stops engine threads that may be waiting for the window; closing the window
// must release them, or the stop would wait for ever.
TEST_F(FrameUpdateTest, ClosingTheWindowReleasesAnEngineThreadWaitingForIt) {
    auto frame = Open();
    NotifyHandle handle = frame->GetHWND();
    std::atomic<bool> sending{false};
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        sending = true;
        handle->Send(WM_ENGINE_READY, 0, 0);
        returned = true;
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sending.load(); }, 5000));
    frame->Close(1);  // no events run on this thread meanwhile
    const bool released = testsupport::WaitUntil([&] { return returned.load(); }, 5000);
    EXPECT_TRUE(released);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Control(*frame, L"btn_update").IsEnabled()) << "the message reached a closed window";
    if (!released) frame.reset();  // destroying the window lets the thread go, so the test ends
    reader.join();
}

TEST_F(FrameUpdateTest, ASkinWithoutTheControlsStillWorks) {
    testsupport::TempDir dir;
    testsupport::WriteTextFile(dir.File("bare.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>bare</class>
 <widget class="QWidget" name="bare">
  <layout class="QVBoxLayout" name="l"><item><widget class="QPushButton" name="btn_update"/></item></layout>
 </widget>
</ui>)");
    auto frame = Open(QString::fromStdString(dir.File("bare.xml")).toStdWString());
    Send(*frame, WM_ENGINE_READY, 0, 0);
    Send(*frame, WM_ENGINE_SETTINGS, 0, 0);
    ASSERT_TRUE(Click(*frame, L"btn_update"));
    Send(*frame, WM_ENGINE_STEP_BEGIN, 1, 10);
    Send(*frame, WM_ENGINE_PACKET, 10, 3);
    bool handled = false;
    frame->HandleCustomMessage(UI_WM_TIMER, USE_TIME_TIMER, 0, handled);
    Send(*frame, WM_ENGINE_STEP_END, 7, 0);
    EXPECT_TRUE(Control(*frame, L"btn_update").IsEnabled());
    EXPECT_EQ(engine_.runs, 1);
}

}  // namespace

IAP_UI_TEST_MAIN()

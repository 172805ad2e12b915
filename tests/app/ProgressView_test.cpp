// How iap-cli shows a run: plain lines for logs, a redrawn line on a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/LineReport.h"
#include "app/cli/ProgressView.h"
#include "engine/AnswerTimeMeter.h"
#include "ui/StepTexts.h"
#include "base/Text.h"
#include "base/Trace.h"

namespace {

// Collects what a view writes (a temporary file: open_memstream is POSIX only).
class Capture {
public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() { std::fclose(file_); }
    std::FILE* File() { return file_; }
    std::wstring Text() {
        std::fflush(file_);
        std::string bytes;
        std::rewind(file_);
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) bytes += static_cast<char>(c);
        std::fseek(file_, 0, SEEK_END);
        return Utf8ToWide(bytes);
    }

private:
    std::FILE* file_;
};

size_t CountOf(const std::wstring& text, const std::wstring& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::wstring::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

TEST(StepTextsTest, PercentBarAndClock) {
    struct Row {
        unsigned sent, bar, percent;
    };
    for (const Row& row : {Row{1, 6, 0}, Row{2, 6, 1}, Row{12, 6, 6}, Row{13, 6, 6}, Row{14, 7, 7}, Row{200, 100, 100}}) {
        EXPECT_EQ(StepPercent(200, row.sent), row.percent) << row.sent;
        EXPECT_EQ(BarValue(StepPercent(200, row.sent)), row.bar) << row.sent;
    }
    EXPECT_EQ(StepPercent(0, 5), 0u);  // a step without packets never divides by zero
    EXPECT_EQ(ElapsedText(3723456), L"Время обновления: 01:02:03");
    EXPECT_EQ(ElapsedText(61u * 3600u * 1000u), L"Время обновления: 01:00:00");
    EXPECT_EQ(StepText(3), L"Обновление звуковых файлов...");
    EXPECT_EQ(StepEndText(3, 0), L"Обновление звуковых файлов прошло успешно!");
    EXPECT_EQ(StepEndText(7, 1), L"Ошибка обновления!");
    EXPECT_EQ(StepEndText(8, 0), L"");
}

TEST(ProgressViewTest, PlainModePrintsStartsEndsAndOneLinePerTenPercent) {
    Capture out;
    CProgressView view(out.File(), CProgressView::Mode::Plain);
    view.RunStarted(1000);
    view.StepBegin(2, 200, 1000);
    for (unsigned sent = 1; sent <= 200; ++sent) {
        view.Packet(200, sent, 1000 + sent);
        if (sent == 32) view.Notice(L"Адаптер медленный.", 1032);
    }
    view.StepEnd(2, 0, 1500);
    for (uint32_t left : {2000u, 1900u, 1000u, 0u}) view.Waiting(left, 2000, 3000 - left);
    view.StepEnd(7, 0, 4000);
    const std::wstring text = out.Text();
    EXPECT_NE(text.find(L"\nОжидание перезапуска устройства: 2 с\nОжидание перезапуска устройства: 1 с\n"
                        L"Ожидание перезапуска устройства: 0 с\n"),
              std::wstring::npos) << "one line per second of the device's restart";
    EXPECT_NE(text.find(L"Старт обновления...\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"Обновление базы камер... (200)\n"), std::wstring::npos);
    EXPECT_EQ(CountOf(text, L"%"), 10u) << "one line at each of 10 %, 20 %, ..., 100 %";
    EXPECT_NE(text.find(L"100% (200/200)"), std::wstring::npos);
    EXPECT_NE(text.find(L"   10% (20/200)\nАдаптер медленный.\n   20% (40/200)\n"), std::wstring::npos) << WideToUtf8(text);
    EXPECT_NE(text.find(L"Обновление базы камер прошло успешно!\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"Успешно обновлено!  Время обновления: 00:00:03\n"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\x1b"), std::wstring::npos) << "no terminal control in plain mode";
}

// A count beyond the total is shown as the total, and a run shows one result: a late end or packet
// after it is not printed, until the next run starts.
TEST(ProgressViewTest, NeverPastAHundredPercentAndOneResultPerRun) {
    Capture out;
    CProgressView view(out.File(), CProgressView::Mode::Plain);
    view.RunStarted(0);
    view.StepBegin(3, 3, 0);
    for (unsigned sent = 1; sent <= 5; ++sent) view.Packet(3, sent, sent);
    view.StepEnd(3, 0, 10);
    view.StepEnd(7, 0, 20);
    view.StepEnd(6, 0, 30);
    view.StepEnd(7, 0, 40);
    view.Packet(3, 6, 50);
    view.StepBegin(4, 2, 60);
    view.Notice(L"Адаптер медленный.", 70);
    std::wstring text = out.Text();
    EXPECT_EQ(text.find(L"Адаптер"), std::wstring::npos) << "nothing after the run's result";
    EXPECT_EQ(text.find(L"166%"), std::wstring::npos) << text.c_str();
    EXPECT_EQ(CountOf(text, L"100% (3/3)"), 1u);
    EXPECT_EQ(CountOf(text, L"Успешно обновлено!"), 1u);
    EXPECT_EQ(text.find(L"Обновление файла ресурсов"), std::wstring::npos);
    view.RunStarted(100);
    view.StepEnd(7, 1, 200);
    text = out.Text();
    EXPECT_EQ(CountOf(text, L"Ошибка обновления!"), 1u) << "the next run shows its own result";
}

TEST(ProgressViewTest, TerminalModeRedrawsOneLineWithTheBarFloor) {
    Capture out;
    CProgressView view(out.File(), CProgressView::Mode::Terminal);
    view.RunStarted(0);
    view.StepBegin(1, 200, 0);
    view.Packet(200, 1, 61000);
    // A notice takes a line of its own; the progress line comes back below it.
    view.Notice(L"Адаптер медленный.", 61000);
    EXPECT_NE(out.Text().find(L"\r\x1b[KАдаптер медленный.\n\r\x1b[K[#..."), std::wstring::npos);
    const std::wstring early = view.TerminalLine(61000);
    // Bar at the floor of 6 (1 of 30 cells), true percentage 0 %.
    EXPECT_EQ(early.substr(0, 32), L"[#.............................]");
    EXPECT_NE(early.find(L"  0% Обновление ПО..."), std::wstring::npos);
    EXPECT_NE(early.find(L"Время обновления: 00:01:01"), std::wstring::npos);
    view.Packet(200, 200, 62000);
    EXPECT_EQ(view.TerminalLine(62000).substr(0, 32), L"[##############################]");
    view.Waiting(7500, 10000, 62500);
    const std::wstring waiting = view.TerminalLine(62500);
    EXPECT_EQ(waiting.substr(0, 32), L"[#######.......................]") << "a quarter of the pause has gone";
    EXPECT_NE(waiting.find(L"Ожидание перезапуска устройства: 8 с  Время обновления: 00:01:02"), std::wstring::npos);
    view.Tick(63000);
    view.StepEnd(1, 1, 64000);
    const std::wstring text = out.Text();
    EXPECT_NE(text.find(L"\r\x1b[K"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\x1b[KНе удалось обновить ПО!\n"), std::wstring::npos) << "the end text stays on its own line";
    EXPECT_NE(text.find(L"100%"), std::wstring::npos);
}

TEST(LineReportTest, TheLimitCountsBothDirections) {
    struct Row {
        LineUse use;
        int records;
        bool failed;
        double efficiency;
        const wchar_t* text;
    };
    const Row rows[] = {
        // 16384 firmware records: 26 bytes out, 7 back each, 1.289 ms of wire per record.
        {{425984, 114688, 23500, 256000}, 16384, false, 0.8987,
         L"  ПО                    425984 байт  114688 байт   21.12 с   23.50 с   90% предела линии  697 записей/с\n"},
        // Counting only the bytes out would have claimed 71 %.
        {{425984, 114688, 21120, 256000}, -1, false, 0.99999, L" 100% предела линии\n"},
        {{78, 7, 4, 256000}, -1, true, 0.8301, L"   83% предела линии  ОШИБКА\n"},
        {{500, 0, 0, 256000}, -1, false, 0.0, L"    0% предела линии\n"},  // nothing measured
        {{500, 0, 100, 0}, -1, false, 0.0, L"    0% предела линии\n"},      // no line rate
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.use.measuredMs);
        EXPECT_NEAR(LineEfficiency(row.use), row.efficiency, 0.0001);
        const std::wstring text = LineSummaryRow(row.records >= 0 ? L"ПО" : L"x", row.use, row.records, row.failed);
        EXPECT_NE(text.find(row.text), std::wstring::npos) << WideToUtf8(text);
    }
    EXPECT_NE(LineSummaryHeader(256000).find(L"256000 бод"), std::wstring::npos);

    // The tool's own share: 16384 turnarounds of 25 us beside 21.12 s of wire leave 98 %.
    EXPECT_EQ(TurnaroundLine(TurnaroundStats{}, 21.12), L"");
    const std::wstring own = TurnaroundLine(TurnaroundStats{16384, 25, 80, 16384 * 25}, 21.12);
    EXPECT_NE(own.find(L"медиана 25 мкс, 99% до 80 мкс, 16384 раз; с одной этой задержкой линия была бы занята на 98%"),
              std::wstring::npos) << WideToUtf8(own);
}

TEST(LineReportTest, TheTurnaroundCountsOnlyFramesWrittenAfterAnAnswer) {
    CTurnaroundMeter meter;
    meter.FrameWritten();  // the first frame of a run answers nothing
    meter.AnswerArrived();
    meter.FrameWritten();
    meter.FrameWritten();  // a second frame after one answer is no turnaround
    meter.AnswerArrived();
    meter.Forget();  // a deliberate wait (the device's restart) came between
    meter.FrameWritten();
    EXPECT_EQ(meter.Snapshot().count, 1u);
    meter.Reset();
    EXPECT_EQ(meter.Snapshot().count, 0u);
}

// An answer is slow beyond max(4 ms, 3 x its wire time); the run is slow when more than half are.
TEST(AnswerTimeTest, TheMedianAnswerIsJudgedAgainstItsOwnWireTime) {
    const uint32_t record = WireUs(26 + 7, 256000);  // a firmware record and its acknowledgement
    const uint32_t packet = WireUs(4101 + 7, 256000);  // a 4096-byte data packet and its result
    EXPECT_EQ(record, 1289u);
    EXPECT_EQ(packet, 160468u);
    EXPECT_EQ(WireUs(100, 0), 0u);
    struct Row {
        const char* name;
        std::vector<AnswerTimeSample> samples;
        bool slow;
        uint32_t delayMs;
    };
    const Row rows[] = {
        {"records answered at once", std::vector<AnswerTimeSample>(32, {1400, record}), false, 0},
        {"records held 16 ms", std::vector<AnswerTimeSample>(32, {17300, record}), true, 16},
        {"just beyond 4 ms", std::vector<AnswerTimeSample>(32, {4001, record}), true, 3},
        {"at 4 ms", std::vector<AnswerTimeSample>(32, {4000, record}), false, 3},
        // Long packets take long on the wire; 16 ms more is no multiple of it.
        {"data packets held 16 ms", std::vector<AnswerTimeSample>(32, {176500, packet}), false, 16},
        {"data packets at four times the wire", std::vector<AnswerTimeSample>(32, {4 * packet, packet}), true, 481},
        {"a few late answers among quick ones",
         [&] {
             std::vector<AnswerTimeSample> v(32, {1400, record});
             for (int i = 0; i < 16; ++i) v[i].answerUs = 60000;
             return v;
         }(),
         false, 0},
        {"nothing", {}, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const AnswerTimeVerdict verdict = JudgeAnswerTimes(row.samples);
        EXPECT_EQ(verdict.slow, row.slow);
        EXPECT_EQ(verdict.delayMs, row.delayMs);
    }
}

// Only a packet's answer counts, and the window gives its verdict once: at its 32nd answer.
TEST(AnswerTimeTest, TheVerdictComesOnceAtTheEndOfTheWindow) {
    CAnswerTimeMeter meter;
    AnswerTimeVerdict verdict;
    int verdicts = 0;
    EXPECT_FALSE(meter.AnswerArrived(7, 256000, verdict)) << "an answer with no packet before it";
    meter.PacketWritten(26);
    meter.OtherFrameWritten();  // an acknowledgement of a device notice went out after it
    EXPECT_FALSE(meter.AnswerArrived(7, 256000, verdict));
    for (uint32_t i = 0; i < 2 * CAnswerTimeMeter::kWindow; ++i) {
        meter.PacketWritten(26);
        if (meter.AnswerArrived(7, 256000, verdict)) {
            ++verdicts;
            EXPECT_EQ(i + 1, CAnswerTimeMeter::kWindow);
            EXPECT_EQ(verdict.medianWireUs, 1289u);
        }
    }
    EXPECT_EQ(verdicts, 1);
    meter.Reset();  // the next run judges again
    for (uint32_t i = 0; i < CAnswerTimeMeter::kWindow; ++i) {
        meter.PacketWritten(26);
        verdicts += meter.AnswerArrived(7, 256000, verdict);
    }
    EXPECT_EQ(verdicts, 2);
}

TEST(ProgressViewTest, AStepAnnouncedTwiceIsDrawnOnce) {
    Capture out;
    CProgressView view(out.File(), CProgressView::Mode::Plain);
    view.StepBegin(4, 10, 0);
    view.StepBegin(4, 10, 0);
    EXPECT_EQ(CountOf(out.Text(), L"Обновление файла ресурсов отображения..."), 1u);
}

}  // namespace

// pelorin-soak: the window stepping through tom.avi for a long time, headless, to show that
// memory stays flat. It runs the real Form1 — "Play AVI", then timer ticks exactly as the timer
// delivers them — and changes the method every 1,000 ticks and the mode every 5,000, so every
// conversion routine takes part. The scroll bar wraps to 1 at its maximum and the video ends
// long before that, so the run covers both wraps.
//
//   pelorin-soak [TICKS] [MAX_GROWTH_KB]
//
// Prints the heap in use and the resident size after a warm-up and at the end, and fails (exit
// status 1) when the heap grew by more than MAX_GROWTH_KB (default 256) or an error reached the
// window.
#include "window/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct Memory {
    long long heapBytes; // allocated and not freed
    long long residentBytes;
};

Memory MeasureMemory()
{
    const struct mallinfo2 info = mallinfo2();
    long long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return { static_cast<long long>(info.uordblks + info.hblkhd), resident * 4096 };
}

void Print(const char* when, long long tick, const Memory& m)
{
    std::printf("%-6s tick %7lld: heap in use %8.1f KiB, resident %8.1f KiB\n", when, tick,
        m.heapBytes / 1024.0, m.residentBytes / 1024.0);
    std::fflush(stdout);
}

void ChooseMethod(pelorin::window::Form1& form, int method)
{
    form.Option1(method)->setChecked(true);
    form.Option1_Click(method);
}

void ChooseMode(pelorin::window::Form1& form, int mode)
{
    form.Option2(mode)->setChecked(true);
    form.Option2_Click(mode);
}

// Every mode with every method once first: the first use of a palette builds its nearest-colour
// table and the widest mode sizes the working storage kept between frames. Those stay for the
// program's life and are not growth. A jump back from the video's end once too: the decoder's
// picture pool settles at the size a backward seek with a picture shown and one read ahead
// needs, for good.
void SettleLastingStorage(pelorin::window::Form1& form)
{
    for (int mode = 0; mode < 3; ++mode) {
        ChooseMode(form, mode);
        for (int method = 1; method <= 16; ++method)
            ChooseMethod(form, method);
    }
    form.SetHScroll1Value(499);
    form.SetHScroll1Value(500);
    form.SetHScroll1Value(1);
}

} // namespace

int main(int argc, char** argv)
{
    const long long ticks = argc > 1 ? std::atoll(argv[1]) : 100000;
    const long long maxGrowthKb = argc > 2 ? std::atoll(argv[2]) : 256;
    if (ticks < 2000 || maxGrowthKb < 0) {
        std::fprintf(stderr, "usage: pelorin-soak [TICKS >= 2000] [MAX_GROWTH_KB]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    pelorin::window::ApplyFormStyle();

    std::string failure;
    pelorin::window::FormEnvironment environment;
    environment.showMessage = [&](pelorin::window::MessageKind, const QString& text) {
        failure = text.toStdString();
    };
    environment.endProgram = [] {};
    int status = 0;
    {
        pelorin::window::Form1 form(environment);
        form.Timer1()->stop(); // the ticks are delivered below, one after the other
        if (!form.Load()) {
            std::fprintf(stderr, "soak: the window did not load: %s\n", failure.c_str());
            return 1;
        }
        form.Command3_Click();
        if (form.Check1()->checkState() != Qt::Checked) {
            std::fprintf(stderr, "soak: tom.avi did not open: %s\n", failure.c_str());
            return 1;
        }
        SettleLastingStorage(form);
        const long long warmUp = 1000;
        Memory start {};
        int wraps = 0;
        for (long long tick = 1; tick <= ticks; ++tick) {
            if (tick % 1000 == 0)
                ChooseMethod(form, int((tick / 1000) % 16) + 1);
            if (tick % 5000 == 0)
                ChooseMode(form, int((tick / 5000) % 3));
            const int before = form.HScroll1()->value();
            form.Timer1_Timer();
            if (form.HScroll1()->value() < before)
                ++wraps;
            QCoreApplication::processEvents(); // the paints the toolkit does between ticks
            if (tick == warmUp) {
                malloc_trim(0);
                start = MeasureMemory();
                Print("start", tick, start);
            }
            if (form.Ended() || !failure.empty()) {
                std::fprintf(stderr, "soak: error at tick %lld: %s\n", tick, failure.c_str());
                return 1;
            }
        }
        malloc_trim(0);
        const Memory end = MeasureMemory();
        Print("end", ticks, end);
        const long long growthKb = (end.heapBytes - start.heapBytes) / 1024;
        std::printf("heap growth %lld KiB over %lld ticks, %d wraps of the scroll bar\n", growthKb,
            ticks - warmUp, wraps);
        if (growthKb > maxGrowthKb) {
            std::fprintf(stderr, "soak: the heap grew by %lld KiB (limit %lld KiB)\n", growthKb,
                maxGrowthKb);
            status = 1;
        }
        if (wraps == 0 && ticks > 32000) {
            std::fprintf(stderr, "soak: the scroll bar never wrapped\n");
            status = 1;
        }
        form.Form_QueryUnload();
    }
    return status;
}

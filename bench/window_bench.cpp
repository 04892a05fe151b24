// The window's heartbeat: one timer tick with stepping on runs the whole frame pipeline (seek to
// the next frame of tom.avi, capture, palette, method, display copies). Ticks per second is the
// stepping speed a user sees, less the painting, which the toolkit does between ticks.
#ifdef PELORIN_HAVE_WINDOW_CORE

#include "dither/method_table.h"
#include "window/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

using namespace pelorin;
using namespace pelorin::window;

namespace {

void EnsureApplication()
{
    // Made once and never destroyed: at exit the toolkit's own static state (and the video
    // device's) is torn down in an order a destructor running after main() cannot rely on.
    static QApplication* application = nullptr;
    if (application)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "pelorin-bench";
    static char* argv[] = { name, nullptr };
    application = new QApplication(argc, argv);
    ApplyFormStyle();
}

const char* const kModeNames[] = { "Graphics 2", "Graphics 4", "Graphics 16" };

// Arguments: Option2 index (mode), Option1 index (method).
void BM_SteppingTick(benchmark::State& state)
{
    EnsureApplication();
    const int mode = int(state.range(0));
    const int method = int(state.range(1));
    std::string failure;
    FormEnvironment environment;
    environment.showMessage
        = [&](MessageKind, const QString& text) { failure = text.toStdString(); };
    environment.endProgram = [] {};
    Form1 form(environment);
    form.Timer1()->stop(); // the benchmark is the timer
    form.Form_Load();
    form.Option2(mode)->setChecked(true);
    form.Option1(method)->setChecked(true);
    form.Option2_Click(mode);
    form.Command3_Click();
    if (form.Check1()->checkState() != Qt::Checked) {
        state.SkipWithError(("tom.avi did not open: " + failure).c_str());
        return;
    }
    // Step through real frames only: past the last one a seek does nothing and the tick would
    // convert a still picture.
    const int frames = std::stoi("0" + MciCommand(11));
    if (frames < 2) {
        state.SkipWithError("tom.avi has fewer than two frames");
        return;
    }
    for (auto _ : state) {
        if (form.HScroll1()->value() + 1 >= frames) {
            state.PauseTiming();
            form.SetHScroll1Value(0);
            state.ResumeTiming();
        }
        form.Timer1_Timer();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(kModeNames[mode]) + " + " + std::string(FindMethod(method)->caption)
        + ", " + std::to_string(frames) + " frames");
    form.Form_QueryUnload();
}
BENCHMARK(BM_SteppingTick)
    ->Args({ 2, 1 }) // Graphics 16 + Atkinson
    ->Args({ 0, 2 }) // Graphics 2 + Floyd
    ->Args({ 1, 8 }) // Graphics 4 + Bayer 4x4
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

#endif // PELORIN_HAVE_WINDOW_CORE

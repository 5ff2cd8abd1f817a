// A 10-minute conversion through the conversion dialog, its converter component and the
// converter program, with the progress bar showing how far it is, against the same ffmpeg
// command run directly. Pairs run alternately; the medians of wall time and CPU time (this
// process and every child) and their ratios are printed, with the bar's repaints per second.
#include "AVC.h"
#include "BenchSupport.h"
#include "ConverterTestSupport.h"
#include "Desktop.h"
#include "FormatKey.h"
#include "MsgBox.h"
#include "ProgressBar.h"
#include "frmConvert.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int kPairs = 5;
const char* const kSourceSize = "160x120";

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double Seconds(const timeval& time) {
    return time.tv_sec + time.tv_usec / 1e6;
}

// CPU seconds of this process and of every child it has waited for.
double CpuSeconds() {
    rusage self, children;
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return Seconds(self.ru_utime) + Seconds(self.ru_stime) + Seconds(children.ru_utime) +
           Seconds(children.ru_stime);
}

// Answers every message box at once, noting "Conversion Completed".
class QuietDesktop : public Desktop {
public:
    int messageBox(QWidget*, const QString& text, int, const QString&) override {
        completed = completed || text == QLatin1String("Conversion Completed");
        return vbOK;
    }
    bool completed = false;
};

// Counts the paintings of a widget.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

struct Run {
    double wall = -1;
    double cpu = 0;
    double paintsPerSecond = 0;
};

Run ThroughDialog(frmConvert& dialog, QuietDesktop& desktop, const QString& source) {
    PaintCounter counter;
    dialog.Prg->installEventFilter(&counter);
    desktop.completed = false;
    const double cpu = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    dialog.ConvertFLV(source);
    const bool ended = QTest::qWaitFor([&] { return desktop.completed; }, 600000);
    Run run;
    run.wall = ended ? clock.nsecsElapsed() / 1e9 : -1;
    run.cpu = CpuSeconds() - cpu;
    run.paintsPerSecond = counter.paints / run.wall;
    dialog.Prg->removeEventFilter(&counter);
    return run;
}

Run Direct(const QStringList& args) {
    const double cpu = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start("ffmpeg", args);
    const bool ok = process.waitForFinished(-1) && process.exitCode() == 0;
    Run run;
    run.wall = ok ? clock.nsecsElapsed() / 1e9 : -1;
    run.cpu = CpuSeconds() - cpu;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    for (const char* folder : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        qputenv(folder, dir.filePath(folder).toUtf8());
    QApplication app(argc, argv);
    const QString source = dir.filePath("ten-minutes.flv");
    std::printf("making a 10-minute FLV (Sorenson H.263 + MP3, %s)...\n", kSourceSize);
    if (!ConverterTest::MakeFlv(source, 600, kSourceSize)) {
        std::fprintf(stderr, "ffmpeg could not make the source\n");
        return 1;
    }
    QuietDesktop desktop;
    Desktop::setInstance(&desktop);
    AVC::SetProgramFolder(CONVERTER_DIR);
    frmConvert dialog;
    dialog.show();
    dialog.cmbFormat->setCurrentIndex(dialog.cmbFormat->findText(FormatKey(Format::Avi)));
    dialog.cmbFormat_Click();
    dialog.cmbVideoSize->setCurrentIndex(dialog.cmbVideoSize->findText(kSourceSize));
    dialog.txtDest->setText(dir.path());

    QList<double> dialogWall, dialogCpu, directWall, directCpu, paints;
    QStringList direct;
    for (int pair = 0; pair < kPairs; ++pair) {
        const Run through = ThroughDialog(dialog, desktop, source);
        if (direct.isEmpty())
            direct = FfmpegCommand(dialog.converter()->Arguments(), dir.filePath("direct.avi"));
        const Run reference = Direct(direct);
        if (through.wall < 0 || reference.wall < 0) {
            std::fprintf(stderr, "a conversion failed\n");
            return 1;
        }
        std::printf("pair %d: dialog %.2f s wall %.2f s CPU, %.1f repaints/s; direct %.2f s wall "
                    "%.2f s CPU\n",
                    pair + 1, through.wall, through.cpu, through.paintsPerSecond, reference.wall,
                    reference.cpu);
        std::fflush(stdout);
        dialogWall << through.wall;
        dialogCpu << through.cpu;
        paints << through.paintsPerSecond;
        directWall << reference.wall;
        directCpu << reference.cpu;
    }
    std::printf("10-minute source, AVI (%s): dialog with progress %.2f s wall %.2f s CPU; "
                "direct ffmpeg %.2f s wall %.2f s CPU\n",
                kSourceSize, Median(dialogWall), Median(dialogCpu), Median(directWall),
                Median(directCpu));
    std::printf("median ratio: wall %.3f, CPU %.3f (target <= 1.02); bar repaints %.1f/s "
                "(pacing <= 30/s)\n",
                Median(dialogWall) / Median(directWall), Median(dialogCpu) / Median(directCpu),
                Median(paints));
    dialog.close();
    Desktop::setInstance(nullptr);
    return 0;
}

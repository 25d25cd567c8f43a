// The history page and report against a generated year of one reading a
// minute: the time to query, thin and draw the 1-year and 24-hour ranges,
// the page's whole redraw with limits set (excursions listed), and a 30-day
// PDF report. With a folder, also screenshots of the page and the report.
//
// bench_history_page [FILE [SHOTS_FOLDER]]
//   FILE: a history file to use; filled with the year when it holds none
//   (default: a temporary file).

#include "history_chart.h"
#include "history_page.h"
#include "history_report.h"
#include "history_year.h"
#include "process_figures.h"
#include "screen_host.h"

#include "qcustomplot_include.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {
// A page host that only says what the page reports.
class tQuietHost : public ScreenHost {
  public:
    tSession session;
    tFirstVisits visits;
    tSession &Session() override { return session; }
    tFirstVisits &Visits() override { return visits; }
    int32_t SendCommand(tCommand) override { return -1; }
    void ModbusError(int32_t) override {}
    void Report(uint32_t, const QString &text) override {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    void LogLine(const QString &) override {}
    void Msg(const QString &) override {}
    void HideMsg() override {}
    void Warning(const QString &text) override {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    }
    bool AskYesNo(const QString &) override { return true; }
    QString AskOpenFile(const QString &, const QString &) override { return {}; }
    QString AskSaveFile(const QString &, const QString &) override { return {}; }
    void btnMenuMainClick() override {}
};

// Wall times, and the processor time of the whole process (every thread):
// on a shared, loaded machine the wall time waits for the processor too.
struct tTimes {
    double first = 0, median = 0, max = 0, cpuMedian = 0;
};

tTimes Time(int runs, const std::function<void()> &run) {
    std::vector<double> ms, cpu;
    for (int i = 0; i < runs; ++i) {
        const double cpu0 = ProcessCpuMs();
        QElapsedTimer t;
        t.start();
        run();
        ms.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(ProcessCpuMs() - cpu0);
    }
    return {ms.front(), Percentile(ms, 0.5), *std::max_element(ms.begin(), ms.end()),
            Percentile(cpu, 0.5)};
}

void Print(const char *what, const tTimes &t, const char *goal) {
    std::printf("%-44s first %7.1f  median %7.1f  max %7.1f  cpu %7.1f ms  (goal %s)\n", what,
                t.first, t.median, t.max, t.cpuMedian, goal);
}

void Settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}
} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    // Day and month names in the screenshots and the report as the window writes them.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QTemporaryDir temp;
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.filePath("historico.sqlite");
    const QString shots = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    tHistoryStore store;
    if (!store.Open(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(store.Message()));
        return 1;
    }
    const tHistController c{0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"),
                            QStringLiteral("1.2")};
    const int64_t ctl = store.ControllerId(c);
    auto span = store.ReadingSpan(ctl);
    if (!span) {
        const int64_t end = QDateTime::currentMSecsSinceEpoch() / 60'000 * 60'000;
        QElapsedTimer fill;
        fill.start();
        if (!historyyear::Fill(store, ctl, end)) {
            std::fprintf(stderr, "%s\n", qPrintable(store.Message()));
            return 1;
        }
        std::printf("generated a year of one-minute readings in %.1f s\n", fill.elapsed() / 1000.0);
        span = store.ReadingSpan(ctl);
    }
    const int64_t end = span->second + 60'000;
    constexpr int64_t day = 86'400'000;
    std::printf("file: %s, %.1f MB\n", qPrintable(QFileInfo(path).absoluteFilePath()),
                QFileInfo(path).size() / 1e6);

    // The curve as the page draws it, in the page's size within the window.
    THistoryChart chart;
    chart.resize(530, 280);
    chart.show();
    Settle();
    const int columns = chart.Columns();
    std::printf("curve: %d columns\n", columns);
    tSensorLimits none;
    size_t drawn = 0;
    for (const auto &[name, spanMs, goal] :
         {std::tuple{"1 ano: query, thinning, drawing", 365 * day, "<= 100 ms"},
          std::tuple{"24 h: query, thinning, drawing", day, "<= 20 ms"}}) {
        Print(name,
              Time(7,
                   [&, spanMs = spanMs] {
                       const tCurve curve =
                           LoadCurve(store, ctl, end - spanMs, end, columns, none, tempCELSIUS);
                       chart.Show(curve);
                       drawn = curve.sensors[0].size();
                   }),
              goal);
        std::printf("%-44s %zu min/max pairs for sensor 1\n", "", drawn);
        tCurve curve;
        Print("  of which the store's queries",
              Time(7,
                   [&, spanMs = spanMs] {
                       curve = LoadCurve(store, ctl, end - spanMs, end, columns, none, tempCELSIUS);
                   }),
              "-");
        Print("  of which the drawing", Time(7, [&] { chart.Show(curve); }), "-");
    }

    // The page's whole redraw: the curve, limits on three sensors and the
    // excursions of the range listed.
    tQuietHost host;
    THistoryPage page(host);
    page.resize(791, 341);
    page.SetClock([&] { return QDateTime::fromMSecsSinceEpoch(end - 60'000); });
    page.SetStore(&store);
    page.show();
    page.edtHistMax[0]->setValue(8.0);
    page.edtHistMin[0]->setValue(0.0);
    page.edtHistMax[2]->setValue(32.0);
    Settle();
    for (const auto &[name, range, goal] :
         {std::tuple{"page, 1 ano, limits, excursions listed", THistoryPage::tRange::Year, "-"},
          std::tuple{"page, 24 h, limits, excursions listed", THistoryPage::tRange::Day, "-"}}) {
        page.SetRange(range);
        Print(name,
              Time(5,
                   [&] {
                       page.Redraw();
                       while (page.SearchingExcursions())
                           QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                   }),
              goal);
        std::printf("%-44s %zu excursions\n", "", page.Excursions().size());
    }

    // The 30-day report.
    const QString pdf = shots.isEmpty() ? temp.filePath("relatorio.pdf")
                                        : QDir(shots).filePath("relatorio-30d.pdf");
    if (!shots.isEmpty())
        QDir().mkpath(shots);
    tSensorLimits limits;
    limits[0] = {0, 80};
    limits[2] = {std::nullopt, 320};
    QString why;
    Print("PDF report, 30 days",
          Time(3,
               [&] {
                   if (!WriteHistoryReport(store, ctl, end - 30 * day, end, limits, pdf, &why))
                       std::fprintf(stderr, "report failed: %s\n", qPrintable(why));
               }),
          "<= 2 s");
    std::printf("%-44s %.0f kB\n", "", QFileInfo(pdf).size() / 1e3);

    if (shots.isEmpty())
        return 0;
    const QDir dir(shots);
    for (const auto &[file, range] : {std::pair{"historico-1ano.png", THistoryPage::tRange::Year},
                                      std::pair{"historico-30d.png", THistoryPage::tRange::Month},
                                      std::pair{"historico-24h.png", THistoryPage::tRange::Day},
                                      std::pair{"historico-1h.png", THistoryPage::tRange::Hour}}) {
        page.SetRange(range);
        while (page.SearchingExcursions())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        Settle();
        page.grab().save(dir.filePath(QLatin1String(file)));
    }
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"), pdf,
                       dir.filePath(QStringLiteral("relatorio"))});
    std::printf("screenshots in %s\n", qPrintable(dir.absolutePath()));
    return 0;
}

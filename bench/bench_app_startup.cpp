// One start of a window, measured: bench_app_startup app|bare
//
// Prints one line: "<mode> first_paint_ms=<t> peak_rss_kb=<k>". The time runs
// from KV_LAUNCH_NS (the wall clock in nanoseconds when the caller started the
// process, so loading the libraries counts) or, without it, from main(), to
// the end of the window's first paint. "app" builds the setup program's main
// window and its second form as the program does; "bare" a plain QWidget of
// the same size with one label.
#include "AppStyle.h"
#include "Main.h"
#include "Piszkozat.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include <sys/resource.h>

namespace {

long long NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Quits once the first paint of the watched window has been handled.
class TFirstPaint : public QObject {
public:
    explicit TFirstPaint(long long start) : m_start(start) {}
    double ms = -1;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && ms < 0) {
            QTimer::singleShot(0, qApp, [this] {
                ms = static_cast<double>(NowNs() - m_start) / 1e6;
                QApplication::quit();
            });
        }
        return false;
    }

private:
    long long m_start;
};

} // namespace

int main(int argc, char** argv) {
    const long long mainNs = NowNs();
    const char* launch = std::getenv("KV_LAUNCH_NS");
    const long long start = launch ? std::atoll(launch) : mainNs;
    const bool app = argc > 1 && std::strcmp(argv[1], "app") == 0;

    QApplication application(argc, argv);
    TFirstPaint firstPaint(start);
    std::unique_ptr<QWidget> window;
    std::unique_ptr<TForm1> form1;
    if (app) {
        kv::UseClassicLook(application);
        TFormMainOptions options;
        options.IniFileName = QDir::tempPath() + QStringLiteral("/bench_app_startup.ini");
        window = std::make_unique<TForm_Main>(options);
        form1 = std::make_unique<TForm1>();
    } else {
        window = std::make_unique<QWidget>();
        window->resize(1000, 708);
        auto* label = new QLabel(QStringLiteral("Készülék:"), window.get());
        label->move(8, 8);
    }
    window->installEventFilter(&firstPaint);
    window->show();
    QTimer::singleShot(20000, &application, &QApplication::quit); // never hang
    application.exec();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s first_paint_ms=%.1f peak_rss_kb=%ld\n", app ? "app" : "bare", firstPaint.ms, usage.ru_maxrss);
    return firstPaint.ms < 0 ? 1 : 0;
}

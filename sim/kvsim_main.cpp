// kvsim: the simulated KV5510 / KV7730 transmitter on a pseudo-terminal.
#include "BenchMeter.h"
#include "DeviceModel.h"
#include "Faults.h"
#include "MeterServer.h"
#include "KvVersion.h"
#include "PtyServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace kvsim;

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &b, 1);
}

void Say(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool ParseDate(const QString& text, std::uint16_t& y, std::uint8_t& m, std::uint8_t& d) {
    const QStringList parts = text.split('-');
    if (parts.size() != 3)
        return false;
    bool ok1 = false, ok2 = false, ok3 = false;
    const int yy = parts[0].toInt(&ok1), mm = parts[1].toInt(&ok2), dd = parts[2].toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || yy < 0 || yy > 65535 || mm < 0 || mm > 255 || dd < 0 || dd > 255)
        return false;
    y = static_cast<std::uint16_t>(yy);
    m = static_cast<std::uint8_t>(mm);
    d = static_cast<std::uint8_t>(dd);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kvsim");
    QCoreApplication::setApplicationVersion(QStringLiteral(KV_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated KV5510 / KV7730 transmitter on a pseudo-terminal.\n"
        "It prints \"kvsim: serving on PATH\" with the port to open (again after each hang-up),\n"
        "answers ASCII requests to address 1 with the device's records, and paces its answers\n"
        "like a real line: 10 bits a character at the rate the other side set on the port.\n\n"
        "Each board (--board-seed) has its own hidden reference resistors, offsets and converter\n"
        "reference, and starts with another board's input calibration, so it measures wrong until\n"
        "the input calibration wizard has been run against it. At each step connect what the\n"
        "step's picture shows by typing on the standard input:\n"
        "  steps 1, 2, 3, 5 (pictures A, B: open input)           sensor open\n"
        "  steps 6, 7, 13, 15, 18 (C, E, G: 500 ohm resistor)     sensor resistor 500\n"
        "  steps 10, 11, 16, 17, 19 (D, F, H: 5 kohm resistor)    sensor resistor 5000\n"
        "  steps 20, 21 (I: thermocouple input shorted)           sensor short\n"
        "  step 22 (J: reference voltage Ucal)                    sensor voltage 125\n"
        "and \"sensor ok\" afterwards; the values are those the wizard's edits hold (500, 5000, 125).\n"
        "\"calibration\" prints what the device measures with, \"board\" what a calibration should find.\n\n"
        "Each board (--board-seed) has an output stage of its own that misses the nominal\n"
        "4 mA, 20 mA, 2 V and 10 V. To run the output calibration against it, start the\n"
        "program with /QORMIX, open \"Developer Tools\", \"Output Calibration\", and at each\n"
        "step type \"meter\" here: it prints what an external meter on the output reads\n"
        "(\"meter 4.012 mA 2.006 V\"). Move the PWM value until the meter shows the step's\n"
        "target, Next; once written, the output follows the four stored PWM values.\n\n"
        "With --meter-link PATH a bench meter on the output answers SCPI on a second\n"
        "pseudo-terminal (lines end in \"\\n\"; it prints \"kvsim: meter on PATH\"): *IDN?, *RST,\n"
        "*CLS, *OPC?, MEAS:CURR:DC? (the loop current in A, \"+4.012345E-03\"), MEAS:VOLT:DC?\n"
        "(the voltage output in V), SYST:REM, SYST:LOC and SYST:ERR? (+0,\"No error\" or the\n"
        "oldest error, such as -113,\"Undefined header\"). A reading is the output's mean over\n"
        "the integration time from the query (--meter-integration, 20 ms), answered at its end,\n"
        "with gaussian noise of a few counts drawn from --seed. It can play other meters: one\n"
        "that answers nothing until SYST:REM (--meter-remote), one in terminal mode that echoes\n"
        "and prompts (--meter-terminal), one that queues an error with every reading\n"
        "(--meter-errors), drifts (--meter-drift) or reads an overload (--meter-overload).\n\n"
        "The transmitter's output follows the process value on its own, every measuring cycle\n"
        "(100 ms), polled or not. A new PWM value reaches the output through its filter (time\n"
        "constant 2.5 ms, --output-tau): within a meter's count after 20 time constants (50 ms\n"
        "at the default; within 1e-6 of the step after 14), not sooner.\n\n"
        "\"sensor resistor OHM\" and \"sensor voltage MV\" take any value: the device measures it\n"
        "as a sensor of its mode and wiring, on the sensor's leads (--leads): their whole\n"
        "resistance with 2 wires until the wire resistance is stored, their mismatch with 3,\n"
        "nothing with 4; a thermocouple's cold junction is at the device's internal temperature.\n\n"
        "Lines typed on the standard input change it while it runs:\n") + QString::fromUtf8(kConsoleHelp));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption link("link", "Keep a symbolic link PATH to the port (for KV_EXTRA_PORTS); only a link or nothing may be there.", "PATH");
    const QCommandLineOption baud("baud", "Line rate when the port's own cannot be read (default 115200).", "RATE", "115200");
    const QCommandLineOption turnaround("turnaround", "Pause in ms between a request and its answer (default 2).", "MS", "2");
    const QCommandLineOption burst("burst", "Answers reach the port in bursts at most MS ms apart, the last character on time (default 1: a UART's FIFO or a USB adapter at low latency; 16: a USB adapter's default latency timer).", "MS", "1");
    const QCommandLineOption ident("ident", "PCB identity address: 0 KV7730 (default), 1 KV5510.", "N", "0");
    const QCommandLineOption firmware("firmware", "Firmware date (default 2016-10-11).", "YYYY-MM-DD", "2016-10-11");
    const QCommandLineOption mode("mode", "Start input mode 0-7 (default 0, Pt 100).", "N", "0");
    const QCommandLineOption wires("wires", "Sensor wires 2, 3 or 4 (default 4).", "N", "4");
    const QCommandLineOption tc("tc", "Thermocouple type B E J K L N R S T U (default K).", "TYPE", "K");
    const QCommandLineOption cjc("cjc", "Cold-junction compensation 0 internal, 1 Pt1000, 2 Pt100, 3 none.", "N", "0");
    const QCommandLineOption value("value", "Process value in the unit of the mode (default 25).", "X", "25");
    const QCommandLineOption drift("drift", "Amplitude of the slow drift of the process value (default 0.5).", "A", "0.5");
    const QCommandLineOption jitter("process-noise", "Noise of each measurement (default 0.02).", "N", "0.02");
    const QCommandLineOption seed("seed", "Seed of the noise and of the fault draws (default 1).", "N", "1");
    const QCommandLineOption boardSeed("board-seed", "Which board: seed of its hidden front-end and output-stage constants (default 1).", "N", "1");
    const QCommandLineOption ownCal("own-calibration", "Start with the board's own input calibration (default: another board's, so it measures wrong until calibrated).");
    const QCommandLineOption uncal("uncalibrated", "Start with the input and output not calibrated.");
    const QCommandLineOption sensor("sensor", "Sensor state ok, open or short (default ok).", "STATE", "ok");
    const QCommandLineOption drop("drop", "Share 0..1 of requests left unanswered.", "P", "0");
    const QCommandLineOption corrupt("corrupt", "Share 0..1 of answers sent with a broken CRC.", "P", "0");
    const QCommandLineOption noise("noise", "Share 0..1 of answers preceded by line noise.", "P", "0");
    const QCommandLineOption error("error", "Answer every request with this error code (254, 255).", "CODE");
    const QCommandLineOption late("late", "Answer after MS ms, beyond the master's time-out.", "MS");
    const QCommandLineOption silent("silent", "Answer nothing.");
    const QCommandLineOption meterLink("meter-link", "Serve a bench meter on the output (SCPI) on a second pseudo-terminal, with a symbolic link PATH to it; only a link or nothing may be there.", "PATH");
    const QCommandLineOption meterNoise("meter-noise", "The bench meter's noise, standard deviation in counts (default 2).", "N", "2");
    const QCommandLineOption meterResolution("meter-resolution", "The bench meter's resolution of current and of voltage (default 1e-9,1e-6).", "A,V", "1e-9,1e-6");
    const QCommandLineOption meterIntegration("meter-integration", "The bench meter's integration: each reading is the output's mean over MS ms from the query, answered at its end (default 20, at most 10000).", "MS", "20");
    const QCommandLineOption meterRemote("meter-remote", "The bench meter answers nothing (no answer, no error) until it receives SYST:REM; SYST:LOC makes it deaf again.");
    const QCommandLineOption meterTerminal("meter-terminal", "The bench meter is in terminal mode: it echoes each line, then answers, then prompts \"=>\" (\"?>\" after a command error, \"!>\" after another) on a line of its own.");
    const QCommandLineOption meterErrors("meter-errors", "Every reading of the bench meter also queues -221,\"Settings conflict\".");
    const QCommandLineOption meterDrift("meter-drift", "The bench meter's readings drift by PPM parts per million of the reading a second from the start (default 0).", "PPM", "0");
    const QCommandLineOption meterOverload("meter-overload", "Every reading of the bench meter is +9.90000000E+37.");
    const QCommandLineOption outputTau("output-tau", "Time constant of the output stage's filter (default 2.5, at most 10000).", "MS", "2.5");
    const QCommandLineOption outputBow("output-bow", "Bow of the output stage at half scale, in microamperes, 0.5 mV a microampere on the voltage (default: the board's own, a few uA).", "UA");
    const QCommandLineOption leads("leads", "The sensor's leads: their loop resistance in ohms and, after a comma, the mismatch of a 3-wire sensor's leads in per cent (default 0.6,1).", "OHM[,PERCENT]", "0.6,1");
    for (const auto* o : {&link, &baud, &turnaround, &burst, &ident, &firmware, &mode, &wires, &tc, &cjc, &value, &drift, &jitter,
                          &seed, &boardSeed, &ownCal, &uncal, &sensor, &drop, &corrupt, &noise, &error, &late, &silent,
                          &meterLink, &meterNoise, &meterResolution, &meterIntegration, &meterRemote, &meterTerminal,
                          &meterErrors, &meterDrift, &meterOverload, &outputTau, &outputBow, &leads})
        p.addOption(*o);
    p.process(app);

    auto fail = [](const QString& text) {
        std::fprintf(stderr, "kvsim: %s\n", qPrintable(text));
        return 2;
    };
    auto number = [&p](const QCommandLineOption& o, double lo, double hi, double& out) {
        bool ok = false;
        const double v = p.value(o).toDouble(&ok);
        if (!ok || !(v >= lo && v <= hi))
            return false;
        out = v;
        return true;
    };

    TDeviceConfig config;
    double v = 0;
    if (!number(ident, 0, 255, v))
        return fail("--ident wants 0..255");
    config.PCBIdentityAddress = static_cast<std::uint8_t>(v);
    if (!ParseDate(p.value(firmware), config.FirmwareYear, config.FirmwareMonth, config.FirmwareDay))
        return fail("--firmware wants YYYY-MM-DD");
    if (!number(mode, 0, 7, v))
        return fail("--mode wants 0..7");
    config.Settings.Mode = static_cast<std::uint8_t>(v);
    if (!number(wires, 2, 4, v))
        return fail("--wires wants 2, 3 or 4");
    config.Settings.Wires = static_cast<std::uint8_t>(v);
    const int type = QStringLiteral("BEJKLNRSTU").indexOf(p.value(tc).toUpper());
    if (p.value(tc).size() != 1 || type < 0)
        return fail("--tc wants one of B E J K L N R S T U");
    config.Settings.TCType = static_cast<std::uint8_t>(type);
    if (!number(cjc, 0, 3, v))
        return fail("--cjc wants 0..3");
    config.Settings.CJC = static_cast<std::uint8_t>(v);
    if (!number(value, -1e6, 1e6, config.ProcessValue))
        return fail("--value wants a number");
    if (!number(drift, -1e6, 1e6, config.DriftAmplitude))
        return fail("--drift wants a number");
    if (!number(jitter, 0, 1e6, config.Noise))
        return fail("--process-noise wants a number from 0");
    if (!number(seed, 0, 1e15, v))
        return fail("--seed wants a whole number");
    config.Seed = static_cast<std::uint64_t>(v);
    if (!number(boardSeed, 0, 4294967295.0, v) || v != std::floor(v))
        return fail("--board-seed wants a whole number 0..4294967295");
    config.BoardSeed = static_cast<std::uint32_t>(v);
    config.ForeignCalibration = !p.isSet(ownCal);
    if (p.isSet(uncal))
        config.InputCalibrated = config.OutputCalibrated = false;

    TDeviceModel model(config);
    TFaultInjector faults(config.Seed);
    TBenchMeter meter(config.Seed, "SIM" + std::to_string(config.BoardSeed));
    TConsoleAction ignored = actNone;
    // The options that are console words: each is typed as its word, and a
    // refusal names the option.
    const auto onOff = [&p](const QCommandLineOption& o) { return QString(p.isSet(o) ? "on" : "off"); };
    const std::pair<const QCommandLineOption*, QString> words[] = {
        {&meterNoise, "meter noise " + p.value(meterNoise)},
        {&meterResolution, "meter resolution " + p.value(meterResolution).replace(',', ' ')},
        {&meterIntegration, "meter integration " + p.value(meterIntegration)},
        {&meterRemote, "meter remote " + onOff(meterRemote)},
        {&meterTerminal, "meter terminal " + onOff(meterTerminal)},
        {&meterErrors, "meter errors " + onOff(meterErrors)},
        {&meterDrift, "meter drift " + p.value(meterDrift)},
        {&meterOverload, "meter overload " + onOff(meterOverload)},
        {&outputTau, "output tau " + p.value(outputTau)},
        {&outputBow, p.isSet(outputBow) ? "output bow " + p.value(outputBow) : QString()},
        {&leads, "sensor leads " + p.value(leads).replace(',', ' ')},
    };
    for (const auto& [option, line] : words) {
        if (line.isEmpty())
            continue;
        const std::string reply = ConsoleExecute(line.toStdString(), faults, model, ignored, &meter);
        if (reply.rfind("error:", 0) == 0)
            return fail("--" + option->names().constFirst() + ": " + QString::fromStdString(reply.substr(7)));
    }
    for (const auto& [opt, word] : {std::pair{&sensor, "sensor"}, std::pair{&drop, "drop"}, std::pair{&corrupt, "corrupt"},
                                    std::pair{&noise, "noise"}, std::pair{&error, "error"}}) {
        if (!p.isSet(*opt) && opt != &sensor)
            continue;
        const std::string reply = ConsoleExecute(std::string(word) + " " + p.value(*opt).toStdString(), faults, model, ignored);
        if (reply.rfind("error:", 0) == 0)
            return fail(QString::fromStdString(reply));
    }
    if (p.isSet(late)) {
        const std::string reply = ConsoleExecute("late on " + p.value(late).toStdString(), faults, model, ignored);
        if (reply.rfind("error:", 0) == 0)
            return fail(QString::fromStdString(reply));
    }
    faults.Faults().Silent = p.isSet(silent);

    TPtyServer::Options options;
    options.Link = p.value(link);
    if (QString why; !options.Link.isEmpty() && !TPtyServer::LinkReplaceable(options.Link, why))
        return fail(why);
    if (!number(baud, 50, 4000000, v))
        return fail("--baud wants a rate");
    options.FallbackRate = static_cast<std::uint32_t>(v);
    if (!number(turnaround, 0, 10000, v))
        return fail("--turnaround wants 0..10000 ms");
    options.Turnaround = static_cast<std::uint16_t>(v);
    if (!number(burst, 1, 1000, v))
        return fail("--burst wants 1..1000 ms");
    options.BurstMs = static_cast<std::uint16_t>(v);

    TPtyLine::Options meterOptions;
    meterOptions.Link = p.value(meterLink);
    meterOptions.LinkOption = QStringLiteral("--meter-link");
    meterOptions.FallbackRate = 9600;
    meterOptions.BurstMs = options.BurstMs;
    if (QString why; p.isSet(meterLink) && !TPtyLine::LinkReplaceable(meterOptions.Link, why, meterOptions.LinkOption))
        return fail(why);
    if (p.isSet(meterLink) && !meterOptions.Link.isEmpty() && meterOptions.Link == options.Link)
        return fail("--meter-link wants a path of its own, not that of --link");

    TPtyServer server(model, faults, options);
    QObject::connect(&server, &TPtyServer::opened, [](const QString& path) { Say("kvsim: serving on " + path.toStdString()); });
    QObject::connect(&server, &TPtyServer::hungUp, [] { Say("kvsim: hung up"); });
    // The meter reads the output as it is now: the model is moved on to this
    // moment first, by the same clock the device's requests use.
    std::unique_ptr<TMeterServer> meterServer;
    if (p.isSet(meterLink)) {
        meterServer = std::make_unique<TMeterServer>(meter, [&](std::uint32_t integrationMs) {
            server.Slave().SyncModel();
            return TMeterSample{model.OutputAverage(integrationMs), model.Now()};
        }, meterOptions);
        QObject::connect(meterServer.get(), &TMeterServer::opened, [](const QString& path) { Say("kvsim: meter on " + path.toStdString()); });
    }
    QString openError;
    // The meter's line first, so that its line comes before "serving on".
    if (meterServer && !meterServer->Open(openError))
        return fail("cannot open a pseudo-terminal for the meter: " + openError);
    if (!server.Open(openError))
        return fail("cannot open a pseudo-terminal: " + openError);

    // Clean shutdown on SIGINT and SIGTERM, through a socket pair into the event loop.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return fail("cannot create the signal pipe");
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char b[16];
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], b, sizeof b);
        QCoreApplication::quit();
    });

    // Console lines on the standard input.
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[1024];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                input.setEnabled(false); // end of input: keep serving
            return;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        if (pending.size() > 65536)
            pending.erase(0, pending.size() - 4096);
        std::size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            TConsoleAction action = actNone;
            std::string reply;
            if (line.rfind("counts", 0) == 0) {
                // The line's side of the device: kept by the server, not the model.
                const TSimSlave& slave = server.Slave();
                reply = "counts: requests " + std::to_string(slave.Requests()) + ", answers " +
                        std::to_string(slave.Answers()) + ", restarts " + std::to_string(model.Restarts());
                for (std::uint8_t c = 1; c <= 6; ++c)
                    reply += ", command " + std::to_string(c) + " " + std::to_string(slave.Handled(c));
            } else {
                server.Slave().SyncModel(); // the line acts now, not when the model was last looked at
                reply = ConsoleExecute(line, faults, model, action, &meter);
            }
            if (!reply.empty())
                Say(reply);
            if (action == actHangUp)
                server.HangUp();
            else if (action == actQuit)
                QCoreApplication::quit();
        }
    });

    const int rc = app.exec();
    if (meterServer)
        meterServer->Close();
    server.Close();
    Say("kvsim: stopped");
    return rc;
}

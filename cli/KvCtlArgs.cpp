// kvctl's command line: the options, and the help of each command.
#include "KvCtl.h"
#include "KvCtlJson.h"
#include "KvCtlMaintenance.h"

#include <QLocale>

#include <algorithm>
#include <cstring>

namespace kvctl {

namespace {

// A text a certificate carries as given (a serial number typed or scanned,
// the conditions): blanks around it dropped (a scanner's line end), no
// control characters inside, not empty.
bool CertificateText(const QString& value, QString& text) {
    text = value.trimmed();
    return !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

bool ParseDuration(const QString& text, double& seconds) {
    // "90", "90s", "15m", "2h", "1.5h": a plain number is seconds.
    static const struct {
        const char* suffix;
        double factor;
    } units[] = {{"ms", 0.001}, {"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
    QString number = text.trimmed();
    double factor = 1;
    for (const auto& u : units)
        if (number.endsWith(QLatin1String(u.suffix)) && number.size() > static_cast<qsizetype>(std::strlen(u.suffix))) {
            const QString rest = number.chopped(static_cast<qsizetype>(std::strlen(u.suffix)));
            if (!rest.isEmpty() && (rest.back().isDigit() || rest.back() == QLatin1Char('.'))) {
                number = rest;
                factor = u.factor;
                break;
            }
        }
    bool ok = false;
    const double v = QLocale::c().toDouble(number, &ok) * factor;
    if (!ok || !(v > 0) || v > 366.0 * 86400)
        return false;
    seconds = v;
    return true;
}

QString TKvCtl::ContractText() {
    return QStringLiteral(
        "Exit codes:\n"
        "  0    success\n"
        "  1    the device answered, but the result differs (settings diff found a\n"
        "       difference, a written setting read back differently, a command was\n"
        "       refused, a maintenance action not acknowledged, a calibration that did\n"
        "       not pass)\n"
        "  2    usage or file error, nothing sent (an option given an empty value, two\n"
        "       options naming one file, a refused settings file or CSV log)\n"
        "  3    no answer after the link's retries, or the port could not be opened\n"
        "  4    an output could not be written (standard output or error, -o, --csv,\n"
        "       --trace, a backup, a certificate: a missing folder, a read-only file\n"
        "       system, a full disk, a closed pipe); the message names it. Whatever can\n"
        "       be seen before (all but a full disk or a closed pipe) is found before\n"
        "       the device is touched: nothing was sent then\n"
        "Signals: SIGINT (Ctrl-C), SIGTERM and SIGHUP end kvctl cleanly (files complete,\n"
        "  the CSV log ends with its last whole row, forcing undone), and then kvctl\n"
        "  ends by the same signal: the shell sees 130, 143 and 129. A reader that goes\n"
        "  away (watch | head) ends it by SIGPIPE (141), or with exit 4 where SIGPIPE\n"
        "  was ignored when kvctl started.\n"
        "Files: -o FILE and backups are written whole or not at all (a temporary file\n"
        "  beside, flushed, renamed): an earlier file of the name stays intact on a\n"
        "  failure; -o replaces a file whole (never merges into it). -o - (or the file\n"
        "  the standard output goes to) is the standard output; a device or pipe\n"
        "  (/dev/stdout, /dev/null) is written to as it is; a name without an\n"
        "  extension gets .kvs; a folder is refused. Settings files hold the device's\n"
        "  values exactly (a backup restores the same bits). A default backup name is\n"
        "  never shared, also not by parallel runs. The CSV log is opened after the\n"
        "  device's first answer and never truncated: rows are added to a file with\n"
        "  the same header (a row a crash cut short goes first), any other file is\n"
        "  refused (exit 2). --trace FILE is this run's log, replaced once every other\n"
        "  check has passed; no two options may name one file (exit 2).\n"
        "Locales: .kvs files are read with either decimal separator (a full stop or a\n"
        "  comma; there is no thousands separator) and written with the machine's, as\n"
        "  the setup program writes them; JSON numbers, CSV values and times never\n"
        "  follow the locale. Status texts and settings captions follow --lang (or\n"
        "  the locale); JSON names and codes and the CSV log's columns never do.\n");
}

QString TKvCtl::CertificateHelp() {
    return QStringLiteral(
        "Certificates: --certificate FILE.pdf writes the run's certificate, an A4 PDF\n"
        "laid out as calibration labs lay theirs out, and FILE.json beside it (schema\n"
        "\"kvctl.calibration/2\", kvctl help json lists its fields). --serial TEXT, the\n"
        "device's serial number or tag as typed or scanned, is required with it;\n"
        "--ambient TEXT records the conditions (\"23.1C,45%RH\"), --operator NAME who\n"
        "performed it. Each certificate gets a number of its own: the bench's station,\n"
        "the date and a sequence (LINE-3-20261208-0007), claimed in the folder\n"
        "certificate-numbers beside the PDF, so that parallel runs never share one;\n"
        "the claim file says what became of its number. The verdict, on every page\n"
        "and in the JSON, with what the device now holds: PASSED (exit 0), FAILED\n"
        "(nothing written, the device as it was), ADJUSTED – FAILED VERIFICATION (the\n"
        "device holds the new record, its as-left points do not support a pass) or\n"
        "NOT COMPLETED (the run stopped, or the device could not be put back). The PDF\n"
        "prints the SHA-256 of FILE.json. Before the device is touched: no --serial,\n"
        "exit 2; the fonts, either file or the register not writable, exit 4.\n");
}

QString TKvCtl::HelpText(const QString& command) {
    const QString globals = QStringLiteral(
        "Global options (before or after the command):\n"
        "  --port PATH     serial port of the transmitter (default: $KV_PORT)\n"
        "  --json          machine-readable output (schemas: kvctl help json)\n"
        "  --timeout MS    the link's answer time-out per try (default 1000; 5 tries)\n"
        "  --trace FILE    decoded log of every frame, time-out and damaged frame\n"
        "  --lang LANG     hu or en: the language of status texts, settings captions\n"
        "                  and certificates (default: Hungarian under a Hungarian or\n"
        "                  the C locale, else English; a certificate is English\n"
        "                  unless --lang says otherwise); JSON names and codes never\n"
        "                  change\n"
        "  -h, --help      this help, or the command's\n"
        "      --version   show the version and exit\n"
        "  --              ends the options: what follows are arguments\n");
    if (command == QLatin1String("json"))
        return JsonHelp();
    if (command == QLatin1String("ports"))
        return QStringLiteral(
            "kvctl ports\n\n"
            "Lists the serial ports as the setup program's link panel does (last probed\n"
            "first, KV_EXTRA_PORTS included), with their /dev/serial/by-id names, the\n"
            "driver, and whether each can be opened now. A busy port names the program\n"
            "that holds it where /proc tells; a port without permission names the group\n"
            "to join (usually dialout).\n\n"
            "--json: one object, schema kvctl.ports/1 (kvctl help json).\n");
    if (command == QLatin1String("status"))
        return QStringLiteral(
            "kvctl status\n\n"
            "Polls the device as the setup program does (poll, read settings, poll) and\n"
            "shows the second answer as the status display shows it: the display formats\n"
            "and units follow the device's input mode.\n\n"
            "--json: one object, schema kvctl.status/1 (kvctl help json lists its fields).\n");
    if (command == QLatin1String("watch"))
        return QStringLiteral(
            "kvctl watch [--interval S] [--csv FILE] [--count N] [--for DURATION]\n\n"
            "Polls without pause, as the setup program does, and writes one line per\n"
            "interval (default 1 s; 0: every poll) with the time (ISO 8601 with the\n"
            "time zone), the measured value, the sensor value, the output and the status.\n"
            "--csv FILE also writes a CSV row per line with the same time, values in\n"
            "full precision with a full stop. The file is opened after the device's\n"
            "first answer; an existing log with the same header is added to, any other\n"
            "file is refused (exit 2) and left as it is.\n"
            "--count N ends after N lines, --for DURATION (90, 90s, 15m, 2h) after that\n"
            "long, answering or not (exit 0; exit 3 when the device never answered in\n"
            "that time). Ctrl-C ends with the log's last row whole.\n"
            "A silent device or a port that hangs up (an adapter pulled) is reported on\n"
            "stderr, and watch waits for it to come back under the same name and goes on.\n"
            "--json: one object per line, schema kvctl.watch/1.\n");
    if (command == QLatin1String("settings"))
        return QStringLiteral(
            "kvctl settings get [-o FILE.kvs]\n"
            "kvctl settings diff FILE.kvs\n"
            "kvctl settings set FILE.kvs [--dry-run] [--no-verify] [--backup FILE.kvs]\n\n"
            "get   reads the device's settings (command 6) into the setup program's .kvs\n"
            "      format, to the standard output or (-o) a fresh FILE, written whole.\n"
            "diff  shows field by field what writing FILE would change (exit 1 when\n"
            "      anything would).\n"
            "set   reads the present settings, shows the changes (nothing to change:\n"
            "      done), saves the present settings as a backup (default: a new file\n"
            "      FILE.backup-YYYYMMDD-HHMMSS[-N].kvs beside FILE; --backup names one,\n"
            "      replaced whole), writes (command 4), reads back (command 6) and\n"
            "      compares field by field: a device that stores other values (it clamps\n"
            "      what it cannot take) makes set fail with the difference (exit 1).\n"
            "      --dry-run stops before the backup and the write; --no-verify does not\n"
            "      compare. A write without acknowledgement (no answer, port gone) exits\n"
            "      3 and says so; the backup is complete on disk before anything is\n"
            "      written.\n"
            "diff, set and set --dry-run check FILE the same way first: a file that is\n"
            "not a settings file, keys missing, not numbers, out of range (-1, no\n"
            "selection, too), beyond what the device holds (1e39), or a key or section\n"
            "given twice (two files run together): exit 2 with the reasons, nothing\n"
            "sent. A scaling value may have a full stop or a comma (files saved under\n"
            "either locale); files are written with the machine's, holding the device's\n"
            "values exactly (the shortest text that reads back as the same single), so\n"
            "that set of a backup gives the device the same bits back.\n"
            "FILE may be a pipe (/dev/stdin); set then needs --backup. -o and --backup:\n"
            "- is the standard output, a device or pipe is written as it is, a name\n"
            "without an extension gets .kvs.\n"
            "--json: kvctl.settings.get/1, kvctl.settings.diff/2, kvctl.settings.set/2;\n"
            "a failing set prints its object too, saying whether the write was sent\n"
            "and acknowledged.\n");
    const QString calibrateOutputHelp = QStringLiteral(
            "kvctl calibrate output --meter PORT [--meter-baud N] [--settle MS] [--fixture CMD]\n"
            "                       [--fixture-timeout SECONDS] [--bench FILE]\n"
            "                       [--certificate FILE.pdf --serial TEXT] [--ambient TEXT]\n"
            "                       [--operator NAME] [--json]\n\n"
            "Runs the seven steps of the setup program's output calibration wizard without\n"
            "a window, against a bench multimeter that speaks SCPI on a serial port (by\n"
            "default 8N1, no handshake, lines ending in \\n, --meter-baud 9600; a bench\n"
            "file gives its manual's line, remote command and identity, see --bench).\n"
            "Every reading is followed by the meter's error queue (SYST:ERR?): an error\n"
            "fails it, and an overload (+9.9E+37) is a wiring fault:\n"
            "  steps 1, 2, 4, 5  finds the PWM value whose reading is closest to 4 mA, 20 mA,\n"
            "                    2 V and 10 V (MEAS:CURR:DC?, MEAS:VOLT:DC?), a search of a\n"
            "                    few readings each, and stores it as the page's Next does;\n"
            "  steps 3, 6        forces the test values of 4, 12, 20 mA and 2, 6, 10 V and\n"
            "                    reads them: each within 0.005 mA or 3 mV, or the run fails\n"
            "                    and writes nothing;\n"
            "  step 7            writes the four values (command 3);\n"
            "then a poll without forcing. The PWM value is forced through the poll, as the\n"
            "page forces it; before each reading a poll that carried the value must have\n"
            "been answered, and then the output is given at least --settle MS (default\n"
            "20); then the meter reads until 3 readings spanning 200 ms agree within\n"
            "20 ppm (0.5 uA, 0.2 mV at least): output stages of 2 to 100 ms and meters\n"
            "that integrate for up to 0.5 s need no option. Every check point is read\n"
            "again before the write: two readings of one value farther apart than that\n"
            "fail the run (the meter or the output drifts).\n\n"
            "The meter's leads: the loop current and the voltage output both (a meter on\n"
            "each quantity's terminals, or one whose inputs see both), or switched by the\n"
            "line's relay box: --fixture CMD is run by /bin/sh with the word `current`\n"
            "before steps 1-3 and `voltage` before steps 4-6 as its last argument; the run\n"
            "goes on when it exits 0 (its output goes to stderr) and fails when it exits\n"
            "otherwise or takes over --fixture-timeout SECONDS (default 60): then it is\n"
            "ended with all it started. kvsim's console takes `meter current|voltage`.\n\n"
            "Forcing always ends (PWM word 0): at the end, on a failure, on Ctrl-C (a\n"
            "second Ctrl-C leaves at once, the output maybe still forced) and when the\n"
            "device stops answering (polls without forcing go on for 10 s in case it comes\n"
            "back; exit 3). Progress goes to stderr.\n\n"
            "Output: a summary (the four values, the six checks with their errors, the\n"
            "time), or with --json the run's facts as one object of the schema\n"
            "\"kvctl.calibration/2\" (the certificate's JSON; Certificates, below).\n\n"
            "Exit: 0 calibrated, 1 not (a check out of tolerance, a search that found no\n"
            "value, the record refused, the meter answered with an error, an overload or\n"
            "an echo), 2 usage or a bench refused (the meter not the bench's, nothing\n"
            "sent), 3 no answer from the device or the meter, 4 the certificate or its\n"
            "JSON cannot be written (checked before the device is touched), 130\n"
            "interrupted.\n\n"
            "--bench FILE (both calibrations): the bench as an INI file: [Station], [Meter]\n"
            "(Port, Baud, DataBits, Parity, StopBits, Handshake none|dtr-dsr|rts-cts,\n"
            "Terminator lf|crlf, DTR, RTS, Remote, Local, Identity, Echo, Prompt, Serial,\n"
            "Certificate, Due, DCI, DCV), [Reference NAME] (Value, Uncertainty, Serial,\n"
            "Certificate, Due), [Source], [Fixture] (Command, Timeout), [Settling],\n"
            "[Verification] (README, \"The bench file\"). The options above win over it. A\n"
            "file that does not read, an instrument past its due date or without what the\n"
            "run needs: exit 2 before anything is sent.\n\n") +
        CertificateHelp();
    if (command == QLatin1String("factory"))
        return QStringLiteral(
            "kvctl factory [-o FILE.kvs]\n\n"
            "Reads the device's factory defaults (command 5) into the .kvs format, to\n"
            "the standard output or (-o) a fresh FILE, written whole. Nothing is written\n"
            "to the device.\n");
    if (command == QLatin1String("calibrate"))
        return QStringLiteral(
            "kvctl calibrate input --fixture CMD [--references R500=OHM,R5K=OHM,UREF=MV]\n"
            "                      [--fixture-timeout SECONDS] [--bench FILE]\n"
            "                      [--certificate FILE.pdf --serial TEXT] [--ambient TEXT]\n"
            "                      [--operator NAME] [--json]\n\n"
            "Runs the 23 steps of the setup program's input calibration wizard without a\n"
            "window, on the same step table, arithmetic, log lines and record:\n"
            " - reads the device's settings; measures the 500 ohm and 5 kohm references as\n"
            "   found (the device set to resistance 0-500 ohm and 0-5k ohm, 4 wires, for the\n"
            "   measurement only; 8 measurements averaged);\n"
            " - before each step runs CMD with the words of what the step connects: open,\n"
            "   resistor OHM, short, voltage MV (the numbers from --references, default\n"
            "   500, 5000 and 125); CMD must exit 0 once connected, within\n"
            "   --fixture-timeout SECONDS (default 60; then it is ended with all it\n"
            "   started); its output and exit status go into the certificate's log; the\n"
            "   poll forces the step's switches; when the averages have settled, computes\n"
            "   as the wizard;\n"
            " - writes the record (command 2); measures both references as left;\n"
            " - gives the device its own settings back and ends the forcing, also after a\n"
            "   failure or Ctrl-C while the device answers.\n"
            "Settled: from the second poll answered after a change, five more measuring\n"
            "cycles of the device (its averages are of the last four measurements); at\n"
            "most 400 polls. Passed: written, acknowledged, and every as-left verification\n"
            "point passes under the bench's decision rule; the adjustment's own as-left\n"
            "checks (R500 within +-0.02 ohm, R5K within +-0.2 ohm) use its own references,\n"
            "so they cannot make a pass, and one out of tolerance fails it.\n"
            "--certificate FILE.pdf writes the run's certificate (Certificates, below);\n"
            "--json prints its JSON object with exit_code and error, also when the run\n"
            "fails.\n"
            "Progress goes to stderr. Exit: 0 passed, 1 not passed, 2 usage or a bench\n"
            "refused (nothing sent), 3 the device stopped answering, 4 the certificate\n"
            "could not be written, 130 interrupted.\n\n") +
               calibrateOutputHelp;
    if (command == QLatin1String("maintenance")) {
        QString t = QStringLiteral(
            "kvctl maintenance ACTION\n\n"
            "Carries the action's bit in the poll until the device acknowledges it, as the\n"
            "setup program's buttons do (exit 1 when it does not within %1 polls).\n"
            "Interrupted, it says whether the action was sent.\n"
            "Actions:\n").arg(kMaintenancePolls);
        for (const auto& a : kActions)
            t += QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(a.name), -22).arg(QString::fromLatin1(a.what));
        t += QStringLiteral("An action that the setup program's settings page does not offer for the\n"
                            "device's present settings is refused (exit 1, nothing carried): the wire\n"
                            "resistance pair only for a 2-wire sensor or a thermocouple's external\n"
                            "cold-junction sensor, the potentiometer actions only in the potentiometer\n"
                            "modes. store-wire-resistance is also refused while the measured\n"
                            "resistance is outside 0 to 100 ohm.\n");
        return t;
    }
    if (!command.isEmpty())
        return {};
    return QStringLiteral(
               "kvctl: the KV5510 / KV7730 transmitter from the command line.\n\n"
               "Usage: kvctl [options] COMMAND [arguments]\n\n"
               "Commands:\n"
               "  ports                      the serial ports and whether they can be opened\n"
               "  status                     one poll, shown as the status display shows it\n"
               "  watch                      continuous polling, a line (or CSV row) per interval\n"
               "  settings get|diff|set      the device's settings and .kvs files\n"
               "  factory                    the factory defaults\n"
               "  maintenance ACTION         restart, clear-fram, store-wire-resistance, ...\n"
               "  calibrate input            the input calibration, unattended, with a certificate\n"
               "  calibrate output           the output calibration against a bench meter\n"
               "  help [COMMAND|json]        this help, a command's, or the JSON schemas\n\n") +
           globals + QLatin1Char('\n') + ContractText();
}

bool TKvCtl::Parse(const QStringList& args) {
    TArgs& a = *a_;
    static const QStringList withValue = {QStringLiteral("--port"),     QStringLiteral("--timeout"),
                                          QStringLiteral("--trace"),    QStringLiteral("--interval"),
                                          QStringLiteral("--csv"),      QStringLiteral("--count"),
                                          QStringLiteral("-o"),         QStringLiteral("--output"),
                                          QStringLiteral("--backup"),   QStringLiteral("--for"),
                                          QStringLiteral("--fixture"),  QStringLiteral("--references"),
                                          QStringLiteral("--certificate"), QStringLiteral("--operator"),
                                          QStringLiteral("--meter"),    QStringLiteral("--meter-baud"),
                                          QStringLiteral("--settle"),   QStringLiteral("--bench"),
                                          QStringLiteral("--fixture-timeout"), QStringLiteral("--lang"),
                                          QStringLiteral("--serial"),   QStringLiteral("--ambient")};
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        // After "--" everything is an argument: a file named "-x.kvs".
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded) {
            if (a.command.isEmpty())
                a.command = arg;
            else
                a.positional << arg;
            continue;
        }
        QString value;
        bool hasValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            value = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            arg = arg.left(arg.indexOf(QLatin1Char('=')));
            hasValue = true;
        }
        if (withValue.contains(arg)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    Err(QStringLiteral("kvctl: %1 needs a value\n").arg(arg));
                    return false;
                }
                value = args[++i];
            }
            a.given << arg;
            // A script's variable that came out empty names nothing: never
            // the default (KV_PORT, the standard output, a backup's name).
            if (value.isEmpty()) {
                Err(QStringLiteral("kvctl: %1 is given an empty value; leave the option out for its default\n").arg(arg));
                return false;
            }
            bool ok = true;
            if (arg == QLatin1String("--port"))
                a.port = value;
            else if (arg == QLatin1String("--trace"))
                a.trace = value;
            else if (arg == QLatin1String("--csv"))
                a.csv = value;
            else if (arg == QLatin1String("-o") || arg == QLatin1String("--output"))
                a.output = value;
            else if (arg == QLatin1String("--backup"))
                a.backup = value;
            else if (arg == QLatin1String("--fixture"))
                a.fixture = value;
            else if (arg == QLatin1String("--references"))
                a.references = value;
            else if (arg == QLatin1String("--meter"))
                a.meter = value;
            else if (arg == QLatin1String("--certificate"))
                a.certificate = value;
            else if (arg == QLatin1String("--operator"))
                a.operatorName = value;
            else if (arg == QLatin1String("--serial"))
                ok = CertificateText(value, a.serial);
            else if (arg == QLatin1String("--ambient"))
                ok = CertificateText(value, a.ambient);
            else if (arg == QLatin1String("--meter-baud"))
                a.meterBaud = value.toUInt(&ok), ok = ok && a.meterBaud >= 50 && a.meterBaud <= 4000000;
            else if (arg == QLatin1String("--bench"))
                a.bench = value, ok = !value.isEmpty();
            else if (arg == QLatin1String("--fixture-timeout")) {
                const int s = value.toInt(&ok);
                ok = ok && s >= 1 && s <= 3600;
                a.fixtureTimeoutS = s;
            } else if (arg == QLatin1String("--settle"))
                a.settleMs = value.toInt(&ok), ok = ok && a.settleMs >= 0 && a.settleMs <= 60000;
            else if (arg == QLatin1String("--timeout"))
                a.timeoutMs = value.toInt(&ok), ok = ok && a.timeoutMs >= 1 && a.timeoutMs <= 65535;
            else if (arg == QLatin1String("--interval"))
                a.interval = value.toDouble(&ok), ok = ok && a.interval >= 0 && a.interval <= 86400;
            else if (arg == QLatin1String("--count"))
                a.count = value.toLongLong(&ok), ok = ok && a.count >= 1;
            else if (arg == QLatin1String("--for"))
                ok = ParseDuration(value, a.forSeconds);
            else if (arg == QLatin1String("--lang"))
                a.language = kv::lang::ParseLanguage(value), ok = a.language.has_value();
            if (!ok) {
                Err(QStringLiteral("kvctl: bad value for %1: %2\n").arg(arg, value));
                return false;
            }
        } else if (hasValue) {
            Err(QStringLiteral("kvctl: %1 takes no value\n").arg(arg));
            return false;
        } else if (arg == QLatin1String("--json")) {
            a.json = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            a.help = true;
        } else if (arg == QLatin1String("--version")) {
            a.version = true;
        } else if (arg == QLatin1String("--dry-run") || arg == QLatin1String("--no-verify")) {
            a.given << arg;
            (arg == QLatin1String("--dry-run") ? a.dryRun : a.noVerify) = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            Err(QStringLiteral("kvctl: unknown option %1 (kvctl --help lists them)\n").arg(arg));
            return false;
        } else if (a.command.isEmpty()) {
            a.command = arg;
        } else {
            a.positional << arg;
        }
    }
    if (a.port.isEmpty())
        a.port = env_.envPort;
    return true;
}

} // namespace kvctl

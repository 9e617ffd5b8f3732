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
    const QString verificationHelp = QStringLiteral(
            "As found, adjust, as left. A calibration first verifies the device as found,\n"
            "then adjusts it, then, after the device acknowledged the new record, verifies\n"
            "it as left at the same points: points the adjustment's references did not\n"
            "make, in the device's own settings and normal operation (output unforced),\n"
            "so that a wrong reference value or a faulty step shows. calibrate input also\n"
            "verifies each path its constants serve that the own settings' points do not\n"
            "judge as closely:\n"
            "the 2-, 3- and 4-wire resistance of the 500 ohm and 5 kohm ranges (at 10, 50\n"
            "and 90 % of the range, within what the input resolves: 0.04 ohm, 0.4 ohm)\n"
            "and the millivolt path (-80, 0, 80 mV, within 10 uV), in settings given to\n"
            "the device for the measurement only and given back. The as-left points\n"
            "decide the verdict; the adjustment's own checks (R500 and R5K measured with\n"
            "its own references, the forced 4/12/20 mA and 2/6/10 V) stay in the\n"
            "certificate as its record. Without a source for the input (a fixture, and\n"
            "[Source] on the bench for the uncertainty) or without a meter for the\n"
            "output, a calibration cannot pass: it says what was not verified.\n\n"
            "Each point: the fixture sources it (`resistor OHM`, `voltage MV`, any value;\n"
            "before the first output reading `current` or `voltage` for the meter's\n"
            "leads); the device settles (five new measuring cycles from the second poll\n"
            "answered after the change); five of its measurements are taken; with a meter\n"
            "its output is read settled and judged against what the output must give\n"
            "for the value the device reported. Each point carries its expanded\n"
            "uncertainty (k = 2) from a budget (the source's or the meter's accuracy from\n"
            "the bench, the resolution, the repeatability) and is judged by the bench's\n"
            "rule: guarded acceptance (default: pass when |error| + U <= tolerance, fail\n"
            "beyond the tolerance, conditional between, which does not pass) or simple\n"
            "acceptance (pass within the tolerance). Tolerances: the input 0.1 % of span\n"
            "(not below what the input resolves), the output 0.1 % of span, or the\n"
            "bench's [Verification]. --points LIST (0,25,50,75,100 by default) sets the\n"
            "points of the own settings in per cent of the range. The fixture is left\n"
            "`open` at the end.\n\n"
            "Verdicts: PASSED; FAILED (nothing written, the device as it was);\n"
            "ADJUSTED – FAILED VERIFICATION (written and acknowledged, but as left a point\n"
            "failed, was conditional, or something was not verified); NOT COMPLETED\n"
            "(interrupted, the device lost, or a write unacknowledged: whether anything\n"
            "was written, whether its settings were given back and forcing ended).\n");
    const QString calibrateOutputHelp = QStringLiteral(
            "kvctl calibrate output --meter PORT [--meter-baud N] [--settle MS] [--fixture CMD]\n"
            "                       [--fixture-timeout SECONDS] [--bench FILE]\n"
            "                       [--points LIST] [--certificate FILE.pdf --serial TEXT]\n"
            "                       [--ambient TEXT] [--operator NAME] [--json]\n\n"
            "As found, then the seven steps of the setup program's output calibration\n"
            "wizard without a window, then as left, against a bench multimeter that speaks\n"
            "SCPI on a serial port (by default 8N1, no handshake, lines ending in \\n,\n"
            "--meter-baud 9600; a bench file gives its manual's line, remote command and\n"
            "identity, see --bench). Every reading is followed by the meter's error queue\n"
            "(SYST:ERR?): an error fails it, and an overload (+9.9E+37) is a wiring fault:\n"
            "  steps 1, 2, 4, 5  finds the PWM value whose reading is closest to 4 mA, 20 mA,\n"
            "                    2 V and 10 V (MEAS:CURR:DC?, MEAS:VOLT:DC?), a search of a\n"
            "                    few readings each, and stores it as the page's Next does;\n"
            "  steps 3, 6        forces the test values of 4, 12, 20 mA and 2, 6, 10 V and\n"
            "                    reads them: each within 0.005 mA or 3 mV, or the run\n"
            "                    writes nothing;\n"
            "  step 7            writes the four values (command 3);\n"
            "then a poll without forcing. The PWM value is forced through the poll, as the\n"
            "page forces it; before each reading a poll that carried the value must have\n"
            "been answered, and then the output is given at least --settle MS (default\n"
            "20); then the meter reads until 3 readings spanning 200 ms agree within\n"
            "20 ppm (0.5 uA, 0.2 mV at least): output stages of 2 to 100 ms and meters\n"
            "that integrate for up to 0.5 s need no option. Every check point is read\n"
            "again before the write: two readings of one value farther apart than that\n"
            "fail the run (the meter or the output drifts). As found and as left, the\n"
            "output is read in normal operation with the input sourced at the points by\n"
            "the fixture.\n\n"
            "The meter's leads: the loop current and the voltage output both (a meter on\n"
            "each quantity's terminals, or one whose inputs see both), or switched by the\n"
            "line's relay box: --fixture CMD is run by /bin/sh with the word `current`\n"
            "before the current is read and `voltage` before the voltage is (only when\n"
            "they move) as its last argument, besides the input's words; the run goes on\n"
            "when it exits 0 (its output goes to stderr) and fails when it exits otherwise\n"
            "or takes over --fixture-timeout SECONDS (default 60): then it is ended with\n"
            "all it started. kvsim's console takes `meter current|voltage`.\n\n"
            "Forcing always ends (PWM word 0): at the end, on a failure, on Ctrl-C (a\n"
            "second Ctrl-C leaves at once, the output maybe still forced) and when the\n"
            "device stops answering (polls without forcing go on for 10 s in case it comes\n"
            "back; exit 3). Progress goes to stderr.\n\n"
            "Output: the points (nominal, as found, as left, error, % of span, tolerance,\n"
            "U, result), the verdict and the six checks, or with --json the run's facts\n"
            "(the certificate's JSON, kvctl help json). --certificate FILE.pdf also writes\n"
            "the certificate (A4 PDF) and FILE.json beside it (Certificates, below).\n\n"
            "Exit: 0 passed, 1 not (a point out of tolerance or conditional, something not\n"
            "verified, a search that found no value, the record refused, the meter\n"
            "answered with an error, an overload or an echo), 2 usage or a bench refused\n"
            "(the meter not the bench's, nothing sent), 3 no answer from the device or the\n"
            "meter, 4 the certificate or its JSON cannot be written (checked before the\n"
            "device is touched), 130 interrupted.\n\n"
            "--bench FILE (every calibration and verify): the bench as an INI file:\n"
            "[Station], [Meter] (Port, Baud, DataBits, Parity, StopBits, Handshake\n"
            "none|dtr-dsr|rts-cts, Terminator lf|crlf, DTR, RTS, Remote, Local, Identity,\n"
            "Echo, Prompt, Serial, Certificate, Due, DCI, DCV), [Reference NAME] (Value,\n"
            "Uncertainty, Serial, Certificate, Due), [Source] (Name, Serial, Certificate,\n"
            "Due, OHM, DCV), [Fixture] (Command, Timeout, Leads), [Settling],\n"
            "[Verification] (Points, Rule guarded|simple, InputTolerance,\n"
            "OutputTolerance) (README, \"The bench file\"). The options above win over\n"
            "it. A file that does not read, an instrument past its due date or without\n"
            "what the run needs: exit 2 before anything is sent.\n\n") +
            CertificateHelp();
    if (command == QLatin1String("verify"))
        return QStringLiteral(
                   "kvctl verify --fixture CMD [--meter PORT] [--meter-baud N] [--settle MS]\n"
                   "             [--fixture-timeout SECONDS] [--bench FILE] [--points LIST]\n"
                   "             [--certificate FILE.pdf --serial TEXT] [--ambient TEXT]\n"
                   "             [--operator NAME] [--json]\n\n"
                   "Checks the transmitter in its own settings, as a documenting calibrator\n"
                   "does, and writes nothing to it: reads its settings (command 6) and a poll,\n"
                   "then at each point of its range (--points, default 0, 25, 50, 75 and 100 %)\n"
                   "sources the input through the fixture: the resistance of IEC 60751 for the\n"
                   "Pt sensors, the millivolts of IEC 60584 for the thermocouples (against the\n"
                   "cold junction the device reports, planned again at each point), the value\n"
                   "itself for the resistance, potentiometer and voltage modes (on 2 wires plus\n"
                   "the wire resistance the device subtracts, less the fixture's [Fixture]\n"
                   "Leads). It reads the device's calculated value and, with a meter (--meter\n"
                   "or the bench's [Meter]), its output. Without a meter the output is not\n"
                   "verified, and the verification cannot pass.\n\n") +
               verificationHelp +
               QStringLiteral(
                   "\nOutput: the points (nominal, reading, error, % of span, tolerance, U,\n"
                   "result) and the verdict, or with --json the facts (the certificate's JSON,\n"
                   "kvctl help json). --certificate FILE.pdf writes the certificate and\n"
                   "FILE.json beside it. Exit: 0 passed, 1 not (a point failed or conditional,\n"
                   "something not verified, the meter answered with an error), 2 usage or a\n"
                   "bench refused (nothing sent), 3 no answer from the device or the meter, 4\n"
                   "the certificate cannot be written, 130 interrupted. The bench file: kvctl\n"
                   "help calibrate.\n\n") +
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
            "                      [--fixture-timeout SECONDS] [--bench FILE] [--points LIST]\n"
            "                      [--certificate FILE.pdf --serial TEXT] [--ambient TEXT]\n"
            "                      [--operator NAME] [--json]\n\n"
            "As found, then the 23 steps of the setup program's input calibration wizard\n"
            "without a window, on the same step table, arithmetic, log lines and record,\n"
            "then as left:\n"
            " - reads the device's settings; measures the 500 ohm and 5 kohm references as\n"
            "   found (the device set to resistance 0-500 ohm and 0-5k ohm, 4 wires, for the\n"
            "   measurement only; 8 measurements averaged): the adjustment's own check;\n"
            " - before each step runs CMD with the words of what the step connects: open,\n"
            "   resistor OHM, short, voltage MV (the numbers from --references, default\n"
            "   500, 5000 and 125); CMD must exit 0 once connected, within\n"
            "   --fixture-timeout SECONDS (default 60; then it is ended with all it\n"
            "   started); its output and exit status go into the certificate's log; the\n"
            "   poll forces the step's switches; when the averages have settled, computes\n"
            "   as the wizard;\n"
            " - writes the record (command 2); measures both references again;\n"
            " - gives the device its own settings back and ends the forcing, also after a\n"
            "   failure or Ctrl-C while the device answers.\n"
            "Settled: from the second poll answered after a change, five more measuring\n"
            "cycles of the device (its averages are of the last four measurements); at\n"
            "most 400 polls.\n\n"
            "kvctl calibrate all --fixture CMD --meter PORT [the options of both]\n\n"
            "As found (the input's points and paths, the output), the input's trim, the\n"
            "output's trim, as left, under one certificate. A trim that writes nothing\n"
            "ends the run, unless the other one wrote: then as left follows.\n\n") +
               verificationHelp +
               QStringLiteral(
                   "\n--certificate FILE.pdf writes the run's certificate (Certificates, below);\n"
                   "every run that reached the device leaves one, with its verdict on every\n"
                   "page. --json prints its JSON object with exit_code and error, also when\n"
                   "the run fails.\n"
                   "Progress goes to stderr. Exit: 0 passed, 1 not passed, 2 usage or a bench\n"
                   "refused (nothing sent), 3 the device (or the meter) stopped answering, 4\n"
                   "the certificate could not be written, 130 interrupted.\n\n") +
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
               "  verify                     the device checked at points of its range\n"
               "  calibrate input            the input calibration, unattended, with a certificate\n"
               "  calibrate output           the output calibration against a bench meter\n"
               "  calibrate all              as found, both trims, as left, one certificate\n"
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
                                          QStringLiteral("--points"),   QStringLiteral("--serial"),
                                          QStringLiteral("--ambient")};
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
            else if (arg == QLatin1String("--points"))
                a.points = value;
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

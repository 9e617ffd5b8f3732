// kvctl's command line: the options, and the help of each command.
#include "KvCtl.h"
#include "KvCtlMaintenance.h"

namespace kvctl {

QString TKvCtl::HelpText(const QString& command) {
    const QString exits = QStringLiteral(
        "Exit codes:\n"
        "  0    success\n"
        "  1    the device answered, but the result differs (settings diff found a\n"
        "       difference, a written setting read back differently, a command was\n"
        "       refused or a maintenance action not acknowledged)\n"
        "  2    usage or file error (nothing was sent)\n"
        "  3    no answer after the link's retries, or the port could not be opened\n"
        "  130  interrupted (Ctrl-C); files written so far are complete\n");
    const QString globals = QStringLiteral(
        "Global options (before or after the command):\n"
        "  --port PATH     serial port of the transmitter (default: $KV_PORT)\n"
        "  --json          machine-readable output (schema: kvctl help status)\n"
        "  --timeout MS    the link's answer time-out per try (default 1000; 5 tries)\n"
        "  --trace FILE    decoded log of every frame, time-out and damaged frame\n"
        "  -h, --help      this help, or the command's\n");
    if (command == QLatin1String("ports"))
        return QStringLiteral(
            "kvctl ports\n\n"
            "Lists the serial ports as the setup program's link panel does (last probed\n"
            "first, KV_EXTRA_PORTS included), with their /dev/serial/by-id names, the\n"
            "driver, and whether each can be opened now. A busy port names the program\n"
            "that holds it where /proc tells; a port without permission names the group\n"
            "to join (usually dialout).\n\n"
            "--json: [{\"path\", \"by_id\": [..], \"driver\", \"state\": free|busy|\n"
            "no-permission|missing|error, \"detail\"}]\n");
    if (command == QLatin1String("status"))
        return QStringLiteral(
            "kvctl status\n\n"
            "Polls the device as the setup program does (poll, read settings, poll) and\n"
            "shows the second answer as the status display shows it: the display formats\n"
            "and units follow the device's input mode.\n\n"
            "--json prints one object (schema \"kvctl.status/1\"; fields are only added\n"
            "in later versions, never renamed). Texts are the window's, with the locale's\n"
            "decimal separator; numbers are plain JSON numbers, null where the device\n"
            "has no value:\n"
            "  schema            \"kvctl.status/1\"\n"
            "  time              ISO 8601 local time with offset\n"
            "  port              the port path\n"
            "  device            {type, pcb_identity_address, firmware, calibration_date,\n"
            "                     working_time_minutes, working_time}\n"
            "  settings          {mode, mode_text, cjc, cjc_text}\n"
            "  physical          {value, unit, text}    the sensor value (ohm or mV)\n"
            "  calculated        {value, unit, text}    the measured value\n"
            "  output_percent    {value, text}\n"
            "  internal_temperature      {value, min, max, text, min_text, max_text}\n"
            "  cjc_temperature   {value, text}           text null when not shown\n"
            "  wire_resistance   {value, text}           text null when not shown\n"
            "  potentiometer     {r0, r100, r0_text, r100_text}\n"
            "  data_sources      [source1, source2]     RAM1 RAM2 FRAM1 FRAM2 Gyári ???\n"
            "  status            {code, text}           text null above 5\n"
            "  calibration       {input, output, potentiometer}   booleans\n"
            "  errors            [..]  the error labels the window shows\n"
            "  converter         {flags: [..], ch0_present, ch1_present, ch0_average,\n"
            "                     ch1_average, au_ch0, cycles, samples_per_second}\n"
            "  switches          [..]  input switches the device reports closed\n");
    if (command == QLatin1String("watch"))
        return QStringLiteral(
            "kvctl watch [--interval S] [--csv FILE] [--count N]\n\n"
            "Polls without pause, as the setup program does, and writes one line per\n"
            "interval (default 1 s; 0: every poll) with the time (ISO 8601 with the\n"
            "time zone), the measured value, the sensor value, the output and the status.\n"
            "--csv FILE also writes a CSV row per line (values with a full stop).\n"
            "--count N ends after N lines (exit 0). Ctrl-C ends with the file complete\n"
            "(exit 130). A silent device or a port that hangs up (an adapter pulled) is\n"
            "reported on stderr, and watch waits for it to come back under the same\n"
            "name and goes on.\n"
            "--json: one JSON status object (as status --json) per line.\n");
    if (command == QLatin1String("settings"))
        return QStringLiteral(
            "kvctl settings get [-o FILE.kvs]\n"
            "kvctl settings diff FILE.kvs\n"
            "kvctl settings set FILE.kvs [--dry-run] [--no-verify] [--backup FILE.kvs]\n\n"
            "get   reads the device's settings (command 6) into the setup program's .kvs\n"
            "      format, to FILE or the standard output.\n"
            "diff  shows field by field what writing FILE would change (exit 1 when\n"
            "      anything would).\n"
            "set   checks FILE first (a file that is not a settings file, keys missing\n"
            "      or out of range: exit 2, nothing sent); reads the present settings,\n"
            "      shows the changes (nothing to change: done), saves the present settings\n"
            "      as a backup (default: FILE.backup-YYYYMMDD-HHMMSS.kvs beside FILE),\n"
            "      writes (command 4), reads back (command 6) and compares field by field:\n"
            "      a device that stores other values (it clamps what it cannot take) makes\n"
            "      set fail with the difference (exit 1).\n"
            "      --dry-run stops before the backup and the write; --no-verify does not\n"
            "      compare.\n"
            "      A write without acknowledgement (no answer, port gone) exits 3 and\n"
            "      says so; the backup is complete on disk before anything is written.\n");
    if (command == QLatin1String("calibrate"))
        return QStringLiteral(
            "kvctl calibrate output --meter PORT [--meter-baud N] [--settle MS]\n"
            "                       [--certificate FILE.pdf] [--operator NAME] [--json]\n\n"
            "Runs the seven steps of the setup program's output calibration wizard without\n"
            "a window, against a bench multimeter that speaks SCPI on a serial port (lines\n"
            "end in \\n; 8N1, --meter-baud default 9600):\n"
            "  steps 1, 2, 4, 5  finds the PWM value whose reading is closest to 4 mA, 20 mA,\n"
            "                    2 V and 10 V (MEAS:CURR:DC?, MEAS:VOLT:DC?), a search of a\n"
            "                    few readings each, and stores it as the page's Next does;\n"
            "  steps 3, 6        forces the test values of 4, 12, 20 mA and 2, 6, 10 V and\n"
            "                    reads them: each within 0.005 mA or 3 mV, or the run fails\n"
            "                    and writes nothing;\n"
            "  step 7            writes the four values (command 3);\n"
            "then a poll without forcing. The PWM value is forced through the poll, as the\n"
            "page forces it; before each reading a poll that carried the value must have\n"
            "been answered, and then the output is given --settle MS (default 100) to\n"
            "settle (its filter; kvsim's settles in 50 ms).\n\n"
            "The meter's leads: the loop current and the voltage output both (a meter on\n"
            "each quantity's terminals, or one whose inputs see both). --fixture (a relay\n"
            "box switching the meter between them) is not there yet.\n\n"
            "Forcing always ends (PWM word 0): at the end, on a failure, on Ctrl-C (a\n"
            "second Ctrl-C leaves at once, the output maybe still forced) and when the\n"
            "device stops answering (polls without forcing go on for 10 s in case it comes\n"
            "back; exit 3). Progress goes to stderr.\n\n"
            "Output: a summary (the four values, the six checks with their errors, the\n"
            "time), or with --json the run's facts as one object of the schema\n"
            "\"kvctl.calibration/1\" (the certificate's JSON). --certificate FILE.pdf also\n"
            "writes the certificate (A4 PDF) and FILE.json beside it; a failed or\n"
            "interrupted run's certificate says FAILED / NOT CALIBRATED. --operator NAME\n"
            "goes into both.\n\n"
            "Exit: 0 calibrated, 1 not (a check out of tolerance, a search that found no\n"
            "value, the record refused), 2 usage or the certificate not written, 3 no\n"
            "answer from the device or the meter, 130 interrupted.\n");
    if (command == QLatin1String("factory"))
        return QStringLiteral(
            "kvctl factory [-o FILE.kvs]\n\n"
            "Reads the device's factory defaults (command 5) into the .kvs format, to\n"
            "FILE or the standard output. Nothing is written to the device.\n");
    if (command == QLatin1String("maintenance")) {
        QString t = QStringLiteral(
            "kvctl maintenance ACTION\n\n"
            "Carries the action's bit in the poll until the device acknowledges it, as the\n"
            "setup program's buttons do (exit 1 when it does not within %1 polls).\n"
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
               "  calibrate output           the output calibration against a bench meter\n"
               "  help [COMMAND]             this help, or the command's\n\n") +
           globals + QLatin1Char('\n') + exits;
}

bool TKvCtl::Parse(const QStringList& args) {
    TArgs& a = *a_;
    static const QStringList withValue = {QStringLiteral("--port"),     QStringLiteral("--timeout"),
                                          QStringLiteral("--trace"),    QStringLiteral("--interval"),
                                          QStringLiteral("--csv"),      QStringLiteral("--count"),
                                          QStringLiteral("-o"),         QStringLiteral("--output"),
                                          QStringLiteral("--backup"),   QStringLiteral("--meter"),
                                          QStringLiteral("--meter-baud"), QStringLiteral("--fixture"),
                                          QStringLiteral("--certificate"), QStringLiteral("--operator"),
                                          QStringLiteral("--settle")};
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
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
            else if (arg == QLatin1String("--meter"))
                a.meter = value;
            else if (arg == QLatin1String("--fixture"))
                a.fixture = value;
            else if (arg == QLatin1String("--certificate"))
                a.certificate = value, ok = !value.isEmpty();
            else if (arg == QLatin1String("--operator"))
                a.operatorName = value;
            else if (arg == QLatin1String("--meter-baud"))
                a.meterBaud = value.toUInt(&ok), ok = ok && a.meterBaud >= 50 && a.meterBaud <= 4000000;
            else if (arg == QLatin1String("--settle"))
                a.settleMs = value.toInt(&ok), ok = ok && a.settleMs >= 0 && a.settleMs <= 60000;
            else if (arg == QLatin1String("--timeout"))
                a.timeoutMs = value.toInt(&ok), ok = ok && a.timeoutMs >= 1 && a.timeoutMs <= 65535;
            else if (arg == QLatin1String("--interval"))
                a.interval = value.toDouble(&ok), ok = ok && a.interval >= 0 && a.interval <= 86400;
            else if (arg == QLatin1String("--count"))
                a.count = value.toLongLong(&ok), ok = ok && a.count >= 1;
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

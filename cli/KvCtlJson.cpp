#include "KvCtlJson.h"

#include <deque>
#include <string>

namespace kvctl {

namespace {

std::vector<TJsonField> Head(bool withPort = true) {
    std::vector<TJsonField> f = {{"schema", "the schema's name and version"},
                                 {"time", "when the answer came (ISO 8601, local time with offset)"}};
    if (withPort)
        f.push_back({"port", "the port path"});
    return f;
}

// Every object's ending.
const std::vector<TJsonField> kExit = {
    {"exit_code", "kvctl's exit code (0 success, 1 differs or refused, 2 usage or file, 3 no answer, 4 an "
                  "output, 128+N a signal)"},
    {"error", "the failure's message, as on stderr; null for none"},
};

std::vector<TJsonField> With(std::vector<TJsonField> a, const std::vector<TJsonField>& b) {
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), kExit.begin(), kExit.end());
    return a;
}

// A difference between two records: the field's value on each side as
// settings.* has it (a number, or "high", "disabled"), a text beside each.
std::vector<TJsonField> Difference(const char* list, const char* left, const char* leftAbout, const char* right,
                                   const char* rightAbout) {
    // The fields point into them; a deque never moves what it holds.
    static std::deque<std::string> paths, abouts;
    std::vector<TJsonField> f;
    const auto add = [&](const std::string& path, const std::string& about) {
        paths.push_back(path);
        abouts.push_back(about);
    };
    const std::string l = std::string(list) + "[].";
    add(l + "field", "a settings field (the names of settings.*)");
    add(l + left, std::string(leftAbout) + ": a number, or the word (as settings.* has it)");
    add(l + left + "_text", "the same as text (\"0 Hőmérséklet (Pt 100)\", \"-12.345\")");
    add(l + right, std::string(rightAbout) + ": a number, or the word");
    add(l + right + "_text", "the same as text");
    for (std::size_t i = paths.size() - 5; i < paths.size(); ++i)
        f.push_back({paths[i].c_str(), abouts[i].c_str()});
    return f;
}

std::vector<TJsonField> Cat(std::initializer_list<std::vector<TJsonField>> parts) {
    std::vector<TJsonField> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A settings record, as the device holds it.
const std::vector<TJsonField> kRecord = {
    {"settings.mode", "input mode 0-7 (RadioGroup_Mode's items)"},
    {"settings.wires", "wires: 2, 3 or 4"},
    {"settings.thermocouple", "thermocouple type 0-9: B E J K L N R S T U"},
    {"settings.cjc", "cold junction 0-3: internal, external Pt1000, external Pt100, none"},
    {"settings.output_low", "the measured value at the output's low end"},
    {"settings.output_high", "the measured value at the output's high end"},
    {"settings.output", "output type 0-4: 4-20 mA, 0-20 mA, 0-10 V, 2-10 V, 0-5 V"},
    {"settings.error_level", "\"low\" or \"high\": the output's level on an error"},
    {"settings.error_signal", "\"enabled\" or \"disabled\""},
};

const std::vector<TJsonField> kStatus = {
    {"device.type", "KV7730, KV5510 or ???"},
    {"device.pcb_identity_address", "the board's identity address"},
    {"device.firmware", "firmware date (v2016-10-11)"},
    {"device.calibration_date", "or \"Kalibrálatlan!\""},
    {"device.working_time_minutes", "number"},
    {"device.working_time", "as the window shows it"},
    {"settings.mode", "input mode 0-7, as the device reported it"},
    {"settings.mode_text", "its caption"},
    {"settings.cjc", "cold junction 0-3"},
    {"settings.cjc_text", "its caption"},
    {"physical.value", "the sensor value (ohm or mV); null without one"},
    {"physical.unit", ""},
    {"physical.text", "dashes and the unit when there is none"},
    {"calculated.value", "the measured value; null without one"},
    {"calculated.unit", ""},
    {"calculated.text", ""},
    {"output_percent.value", ""},
    {"output_percent.text", ""},
    {"internal_temperature.value", ""},
    {"internal_temperature.min", ""},
    {"internal_temperature.max", ""},
    {"internal_temperature.text", ""},
    {"internal_temperature.min_text", ""},
    {"internal_temperature.max_text", ""},
    {"cjc_temperature.value", ""},
    {"cjc_temperature.text", "null where the window does not show it"},
    {"wire_resistance.value", ""},
    {"wire_resistance.text", "null where the window does not show it"},
    {"potentiometer.r0", ""},
    {"potentiometer.r100", ""},
    {"potentiometer.r0_text", ""},
    {"potentiometer.r100_text", ""},
    {"data_sources", "two of RAM1, RAM2, FRAM1, FRAM2, Gyári, ???"},
    {"status.code", ""},
    {"status.text", "null above 5"},
    {"calibration.input", "boolean"},
    {"calibration.output", "boolean"},
    {"calibration.potentiometer", "boolean"},
    {"errors", "the error labels the window shows, as words"},
    {"converter.flags", "over- and underflows, as words"},
    {"converter.ch0_present", ""},
    {"converter.ch1_present", ""},
    {"converter.ch0_average", ""},
    {"converter.ch1_average", ""},
    {"converter.au_ch0", ""},
    {"converter.cycles", ""},
    {"converter.samples_per_second", ""},
    {"switches", "the input switches the device reports closed"},
};

} // namespace

const std::vector<TJsonSchema>& JsonSchemas() {
    static const std::vector<TJsonSchema> schemas = {
        {"kvctl.ports/1", "kvctl ports --json",
         With(Head(false), {{"ports[].path", "the port"},
                            {"ports[].by_id", "its /dev/serial/by-id names"},
                            {"ports[].driver", "null when unknown"},
                            {"ports[].state", "free, busy, no-permission, missing or error"},
                            {"ports[].detail", "who holds it, the group to join, the error"}})},
        {"kvctl.status/1", "kvctl status --json", With(Head(), kStatus)},
        {"kvctl.watch/1", "kvctl watch --json (one object per line; exit_code and error are null on a reading, "
                          "and set on the last line of a run that fails, whose other fields are null)",
         With(Head(), kStatus)},
        {"kvctl.settings.get/1", "kvctl settings get --json", With(Head(), kRecord)},
        {"kvctl.factory/1", "kvctl factory --json", With(Head(), kRecord)},
        {"kvctl.settings.diff/2", "kvctl settings diff FILE --json",
         With(Head(), Cat({{{"file", "the settings file"}},
                           Difference("differences", "device", "what the device holds", "file", "what the file asks")}))},
        {"kvctl.settings.set/2", "kvctl settings set FILE --json",
         With(Head(),
              Cat({{{"file", "the settings file"},
                    {"dry_run", "boolean"},
                    {"backup", "the backup written, or null"},
                    {"sent", "boolean: the write went out (the device may hold the new settings)"},
                    {"acknowledged", "boolean: the device acknowledged the write"},
                    {"written", "boolean: the same as acknowledged"},
                    {"verified", "boolean: read back and equal to what was sent; null with --no-verify or not read back"}},
                   Difference("differences", "device", "what the file changes: what the device held", "file",
                              "what the file asks"),
                   Difference("changed", "before", "what the write changed on the device (read back): before", "after",
                              "after"),
                   Difference("mismatches", "sent", "what the device stored otherwise than sent: sent", "stored",
                              "stored")}))},
        {"kvctl.maintenance/1", "kvctl maintenance ACTION --json",
         With(Head(), {{"action", "the action's name"},
                       {"sent", "boolean: a poll that carried it ended (it may have reached the device)"},
                       {"acknowledged", "boolean"}})},
        {"kvctl.calibration/1", "kvctl calibrate input|output --json (and FILE.json beside --certificate FILE.pdf)",
         Cat({{{"schema", "\"kvctl.calibration/1\""},
               {"calibration", "\"input\" (command 2) or \"output\" (command 3)"},
               {"result", "\"passed\" or \"failed\""},
               {"passed", "boolean: the same"},
               {"reason", "why it failed, one sentence; null when passed"},
               {"failure", "why the run ended early (\"interrupted\", ...); null when it ran to its end"},
               {"started", "ISO 8601 time with the offset; null when unknown"},
               {"finished", "ISO 8601 time with the offset; null when unknown"},
               {"duration_s", "seconds from started to finished; null when unknown"},
               {"operator", "as given (--operator); null when not given"},
               {"kvctl_version", "\"kvctl 1.0.0\""},
               {"port", "the device's port"},
               {"device.type", "KV7730, KV5510 or ???; \"\" when the device was not seen"},
               {"device.pcb_identity_address", "the board's identity address; -1 when not seen"},
               {"device.firmware", "firmware date (v2016-10-11)"},
               {"device.calibration_date_before", "a date (2026-12-08), \"uncalibrated\", or null when not read"},
               {"device.calibration_date_after", "the same after the write"},
               {"references[].name", "R500, R5K, UREF (input) or meter (output), in order"},
               {"references[].value", "a reference's certified value (not for the meter)"},
               {"references[].unit", "ohm or mV (not for the meter)"},
               {"references[].identity", "the meter's *IDN? answer and its port (the meter only)"},
               {"references[].uncertainty", "expanded uncertainty (k = 2) in its unit, from the bench file"},
               {"references[].serial", "its serial number, from the bench file"},
               {"references[].certificate", "its calibration certificate, from the bench file"},
               {"references[].due", "the date it is due again (YYYY-MM-DD), from the bench file"},
               {"checks[].name", "the figure: R500, R5K, 4 mA, 12 mA, 20 mA, 2 V, 6 V, 10 V"},
               {"checks[].unit", "ohm, mA or V"},
               {"checks[].target", "the reference's value or the nominal output"},
               {"checks[].tolerance", "+- in unit"},
               {"checks[].as_found.value", "measured before the adjustment; as_found is null when not measured"},
               {"checks[].as_found.error", "value - target"},
               {"checks[].as_found.within_tolerance", "boolean"},
               {"checks[].as_left.value", "measured after the device acknowledged the record; null when not measured"},
               {"checks[].as_left.error", "value - target"},
               {"checks[].as_left.within_tolerance", "boolean"},
               {"checks[].passed", "boolean: as left within tolerance"},
               {"record.command", "2 (input) or 3 (output)"},
               {"record.state", "\"acknowledged\", \"unacknowledged\" (sent without an answer: the device may hold the "
                                "old or the new calibration) or \"not-sent\""},
               {"record.bytes", "the record as sent, hexadecimal"},
               {"record.values[].name", "the record's fields in its order (OFFSET_CH0 ..., PWMForIL ...)"},
               {"record.values[].value", "each as written: an integer, or a single as the shortest decimal that "
                                         "reads back as the same single"},
               {"log", "the wizard's log lines, in order (the separator lines too)"}},
              {{"exit_code", "kvctl's exit code (stdout only: FILE.json has no exit_code or error)"},
               {"error", "the failure's message; null when passed"}}})},
    };
    return schemas;
}

void SetExit(QJsonObject& o, int code, const QString& error) {
    o[QStringLiteral("exit_code")] = code;
    o[QStringLiteral("error")] = error.isEmpty() ? QJsonValue() : QJsonValue(error);
}

QString JsonHelp() {
    QString t = QStringLiteral(
        "kvctl's JSON (--json)\n\n"
        "Every object names its schema. Fields are only added, never renamed or\n"
        "removed (a script ignores a field it does not know); a field whose type\n"
        "changes raises the schema's number (kvctl.settings.diff/2 and\n"
        "kvctl.settings.set/2: a difference's values are numbers where settings.*\n"
        "has numbers, with texts beside them). The same thing has the same name in\n"
        "every schema. A command that fails prints its object too, with exit_code,\n"
        "error and what it knows (null for the rest). Times are ISO 8601 local time\n"
        "with the offset; numbers are JSON numbers whatever the locale (null where\n"
        "there is none); a single the device holds is the shortest decimal that\n"
        "reads back as the same single; texts are the window's, with the locale's\n"
        "decimal separator. Names and codes never change with the language: only\n"
        "the text fields (text, *_text) follow --lang; the values scripts compare\n"
        "(calibration_date, working_time, data_sources, a certificate's log) keep\n"
        "the window's own Hungarian.\n"
        "A.B is field B of object A; A[].B is field B of each object in the array A.\n");
    for (const TJsonSchema& s : JsonSchemas()) {
        t += QStringLiteral("\n%1  (%2)\n").arg(QString::fromLatin1(s.name), QString::fromLatin1(s.command));
        for (const TJsonField& f : s.fields) {
            const QString about = QString::fromUtf8(f.about);
            t += about.isEmpty() ? QStringLiteral("  %1\n").arg(QString::fromLatin1(f.path))
                                 : QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(f.path), -30).arg(about);
        }
    }
    return t;
}

} // namespace kvctl

#include "KvCtlJson.h"

namespace kvctl {

namespace {

std::vector<TJsonField> Head(bool withPort = true) {
    std::vector<TJsonField> f = {{"schema", "the schema's name and version"},
                                 {"time", "when the answer came (ISO 8601, local time with offset)"}};
    if (withPort)
        f.push_back({"port", "the port path"});
    return f;
}

std::vector<TJsonField> With(std::vector<TJsonField> a, const std::vector<TJsonField>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
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
        {"kvctl.watch/1", "kvctl watch --json (one object per line)", With(Head(), kStatus)},
        {"kvctl.settings.get/1", "kvctl settings get --json", With(Head(), kRecord)},
        {"kvctl.factory/1", "kvctl factory --json", With(Head(), kRecord)},
        {"kvctl.settings.diff/1", "kvctl settings diff FILE --json",
         With(Head(), {{"file", "the settings file"},
                       {"differences[].field", "a settings field (the names of settings.*)"},
                       {"differences[].device", "what the device holds"},
                       {"differences[].file", "what the file asks"}})},
        {"kvctl.settings.set/1", "kvctl settings set FILE --json",
         With(Head(), {{"file", "the settings file"},
                       {"dry_run", "boolean"},
                       {"backup", "the backup written, or null"},
                       {"written", "boolean: the device acknowledged the write"},
                       {"verified", "boolean: read back and equal to what was sent; null with --no-verify"},
                       {"differences[].field", "what the file changes: a settings field"},
                       {"differences[].device", "what the device held"},
                       {"differences[].file", "what the file asks"},
                       {"changed[].field", "what the write changed on the device (read back)"},
                       {"changed[].before", ""},
                       {"changed[].after", ""},
                       {"mismatches[].field", "what the device stored otherwise than sent"},
                       {"mismatches[].sent", ""},
                       {"mismatches[].stored", ""}})},
        {"kvctl.maintenance/1", "kvctl maintenance ACTION --json",
         With(Head(), {{"action", "the action's name"},
                       {"sent", "boolean: polls carried it"},
                       {"acknowledged", "boolean"}})},
    };
    return schemas;
}

QString JsonHelp() {
    QString t = QStringLiteral(
        "kvctl's JSON (--json)\n\n"
        "Every object names its schema; a schema's fields are only added in later\n"
        "versions, never renamed or removed. The same thing has the same name in\n"
        "every schema. Times are ISO 8601 local time with the offset; numbers are\n"
        "JSON numbers whatever the locale (null where there is none); texts are the\n"
        "window's, with the locale's decimal separator. Names and codes never change\n"
        "with the language: only the text fields (text, *_text) follow --lang; the\n"
        "values scripts compare (calibration_date, working_time, data_sources, a\n"
        "diff's values, a certificate's log) keep the window's own Hungarian.\n"
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

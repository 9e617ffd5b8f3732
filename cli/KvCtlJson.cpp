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

// The uncertainty of a point's reading (its budget, station/Uncertainty.h),
// as found and as left alike.
std::vector<TJsonField> Budget(const char* phase) {
    static std::deque<std::string> paths;
    static const std::pair<const char*, const char*> fields[] = {
        {"", "its uncertainty budget; null when not measured"},
        {".unit", "the result's unit"},
        {".components[].name", "what it comes from: the source's or a reference's certificate, the meter's "
                               "stated accuracy in its range, the resolution, the repeatability"},
        {".components[].value", "the figure as stated: an expanded uncertainty, a stated accuracy's half-width, half a "
                                "digit, the standard deviation of the mean"},
        {".components[].unit", "the figure's unit"},
        {".components[].distribution", "\"normal\" or \"rectangular\""},
        {".components[].divisor", "k of an expanded uncertainty, 1.73205 (the square root of 3) of a half-width, 1"},
        {".components[].sensitivity", "the result's unit per the figure's unit"},
        {".components[].standard_uncertainty", "|value / divisor x sensitivity|, in the result's unit"},
        {".combined", "the root-sum-square of the standard uncertainties"},
        {".k", "the coverage factor: 2"},
        {".expanded", "U = k x combined: the point's expanded uncertainty"},
        {".tur", "the test uncertainty ratio, tolerance / U; null when U is 0"},
    };
    std::vector<TJsonField> f;
    for (const auto& [path, about] : fields) {
        paths.push_back(std::string("points[].uncertainty.") + phase + path);
        f.push_back({paths.back().c_str(), about});
    }
    return f;
}

// kvctl.calibration/2: the certificate's facts, field by field (README,
// "Calibration certificates").
const std::vector<TJsonField> kCalibration = Cat({
    {{"schema", "\"kvctl.calibration/2\""},
     {"certificate_number", "the certificate's number, unique: the station, the date of issue and a sequence "
                            "(LINE-3-20261208-0007); null without --certificate"},
     {"calibration", "\"input\" (command 2), \"output\" (command 3), \"verification\" (nothing written) or "
                     "\"all\" (both records)"},
     {"verdict.code", "\"passed\", \"failed\" (nothing written, the device as it was), "
                      "\"adjusted-failed-verification\" (the device holds the new record, its as-left points do not "
                      "support a pass) or \"not-completed\" (the run stopped, or the device was not put back)"},
     {"verdict.title", "PASSED, FAILED, ADJUSTED – FAILED VERIFICATION or NOT COMPLETED, as the certificate heads it"},
     {"verdict.reason", "one sentence: what the device now holds, and why"},
     {"passed", "boolean: verdict.code is \"passed\" (exit code 0)"},
     {"failure", "why the run stopped before its end (\"interrupted\", ...); null when it ran to its end"},
     {"not_written_because", "why a calibration that ran to its end wrote nothing; null otherwise"},
     {"started", "ISO 8601 time with the offset; null when unknown"},
     {"finished", "ISO 8601 time with the offset; null when unknown"},
     {"duration_s", "seconds from started to finished; null when unknown"},
     {"operator", "as given (--operator), in Unicode's composed form (NFC); null when not given"},
     {"serial", "the device's serial number or tag (--serial), as typed or scanned; null when not given"},
     {"kvctl_version", "\"kvctl 1.0.0\""},
     {"port", "the device's port"},
     {"station.lab", "the bench file's [Station] Lab; null when not given"},
     {"station.address", "its Address"},
     {"station.station", "its Station"},
     {"station.procedure", "its Procedure"},
     {"ambient", "null without --ambient"},
     {"ambient.text", "--ambient as typed (\"23.1C,45%RH\")"},
     {"ambient.temperature_c", "the temperature read from it (23.1C, 23,1 °C); null when it has none"},
     {"ambient.relative_humidity_percent", "the relative humidity read from it (45%RH); null when it has none"},
     {"device.type", "KV7730, KV5510 or ???; null when the device was not seen"},
     {"device.pcb_identity_address", "the board's identity address; null when not seen"},
     {"device.firmware", "firmware date (v2016-10-11)"},
     {"device.calibration_date_before", "a date (2026-12-08), \"uncalibrated\", or null when not read"},
     {"device.calibration_date_after", "the same after the run"},
     {"device.working_time_minutes", "the device's working time at the start; null when not read"},
     {"device.internal_temperature_start", "the device's internal temperature (°C) at the start; null when not read"},
     {"device.internal_temperature_end", "the same at the end"},
     {"meter", "the bench meter; null when the run used none"},
     {"meter.identity", "its *IDN? answer and port"},
     {"meter.serial", "from the bench file; null when not given"},
     {"meter.certificate", "its calibration certificate"},
     {"meter.due", "the date it is due again (YYYY-MM-DD)"},
     {"source", "the source the fixture drives for verification points; null when the run used none"},
     {"source.name", "the bench file's name for it"},
     {"source.serial", ""},
     {"source.certificate", ""},
     {"source.due", ""},
     {"references[].name", "R500, R5K, UREF: the references the input trim adjusts against, in order"},
     {"references[].value", "the certified value (or as typed with --references)"},
     {"references[].unit", "ohm or mV"},
     {"references[].uncertainty", "expanded (k = 2), in unit; null when not given"},
     {"references[].serial", "null when not given (no bench file)"},
     {"references[].certificate", ""},
     {"references[].due", "YYYY-MM-DD"},
     {"rule.code", "\"guarded\" or \"simple\" (the bench's [Verification] Rule)"},
     {"rule.name", "\"guarded acceptance\" or \"simple acceptance\""},
     {"rule.statement", "the rule as the certificate states it"},
     {"points[].quantity", "\"input\" (the device's calculated value) or \"output\" (mA or V at its terminals)"},
     {"points[].path", "\"Pt 100, 4 wires\", \"500 ohm range, 3 wires\", \"millivolt\", \"4-20 mA\", ..."},
     {"points[].percent", "of the range"},
     {"points[].source", "what the fixture sourced, in its words (\"resistor 138.506\"); null when nothing"},
     {"points[].nominal", "what it must read, in unit"},
     {"points[].unit", "°C, %, ohm, mV, mA or V"},
     {"points[].span", "of the range, in unit: the error in per cent of span"},
     {"points[].tolerance", "+-, in unit"},
     {"points[].as_found", "the reading before anything was adjusted (a verification's reading), to the meter's "
                           "digits; null when not measured"},
     {"points[].as_left", "the reading after the device acknowledged the record, in normal operation; null when not "
                          "measured"},
     {"points[].expected.as_found", "what it had to read when that is not nominal (an output judged against the "
                                    "value the device reported); null: nominal"},
     {"points[].expected.as_left", "the same as left"},
     {"points[].error_as_found", "as_found - nominal (or expected), to the digits of both; null when not measured"},
     {"points[].error_as_left", "as_left - nominal (or expected)"},
     {"points[].error_percent_span.as_found", "the error in per cent of span"},
     {"points[].error_percent_span.as_left", ""}},
    Budget("as_found"),
    Budget("as_left"),
    {{"points[].tur.as_found", "tolerance / U; null without a budget"},
     {"points[].tur.as_left", ""},
     {"points[].result.as_found", "\"pass\", \"conditional\" (a pass its uncertainty cannot support) or \"fail\", "
                                  "under rule; null when not judged"},
     {"points[].result.as_left", ""},
     {"points[].readings.as_found", "the readings the value is the mean of, as the instrument gave them"},
     {"points[].readings.as_left", ""},
     {"points[].not_measured.as_found", "why there is no reading; null"},
     {"points[].not_measured.as_left", ""},
     {"not_verified", "what could not be verified, each with why (a point not measured, the output without a "
                      "meter); a run with any does not pass"},
     {"checks[].name", "the adjustment's own checks, made with its own references: R500, R5K, 4 mA, ..., 10 V"},
     {"checks[].unit", "ohm, mA or V"},
     {"checks[].target", "the reference's value or the nominal output"},
     {"checks[].tolerance", "+- in unit"},
     {"checks[].as_found.value", "measured before the adjustment; as_found is null when not measured"},
     {"checks[].as_found.error", "value - target"},
     {"checks[].as_found.within_tolerance", "boolean"},
     {"checks[].as_left.value", "measured after the write; null when not measured"},
     {"checks[].as_left.error", "value - target"},
     {"checks[].as_left.within_tolerance", "boolean"},
     {"checks[].passed", "boolean: as left within tolerance"},
     {"record.command", "2 (input) or 3 (output)"},
     {"record.state", "\"acknowledged\", \"unacknowledged\" (sent without an answer: the device may hold the "
                      "old or the new calibration) or \"not-sent\""},
     {"record.bytes", "the record as sent, hexadecimal; null when none"},
     {"record.values[].name", "the record's fields in its order (OFFSET_CH0 ..., PWMForIL ...)"},
     {"record.values[].value", "each as written: an integer, or a single as the shortest decimal that reads back "
                               "as the same single"},
     {"output_record", "a run of both trims (calibration \"all\"): the output's record; null otherwise"},
     {"output_record.command", "3"},
     {"output_record.state", "as record.state"},
     {"output_record.bytes", "as record.bytes"},
     {"log", "the wizard's log lines, in order (the separator lines too)"}},
});

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
        {"kvctl.calibration/2", "kvctl verify|calibrate input|output|all --json (and FILE.json beside --certificate FILE.pdf)",
         Cat({kCalibration,
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

#pragma once
// TMeterServer: kvsim's bench meter (BenchMeter.h) on a pseudo-terminal of
// its own (a TPtyLine). Command lines are executed one at a time in the order
// they came; a line with a measurement is answered kApertureMs after it was
// taken up, with the output as it is then (the device model moved on to that
// moment first), and the lines that came meanwhile wait for it, as on a meter
// that reads one command at a time.
#include "BenchMeter.h"
#include "PtyLine.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace kvsim {

class TMeterServer : public QObject {
    Q_OBJECT
public:
    // output: what leaves the transmitter's terminals now.
    TMeterServer(TBenchMeter& meter, std::function<TMeterReading()> output, const TPtyLine::Options& options,
                 QObject* parent = nullptr);
    ~TMeterServer() override;

    bool Open(QString& error) { return line_.Open(error); }
    void Close() { line_.Close(); }
    const QString& Path() const { return line_.Path(); }

signals:
    void opened(const QString& path);

private:
    void Next();
    void Finish();

    TBenchMeter& meter_;
    std::function<TMeterReading()> output_;
    TPtyLine line_;
    QTimer aperture_;
    TScpiReply measuring_;
};

} // namespace kvsim

#pragma once
// TMeterServer: kvsim's bench meter on a pseudo-terminal of its own: a
// TMeterSession on a TPtyLine, its answers paced at the rate the other side
// set, like the transmitter's.
#include "MeterSession.h"
#include "PtyLine.h"

#include <QObject>

#include <functional>

namespace kvsim {

class TMeterServer : public QObject {
    Q_OBJECT
public:
    // output: what left the transmitter's terminals over the integration.
    TMeterServer(TBenchMeter& meter, TMeterOutput output, const TPtyLine::Options& options,
                 QObject* parent = nullptr);
    ~TMeterServer() override;

    bool Open(QString& error) { return line_.Open(error); }
    void Close() { line_.Close(); }
    const QString& Path() const { return line_.Path(); }

signals:
    void opened(const QString& path);

private:
    TMBQtTimerFactory timers_;
    TMeterSession session_;
    TPtyLine line_;
};

} // namespace kvsim

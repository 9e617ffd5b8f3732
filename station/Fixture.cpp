#include "Fixture.h"

namespace kv::station {

TFixture::TFixture(const QString& command, TMBTimerFactory& timers) {
    // The shell reads the command line as the line's own script would be
    // typed; the words follow as its arguments, never parsed by it.
    if (!command.trimmed().isEmpty()) {
        program_ = QStringLiteral("/bin/sh");
        args_ = {QStringLiteral("-c"), command + QStringLiteral(" \"$@\""), QStringLiteral("kvctl-fixture")};
    }
    timeout_ = timers.createTimer(kTimeoutMs, true, [this] {
        End(QStringLiteral("it did not end within %1 s").arg(kTimeoutMs / 1000));
    });
}

TFixture::~TFixture() { Cancel(); }

void TFixture::Run(const QStringList& words, std::function<void(const QString& error)> done) {
    Cancel();
    done_ = std::move(done);
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setInputChannelMode(QProcess::ManagedInputChannel); // it reads nothing of kvctl's
    QProcess* p = process_.get();
    QObject::connect(p, &QProcess::readyReadStandardOutput, [this, p] {
        while (p->canReadLine())
            if (OnOutput)
                OnOutput(QString::fromLocal8Bit(p->readLine()).trimmed());
    });
    QObject::connect(p, &QProcess::errorOccurred, [this, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            End(QStringLiteral("the shell could not be started: %1").arg(p->errorString()));
    });
    QObject::connect(p, &QProcess::finished, [this, p, words](int code, QProcess::ExitStatus status) {
        const QString rest = QString::fromLocal8Bit(p->readAll()).trimmed();
        if (!rest.isEmpty() && OnOutput)
            for (const QString& line : rest.split(QLatin1Char('\n')))
                OnOutput(line);
        if (status != QProcess::NormalExit)
            End(QStringLiteral("\"%1\" was killed").arg(words.join(QLatin1Char(' '))));
        else if (code != 0)
            End(QStringLiteral("\"%1\" exited with %2").arg(words.join(QLatin1Char(' '))).arg(code));
        else
            End({});
    });
    timeout_->start();
    p->start(program_, args_ + words);
    p->closeWriteChannel();
}

void TFixture::Cancel() {
    timeout_->stop();
    done_ = nullptr;
    if (process_) {
        QProcess* p = process_.release();
        QObject::disconnect(p, nullptr, nullptr, nullptr);
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(1000);
        }
        p->deleteLater();
    }
}

void TFixture::End(const QString& error) {
    timeout_->stop();
    auto done = std::move(done_);
    done_ = nullptr;
    if (process_) {
        // Not deleted inside its own signal.
        QProcess* p = process_.release();
        QObject::disconnect(p, nullptr, nullptr, nullptr);
        if (p->state() != QProcess::NotRunning)
            p->kill();
        p->deleteLater();
    }
    if (done)
        done(error);
}

} // namespace kv::station

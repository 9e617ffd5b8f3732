// Which devices are serial ports, in which order, and what the probe accepts.
#include "MBListPorts.h"
#include "MBPort.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iterator>

namespace {

// A fake /sys/class/tty: name, whether it has a device link, its "type" (or empty).
struct FakeTty {
    const char* name;
    bool device;
    const char* type;
};

void Build(const QString& root, std::initializer_list<FakeTty> ttys) {
    QDir dir(root);
    for (const FakeTty& t : ttys) {
        ASSERT_TRUE(dir.mkpath(QString::fromLatin1(t.name)));
        if (t.device) {
            ASSERT_TRUE(dir.mkpath(QString::fromLatin1(t.name) + QStringLiteral("/device")));
        }
        if (t.type) {
            QFile f(dir.filePath(QString::fromLatin1(t.name) + QStringLiteral("/type")));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(t.type);
        }
    }
}

TEST(ListPorts, SerialPortsAreTheTtysWithHardwareInNumericOrder) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    Build(root.path(), {
                           {"tty0", false, nullptr},     // virtual console
                           {"ttyS10", true, "4\n"},
                           {"ttyS1", true, "0\n"},       // legacy port without a UART
                           {"ttyS2", true, "4\n"},
                           {"ttyS0", true, "4\n"},
                           {"ttyUSB0", true, nullptr},
                           {"ttyACM1", true, nullptr},
                           {"ptmx", false, nullptr},
                           {"ttyUSB10", true, "0\n"},     // type 0 only rules out ttyS
                       });
    EXPECT_EQ(mb::SerialPortCandidates(root.path()).join(u' ').toStdString(),
              "/dev/ttyACM1 /dev/ttyS0 /dev/ttyS2 /dev/ttyS10 /dev/ttyUSB0 /dev/ttyUSB10");
    EXPECT_TRUE(mb::SerialPortCandidates(root.path() + QStringLiteral("/missing")).isEmpty());
}

TEST(ListPorts, ExtraPortsSplitOnColonsSkippingEmptyParts) {
    EXPECT_EQ(mb::ExtraPortCandidates(QStringLiteral(":/dev/pts/3::/dev/serial/by-id/usb-x:")).join(u' ').toStdString(),
              "/dev/pts/3 /dev/serial/by-id/usb-x");
    EXPECT_TRUE(mb::ExtraPortCandidates({}).isEmpty());
}

TEST(ListPorts, OnlyATtyThatOpensCounts) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString file = root.filePath(QStringLiteral("plain"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(mb::ProbePort(file));
    EXPECT_FALSE(mb::ProbePort(root.filePath(QStringLiteral("gone"))));
    EXPECT_FALSE(mb::ProbePort(root.path()));
    MBListPorts(nullptr); // a missing list is left alone
}

// Each candidate once, in probing order, with what stands in the way; only
// the ones that can be opened are listed, and a missing one is left out
// silently.
TEST(ListPorts, StatesOfTheCandidates) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString sys = root.filePath(QStringLiteral("sys"));
    Build(sys, {{"ttyKV9", true, nullptr}});
    const QString file = root.filePath(QStringLiteral("plain"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString gone = root.filePath(QStringLiteral("gone"));
    const QList<mb::TPortState> states =
        mb::PortStates(sys, file + QLatin1Char(':') + gone + QLatin1Char(':') + file + QLatin1Char(':') + root.path());
    struct Want {
        QString path;
        mb::TPortState::TState state;
        const char* reason;
    } const want[] = {
        {QStringLiteral("/dev/ttyKV9"), mb::TPortState::Missing, "No such file or directory"},
        {file, mb::TPortState::NotSerial, "not a serial port"},
        {gone, mb::TPortState::Missing, "No such file or directory"},
        {root.path(), mb::TPortState::NotSerial, "not a serial port"},
    };
    ASSERT_EQ(states.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(want[i].path.toStdString());
        EXPECT_EQ(states[i].path, want[i].path);
        EXPECT_EQ(states[i].state, want[i].state);
        EXPECT_EQ(states[i].reason.toStdString(), want[i].reason);
    }

    qputenv("KV_EXTRA_PORTS", QFile::encodeName(file + QLatin1Char(':') + gone));
    QStringList list;
    QList<mb::TLeftOutPort> leftOut;
    mb::ListPorts(&list, &leftOut);
    qunsetenv("KV_EXTRA_PORTS");
    ASSERT_FALSE(leftOut.isEmpty());
    EXPECT_EQ(leftOut.last().path, file); // the missing one is not mentioned
}

} // namespace

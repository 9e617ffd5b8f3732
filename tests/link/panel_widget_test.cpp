// The link panel offscreen: its controls, start-up, displays and the port
// sequences, on a manual clock with an in-memory port.
#include "panel_support.h"
#include "MBPanelView.h"

#include "NumberPicture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QTemporaryDir>

#include <map>

using namespace paneltest;

namespace {

TEST_F(Panel, NewPanelShowsItsControls) {
    EXPECT_EQ(mb->title(), "ASCII Master v2016.10.11.");
    EXPECT_EQ(mb->size(), QSize(157, 145));
    EXPECT_EQ(mb->minimumSize(), QSize(157, 145));
    EXPECT_EQ(mb->maximumSize(), QSize(157, 145));

    struct Control {
        const char* name;
        const char* parent;
        QRect place;
        QString text; // labels only
        bool shown;
    };
    const Control controls[] = {
        {"Label_TLamp", "MB", {4, 13, 8, 13}, "T", true},
        {"Label_TID", "MB", {12, 13, 28, 13}, "---", true},
        {"Label_TDataCount", "MB", {43, 13, 21, 13}, "0", true},
        {"Label_TFrames", "MB", {68, 13, 85, 13}, "0 F", true},
        {"Label_RLamp", "MB", {4, 26, 8, 13}, "R", true},
        {"Label_RID", "MB", {12, 26, 28, 13}, "---", true},
        {"Label_RDataCount", "MB", {43, 26, 21, 13}, "0", true},
        {"Label_RFrames", "MB", {68, 26, 85, 13}, "0 F", true},
        {"Label_Speed", "MB", {5, 40, 30, 15}, "0", true},
        {"Label_Try", "MB", {131, 40, 24, 13}, "", false},
        {"ListBox_Ports", "MB", {5, 56, 88, 44}, {}, true},
        {"Panel_OpenPort", "MB", {5, 56, 88, 44}, {}, false},
        {"Label_OpenPortName", "Panel_OpenPort", {2, 0, 84, 13}, "", true},
        {"Label_CurrentRequest", "Panel_OpenPort", {2, 11, 84, 13}, "", true},
        {"Image_SpeedGraph", "Panel_OpenPort", {1, 24, 86, 19}, {}, true},
        {"Image_SpeedGraphBuffer", "Panel_OpenPort", {1, 24, 86, 19}, {}, false},
        {"Shape_PortIndicator", "MB", {97, 56, 55, 21}, {}, true},
        {"SpeedButton_OpenClose", "MB", {99, 58, 51, 17}, {}, true},
        {"Button_Ref", "MB", {97, 81, 28, 19}, {}, true},
        {"Button_ClearCounters", "MB", {128, 81, 23, 19}, {}, true},
        {"Label_LastStatus", "MB", {2, 103, 149, 13}, "Last status: Closed Port", true},
        {"Label_Baud", "MB", {5, 115, 143, 15}, "", false},
        {"ComboBox_Baud", "MB", {5, 119, 144, 25}, {}, false},
        {"Label_RequestHistory", "MB", {6, 129, 145, 13}, "", true},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        auto* w = mb->findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), c.parent);
        EXPECT_EQ(w->geometry(), c.place);
        EXPECT_EQ(!w->isHidden(), c.shown);
        if (auto* l = qobject_cast<QLabel*>(w); l && !c.text.isNull()) {
            EXPECT_EQ(l->text(), c.text);
        }
    }
    EXPECT_EQ(Get("Label_TLamp")->font().family(), "Courier New");
    EXPECT_EQ(Get("Label_TFrames")->font().family(), "Arial");
    EXPECT_EQ(Get<QListWidget>("ListBox_Ports")->count(), 0);
    EXPECT_FALSE(OpenClose()->isEnabled());
    EXPECT_EQ(OpenClose()->text(), "Open");
    EXPECT_EQ(Get<QPushButton>("Button_Ref")->text(), "Ref");
    EXPECT_EQ(Get<QPushButton>("Button_Ref")->toolTip(), "Refresh list");
    EXPECT_EQ(Get<QPushButton>("Button_ClearCounters")->toolTip(), "Clear all counters");
    EXPECT_EQ(Get<QComboBox>("ComboBox_Baud")->count(), 0);
    EXPECT_FALSE(mb->property("MBPortOpen").toBool());
}

// The framed box: a line in the mid tone 6 pixels from the top with rounded
// corners, broken where the caption sits on it.
TEST_F(Panel, FrameLineAndCaption) {
    const QImage img = mb->grab().toImage();
    const QRgb line = mb->palette().color(QPalette::Mid).rgb();
    const QRgb face = img.pixel(60, 70); // inside, between the controls
    const int right = mb->width() - 1, bottom = mb->height() - 1;
    struct Spot {
        int x, y;
        bool onLine;
    };
    const Spot spots[] = {
        {3, 6, true},           {right - 3, 6, true},     // the top line beside the caption
        {0, 60, true},          {right, 60, true},        // the sides
        {60, bottom, true},     {0, 6, false},            // the bottom; a rounded corner
        {8, 6, false},          {mb->fontMetrics().horizontalAdvance(mb->title()) + 12, 6, false}, // the gap
        {60, 3, false},         {2, 60, false},           // above the line; inside it
    };
    for (const Spot& s : spots) {
        SCOPED_TRACE(testing::Message() << s.x << "," << s.y);
        if (s.onLine)
            EXPECT_EQ(img.pixel(s.x, s.y), line);
        else
            EXPECT_NE(img.pixel(s.x, s.y), line);
    }
    EXPECT_NE(face, line);
}

TEST_F(Panel, FirstTickFillsRatesAndPorts) {
    mb->setMBLastUsedPort("/dev/ttyMEM0");
    mb->setMBBaudEditVisible(false);
    Start();
    auto* combo = Get<QComboBox>("ComboBox_Baud");
    ASSERT_EQ(combo->count(), 21);
    EXPECT_EQ(combo->itemText(0), "75 baud");
    EXPECT_EQ(combo->itemText(20), "921600 baud");
    EXPECT_EQ(combo->currentIndex(), baud115200);
    EXPECT_EQ(Text("Label_Baud"), " 115 200 bits / second");
    EXPECT_TRUE(Shown("Label_Baud"));
    EXPECT_FALSE(Shown("ComboBox_Baud"));

    auto* list = Get<QListWidget>("ListBox_Ports");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "/dev/ttyMEM1"); // the last probed first
    EXPECT_EQ(list->currentItem()->text(), "/dev/ttyMEM0");
    EXPECT_TRUE(OpenClose()->isEnabled());
    EXPECT_EQ(Text("Label_TFrames"), "   0  F");
    EXPECT_EQ(Text("Label_Speed"), "0 frames / sec [0]");

    // The rate list replaces the rate text while closed.
    mb->setMBBaudEditVisible(true);
    EXPECT_TRUE(Shown("ComboBox_Baud"));
    EXPECT_FALSE(Shown("Label_Baud"));
    combo->setCurrentIndex(baud009600);
    emit combo->activated(baud009600);
    EXPECT_EQ(mb->MBBaud(), baud009600);
    EXPECT_EQ(Text("Label_Baud"), " 9 600 bits / second");
}

TEST_F(Panel, RefreshRules) {
    // No ports: the list stays empty and Open disabled.
    ports.clear();
    Start();
    EXPECT_EQ(Get<QListWidget>("ListBox_Ports")->count(), 0);
    EXPECT_FALSE(OpenClose()->isEnabled());

    // Without the start-up refresh, "Ref" is bold until it is clicked.
    PanelRig other;
    other.mb->setMBRefreshListOnStartup(false);
    other.Start();
    auto* ref = other.Get<QPushButton>("Button_Ref");
    EXPECT_EQ(other.Get<QListWidget>("ListBox_Ports")->count(), 0);
    EXPECT_TRUE(ref->font().bold());
    ref->click();
    EXPECT_FALSE(ref->font().bold());
    EXPECT_EQ(other.Get<QListWidget>("ListBox_Ports")->count(), 2);
    EXPECT_EQ(other.mb->MBLastUsedPort(), "/dev/ttyMEM1");

    // A click on an entry makes it the last used port.
    auto* list = other.Get<QListWidget>("ListBox_Ports");
    list->setCurrentRow(1);
    other.mb->MBPortListClick();
    EXPECT_EQ(other.mb->MBLastUsedPort(), "/dev/ttyMEM0");
    list->clearSelection();
    list->setCurrentRow(-1);
    other.mb->MBPortListClick();
    EXPECT_EQ(other.mb->MBLastUsedPort(), "/dev/ttyMEM0");
}

TEST_F(Panel, OpenPollAndClose) {
    mb->setMBBaudEditVisible(true);
    Open();
    EXPECT_EQ(port->OpenedName(), "/dev/ttyMEM1");
    EXPECT_EQ(port->OpenedRate(), 115200u);
    EXPECT_EQ(mb->Port(), "/dev/ttyMEM1");
    EXPECT_EQ(openEvents, std::vector<bool>{true});
    EXPECT_TRUE(mb->MBThereWasOpenEvent());
    EXPECT_EQ(OpenClose()->text(), "Close");
    EXPECT_EQ(Background("Shape_PortIndicator"), mbpanel::kGreen);
    EXPECT_TRUE(Shown("Panel_OpenPort"));
    EXPECT_FALSE(Shown("ListBox_Ports"));
    EXPECT_FALSE(Shown("ComboBox_Baud"));
    EXPECT_TRUE(Shown("Label_Baud"));
    EXPECT_TRUE(Shown("Label_Try"));
    EXPECT_FALSE(Get<QPushButton>("Button_Ref")->isEnabled());
    EXPECT_EQ(Text("Label_OpenPortName"), "/dev/ttyMEM1");
    EXPECT_EQ(Text("Label_LastStatus"), "Last status: OK");

    mb->setMBMasterCommandToSlave(1);
    mb->MBStartQuery(0);
    const QByteArray request = port->TakeWritten();
    EXPECT_TRUE(request.startsWith("M01") && request.endsWith(";")) << request.constData();
    EXPECT_EQ(Background("Label_TLamp"), mbpanel::kLampLit);
    EXPECT_EQ(Text("Label_TID"), "000");
    EXPECT_EQ(Text("Label_CurrentRequest"), "1.1");
    EXPECT_EQ(Text("Label_Try"), "1/1");
    port->Push(Ascii('S', Frame({1, 7, 5, 0, 0x2A})));
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(Background("Label_RLamp"), mbpanel::kLampLit);
    EXPECT_EQ(Text("Label_RID"), "007");
    EXPECT_EQ(Text("Label_RDataCount"), "1");
    EXPECT_EQ(Text("Label_TFrames"), "   1  F");
    EXPECT_EQ(Text("Label_RFrames"), "   1  F");
    clock.advance(50);
    EXPECT_EQ(Background("Label_TLamp"), mb->MBFaceColor());
    EXPECT_EQ(Background("Label_RLamp"), mb->MBFaceColor());

    ClickOpenClose();
    EXPECT_FALSE(mb->MBPortOpen());
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    EXPECT_EQ(ends.size(), 1u); // nothing was outstanding
    EXPECT_EQ(OpenClose()->text(), "Open");
    EXPECT_TRUE(Shown("ListBox_Ports"));
    EXPECT_TRUE(Shown("ComboBox_Baud"));
    EXPECT_FALSE(Shown("Label_Try"));
    EXPECT_TRUE(Get<QPushButton>("Button_Ref")->isEnabled());
    EXPECT_EQ(Background("Shape_PortIndicator"), mb->MBFaceColor());
    EXPECT_EQ(Text("Label_LastStatus"), "Last status: Closed Port");
    EXPECT_EQ(Text("Label_CurrentRequest"), "");
    // The empty line of the start (command 0) went first: a blank.
    EXPECT_EQ(Text("Label_RequestHistory"), "  1.1");
    EXPECT_EQ(Text("Label_Try"), "0/0");
}

TEST_F(Panel, CloseWithAnOutstandingRequestEndsIt) {
    Open();
    mb->setMBMasterCommandToSlave(1);
    mb->MBStartQuery(0);
    mb->MBClose();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].first, stClosedPort);
    EXPECT_EQ(ends[0].second, "Closed Port");
    EXPECT_FALSE(OpenClose()->isChecked());
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    // Closed already: nothing more happens.
    mb->MBClose();
    EXPECT_EQ(openEvents.size(), 2u);
    EXPECT_EQ(ends.size(), 1u);
}

// The application may hold a close back (the button and MBClose alike) and
// close later; a hang-up asks nobody.
TEST_F(Panel, ACloseMayBeHeldBackButNotAHangUp) {
    int asked = 0;
    bool allow = false;
    mb->OnMBBeforeClose = [&] { return ++asked, allow; };
    Open();
    ClickOpenClose();
    mb->MBClose();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(mb->MBPortOpen());
    EXPECT_TRUE(OpenClose()->isChecked());
    EXPECT_EQ(openEvents, (std::vector<bool>{true}));
    allow = true;
    mb->MBClose();
    EXPECT_FALSE(mb->MBPortOpen());
    allow = false;
    ClickOpenClose();
    ASSERT_TRUE(mb->MBPortOpen());
    port->HangUp();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(mb->MBPortOpen());
    EXPECT_EQ(asked, 3);
}

TEST_F(Panel, FailedOpenLeavesARedIndicatorAndNoEvent) {
    Start();
    port->SetOpenError("No such file or directory");
    ClickOpenClose();
    EXPECT_FALSE(mb->MBPortOpen());
    EXPECT_TRUE(openEvents.empty());
    EXPECT_TRUE(ends.empty());
    EXPECT_FALSE(OpenClose()->isChecked());
    EXPECT_EQ(OpenClose()->text(), "Open");
    EXPECT_TRUE(OpenClose()->isEnabled());
    EXPECT_EQ(Background("Shape_PortIndicator"), mbpanel::kRed);
    EXPECT_EQ(Text("Label_LastStatus"), "Last status: Closed Port");
    EXPECT_EQ(mb->MBLastOpenError(), "TMB : cannot open /dev/ttyMEM1\rNo such file or directory");
    EXPECT_FALSE(mb->MBThereWasOpenEvent());
    EXPECT_TRUE(Shown("ListBox_Ports"));
    EXPECT_EQ(Get<QListWidget>("ListBox_Ports")->count(), 2); // refreshed
    // The red frame stays until the lamps are reset with the port closed.
    mb->MBClearCounters();
    EXPECT_EQ(Background("Shape_PortIndicator"), mb->MBFaceColor());
    // And the port opens once it can.
    port->SetOpenError("");
    ClickOpenClose();
    EXPECT_TRUE(mb->MBPortOpen());
    EXPECT_EQ(openEvents, std::vector<bool>{true});
}

TEST_F(Panel, WriteTextOnlyWhileOpen) {
    Start();
    mb->MBWriteText("AT\r");
    EXPECT_TRUE(port->Written().isEmpty());
    ClickOpenClose();
    mb->MBWriteText("AT\r");
    EXPECT_EQ(port->TakeWritten(), "AT\r");
    ClickOpenClose();
    mb->MBWriteText("AT\r");
    EXPECT_TRUE(port->Written().isEmpty());
}

TEST_F(Panel, RateChangeWaitsForTheNextOpen) {
    Open();
    mb->setMBBaud(baud009600);
    EXPECT_EQ(port->OpenedRate(), 115200u);
    EXPECT_EQ(port->OpenCount(), 1);
    EXPECT_TRUE(mb->MBPortOpen());
    ClickOpenClose();
    ClickOpenClose();
    EXPECT_EQ(port->OpenedRate(), 9600u);
}

TEST_F(Panel, RepeatCountsSpeedAndHistory) {
    for (char sep : {'.', ','}) {
        SCOPED_TRACE(sep);
        kv::SetDecimalSeparator(sep);
        PanelRig p;
        p.Open();
        for (int i = 0; i < 1000; ++i)
            p.Poll(1);
        EXPECT_EQ(p.Text("Label_CurrentRequest"), ">999x1.1");
        EXPECT_EQ(p.Text("Label_RequestHistory"), " "); // the empty line of the start
        for (int i = 0; i < 234; ++i)
            p.Poll(2);
        EXPECT_EQ(p.Text("Label_CurrentRequest"), "234x1.2");
        EXPECT_EQ(p.Text("Label_RequestHistory"), "  >999x1.1");
        EXPECT_EQ(p.mb->MBNumberOfRxFrames(), 1234u);
        p.clock.advance(1000); // the tick after the open: 1234 frames
        const QString k = QString("1") + sep + "2k";
        EXPECT_EQ(p.Text("Label_Speed"), k + " frames / sec [0-" + k + "]");
        p.clock.advance(1000); // an idle second
        EXPECT_EQ(p.Text("Label_Speed"), "0 frames / sec [0-" + k + "]");
        for (int i = 0; i < 999; ++i)
            p.Poll(2);
        p.clock.advance(1000);
        EXPECT_EQ(p.Text("Label_Speed"), "999 frames / sec [0-" + k + "]");
        for (int i = 0; i < 1000; ++i)
            p.Poll(2);
        p.clock.advance(1000);
        EXPECT_EQ(p.Text("Label_Speed"), QString("1") + sep + "0k frames / sec [0-" + k + "]");
    }
    kv::SetDecimalSeparator('.');
}

TEST_F(Panel, TryDisplayAndStatusColours) {
    Open();
    mb->setMBMasterMaxTryNumber(3);
    mb->setMBMasterCommandToSlave(1);
    mb->MBStartQuery(0);
    EXPECT_EQ(Text("Label_Try"), "1/1");
    ASSERT_TRUE(clock.advanceUntil([&] { return mb->MBMasterTryNumber() == 3; }, 10000));
    EXPECT_EQ(Text("Label_Try"), "3/3");
    port->Push(Ascii('S', Frame({1, 0, 5, 0, 0x2A})));
    EXPECT_EQ(Text("Label_LastStatus"), "Last status: OK");
    mb->MBStartQuery(0);
    EXPECT_EQ(Text("Label_Try"), "1/3");

    // Unanswered: every try used up, a red time-out.
    ASSERT_TRUE(clock.advanceUntil([&] { return !mb->MBBusy(); }, 10000));
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back().first, stTimeOut);
    EXPECT_EQ(Text("Label_LastStatus"), "Last status: Time Out");
    EXPECT_EQ(Background("Label_LastStatus"), mbpanel::kRed);
    EXPECT_EQ(Text("Label_RID"), "---");
    Poll(1);
    EXPECT_EQ(Text("Label_LastStatus"), "Last status: OK");
    EXPECT_EQ(Background("Label_LastStatus"), mb->MBFaceColor());
}

TEST_F(Panel, GraphWithoutTrafficLiesOnTheRedBottomLine) {
    Open();
    clock.advance(5000); // five idle seconds: speed 0, maximum 0
    ASSERT_EQ(mb->MBSpeedMax(), 0u);
    const QImage& img = mb->MBGraphBuffer();
    int red = 0;
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y)
            if (img.pixelColor(x, y) == mbpanel::kRed) {
                EXPECT_EQ(y, 17);
                ++red;
            }
    EXPECT_EQ(red, 5);
    EXPECT_EQ(mb->MBSpeedSamples().Sample(83), 0);
    // The shown image is a copy of the buffer.
    const QImage shown = Get("Image_SpeedGraph")->pixmap().toImage().convertToFormat(img.format());
    EXPECT_EQ(shown, img);

    // "C" clears samples, counters and graph.
    Poll(1);
    Get<QPushButton>("Button_ClearCounters")->click();
    EXPECT_EQ(mb->MBSpeedSamples().Sample(83), -1);
    EXPECT_EQ(Text("Label_TFrames"), "   0  F");
    EXPECT_EQ(Text("Label_CurrentRequest"), "");
}

TEST_F(Panel, HangUpClosesLikeTheUser) {
    Open();
    mb->setMBMasterCommandToSlave(1);
    mb->MBStartQuery(0);
    ports = {"/dev/ttyMEM0"}; // the vanished one is no longer listed
    port->HangUp();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(mb->MBPortOpen());
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].first, stClosedPort);
    EXPECT_FALSE(OpenClose()->isChecked());
    auto* list = Get<QListWidget>("ListBox_Ports");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "/dev/ttyMEM0");
}

// A write the port cannot take (the device vanished under it) closes the
// port there and then: the transaction ends once, with the port closed, so
// the application does not start another request into it.
TEST_F(Panel, AFailedWriteClosesThePortAndEndsOnce) {
    Open();
    bool openAtEnd = true;
    mb->OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string& t) {
        ends.emplace_back(s, t);
        openAtEnd = mb->MBPortOpen();
    };
    port->HangUp(); // its notice is still queued
    mb->setMBMasterCommandToSlave(1);
    mb->MBStartQuery(0);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].first, stClosedPort);
    EXPECT_FALSE(openAtEnd);
    EXPECT_FALSE(mb->MBPortOpen());
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    EXPECT_EQ(mb->MBStatusNow(), stnPortError);
    QCoreApplication::processEvents();
    EXPECT_EQ(ends.size(), 1u);
    EXPECT_EQ(openEvents.size(), 2u);
}

// Only an open that worked restarts the one-second timer.
TEST_F(Panel, AFailedOpenLeavesTheSecondTimerAlone) {
    Open(); // at 1000 ms: ticks at 2000, 3000, ...
    for (int i = 0; i < 3; ++i)
        Poll(1);
    clock.advance(1000);
    EXPECT_EQ(mb->MBSpeed(), 3u);
    ClickOpenClose();
    clock.advance(400);
    port->SetOpenError("Device or resource busy");
    ClickOpenClose();
    ASSERT_FALSE(mb->MBPortOpen());
    clock.advance(599);
    EXPECT_EQ(mb->MBSpeed(), 3u);
    clock.advance(1); // 3000 ms: the tick of the last good open's rhythm
    EXPECT_EQ(mb->MBSpeed(), 0u);
}

// The port lost to a hang-up stays the remembered one; it is chosen again
// when it comes back, also under another name with the same by-id name.
TEST_F(Panel, TheHungUpPortIsRememberedAndChosenAgain) {
    QTemporaryDir dev;
    ASSERT_TRUE(dev.isValid());
    const QString usb0 = dev.filePath("ttyUSB0"), usb1 = dev.filePath("ttyUSB1"), usb2 = dev.filePath("ttyUSB2");
    for (const QString& f : {usb0, usb1, usb2}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dev.path()).mkdir("by-id"));
    const QString byId = dev.filePath("by-id");
    const QString id = byId + "/usb-Adapter_A1B2C3-if00-port0";
    ASSERT_TRUE(QFile::link(usb0, id));
    mb->MBSetSerialIdFolder(byId);
    ports = {usb2, usb0};
    mb->setMBLastUsedPort(usb0);
    Open();
    ASSERT_EQ(mb->Port(), usb0);

    ports = {usb2}; // pulled: it is gone from the list
    port->HangUp();
    QCoreApplication::processEvents();
    ASSERT_FALSE(mb->MBPortOpen());
    auto* list = Get<QListWidget>("ListBox_Ports");
    EXPECT_EQ(list->currentItem()->text(), usb2);
    EXPECT_EQ(mb->MBLastUsedPort(), usb0);
    mb->MBRefreshPortList(); // and again: still remembered
    EXPECT_EQ(mb->MBLastUsedPort(), usb0);

    // Back as ttyUSB1, with the same by-id name.
    QFile::remove(id);
    ASSERT_TRUE(QFile::link(usb1, id));
    ports = {usb1, usb2};
    mb->MBRefreshPortList();
    EXPECT_EQ(list->currentItem()->text(), usb1);
    EXPECT_EQ(mb->MBLastUsedPort(), usb1);

    // Choosing another port lets the lost one go.
    port->SetOpenError({});
    ClickOpenClose();
    ports = {usb2};
    port->HangUp();
    QCoreApplication::processEvents();
    EXPECT_EQ(mb->MBLastUsedPort(), usb1);
    list->setCurrentRow(0);
    mb->MBPortListClick();
    EXPECT_EQ(mb->MBLastUsedPort(), usb2);
    ports = {usb1, usb2};
    mb->MBRefreshPortList();
    EXPECT_EQ(mb->MBLastUsedPort(), usb2);
}

// --connect's way in: the port chosen in the list (by its whole name or its
// device name) and opened as the user would; a port the list cannot have
// is refused with the reason.
TEST_F(Panel, OpenListedPortChoosesAndOpensAsTheUser) {
    struct Case {
        const char* asked;
        const char* opened; // nullptr: refused
        const char* why;
    } const cases[] = {
        {"/dev/ttyMEM0", "/dev/ttyMEM0", ""},
        {"ttyMEM0", "/dev/ttyMEM0", ""},
        {"/nowhere/ttyMEM7", nullptr, "/nowhere/ttyMEM7 cannot be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        PanelRig rig;
        rig.Start();
        QString why;
        EXPECT_EQ(rig.mb->MBOpenListedPort(QString::fromLatin1(c.asked), &why), c.opened != nullptr);
        EXPECT_EQ(why.toStdString(), c.why);
        EXPECT_EQ(rig.mb->MBPortOpen(), c.opened != nullptr);
        if (!c.opened) {
            EXPECT_TRUE(rig.openEvents.empty());
            continue;
        }
        EXPECT_EQ(rig.port->OpenedName(), c.opened);
        EXPECT_EQ(rig.mb->MBLastUsedPort(), c.opened);
        EXPECT_EQ(rig.openEvents, std::vector<bool>{true});
        EXPECT_TRUE(rig.OpenClose()->isChecked());
        EXPECT_EQ(rig.OpenClose()->text(), "Close");
        EXPECT_FALSE(rig.mb->MBOpenListedPort(QStringLiteral("/dev/ttyMEM1"), &why));
        EXPECT_EQ(why, "the link has /dev/ttyMEM0 open already");
    }
    // A port that does not open shows as the user's failed open.
    Start();
    port->SetOpenError(QStringLiteral("Device or resource busy"));
    QString why;
    EXPECT_FALSE(mb->MBOpenListedPort(QStringLiteral("/dev/ttyMEM1"), &why));
    EXPECT_EQ(why, "/dev/ttyMEM1 cannot be opened: Device or resource busy");
    EXPECT_EQ(Background("Shape_PortIndicator"), mbpanel::kRed);
    EXPECT_FALSE(OpenClose()->isChecked());
    EXPECT_TRUE(openEvents.empty());
}

TEST_F(Panel, DestructionClosesSilently) {
    Open();
    mb->setMBMasterCommandToSlave(1);
    mb->MBStartQuery(0);
    mb.reset();
    EXPECT_EQ(openEvents, std::vector<bool>{true});
    EXPECT_TRUE(ends.empty());
}

// The list is hidden and "Ref" disabled while the port is open: a refresh
// then does nothing (it used to list the open port last and enable "Ref").
TEST_F(Panel, RefreshWhileOpenDoesNothing) {
    Open();
    auto* list = Get<QListWidget>("ListBox_Ports");
    ports << "/dev/ttyMEM2";
    mb->MBRefreshPortList();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentItem()->text(), "/dev/ttyMEM1");
    EXPECT_FALSE(Get<QPushButton>("Button_Ref")->isEnabled());
    EXPECT_TRUE(OpenClose()->isEnabled());
    ClickOpenClose(); // the close lists them again
    mb->MBRefreshPortList();
    EXPECT_EQ(list->count(), 3);
}

// A picture of an open panel in use, for the eye (saved under /tmp).
TEST_F(Panel, Picture) {
    mb->setMBBaudEditVisible(false);
    mb->show();
    Open();
    for (int second = 0; second < 30; ++second) {
        for (int i = 0; i < (second * 7) % 13 + 5; ++i)
            Poll(1);
        clock.advance(1000);
    }
    mb->setMBMasterCommandToSlave(2);
    mb->MBStartQuery(0);
    const QPixmap pm = mb->grab();
    EXPECT_EQ(pm.size(), QSize(157, 145));
    EXPECT_TRUE(pm.save("/tmp/kv-link-panel.png"));
}

// A new request repaints the request line (and the two rows of the port
// name over it), never the panel behind them: text drawn again each poll.
TEST_F(Panel, NewRequestRepaintsOnlyTheRequestLine) {
    Open();
    mb->show();
    mb->setMBMasterCommandToSlave(3);
    mb->MBStartQuery(0); // the lamps and counters as between polls
    QApplication::processEvents();
    struct Paints : QObject {
        std::map<QString, int> n;
        bool eventFilter(QObject* o, QEvent* e) override {
            n[o->objectName()] += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    qApp->installEventFilter(&paints);
    mb->MBStartQuery(0);
    QApplication::processEvents();
    qApp->removeEventFilter(&paints);
    EXPECT_EQ(paints.n["Label_CurrentRequest"], 1);
    EXPECT_EQ(paints.n["Panel_OpenPort"] + paints.n["MB"], 0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(Panel, LongPortNameKeepsItsEndInTheOpenView) {
    const QString name = "/dev/serial/by-id/usb-Adapter_A1B2C3-if00-port0";
    ports = QStringList{name};
    Open();
    auto* label = Get<QLabel>("Label_OpenPortName");
    EXPECT_TRUE(label->text().startsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_TRUE(name.endsWith(label->text().mid(1)));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_EQ(label->toolTip(), name);
    EXPECT_EQ(mb->Port(), name);
}

// Two adapters' by-id names share their long beginning: the narrow list
// shows both ends of each, and each item holds the whole name.
TEST_F(Panel, LongPortNamesKeepBothEnds) {
    ports = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
             "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9GHJ2K1-if00-port0"};
    Start();
    auto* list = Get<QListWidget>("ListBox_Ports");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_EQ(list->item(i)->toolTip(), list->item(i)->text());
        const QFontMetrics fm = list->fontMetrics();
        const int width = list->viewport()->width() - 6;
        shown << mbpanel::ShortPortName(list->item(i)->text(),
                                        [&](const QString& t) { return fm.horizontalAdvance(t) <= width; });
        EXPECT_TRUE(shown.back().startsWith("/dev/")) << shown.back().toStdString();
        EXPECT_LE(fm.horizontalAdvance(shown.back()), width);
    }
    EXPECT_NE(shown[0], shown[1]);
    // A short name stays whole.
    EXPECT_EQ(mbpanel::ShortPortName("/dev/ttyS0", [](const QString&) { return true; }), "/dev/ttyS0");
}

#include "MB.h"
#include "MBPanelView.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QStyle>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolButton>

namespace {

// Items one line (13 pixels) high, as the list and the rate drop-down want.
class TItemHeight13 : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 13};
    }

protected:
    // A long port name keeps its distinctive end; the item's tooltip has it whole.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int width = option->rect.width() - 6; // the item's text margins
        const QFontMetrics fm(option->font);
        option->text = mbpanel::ShortPortName(option->text, [&](const QString& t) { return fm.horizontalAdvance(t) <= width; });
    }
};

// The panel's fonts are 8 point at 96 dpi: 11 pixels, whatever the screen.
QFont PanelFont(const char* family) {
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(11);
    return f;
}

} // namespace

TMB::TMB(QWidget* parent) : TMB(parent, nullptr, nullptr) {}

TMB::TMB(QWidget* parent, TMBTimerFactory* timers, std::unique_ptr<TMBPort> port)
    : QGroupBox(parent), TMBLink(timers, std::move(port)) {
    MBSetPortLister(nullptr);
    FTLampTimer = MBTimers().createTimer(50, true, [this] { MBTLampOff(); });
    FRLampTimer = MBTimers().createTimer(50, true, [this] { SetBackground(Label_RLamp, FFace); });
    BuildPanel();
}

TMB::~TMB() {
    // Destruction closes without the close steps: no events reach an owner
    // that is itself going away. Released while the panel still exists.
    MBClosePort();
}

void TMB::BuildPanel() {
    setObjectName(QStringLiteral("MB"));
    setFont(PanelFont("Arial"));
    resize(157, 145);
    setFixedSize(157, 145);
    setTitle(QString::fromStdString(MBCaption()));
    FFace = palette().color(QPalette::Button);

    const QFont courier = PanelFont("Courier New");
    const QFont arial = PanelFont("Arial");
    auto label = [this](QWidget* parent, const char* name, QRect place, const QString& text,
                        Qt::Alignment align, bool opaque) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(QString::fromLatin1(name));
        // The box's own font, given explicitly: the frame's style sheet keeps
        // it from reaching the children by itself.
        l->setFont(font());
        l->setGeometry(place);
        l->setAlignment(align | Qt::AlignVCenter);
        l->setMargin(0);
        l->setIndent(0);
        if (opaque)
            SetBackground(l, FFace);
        return l;
    };
    const auto left = Qt::AlignLeft;
    const auto right = Qt::AlignRight;
    const auto centre = Qt::AlignHCenter;

    Label_TLamp = label(this, "Label_TLamp", {4, 13, 8, 13}, "T", left, true);
    Label_TID = label(this, "Label_TID", {12, 13, 28, 13}, "---", left, false);
    Label_TDataCount = label(this, "Label_TDataCount", {43, 13, 21, 13}, "0", right, false);
    Label_TFrames = label(this, "Label_TFrames", {68, 13, 85, 13}, "0 F", right, false);
    Label_RLamp = label(this, "Label_RLamp", {4, 26, 8, 13}, "R", left, true);
    Label_RID = label(this, "Label_RID", {12, 26, 28, 13}, "---", left, false);
    Label_RDataCount = label(this, "Label_RDataCount", {43, 26, 21, 13}, "0", right, false);
    Label_RFrames = label(this, "Label_RFrames", {68, 26, 85, 13}, "0 F", right, false);
    for (QLabel* l : {Label_TLamp, Label_TID, Label_TDataCount, Label_RLamp, Label_RID, Label_RDataCount})
        l->setFont(courier);
    Label_TFrames->setFont(arial);
    Label_RFrames->setFont(arial);
    // The frame counters change with every frame: filled with the colour
    // that shows through them anyway, so that a new count repaints the label
    // alone and not the framed box and the window behind it.
    for (QLabel* l : {Label_TFrames, Label_RFrames})
        l->setAutoFillBackground(true);

    Label_Speed = label(this, "Label_Speed", {5, 40, 30, 15}, "0", left, false);
    Label_Try = label(this, "Label_Try", {131, 40, 24, 13}, QString(), left, false);
    Label_Try->setFont(courier);
    Label_Try->hide();

    ListBox_Ports = new QListWidget(this);
    ListBox_Ports->setObjectName(QStringLiteral("ListBox_Ports"));
    ListBox_Ports->setGeometry(5, 56, 88, 44);
    ListBox_Ports->setFont(arial);
    ListBox_Ports->setItemDelegate(new TItemHeight13(ListBox_Ports));
    ListBox_Ports->setUniformItemSizes(true);
    ListBox_Ports->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox_Ports->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Long names (/dev/serial/by-id/usb-...) differ at their ends: the
    // delegate keeps the end, with the beginning's first folder.
    ListBox_Ports->setTextElideMode(Qt::ElideMiddle);
    connect(ListBox_Ports, &QListWidget::itemClicked, this, [this] { MBPortListClick(); });

    Panel_OpenPort = new QFrame(this);
    Panel_OpenPort->setObjectName(QStringLiteral("Panel_OpenPort"));
    Panel_OpenPort->setGeometry(5, 56, 88, 44);
    Panel_OpenPort->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel_OpenPort->setLineWidth(1);
    Panel_OpenPort->setFont(arial);
    // Its request line changes with every request: an opaque panel keeps
    // that repaint inside it.
    Panel_OpenPort->setAutoFillBackground(true);
    Panel_OpenPort->hide();
    Label_OpenPortName = label(Panel_OpenPort, "Label_OpenPortName", {2, 0, 84, 13}, QString(), centre, false);
    Label_CurrentRequest = label(Panel_OpenPort, "Label_CurrentRequest", {2, 11, 84, 13}, QString(), centre, false);
    // The request line changes with every request and overlaps the port
    // name's last two rows. Filled, with the port name (transparent) on top
    // of it, a new request repaints the line and those two rows of the name,
    // not the panel behind them; the name's descenders still show.
    Label_CurrentRequest->setAutoFillBackground(true);
    Label_OpenPortName->raise();
    Image_SpeedGraph = label(Panel_OpenPort, "Image_SpeedGraph", {1, 24, 86, 19}, QString(), left, false);
    Image_SpeedGraphBuffer = label(Panel_OpenPort, "Image_SpeedGraphBuffer", {1, 24, 86, 19}, QString(), left, false);
    Image_SpeedGraphBuffer->hide();
    FGraphBuffer = QImage(mbpanel::TMBSpeedGraph::kWidth, mbpanel::TMBSpeedGraph::kHeight,
                          QImage::Format_RGB32);
    FGraphBuffer.fill(FFace);

    Shape_PortIndicator = new QFrame(this);
    Shape_PortIndicator->setObjectName(QStringLiteral("Shape_PortIndicator"));
    Shape_PortIndicator->setGeometry(97, 56, 55, 21);
    Shape_PortIndicator->setFrameStyle(QFrame::Box | QFrame::Plain);
    Shape_PortIndicator->setLineWidth(1);
    {
        QPalette pal = Shape_PortIndicator->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        Shape_PortIndicator->setPalette(pal);
    }
    SetIndicator(FFace);

    SpeedButton_OpenClose = new QToolButton(this);
    SpeedButton_OpenClose->setObjectName(QStringLiteral("SpeedButton_OpenClose"));
    SpeedButton_OpenClose->setGeometry(99, 58, 51, 17);
    SpeedButton_OpenClose->setText(QStringLiteral("Open"));
    SpeedButton_OpenClose->setCheckable(true);
    SpeedButton_OpenClose->setEnabled(false);
    SpeedButton_OpenClose->setFocusPolicy(Qt::NoFocus);
    connect(SpeedButton_OpenClose, &QToolButton::clicked, this, [this] { MBOpenCloseToggle(); });

    Button_Ref = new QPushButton(QStringLiteral("Ref"), this);
    Button_Ref->setObjectName(QStringLiteral("Button_Ref"));
    Button_Ref->setGeometry(97, 81, 28, 19);
    Button_Ref->setToolTip(QStringLiteral("Refresh list"));
    connect(Button_Ref, &QPushButton::clicked, this, [this] { MBRefreshPortList(); });

    Button_ClearCounters = new QPushButton(QStringLiteral("C"), this);
    Button_ClearCounters->setObjectName(QStringLiteral("Button_ClearCounters"));
    Button_ClearCounters->setGeometry(128, 81, 23, 19);
    Button_ClearCounters->setToolTip(QStringLiteral("Clear all counters"));
    connect(Button_ClearCounters, &QPushButton::clicked, this, [this] { MBClearCounters(); });
    SpeedButton_OpenClose->setFont(font());
    for (QPushButton* b : {Button_Ref, Button_ClearCounters}) {
        // No style sheet of their own: the caption fits the 19-pixel button
        // as it is, and each sheet cost the window's start 0.2 ms and 200 kB.
        b->setFont(font());
        b->setAutoDefault(false);
    }

    Label_LastStatus = label(this, "Label_LastStatus", {2, 103, 149, 13},
                             QStringLiteral("Last status: Closed Port"), centre, true);
    Label_LastStatus->setFont(arial);
    Label_Baud = label(this, "Label_Baud", {5, 115, 143, 15}, QString(), centre, false);
    Label_Baud->hide();

    ComboBox_Baud = new QComboBox(this);
    ComboBox_Baud->setObjectName(QStringLiteral("ComboBox_Baud"));
    ComboBox_Baud->setGeometry(5, 119, 144, 25);
    ComboBox_Baud->setEditable(false);
    ComboBox_Baud->setFont(font());
    ComboBox_Baud->setItemDelegate(new TItemHeight13(ComboBox_Baud));
    ComboBox_Baud->hide();
    connect(ComboBox_Baud, &QComboBox::activated, this, [this] { MBBaudListClick(); });

    Label_RequestHistory = label(this, "Label_RequestHistory", {6, 129, 145, 13}, QString(), right, false);
    Label_RequestHistory->setFont(arial);
    // It overlaps the rate list by a few pixels; clicks belong to the list.
    Label_RequestHistory->setAttribute(Qt::WA_TransparentForMouseEvents);

    // The port list comes first in the tab order.
    setTabOrder(ListBox_Ports, Button_Ref);
    setTabOrder(Button_Ref, Button_ClearCounters);
    setTabOrder(Button_ClearCounters, ComboBox_Baud);
}

void TMB::MBSetPortLister(TMBPortLister lister) {
    // The system's lister also says which ports it left out, and why.
    FPortLister = lister ? std::move(lister) : TMBPortLister([this](QStringList* list) { mb::ListPorts(list, &FLeftOut); });
}

// A framed box whose caption sits on the frame line, so that the controls
// below it keep the whole 157 x 145 pixels: a one-pixel line in the
// palette's mid tone with rounded corners of two pixels, 6 pixels from the
// top, broken for the caption 6 pixels from the left with 4 pixels on either
// side. Drawn here rather than by a style sheet, which made every control of
// the panel go through the style sheet machinery and cost the window's start
// over a millisecond.
void TMB::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QString text = title();
    const QFontMetrics fm(font());
    const int textWidth = fm.horizontalAdvance(text);
    const QRect caption(10, 0, textWidth, fm.height());

    p.save();
    if (!text.isEmpty())
        p.setClipRegion(QRegion(rect()) - caption.adjusted(-4, 0, 4, 0));
    p.setRenderHint(QPainter::Antialiasing);
    const QColor line = palette().color(QPalette::Mid);
    const QPen cornerPen(QBrush(line), 1, Qt::SolidLine, Qt::SquareCap);
    const qreal top = 6, w = width(), h = height() - top;
    // Each side is a one-pixel bar between the corners; each corner a
    // quarter of a circle of radius 2 drawn as two eighths, one with each side.
    auto side = [&](QRectF bar, QRectF arc1, int start1, int span1, QRectF arc2, int start2, int span2) {
        p.setPen(Qt::NoPen);
        p.setBrush(line);
        p.drawRect(bar);
        p.setPen(cornerPen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(arc1, start1 * 16, span1 * 16);
        p.drawArc(arc2, start2 * 16, span2 * 16);
    };
    const QRectF topLeft(0.5, top + 0.5, 3, 3), topRight(w - 3.5, top + 0.5, 3, 3);
    const QRectF bottomLeft(0.5, top + h - 3.5, 3, 3), bottomRight(w - 3.5, top + h - 3.5, 3, 3);
    side(QRectF(2, top + h - 1, w - 4, 1), bottomLeft, -90, -45, bottomRight, -90, 45);
    side(QRectF(w - 1, top + 2, 1, h - 4), topRight, 45, -45, bottomRight, 315, 45);
    side(QRectF(0, top + 2, 1, h - 4), topLeft, 135, 45, bottomLeft, 180, 45);
    side(QRectF(2, top, w - 4, 1), topLeft, 135, -45, topRight, 45, 45);
    p.restore();

    if (!text.isEmpty())
        style()->drawItemText(&p, caption, Qt::AlignCenter | Qt::TextHideMnemonic | Qt::TextDontClip, palette(),
                              isEnabled(), text, QPalette::WindowText);
}

void TMB::setMBBaudEditVisible(bool v) {
    FBaudEditVisible = v;
    MBUpdateView();
}

void TMB::SetBackground(QWidget* w, const QColor& c) {
    // Lamps and the status line are set at every transaction, mostly to the
    // colour they have; a new palette would be resolved and sent each time.
    const QPalette& now = w->palette();
    bool same = w->autoFillBackground();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        same = same && now.isBrushSet(group, QPalette::Window) && now.color(group, QPalette::Window) == c;
    if (same)
        return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, c);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

void TMB::SetIndicator(const QColor& c) { SetBackground(Shape_PortIndicator, c); }

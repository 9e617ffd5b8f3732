#include "MBarGraph.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

// A rectangle with a black one-pixel outline and a solid fill.
class TMBGShape : public QWidget {
public:
    TMBGShape(QWidget* parent, const QColor& fill) : QWidget(parent), m_fill(fill) {}
    void SetFill(const QColor& c) {
        if (c != m_fill) {
            m_fill = c;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), m_fill);
        p.setPen(Qt::black);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    QColor m_fill;
};

TMBarGraph::TMBarGraph(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("MBarGraph"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    resize(105, 17);
    setMinimumSize(30, 5);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    m_minusBar = new TMBGShape(this, m_params.minusAt1);
    m_minusBar->setObjectName(QStringLiteral("Shape_MinusBar"));
    m_plusBar = new TMBGShape(this, m_params.plusAt1);
    m_plusBar->setObjectName(QStringLiteral("Shape_PlusBar"));
    m_zeroMark = new TMBGShape(this, Qt::white);
    m_zeroMark->setObjectName(QStringLiteral("Shape_ZeroMark"));
    m_label = new QLabel(m_state.label.text, this);
    m_label->setObjectName(QStringLiteral("Label_Text"));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_label->setMargin(0);
    m_label->setIndent(0);

    // First places; the first layout replaces them.
    m_state.minusBar = {{1, 1, 0, 15}, m_params.minusAt1, false};
    m_state.plusBar = {{1, 1, 0, 15}, m_params.plusAt1, false};
    m_state.zeroMark = {{52, 1, 1, 15}, Qt::white, true};
    m_state.label.left = 2;
    m_state.label.top = 1;
    m_state.label.size = QFontMetrics(font()).size(Qt::TextSingleLine, m_state.label.text);
    Apply(false);
    m_state.firstLayout = true;
}

void TMBarGraph::setMBGOrientation(TMBGOrientation o) {
    m_params.orientation = o == orientationVertical ? orientationVertical : orientationHorizontal;
    if (m_params.orientation == orientationHorizontal)
        setMinimumSize(30, 6);
    else
        setMinimumSize(6, 30);
    UpdateLayout(true);
}

void TMBarGraph::setMBGValue(double v) {
    m_params.value = v;
    UpdateLayout(false);
}

void TMBarGraph::setMBGMinusColorAt0(const QColor& c) {
    m_params.minusAt0 = c;
    UpdateLayout(true);
}

void TMBarGraph::setMBGMinusColorAt1(const QColor& c) {
    m_params.minusAt1 = c;
    UpdateLayout(true);
}

void TMBarGraph::setMBGPlusColorAt0(const QColor& c) {
    m_params.plusAt0 = c;
    UpdateLayout(true);
}

void TMBarGraph::setMBGPlusColorAt1(const QColor& c) {
    m_params.plusAt1 = c;
    UpdateLayout(true);
}

void TMBarGraph::setMBGMode(TMBGMode m) {
    m_params.mode = m == modeSigned ? modeSigned : modeUnsigned;
    UpdateLayout(true);
}

void TMBarGraph::setMBGShowText(bool on) {
    m_params.showText = on;
    m_label->setVisible(on);
    UpdateLayout(true);
}

void TMBarGraph::setMBGInverseText(bool on) {
    m_params.inverseText = on;
    UpdateLayout(true);
}

void TMBarGraph::setMBGTextPosition(TMBGTextPosition pos) {
    m_params.textPosition = std::clamp(pos, tpInside, tpCentre);
    UpdateLayout(true);
}

void TMBarGraph::setMBGTextLeft(int left) {
    m_params.textLeft = left;
    UpdateLayout(true);
}

void TMBarGraph::setMBGTextTop(int top) {
    m_params.textTop = top;
    UpdateLayout(true);
}

void TMBarGraph::setMBGDecimals(int decimals) {
    m_params.decimals = std::clamp(decimals, 0, 4);
    UpdateLayout(true);
}

void TMBarGraph::UpdateLayout(bool force) {
    m_params.width = width();
    m_params.height = height();
    // The label measures its text in the control's font, which it takes over.
    const QFont f = font();
    const bool newText = mbg::Layout(m_state, m_params, force, [&f](const QString& text) {
        return QFontMetrics(f).size(Qt::TextSingleLine, text);
    });
    Apply(newText);
}

void TMBarGraph::resizeEvent(QResizeEvent* e) {
    QFrame::resizeEvent(e);
    UpdateLayout(true);
}

void TMBarGraph::Apply(bool newText) {
    auto place = [](TMBGShape* w, const mbg::Shape& s) {
        w->setGeometry(s.box.left, s.box.top, std::max(0, s.box.width), std::max(0, s.box.height));
        w->SetFill(s.fill);
        w->setVisible(s.visible);
    };
    place(m_minusBar, m_state.minusBar);
    place(m_plusBar, m_state.plusBar);
    place(m_zeroMark, m_state.zeroMark);
    const mbg::Label& lb = m_state.label;
    if (newText) {
        m_label->setFont(font());
        m_label->setText(lb.text);
        QPalette pal = m_label->palette();
        pal.setColor(QPalette::WindowText, lb.color);
        m_label->setPalette(pal);
    }
    m_label->setGeometry(lb.left, lb.top, lb.size.width(), lb.size.height());
    m_label->setVisible(lb.visible);
}

#pragma once
// TMBarGraph: a panel that shows a number as a coloured bar, signed (-1 .. 1,
// growing from a zero mark in the middle) or unsigned (0 .. 1, growing from
// the left or bottom edge), with an optional percentage text in unsigned
// horizontal mode.
//
// The control paints only its background and bevel; the bars, the zero mark
// and the text are child controls that each layout moves, sizes, colours,
// shows and hides. The geometry itself lives in MBarGraphLayout.h.
#include "MBarGraphLayout.h"

#include <QColor>
#include <QFrame>
#include <QLabel>

class TMBGShape;

class TMBarGraph : public QFrame {
    Q_OBJECT
    Q_PROPERTY(TMBGOrientation MBGOrientation READ MBGOrientation WRITE setMBGOrientation)
    Q_PROPERTY(double MBGValue READ MBGValue WRITE setMBGValue)
    Q_PROPERTY(QColor MBGMinusColorAt0 READ MBGMinusColorAt0 WRITE setMBGMinusColorAt0)
    Q_PROPERTY(QColor MBGMinusColorAt1 READ MBGMinusColorAt1 WRITE setMBGMinusColorAt1)
    Q_PROPERTY(QColor MBGPlusColorAt0 READ MBGPlusColorAt0 WRITE setMBGPlusColorAt0)
    Q_PROPERTY(QColor MBGPlusColorAt1 READ MBGPlusColorAt1 WRITE setMBGPlusColorAt1)
    Q_PROPERTY(TMBGMode MBGMode READ MBGMode WRITE setMBGMode)
    Q_PROPERTY(bool MBGShowText READ MBGShowText WRITE setMBGShowText)
    Q_PROPERTY(bool MBGInverseText READ MBGInverseText WRITE setMBGInverseText)
    Q_PROPERTY(TMBGTextPosition MBGTextPosition READ MBGTextPosition WRITE setMBGTextPosition)
    Q_PROPERTY(int MBGTextLeft READ MBGTextLeft WRITE setMBGTextLeft)
    Q_PROPERTY(int MBGTextTop READ MBGTextTop WRITE setMBGTextTop)
    Q_PROPERTY(quint8 MBGDecimals READ MBGDecimals WRITE setMBGDecimals)

public:
    explicit TMBarGraph(QWidget* parent = nullptr);

    TMBGOrientation MBGOrientation() const { return m_params.orientation; }
    void setMBGOrientation(TMBGOrientation o);
    double MBGValue() const { return m_params.value; }
    void setMBGValue(double v);
    QColor MBGMinusColorAt0() const { return m_params.minusAt0; }
    void setMBGMinusColorAt0(const QColor& c);
    QColor MBGMinusColorAt1() const { return m_params.minusAt1; }
    void setMBGMinusColorAt1(const QColor& c);
    QColor MBGPlusColorAt0() const { return m_params.plusAt0; }
    void setMBGPlusColorAt0(const QColor& c);
    QColor MBGPlusColorAt1() const { return m_params.plusAt1; }
    void setMBGPlusColorAt1(const QColor& c);
    TMBGMode MBGMode() const { return m_params.mode; }
    void setMBGMode(TMBGMode m);
    bool MBGShowText() const { return m_params.showText; }
    void setMBGShowText(bool on);
    bool MBGInverseText() const { return m_params.inverseText; }
    void setMBGInverseText(bool on);
    TMBGTextPosition MBGTextPosition() const { return m_params.textPosition; }
    void setMBGTextPosition(TMBGTextPosition pos);
    int MBGTextLeft() const { return m_params.textLeft; }
    void setMBGTextLeft(int left);
    int MBGTextTop() const { return m_params.textTop; }
    void setMBGTextTop(int top);
    quint8 MBGDecimals() const { return static_cast<quint8>(m_params.decimals); }
    void setMBGDecimals(int decimals); // above 4 is stored as 4

    // Lays the children out; the bars are redrawn when forced, when the drawn
    // value changed, or at the first layout.
    void UpdateLayout(bool force);

    static QColor BlendColor(const QColor& c0, const QColor& c1, double x) {
        return mbg::BlendColor(c0, c1, x);
    }
    static QColor InverseColor(const QColor& c) { return mbg::InverseColor(c); }

    // The result of the last layout (children's places, colours, text side).
    const mbg::State& LayoutState() const { return m_state; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void Apply(bool newText);

    mbg::Params m_params;
    mbg::State m_state;
    TMBGShape* m_minusBar = nullptr;
    TMBGShape* m_plusBar = nullptr;
    TMBGShape* m_zeroMark = nullptr;
    QLabel* m_label = nullptr;
};

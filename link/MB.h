#pragma once
// TMB: the serial link component, a group box that carries its own panel.
// (Placeholder until the panel lands: only what the main window places.)
#include "MBTypes.h"

#include <QGroupBox>
#include <QString>

class TMB : public QGroupBox {
    Q_OBJECT
public:
    explicit TMB(QWidget* parent = nullptr);
};

#pragma once
// TForm1: an earlier version of the switch forcing panel (the schematic with
// its toggle buttons and state marks). It is created at start-up and never
// shown, and has no behaviour of its own.
#include "ui_Piszkozat.h"

#include <QWidget>

class TForm1 : public QWidget, public Ui_Form1 {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
};

#include "MB.h"

TMB::TMB(QWidget* parent) : QGroupBox(parent) {
    setTitle(QStringLiteral("ASCII Master v2016.10.11."));
    setFixedSize(157, 145);
}

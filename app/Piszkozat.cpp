#include "Piszkozat.h"

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setupUi(this);
}

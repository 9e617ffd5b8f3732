#include "Piszkozat.h"

#include "LazyPicture.h"
#include "Pictures.h"

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setupUi(this);
    kv::ShowPictureWhenShown(Image1, kv::pictures::FetSchematic);
}

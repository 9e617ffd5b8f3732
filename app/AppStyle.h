#pragma once
// The look the window is laid out for. Its places are pixels, made for
// captions that sit on the group frames and for classic control metrics, so
// the program keeps that look wherever it runs instead of following the
// desktop's style (which would move frames and clip captions). One change to
// it: a toggle button that is down is plainly sunken and tinted.
#include <QColor>

class QApplication;
class QStyle;

namespace kv {

void UseClassicLook(QApplication& application);
// The style UseClassicLook sets (the caller owns it).
QStyle* CreateClassicStyle();
// The face of a button that is down.
QColor DownFace();

} // namespace kv

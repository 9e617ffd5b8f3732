#pragma once
// The look the window is laid out for. Its places are pixels, made for
// captions that sit on the group frames and for classic control metrics, so
// the program keeps that look wherever it runs instead of following the
// desktop's style (which would move frames and clip captions).
class QApplication;

namespace kv {

void UseClassicLook(QApplication& application);

} // namespace kv

#pragma once
// Pictures that are decoded when their control is first shown, so that the
// pictures of pages the user never opens cost nothing at start-up.
class QLabel;
class QWidget;
class TSpeedButton;

namespace kv {

// The named picture (Pictures.h) goes into the label when it is first shown;
// a null name leaves the label empty.
void ShowPictureWhenShown(QLabel* label, const char* name);
// The named picture becomes the button's glyph when it is first shown.
void ShowGlyphWhenShown(TSpeedButton* button, const char* name);

} // namespace kv

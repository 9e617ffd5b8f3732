#pragma once
// The window's pictures: wiring sketches of the calibration steps, the switch
// schematic of the FET page, the calibration-OK mark and the Next/Back
// glyphs. They are JPEG files compiled into the program as Qt resources
// (app/pictures/pictures.qrc) and decoded with libjpeg at run time.

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <cstddef>

namespace kv {

// Decodes a JPEG file held in memory. Gives a null image for anything that is
// not a whole, undamaged JPEG picture of at most 4096 x 4096 pixels (empty,
// truncated, corrupt, CMYK, absurdly large); never crashes or overruns.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);

// The named picture (one of the names below) from the resources, decoded with
// DecodeJpeg. An empty pixmap when the name is unknown or the picture damaged.
QPixmap Picture(const QString& name);

namespace pictures {

// Input calibration wizard, 350 x 351, under the step page's title.
inline constexpr char WiringA[] = "wiring_a";  // steps 1, 2: 4-wire offsets, input open (nothing connected)
inline constexpr char WiringB[] = "wiring_b";  // steps 3, 5: 3-wire offsets, input open (nothing connected)
inline constexpr char WiringC[] = "wiring_c";  // steps 6, 7: 3-wire, 500 ohm reference resistor R
inline constexpr char WiringD[] = "wiring_d";  // steps 10, 11: 3-wire, 5 kohm reference resistor R
inline constexpr char WiringE[] = "wiring_e";  // steps 13, 15: 2-wire, the 500 ohm R of step 7
inline constexpr char WiringF[] = "wiring_f";  // steps 16, 17: 2-wire, the 5 kohm R of step 11
inline constexpr char WiringG[] = "wiring_g";  // step 18: 4-wire, the 500 ohm R of step 7
inline constexpr char WiringH[] = "wiring_h";  // step 19: 4-wire, the 5 kohm R of step 11
inline constexpr char WiringI[] = "wiring_i";  // steps 20, 21: mV input + (2) and - (3) shorted
inline constexpr char WiringJ[] = "wiring_j";  // step 22: reference voltage Ucal on + (2) and - (3)
// Output calibration wizard, 460 x 180.
inline constexpr char WiringK[] = "wiring_k";  // output steps 1, 2: milliammeter on 5 (Iout) and 7 (common)
inline constexpr char WiringL[] = "wiring_l";  // output steps 4, 5: voltmeter on 6 (Uout) and 7 (common)
// FET page.
inline constexpr char FetSchematic[] = "fet_schematic";  // Image1, 593 x 433: input circuit with its six switches
// Marks and glyphs, 32 x 32, on the button-face colour.
inline constexpr char CalibrationOK[] = "calibration_ok";  // Image_InputCalibrationOK and Image_OutputCalibrationOK
inline constexpr char GlyphNext[] = "glyph_next";  // SpeedButton_CalibrationNext, SpeedButton_OutputCalibrationNext
inline constexpr char GlyphBack[] = "glyph_back";  // SpeedButton_CalibrationBack, SpeedButton_OutputCalibrationBack

struct PictureSize {
    const char* name;
    int width;
    int height;
};

// Every shipped picture with the size it is drawn at (and must decode to).
inline constexpr PictureSize kAll[] = {
    {WiringA, 350, 351}, {WiringB, 350, 351}, {WiringC, 350, 351}, {WiringD, 350, 351},
    {WiringE, 350, 351}, {WiringF, 350, 351}, {WiringG, 350, 351}, {WiringH, 350, 351},
    {WiringI, 350, 351}, {WiringJ, 350, 351}, {WiringK, 460, 180}, {WiringL, 460, 180},
    {FetSchematic, 593, 433}, {CalibrationOK, 32, 32}, {GlyphNext, 32, 32}, {GlyphBack, 32, 32},
};

// The wiring picture of an input calibration page, by the number in its
// caption ("Step 7/23" -> 7); null for step 23 and numbers without a page.
const char* InputCalibrationPicture(int step);
// The wiring picture of an output calibration page ("Step 4/7" -> 4); null
// for the pages without one (3, 6, 7).
const char* OutputCalibrationPicture(int step);

// Where the FET page's controls go on the schematic, in the picture's own
// pixel coordinates (add Image1's position on the page). The schematic is
// drawn from the same table, so the contacts lie exactly under the marks.
struct SchematicPlace {
    const char* objectName;
    QRect rect;
};

// The six switch buttons, 55 x 15 each, beside the switch they force.
inline constexpr SchematicPlace kSchematicButtons[] = {
    {"SpeedButton_I400uA", QRect(233, 59, 55, 15)},
    {"SpeedButton_3W", QRect(118, 121, 55, 15)},
    {"SpeedButton_Kelvin", QRect(183, 144, 55, 15)},
    {"SpeedButton_Az", QRect(373, 188, 55, 15)},
    {"SpeedButton_PotR", QRect(178, 258, 55, 15)},
    {"SpeedButton_3WAlt", QRect(345, 283, 55, 15)},
};

// The eleven state marks: black bars that close the drawn contact gaps.
// A horizontal contact is 20 x 4, a vertical one 4 x 20.
inline constexpr SchematicPlace kSchematicMarks[] = {
    {"Shape_I400uA1", QRect(198, 56, 4, 20)},
    {"Shape_I400uAn", QRect(318, 56, 4, 20)},
    {"Shape_I400uA2", QRect(468, 362, 4, 20)},
    {"Shape_3W", QRect(108, 118, 4, 20)},
    {"Shape_Kelvin", QRect(200, 163, 20, 4)},
    {"Shape_KelvinNeg", QRect(200, 223, 20, 4)},
    {"Shape_Azn", QRect(380, 163, 20, 4)},
    {"Shape_Az", QRect(438, 185, 4, 20)},
    {"Shape_PotR", QRect(238, 255, 4, 20)},
    {"Shape_3WAlt", QRect(350, 268, 20, 4)},
    {"Shape_3WAltn", QRect(418, 278, 4, 20)},
};

}  // namespace pictures
}  // namespace kv

#pragma once
// The calibration wizards' visible log: both wizards append a step's lines
// as Next leaves it and take exactly as many away when Back returns to it.
#include "CalibrationLogSeparator.h"

#include <QString>

class QListWidget;

// Appends `line` in the window's language (after the separator when
// `separator` is set) and selects the last line, which scrolls it into view.
void AddCalibrationLogLine(QListWidget* list, const QString& line, bool separator);
// Deletes the last line `count` times (0 to 255; fewer when the list is
// shorter), then selects the last remaining line.
void RemoveCalibrationLogLines(QListWidget* list, int count);

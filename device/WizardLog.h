#pragma once
// The calibration wizards' log as both programs keep it: the window's list
// and kvctl's certificate show a step's lines after this separator line.

// The separator line that opens a step's group of lines.
inline constexpr const char* kCalibrationLogSeparator = "-------------------------------------------";

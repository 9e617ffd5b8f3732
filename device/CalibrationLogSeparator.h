#pragma once
// The separator line that opens a step's group of lines in both calibration
// wizards' logs: the window's log lists and kvctl's certificates.
inline constexpr const char* kCalibrationLogSeparator = "-------------------------------------------";

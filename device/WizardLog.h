#pragma once
// The calibration wizards' log lines as texts: a step's caption line, and a
// line as a reader sees it. The logs keep their lines in the wizards' own
// language (what the window shows in Hungarian, what a certificate's JSON
// keeps); the window's lists, kvctl's output and the certificate's PDF show
// them in their language: the step captions translated, the value lines
// ("RREF_500_3W = 250,00 ohm") as they are.
#include "CalibrationLogSeparator.h"

#include <QString>

#include <string>

namespace kv::lang {
class TTranslation;
}

namespace kv {

// "Lépés 7:", the line that opens the lines of step 7.
std::string StepCaptionLine(int number);

// `line` in the program's language (its installed translation), or in
// `translation`'s.
QString LogLineText(const QString& line, const lang::TTranslation* translation = nullptr);

} // namespace kv

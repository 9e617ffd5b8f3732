#include "WizardLog.h"

#include "Language.h"

#include <QCoreApplication>

namespace kv {

namespace {

constexpr char kContext[] = "WizardLog";
const char* const kStepCaption = QT_TRANSLATE_NOOP("WizardLog", "Lépés %1:");

} // namespace

std::string StepCaptionLine(int number) { return QString::fromUtf8(kStepCaption).arg(number).toStdString(); }

QString LogLineText(const QString& line, const lang::TTranslation* translation) {
    const QString translated =
        translation ? translation->Text(kContext, kStepCaption) : QCoreApplication::translate(kContext, kStepCaption);
    return lang::Rephrase(line, QString::fromUtf8(kStepCaption), translated).value_or(line);
}

} // namespace kv

// TForm_Main: the developer page. Its channel display, switch marks and
// switch buttons are written by the status display; here are the page's own
// rules: when the switch buttons force the device, and what a page change
// starts.
#include "Main.h"

#include "SpeedButton.h"

#include <QTabWidget>

void TForm_Main::SetupDeveloperPage() {
    connect(PageControl2, &QTabWidget::currentChanged, this, [this](int index) { PageControl2Change(index); });
}

bool TForm_Main::SwitchForcingActive() const {
    // Leaving either page ends forcing at the next poll, though "Force
    // Control" stays down; coming back resumes it with the buttons as they are.
    return DeveloperAccess && PageControl1->currentWidget() == TabSheet_DeveloperTool &&
           PageControl2->currentWidget() == TabSheet_FETControl && SpeedButton_FETForceControl->Down();
}

void TForm_Main::PageControl2Change(int index) {
    // The output calibration is always done from its first step; the other
    // pages keep their state.
    if (PageControl2->widget(index) != TabSheet_OutputCalibration)
        return;
    RestartOutputCalibration();
}

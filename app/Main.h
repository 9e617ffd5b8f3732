#pragma once
// TForm_Main: the main window of the setup program.
//
// The layout (controls, names, captions, places, start states) is data in the
// .ui files beside this header, one per page; the window inherits their
// control pointers, so every control is a member under its own name
// (Label3, PageControl1, SpeedButton_ReadSettingsFromInstrument, ...).
// Behaviour lives in the Main*.cpp files, split by concern.
#include "LazyFileDialog.h"
#include "DeviceRecords.h"
#include "InputCalibrationWizard.h"
#include "OutputCalibrationWizard.h"
#include "MBTypes.h"
#include "PollCycle.h"
#include "SettingsModel.h"

#include "ui_DeveloperTool.h"
#include "ui_InputCalibration.h"
#include "ui_Main.h"
#include "ui_OutputCalibration.h"
#include "ui_Settings.h"

#include <QString>
#include <QStringList>
#include <QMargins>
#include <QRect>
#include <QWidget>

#include <QDate>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TMBTimerFactory;
class TSpeedButton;
namespace kv {
class TWindowScroller;
}

// What the program entry hands to the window.
struct TFormMainOptions {
    // The command-line parameters, without the program path.
    QStringList Parameters;
    // The INI file; empty means the usual place (DefaultIniFileName).
    QString IniFileName;
    // --connect PORT: open this port once the link panel has listed the ports.
    QString ConnectPort;
    // The link's timers in place of QTimer (tests drive the poll cycle on a
    // manual clock); null in the program. Must outlive the window.
    TMBTimerFactory* LinkTimers = nullptr;
};

class TForm_Main : public QWidget,
                   public Ui_Form_Main,
                   public Ui_TabSheet_DeveloperTool,
                   public Ui_TabSheet_InputCalibration,
                   public Ui_TabSheet_OutputCalibration,
                   public Ui_TabSheet_Settings {
    Q_OBJECT

public:
    explicit TForm_Main(const TFormMainOptions& options = {}, QWidget* parent = nullptr);
    ~TForm_Main() override;

    // --- Shell: start-up, title, access level, INI file, close.
    void FormCreate();
    void FormActivate();
    // Fits the window into a screen's available area, title bar included;
    // the content scrolls where the area is smaller than the layout.
    void FitToScreen(const QRect& available, const QMargins& frame);
    kv::TWindowScroller* WindowScroller() const { return m_scroller; }
    void FormClose();
    bool HasDeveloperAccess() const { return HasDeveloperAccess(m_options.Parameters); }
    // True when any parameter, upper-cased and stripped of blanks and control
    // characters at both ends, is exactly "/QORMIX".
    static bool HasDeveloperAccess(const QStringList& parameters);
    void ApplyAccessLevel();
    void ReadIniFile();
    // False when a write failed (the rest is then left unwritten).
    bool WriteIniFile();
    QString IniFileName() const { return m_iniFileName; }

    // The window title for an access level (what FormActivate shows).
    static QString TitleText(bool developerAccess);

    // Beside the executable, named after it with ".ini", when that folder is
    // writable, is no installed program's folder and the INI file there is no
    // symbolic link of another user; otherwise in the user's configuration
    // folder ($XDG_CONFIG_HOME or ~/.config) in a subfolder named after the
    // program.
    static QString DefaultIniFileName();
    // An installed program's folder: the build's install folder, /usr/bin, or
    // any folder named "bin" (~/.local/bin, /opt/kv/bin: an install with
    // another prefix, shared with other programs).
    static bool IsInstalledProgramFolder(const QString& folder);
    static QString IniFileNameFor(const QString& executable, bool executableFolderWritable,
                                  const QString& configHome);

    // --- Link events (the poll cycle answers them).
    void MB1MBPortOpenedOrClosed(bool MBbPortOpen);
    // Forwards to the poll cycle (device/PollCycle.h), which decides the
    // next request and hands on what the answer carries.
    void MB1MBMasterEndOfEvent(TMBStatus MBStatus, const QString& MBStatusString);

    // --- Poll cycle and device commands (MainPoll.cpp; the cycle itself,
    // its dispatcher and late-answer rules, in device/PollCycle.h). The
    // window gives it the poll's inputs and keeps what is pending in its
    // toggle buttons' down state.
    kv::TPollCycle& PollCycle() { return *m_pollCycle; }
    // Composes the poll (command 1) from the window's state and starts it.
    void StartPoll();
    // The switch forcing byte: 0x80 plus the bit of each switch that is on.
    static std::uint8_t FETControlByte(bool w3, bool az, bool kelvin, bool i400uA, bool potFix, bool w3Alt);
    // The one-shot maintenance actions whose buttons are down.
    std::uint8_t MaintenanceBits() const;
    // The FET byte the next poll carries, by the pages shown.
    std::uint8_t PollFETControl() const;
    // The PWM value the next poll carries, by the pages shown.
    std::uint16_t PollPWMValue() const;
    // Command composers: each starts its command through the cycle (a
    // write the window cannot compose is released unsent and a poll goes
    // out instead).
    void SendWriteInputCalibration() { m_pollCycle->StartCommand(kv::pendWriteInputCalibration); }
    void SendWriteOutputCalibration() { m_pollCycle->StartCommand(kv::pendWriteOutputCalibration); }
    void SendReadSettings() { m_pollCycle->StartCommand(kv::pendReadSettings); }
    void SendWriteSettings() { m_pollCycle->StartCommand(kv::pendWriteSettings); }
    void SendReadFactoryDefaults() { m_pollCycle->StartCommand(kv::pendReadFactoryDefaults); }
    // The records the write commands carry; none withdraws the write (a
    // calibration not computed, or one no device can use).
    std::optional<std::vector<std::uint8_t>> InputCalibrationWriteData() const;
    std::optional<std::vector<std::uint8_t>> OutputCalibrationWriteData() const;
    // The PC's local date, read once per poll.
    std::function<QDate()> LocalDate;
    // What command 2 writes; the input calibration wizard fills it.
    kv::InputCalibrationRecord InputCalibrationToWrite;
    // Set by the calibration wizards once they have computed what commands 2
    // and 3 write. Until then a pressed write button is released without
    // sending: values never measured would overwrite the device's calibration.
    bool InputCalibrationComputed = false;
    bool OutputCalibrationComputed = false;

    // --- Device settings (MainSettings.cpp)
    // What the settings page's controls hold, and the record a write sends.
    kv::SettingsPage PageFromControls() const;
    kv::SettingsRecord SettingsFromControls() const;
    // Puts a page state into the controls in the settings file's order;
    // groups whose selection changes run their click handlers.
    void ApplySettingsPage(const kv::SettingsPage& page);
    // Shows a settings record the device sent (command 5 or 6) on the page,
    // and takes the display formats of its mode.
    void ApplySettingsAnswer(const kv::SettingsRecord& record);
    void RadioGroup_ModeClick();
    void RadioGroup_CJCClick() { RadioGroup_ModeClick(); }
    void RadioGroup_WiresClick() { RadioGroup_ModeClick(); }
    void RadioGroup_TCTypeClick() {}
    void PlaceRof2WireGroup(bool thermocouplePlace);
    void UpdateOutputLabels();
    void SetErrorSignalCaptions(const QString& low, const QString& high);
    // A typed comma or full stop becomes the locale's decimal separator.
    static QChar MapDecimalMark(QChar typed);
    void Edit_FizikaiForOutLKeyPress(QChar& Key);
    void Edit_FizikaiForOutHKeyPress(QChar& Key);

    // --- Settings files (MainSettingsFile.cpp)
    // Save the page to a .kvs file, or load one into the page; neither
    // touches the link.
    void SpeedButton_SaveSettingsToFileClick();
    void SpeedButton_OpenSettingsFileClick();
    // Shows a prepared file dialog and gives the chosen file, empty when the
    // user cancels. Tests replace it to choose without a dialog.
    std::function<QString(QFileDialog* dialog)> ChooseSettingsFile;
    // The texts of the three file errors, as the code has them (shown by
    // ShowErrorMessage in the window's language: Translated).
    static const QString kSaveFailedText;
    static const QString kNotSettingsFileText;
    static const QString kDamagedFileText;
    static QString Translated(const QString& text);

    // --- Status display (MainStatus.cpp)
    // Shows a good poll answer: the display and the stored values below.
    void DecodePollAnswer(const kv::PollAnswer& a);
    // The physical and calculated values, by CalibrationFlags and the
    // display formats; a value that cannot be shown leaves its label alone.
    void ShowMeasuredValues(double x);
    // The analogue output as a percentage and on the progress bar.
    void ShowOutputPercent(double x);
    // Text and colours of Label_Status; codes above 5 change nothing.
    void ShowStatus(std::uint32_t code);
    // Values of the last good poll answer.
    std::int32_t ADCH0Average = 0;
    std::int32_t ADCH1Average = 0;
    std::uint32_t ADStatusFlags = 0;
    std::uint8_t AuCH0 = 0;
    std::uint8_t ErrorFlags = 0;
    std::uint8_t CalibrationFlags = 0;
    std::uint32_t StatusCode = 0;
    double PhysicalValue = 0;
    double InternalTemperature = 0;
    double InternalTemperatureMin = 0;
    double InternalTemperatureMax = 0;
    double CalculatedValue = 0;
    double CJCTemperature = 0;
    double WireResistance = 0;

    // --- Developer page (MainDeveloper.cpp)
    // Switch forcing holds while the developer page shows its FET Control
    // page and "Force Control" is down; the poll then carries the buttons.
    bool SwitchForcingActive() const;
    // Showing the output calibration page starts its wizard afresh.
    void PageControl2Change(int index);

    // --- Input calibration wizard (MainInputCalibration.cpp; its arithmetic,
    // log lines and step table in InputCalibrationWizard.h)
    void SpeedButton_CalibrationNextClick();
    void SpeedButton_CalibrationBackClick();
    void Edit_ETALON_500KeyPress(QChar& Key);
    void Edit_ETALON_5KKeyPress(QChar& Key);
    void Edit_ETALON_UKeyPress(QChar& Key);
    // A press that would write a coefficient no device can use is taken back.
    void SpeedButton_WriteCalibrationToKVClick();
    // The step page PageControl3 shows, as an index into kv::incal::kSteps.
    std::size_t InputCalibrationStep() const;
    // The wizard's coefficients and working values.
    kv::incal::TValues InputCalibration;
    // The application's error message box (error icon, OK); tests put their
    // own here, since a modal box waits for a person.
    std::function<void(const QString&)> ShowErrorMessage;

    // --- Output calibration wizard and PWM forcing (MainOutputCalibration.cpp)
    // Shows PWMValue (text, track bar, progress bar) and derives the value
    // the poll forces, PWMForceValue, which is never 0.
    void ShowPWMValue();
    // Sets the controls and the forced value for the step shown.
    void UpdateOutputCalibrationPage();
    // Step 1 again, with an empty log and the stored values kept; a pending
    // write stays pending until a Next changes a stored value.
    void RestartOutputCalibration();
    void SpeedButton_OutputCalibrationNextClick();
    void SpeedButton_OutputCalibrationBackClick();
    // The operator moved the track bar (only while it has the focus).
    void TrackBar_PWMChange();
    void Button_IM10000Click() { OutputValueButtonClick(kv::outcal::btnIM10000); }
    void Button_IM1000Click() { OutputValueButtonClick(kv::outcal::btnIM1000); }
    void Button_IM100Click() { OutputValueButtonClick(kv::outcal::btnIM100); }
    void Button_IM10Click() { OutputValueButtonClick(kv::outcal::btnIM10); }
    void Button_IM1Click() { OutputValueButtonClick(kv::outcal::btnIM1); }
    void Button_IP1Click() { OutputValueButtonClick(kv::outcal::btnIP1); }
    void Button_IP10Click() { OutputValueButtonClick(kv::outcal::btnIP10); }
    void Button_IP100Click() { OutputValueButtonClick(kv::outcal::btnIP100); }
    void Button_IP1000Click() { OutputValueButtonClick(kv::outcal::btnIP1000); }
    void Button_IP10000Click() { OutputValueButtonClick(kv::outcal::btnIP10000); }
    void Button_Out0Click() { OutputValueButtonClick(kv::outcal::btnOut0); }
    void Button_OutVegertekClick() { OutputValueButtonClick(kv::outcal::btnOutVegertek); }
    // A test button forces its value only when the click left it down.
    void SpeedButton_Test4mAClick() { OutputTestButtonClick(kv::outcal::tp4mA); }
    void SpeedButton_Test12mAClick() { OutputTestButtonClick(kv::outcal::tp12mA); }
    void SpeedButton_Test20mAClick() { OutputTestButtonClick(kv::outcal::tp20mA); }
    void SpeedButton_Test2VClick() { OutputTestButtonClick(kv::outcal::tp2V); }
    void SpeedButton_Test6VClick() { OutputTestButtonClick(kv::outcal::tp6V); }
    void SpeedButton_Test10VClick() { OutputTestButtonClick(kv::outcal::tp10V); }

    // --- State of the window.
    bool DeveloperAccess = false;

    std::int32_t PWMValue = 0;
    std::int32_t PWMForceValue = 0;
    std::int32_t PWMForIL = 0;
    std::int32_t PWMForIH = 0;
    std::int32_t PWMForUL = 0;
    std::int32_t PWMForUH = 0;
    std::uint32_t PCBIdentityAddress = 0;

    QString FizikaiErtekFormat;
    QString FizikaiErtekUnit;
    QString SzamitottErtekFormat;
    QString SzamitottErtekUnit;

    // The settings file dialogs, made on first use.
    TLazyFileDialog SaveDialog1{this, QStringLiteral("SaveDialog1"), QFileDialog::AcceptSave};
    TLazyFileDialog OpenDialog1{this, QStringLiteral("OpenDialog1"), QFileDialog::AcceptOpen};

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Layout: what the .ui files cannot say (pixel fonts, hidden tab bars,
    // the link component's stored settings, bar graphs, pictures).
    void SetupLayout();
    void SetupLinkComponent();
    void UseLinkTimers(TMBTimerFactory* timers);
    // Poll cycle and device settings: handlers bound to the controls.
    void SetupPollCycle();
    void SetupSettingsPage();
    void SetupSettingsFiles();
    // Developer page: handlers bound to its page control.
    void SetupDeveloperPage();
    void SetupInputCalibration();
    // Reads a step's reference edit into the wizard; false (the edit red and
    // focused) when its text is not a number.
    bool ReadReferenceEdit(kv::incal::TReference ref);
    void SetupBarGraphs();
    // Output calibration: handlers bound to its controls.
    void SetupOutputCalibration();
    void OutputValueButtonClick(kv::outcal::TValueButton button);
    void OutputTestButtonClick(kv::outcal::TTestPoint point);
    TSpeedButton* TestButton(kv::outcal::TTestPoint point) const;
    std::int32_t& StoredPWM(kv::outcal::TStoredPWM which);
    void SetupPictures();
    void PinFontsToPixels(QWidget* root);
    void ConnectOnStart();

    // What the poll cycle asks of the window, and the cycle (after them:
    // it goes first).
    std::unique_ptr<kv::TPollInputs> m_pollInputs;
    std::unique_ptr<kv::TPendingRequests> m_pending;
    std::unique_ptr<kv::TPollCycle> m_pollCycle;

    TFormMainOptions m_options;
    QString m_iniFileName;
    bool m_closed = false;
    bool m_shownOnce = false;
    kv::TWindowScroller* m_scroller = nullptr;
};

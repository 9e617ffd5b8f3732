// TForm_Main: construction and the parts of the layout that the .ui files
// cannot hold.
#include "Main.h"

#include "WindowFit.h"

#include "LazyPicture.h"
#include "MB.h"
#include "MBarGraph.h"
#include "Pictures.h"
#include "SpeedButton.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTabBar>

#include <cmath>
#include <functional>
#include <utility>

namespace {

// List boxes whose lines have a fixed height, whatever the font.
class TFixedRowDelegate : public QStyledItemDelegate {
public:
    TFixedRowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), m_height(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(m_height);
        return size;
    }

private:
    int m_height;
};

void SetRowHeight(QListWidget* list, int height) {
    list->setUniformItemSizes(true);
    list->setItemDelegate(new TFixedRowDelegate(height, list));
}

// Two radio buttons of one group box: checking one unchecks the other, but
// unchecking one leaves the other alone, so that neither may be checked (as a
// loaded settings file can say). A click never unchecks: the button clicked
// is checked afterwards, as in the radio groups.
void PairRadioButtons(QRadioButton* a, QRadioButton* b) {
    for (auto [self, other] : {std::pair{a, b}, std::pair{b, a}}) {
        self->setAutoExclusive(false);
        QObject::connect(self, &QRadioButton::toggled, other, [other](bool on) {
            if (on)
                other->setChecked(false);
        });
        QObject::connect(self, &QRadioButton::clicked, self, [self = self] { self->setChecked(true); });
    }
}

} // namespace

TForm_Main::TForm_Main(const TFormMainOptions& options, QWidget* parent)
    : QWidget(parent), m_options(options) {
    m_iniFileName = options.IniFileName.isEmpty() ? DefaultIniFileName() : options.IniFileName;

    // The components come from the layout first, as the window is loaded...
    Ui_Form_Main::setupUi(this);
    Ui_TabSheet_Settings::setupUi(TabSheet_Settings);
    Ui_TabSheet_DeveloperTool::setupUi(TabSheet_DeveloperTool);
    Ui_TabSheet_InputCalibration::setupUi(TabSheet_InputCalibration);
    Ui_TabSheet_OutputCalibration::setupUi(TabSheet_OutputCalibration);
    if (m_options.LinkTimers)
        UseLinkTimers(m_options.LinkTimers);
    SetupLayout();
    SetupPollCycle();
    SetupSettingsPage();
    SetupSettingsFiles();
    SetupOutputCalibration();

    // ...then the window's own start-up.
    FormCreate();

    if (!m_options.ConnectPort.isEmpty())
        ConnectOnStart();
}

TForm_Main::~TForm_Main() = default;

// The link component as the layout placed it, but running on other timers:
// the engine takes its clock when it is made, so the layout's component is
// replaced by one made on those timers before anything is bound to it.
void TForm_Main::UseLinkTimers(TMBTimerFactory* timers) {
    TMB* placed = MB1;
    auto* mb = new TMB(placed->parentWidget(), timers, nullptr);
    mb->setObjectName(placed->objectName());
    mb->setMinimumSize(placed->minimumSize());
    mb->setMaximumSize(placed->maximumSize());
    mb->setGeometry(placed->geometry());
    delete placed;
    MB1 = mb;
}

void TForm_Main::SetupLayout() {
    // The wizards move only with Next and Back.
    PageControl3->tabBar()->hide();
    PageControl4->tabBar()->hide();

    PinFontsToPixels(this);

    SetRowHeight(ListBox_Calibrated, 16);
    SetRowHeight(ListBox_OutputCalibrated, 16);
    PairRadioButtons(RadioButton_ErrorLow, RadioButton_ErrorHigh);

    SetupLinkComponent();
    SetupBarGraphs();
    SetupPictures();
    // Developer page
    SetupDeveloperPage();
    SetupInputCalibration();

    // The layout's size is the content's; on a smaller screen it scrolls.
    m_scroller = new kv::TWindowScroller(this, size());
    // Placed at the centre of the desktop when first shown (MainShell).
}

// The layout gives fonts in points at the design resolution of 96 dots per
// inch, as the places are given in pixels. Pinning every such font to its
// pixel size keeps text and places together on any screen.
void TForm_Main::PinFontsToPixels(QWidget* root) {
    std::function<void(QWidget*)> pin = [&](QWidget* w) {
        if (w->testAttribute(Qt::WA_SetFont)) {
            QFont f = w->font();
            if (f.pointSizeF() > 0) {
                f.setPixelSize(static_cast<int>(std::lround(f.pointSizeF() * 96.0 / 72.0)));
                w->setFont(f);
            }
        }
        for (QObject* child : w->children()) {
            auto* cw = qobject_cast<QWidget*>(child);
            // The link component and the bar graphs choose their own fonts.
            if (!cw || qobject_cast<TMB*>(cw) || qobject_cast<TMBarGraph*>(cw))
                continue;
            pin(cw);
        }
    };
    pin(root);
}

// The settings the window stores for its link component, and its events.
void TForm_Main::SetupLinkComponent() {
    MB1->setPort(QStringLiteral("COM1"));
    MB1->setWinQSizeIn(8192);
    MB1->setWinQSizeOut(8192);
    MB1->setMBSlaveName("MB Slave");
    MB1->setMBDataNumberToSend(0);
    // The user cannot change the line rate: the transmitter talks at 115 200.
    MB1->setMBBaudEditVisible(false);
    MB1->OnMBMasterEndOfEvent = [this](TMBStatus status, const std::string& text) {
        MB1MBMasterEndOfEvent(status, QString::fromStdString(text));
    };
    MB1->OnMBPortOpenedOrClosed = [this](bool open) { MB1MBPortOpenedOrClosed(open); };
}

void TForm_Main::SetupBarGraphs() {
    const struct {
        TMBarGraph* bar;
        double value;
    } bars[] = {{MBarGraph_ADCH0, 0.1}, {MBarGraph_ADCH1, 0.5}};
    for (const auto& b : bars) {
        b.bar->setMBGOrientation(orientationHorizontal);
        b.bar->setMBGMode(modeSigned);
        b.bar->setMBGMinusColorAt0(QColor(255, 255, 255));
        b.bar->setMBGMinusColorAt1(QColor(0, 0, 255));
        b.bar->setMBGPlusColorAt0(QColor(255, 255, 255));
        b.bar->setMBGPlusColorAt1(QColor(255, 0, 0));
        b.bar->setMBGShowText(false);
        b.bar->setMBGInverseText(false);
        b.bar->setMBGTextPosition(tpAuto);
        b.bar->setMBGTextLeft(0);
        b.bar->setMBGTextTop(0);
        b.bar->setMBGDecimals(0);
        // Stands until the first poll answer.
        b.bar->setMBGValue(b.value);
    }
}

void TForm_Main::SetupPictures() {
    namespace pic = kv::pictures;
    kv::ShowPictureWhenShown(Image1, pic::FetSchematic);
    kv::ShowPictureWhenShown(Image_InputCalibrationOK, pic::CalibrationOK);
    kv::ShowPictureWhenShown(Image_OutputCalibrationOK, pic::CalibrationOK);
    for (QLabel* image : PageControl3->findChildren<QLabel*>()) {
        const QString name = image->objectName();
        if (name.startsWith(QLatin1String("Image_Step")))
            kv::ShowPictureWhenShown(image, pic::InputCalibrationPicture(name.mid(10).toInt()));
    }
    for (QLabel* image : PageControl4->findChildren<QLabel*>()) {
        const QString name = image->objectName();
        if (name.startsWith(QLatin1String("Image_OutCalStep")))
            kv::ShowPictureWhenShown(image, pic::OutputCalibrationPicture(name.mid(16).toInt()));
    }
    kv::ShowGlyphWhenShown(SpeedButton_CalibrationNext, pic::GlyphNext);
    kv::ShowGlyphWhenShown(SpeedButton_CalibrationBack, pic::GlyphBack);
    kv::ShowGlyphWhenShown(SpeedButton_OutputCalibrationNext, pic::GlyphNext);
    kv::ShowGlyphWhenShown(SpeedButton_OutputCalibrationBack, pic::GlyphBack);
}

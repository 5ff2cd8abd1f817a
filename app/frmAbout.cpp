#include "frmAbout.h"

#include "AeroButton.h"
#include "AppVersion.h"
#include "MakerSite.h"
#include "Shape.h"
#include "Twips.h"
#include "WindowFonts.h"
#include "YtDlpProgram.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>

namespace {
const QColor kLightGrey(224, 224, 224);
const QColor kGrey(128, 128, 128);
const QColor kDarkGrey(64, 64, 64);
const QString kLineBreak = QStringLiteral("\r\n");
const QString kRule = QStringLiteral("---------------------");

const char* const kOtherProducts[] = {
    "Morvane Audio Recorder", "Morvane CD Ripper",      "Morvane DVD Creator",
    "Morvane File Shredder",  "Morvane MP3 Cutter",     "Morvane Photo Resizer",
    "Morvane Ringtone Maker", "Morvane Screen Capture", "Morvane Video Joiner",
};
} // namespace

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("About"));
    setFont(WindowFonts::Tahoma(8.25));
    setFixedSize(Twips::ToPixels(5130), Twips::ToPixels(4095));
    CreateControls();
    Form_Load();
}

void frmAbout::CreateControls() {
    // Drawn first so that they stay behind the text box.
    Shape1 = new Shape(Shape::Kind::RoundedRectangle, kLightGrey, kGrey, this);
    Shape1->setObjectName("Shape1");
    Shape1->setGeometry(Twips::ToPixelRect(225, 510, 4590, 2865));
    // Index 0 is the darkest and stands furthest right.
    const QColor squareColours[3] = {kDarkGrey, kGrey, kLightGrey};
    const int squareLefts[3] = {4575, 4200, 3825};
    for (int i = 2; i >= 0; --i) {
        shp[i] = new Shape(Shape::Kind::Square, squareColours[i], squareColours[i], this);
        shp[i]->setObjectName(QStringLiteral("shp%1").arg(i));
        shp[i]->setGeometry(Twips::ToPixelRect(squareLefts[i], 180, 240, 240));
    }

    txtInfo = new QPlainTextEdit(this);
    txtInfo->setObjectName("txtInfo");
    txtInfo->setAccessibleName(QStringLiteral("About Vantelo"));
    txtInfo->setGeometry(Twips::ToPixelRect(375, 630, 4290, 2640));
    txtInfo->setReadOnly(true);
    txtInfo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtInfo->setFocusPolicy(Qt::StrongFocus);
    txtInfo->setFrameShape(QFrame::NoFrame);
    txtInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtInfo->installEventFilter(this);
    QPalette infoPalette = txtInfo->palette();
    infoPalette.setColor(QPalette::Base, kLightGrey);
    infoPalette.setColor(QPalette::Text, Qt::black);
    txtInfo->setPalette(infoPalette);

    lblEMail = new QLabel(MakerSite::HomePage, this);
    lblEMail->setObjectName("lblEMail");
    QFont linkFont = WindowFonts::Tahoma(8.25);
    linkFont.setUnderline(true);
    lblEMail->setFont(linkFont);
    QPalette linkPalette = lblEMail->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    lblEMail->setPalette(linkPalette);
    lblEMail->move(Twips::ToPixels(240), Twips::ToPixels(3570));
    lblEMail->adjustSize();

    cmdClose = new AeroButton(QStringLiteral("&Ok"), this);
    cmdClose->setObjectName("cmdClose");
    cmdClose->setFont(WindowFonts::Tahoma(9));
    cmdClose->setGeometry(Twips::ToPixelRect(3840, 3480, 975, 375));
    cmdClose->setDefault(true);
    connect(cmdClose, &AeroButton::clicked, this, &frmAbout::accept);

    setTabOrder(txtInfo, cmdClose);
    txtInfo->setFocus();
}

void frmAbout::Form_Load() {
    AddInfoLine(QLatin1String(AppVersion::Product));
    AddInfoLine(QStringLiteral("Version : %1.%2.%3")
                    .arg(AppVersion::Major)
                    .arg(AppVersion::Minor)
                    .arg(AppVersion::Revision));
    AddInfoLine(QStringLiteral("Developed by ") + QLatin1String(AppVersion::Organisation));
    AddInfoLine(QStringLiteral("Company : ") + QLatin1String(AppVersion::Organisation));
    AddInfoLine(MakerSite::HomePage);
    AddInfoLine(QStringLiteral("Country : Ireland"));
    AddInfoLine(QString());
    AddInfoLine(QStringLiteral("Credits:"));
    AddInfoLine(kRule);
    AddInfoLine(QStringLiteral("FFMPEG"));
    AddInfoLine(QStringLiteral("Windows Media Format SDK"));
    AddInfoLine(QString());
    AddInfoLine(QStringLiteral("Other Products"));
    AddInfoLine(kRule);
    for (const char* product : kOtherProducts)
        AddInfoLine(QString::fromLatin1(product));
    AddYtDlpLines();
}

// The yt-dlp that reads the pages of sites, after the listing: its version, and how to update an
// old one.
void frmAbout::AddYtDlpLines() {
    const QString version = YtDlpProgram::Version();
    AddInfoLine(QString());
    AddInfoLine(QStringLiteral("yt-dlp : ") +
                (version.isEmpty() ? QStringLiteral("not installed") : version));
    const QString hint = YtDlpProgram::UpdateHint();
    if (!hint.isEmpty())
        AddInfoLine(hint);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    // The read-only text keeps Enter to itself; the box's default button should get it.
    if (watched == txtInfo && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cmdClose->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString frmAbout::InfoText() const {
    // The box shows line feeds; its text carries CR LF after every line.
    QString text = txtInfo->toPlainText();
    return text.replace(QLatin1Char('\n'), kLineBreak);
}

void frmAbout::AddInfoLine(const QString& line) {
    QString shown = txtInfo->toPlainText() + line + QLatin1Char('\n');
    txtInfo->setPlainText(shown);
}

// The about box.
#include "uAbout.h"

#include "uAudioEngine.h"
#include "uDialogKit.h"
#include "uReaderData.h"
#include "uReaderTypes.h"
#include "uVersion.h"

#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtGlobal>


namespace {

QLabel *MakeLabel(QWidget *AParent, const QString &AText, const QRect &ARect, int APx, bool ABold,
                  const QColor &AColour = QColor())
{
    auto *l = new QLabel(AText, AParent);
    l->setGeometry(ARect);
    QFont f = InterfaceFont();
    f.setPixelSize(APx);
    f.setBold(ABold);
    l->setFont(f);
    if (AColour.isValid())
        l->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(AColour.name()));
    return l;
}

} // namespace

QString AboutLibrariesText()
{
    return AudioLibrariesText() + QLatin1Char('\n') + CatalogueLibraryText();
}

TLogoView::TLogoView(QWidget *AOwner) : QWidget(AOwner) {}

void TLogoView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    PaintLogo(p, qMin(width(), height()));
}

QIcon ReaderIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/nl.vornak.VornakReader2026.png").arg(size), QSize(size, size));
    return icon;
}

void PaintLogo(QPainter &APainter, int ASize)
{
    ReaderIcon().paint(&APainter, QRect(0, 0, ASize, ASize));
}

TfrmAbout::TfrmAbout(QWidget *AOwner, const QString &AIniPath) : QDialog(AOwner)
{
    FormCreate(AIniPath);
}

void TfrmAbout::FormCreate(const QString &AIniPath)
{
    setWindowTitle(QStringLiteral("Over ") + ReaderTitle());
    setFixedSize(424, 320);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFont(WindowFont());

    pnlHeader = new QWidget(this);
    pnlHeader->setObjectName(QStringLiteral("pnlHeader"));
    pnlHeader->setGeometry(0, 0, 424, 80);
    pnlHeader->setAutoFillBackground(true);
    QPalette hp = pnlHeader->palette();
    hp.setColor(QPalette::Window, QColor(188, 117, 51));
    pnlHeader->setPalette(hp);

    lblTitle = MakeLabel(pnlHeader, QStringLiteral("Vornak Reader 2026 Beta"), QRect(20, 14, 300, 32), 24, true,
                         Qt::white);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblSubtitle = MakeLabel(pnlHeader, QStringLiteral("Recording playback & export"), QRect(21, 48, 200, 17), 13,
                            false, Qt::white);
    lblSubtitle->setObjectName(QStringLiteral("lblSubtitle"));
    lblInfo = MakeLabel(this, QStringLiteral("Terugluisteren van opgenomen audio."), QRect(20, 100, 240, 15), 12,
                        false);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblVersion = MakeLabel(this, QStringLiteral("Versie ") + ReaderVersion(), QRect(20, 116, 240, 15), 12, false);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblLibsHdr = MakeLabel(this, QStringLiteral("Gebruikte bibliotheken:"), QRect(20, 136, 160, 15), 12, true);
    lblLibsHdr->setObjectName(QStringLiteral("lblLibsHdr"));
    // Three entries, wrapped to the room left of the logo.
    lblLibs = MakeLabel(this, AboutLibrariesText(), QRect(36, 156, 232, 74), 10, false);
    lblLibs->setObjectName(QStringLiteral("lblLibs"));
    lblLibs->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblLibs->setWordWrap(true);
    lblIniHdr = MakeLabel(this, QStringLiteral("Instellingenbestand:"), QRect(20, 232, 140, 15), 12, true);
    lblIniHdr->setObjectName(QStringLiteral("lblIniHdr"));
    lblIniPath = MakeLabel(this, QString(), QRect(36, 254, 10, 15), 12, false);
    lblIniPath->setObjectName(QStringLiteral("lblIniPath"));
    lblIniPath->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Image1 = new TLogoView(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(272, 86, 144, 147);
    Image1->lower();

    btnClose = new QPushButton(QStringLiteral("Sluiten"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(326, 280, 82, 27);
    btnClose->setDefault(true);
    btnClose->setAutoDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    // Escape closes through QDialog::reject; the result is not used by the caller.

    // The path grows to the right on one line, past the window's edge if it must.
    lblIniPath->setText(AIniPath);
    lblIniPath->adjustSize();
}

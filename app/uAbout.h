// The about box: product name and version, the libraries this build uses and the path of the settings file.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QWidget>

class QLabel;
class QPushButton;

// The product logo: the reader's icon (a sound wave in a rounded square), scaled to the view's square.
class TLogoView : public QWidget {
    Q_OBJECT
public:
    explicit TLogoView(QWidget *AOwner = nullptr);
protected:
    void paintEvent(QPaintEvent *) override;
};

// Draws the logo into a square of side ASize at (0, 0).
void PaintLogo(class QPainter &APainter, int ASize);

// The reader's icon in every size it is drawn in (16 to 256 pixels), from the application's resources; the
// same pictures as the desktop's icon theme gets.
QIcon ReaderIcon();

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    // AIniPath: the settings file in use (TConfig::IniPath), shown as it is.
    TfrmAbout(QWidget *AOwner, const QString &AIniPath);

private:
    // Controls; each one's object name is its field name (tests find them by it).
    QWidget *pnlHeader = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblSubtitle = nullptr;
    QLabel *lblInfo = nullptr;
    QLabel *lblVersion = nullptr;  // "Versie " + ReaderVersion()
    QLabel *lblLibsHdr = nullptr;
    QLabel *lblLibs = nullptr;
    QLabel *lblIniHdr = nullptr;
    QLabel *lblIniPath = nullptr;  // the settings file in use, set on creation
    TLogoView *Image1 = nullptr;
    QPushButton *btnClose = nullptr;

    void FormCreate(const QString &AIniPath);
};

// The three entries of the library list for this build (FFmpeg and encoders, Qt Multimedia, SQLite), as
// the audio engine and the catalogue report them.
QString AboutLibrariesText();

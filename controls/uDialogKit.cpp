// The interface font and the label placement shared by the reader's windows, dialogs and painted controls.
#include "uDialogKit.h"

#include <QLabel>

namespace {

const char *const InterfaceFamily = "Segoe UI";

} // namespace

QFont InterfaceFont()
{
    return QFont(QLatin1String(InterfaceFamily));
}

QFont WindowFont()
{
    QFont f = InterfaceFont();
    f.setPixelSize(12);
    return f;
}

QFont DialogFont()
{
    QFont f;
    f.setFamilies({QLatin1String(InterfaceFamily), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    f.setPixelSize(12);
    return f;
}

void PlaceLabel(QLabel *ALabel, int AX, int AY, int AWidth, int AHeight)
{
    ALabel->setGeometry(AX, AY, AWidth, AHeight);
    ALabel->resize(qMax(AWidth, ALabel->sizeHint().width()), AHeight);
}

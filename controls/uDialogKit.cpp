// Font and label placement shared by the reader's dialogs.
#include "uDialogKit.h"

#include <QLabel>

QFont DialogFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("Segoe UI"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    f.setPixelSize(12);
    return f;
}

void PlaceLabel(QLabel *label, int x, int y, int w, int h)
{
    label->setGeometry(x, y, w, h);
    label->resize(qMax(w, label->sizeHint().width()), h);
}

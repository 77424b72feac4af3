// Demo generator (stub while it is written).
#include "uDemo.h"
#include "uReaderTypes.h"
QString MakeDemo(const QString &, const std::function<void(const QString &)> &, const QDate &)
{
    throw EReaderError(QStringLiteral("not yet"));
}

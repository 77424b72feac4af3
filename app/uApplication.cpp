// The reader's application object, its default error report and Qt's Dutch texts.
#include "uApplication.h"

#include "uReaderTypes.h"
#include "uVersion.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QMimeDatabase>
#include <QTranslator>
#include <QWidget>
#include <exception>

namespace {

// The size and date columns of a file dialog's list in the default locale, and a folder's type as the MIME
// database names it there (as Qt names a file's type; Qt's Dutch texts lack its own word "Folder");
// everything else as Qt's model gives it (a folder's size stays empty).
class TLocaleFileColumns final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &AIndex, int ARole) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (ARole != Qt::DisplayRole || !files || AIndex.column() < SizeColumn || AIndex.column() > DateColumn)
            return QIdentityProxyModel::data(AIndex, ARole);
        const QModelIndex source = mapToSource(AIndex);
        if (AIndex.column() == DateColumn)
            return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        if (!files->isDir(source))
            return AIndex.column() == SizeColumn ? QVariant(QLocale().formattedDataSize(files->size(source)))
                                                 : QIdentityProxyModel::data(AIndex, ARole);
        if (AIndex.column() == TypeColumn)
            return QMimeDatabase().mimeTypeForName(QStringLiteral("inode/directory")).comment();
        return QIdentityProxyModel::data(AIndex, ARole);
    }

private:
    // QFileSystemModel's columns: name, size, type, date modified.
    static constexpr int SizeColumn = 1;
    static constexpr int TypeColumn = 2;
    static constexpr int DateColumn = 3;
};

// The widest texts of the size, type and date columns as the proxy writes them in the default locale.
QStringList WidestColumnTexts(int AColumn)
{
    const QLocale locale;
    switch (AColumn) {
    case 1: {
        QStringList sizes;
        for (qint64 bytes : {qint64(1023), qint64(1048565), qint64(1073731823), qint64(1099500000000)})
            sizes << locale.formattedDataSize(bytes);
        return sizes;
    }
    case 2: {
        QStringList types;
        const QMimeDatabase mime;
        for (const char *name : {"inode/directory", "audio/mpeg", "audio/x-wav", "audio/x-vorbis+ogg",
                                 "audio/x-opus+ogg", "audio/flac", "application/vnd.sqlite3", "text/plain"})
            types << mime.mimeTypeForName(QLatin1String(name)).comment();
        return types;
    }
    default:  // two-digit day, month, hour and minute: the widest a date of this locale gets
        return {locale.toString(QDateTime(QDate(2026, 12, 28), QTime(23, 58)), QLocale::ShortFormat)};
    }
}

// Gives each file dialog the proxy once its own widgets exist and before it shows, and columns wide enough
// for what they list; a dialog that was given a proxy of its own keeps it.
class TFileDialogLocale final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *AWatched, QEvent *AEvent) override
    {
        if (AEvent->type() == QEvent::Polish || AEvent->type() == QEvent::Show) {
            auto *dialog = qobject_cast<QFileDialog *>(AWatched);
            if (dialog && !dialog->proxyModel() && dialog->findChild<QFileSystemModel *>())
                dialog->setProxyModel(new TLocaleFileColumns(dialog));
            if (dialog && AEvent->type() == QEvent::Show)
                FitFileDialogColumns(*dialog);
        }
        return false;
    }
};

} // namespace

void FitFileDialogColumns(QFileDialog &ADialog)
{
    auto *view = ADialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    if (!view || !view->header())
        return;
    QHeaderView *header = view->header();
    QStyleOptionViewItem cell;
    cell.initFrom(view);
    cell.font = view->font();
    cell.fontMetrics = QFontMetrics(cell.font);
    cell.features |= QStyleOptionViewItem::HasDisplay;
    for (int column = 1; column <= 3 && column < header->count(); ++column) {
        int width = header->sectionSizeHint(column);
        for (const QString &text : WidestColumnTexts(column)) {
            cell.text = text;
            width = qMax(width, view->style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), view).width());
        }
        if (header->sectionSize(column) < width)
            header->resizeSection(column, width);
    }
}

void UseDutchFormats(QApplication &AApp)
{
    QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands));
    AApp.installEventFilter(new TFileDialogLocale(&AApp));
}

bool InstallDutchQtTexts(QCoreApplication &AApp)
{
    auto *translator = new QTranslator(&AApp);
    // By file name, not by QLocale: the reader is Dutch on a machine of any locale.
    if (!translator->load(QStringLiteral("qtbase_nl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

TReaderApplication::TReaderApplication(int &AArgc, char **AArgv) : QApplication(AArgc, AArgv)
{
    InstallDutchQtTexts(*this);
    UseDutchFormats(*this);
    // A desktop's own file dialogs speak the desktop's language; Qt's own speak the reader's.
    setAttribute(Qt::AA_DontUseNativeDialogs);
    ShowError = [](const QString &AText) {
        QMessageBox::critical(QApplication::activeWindow(), ReaderTitle(), AText);
    };
}

bool TReaderApplication::notify(QObject *AReceiver, QEvent *AEvent)
{
    try {
        return QApplication::notify(AReceiver, AEvent);
    } catch (const EReaderError &e) {
        if (ShowError)
            ShowError(e.Message());
    } catch (const std::exception &e) {
        if (ShowError)
            ShowError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        if (ShowError)
            ShowError(QStringLiteral("Onbekende fout."));
    }
    return true;
}

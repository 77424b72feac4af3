// Progress dialog: clamping, kept text, cancel, hidden cancel, middle ellipsis, layout.
#include "TestMain.h"
#include "uProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

// The dialog's controls, found by their object names.
QLabel *Caption(const TfrmProgress &ADlg) { return ADlg.findChild<QLabel *>(QStringLiteral("lblCaption")); }
QProgressBar *Bar(const TfrmProgress &ADlg) { return ADlg.findChild<QProgressBar *>(QStringLiteral("pb")); }
QPushButton *Cancel(const TfrmProgress &ADlg) { return ADlg.findChild<QPushButton *>(QStringLiteral("btnCancel")); }

} // namespace

class tst_uProgress : public QObject {
    Q_OBJECT
private slots:
    void newDialogLayout()
    {
        TfrmProgress dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Even geduld"));
        QVERIFY(!dlg.isModal());
        QCOMPARE(dlg.size(), QSize(420, 110));
        QCOMPARE(Caption(dlg)->geometry(), QRect(16, 16, 388, 15));
        QCOMPARE(Bar(dlg)->geometry(), QRect(16, 40, 388, 20));
        QCOMPARE(Cancel(dlg)->geometry(), QRect(322, 72, 82, 27));
        QCOMPARE(Caption(dlg)->text(), QStringLiteral("Bezig..."));
        QCOMPARE(Cancel(dlg)->text(), QStringLiteral("Annuleren"));
        QCOMPARE(Bar(dlg)->value(), 0);
        QVERIFY(!dlg.Cancelled());
    }

    void setProgressClampsPercent_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("shown");
        QTest::addRow("below 0") << -5 << 0;
        QTest::addRow("in range") << 42 << 42;
        QTest::addRow("above 100") << 250 << 100;
    }
    void setProgressClampsPercent()
    {
        QFETCH(int, percent);
        TfrmProgress dlg;
        dlg.SetProgress(percent, QStringLiteral("Exporteren..."));
        QTEST(Bar(dlg)->value(), "shown");
    }

    void emptyTextKeepsTheLabel()
    {
        TfrmProgress dlg;
        dlg.SetProgress(10, QStringLiteral("Golfvorm analyseren..."));
        dlg.SetProgress(20, QString());
        QCOMPARE(Caption(dlg)->text(), QStringLiteral("Golfvorm analyseren..."));
        QCOMPARE(Bar(dlg)->value(), 20);
    }

    void cancelClickAsksToStop()
    {
        QWidget owner;
        owner.resize(800, 600);
        owner.show();
        TfrmProgress dlg(&owner);
        dlg.SetAllowCancel(true);
        dlg.SetProgress(0, QStringLiteral("Exporteren..."));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(!dlg.isModal());
        // The callback of an export answers "go on" until the click is handled.
        auto callback = [&](int APercent) {
            dlg.SetProgress(APercent, QStringLiteral("Exporteren..."));
            QCoreApplication::processEvents();
            return !dlg.Cancelled();
        };
        QVERIFY(callback(10));
        QTest::mouseClick(Cancel(dlg), Qt::LeftButton);
        QVERIFY(dlg.Cancelled());
        QVERIFY(!Cancel(dlg)->isEnabled());
        QCOMPARE(Caption(dlg)->text(), QStringLiteral("Bezig met annuleren..."));
        QVERIFY(!callback(20));
    }

    // Esc neither hides the window nor cancels, wherever the focus is; the close box hides it and cancels
    // nothing.
    void escapeDoesNothingAndTheCloseBoxOnlyHides()
    {
        TfrmProgress dlg;
        dlg.SetAllowCancel(true);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (QWidget *target : {static_cast<QWidget *>(&dlg), static_cast<QWidget *>(Cancel(dlg))}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QVERIFY(dlg.isVisible());
            QVERIFY(!dlg.Cancelled());
            QVERIFY(Cancel(dlg)->isEnabled());
        }
        QVERIFY(dlg.close());
        QVERIFY(!dlg.isVisible());
        QVERIFY(!dlg.Cancelled());
    }

    void cancelHiddenWhileLoading()
    {
        TfrmProgress dlg;
        dlg.SetAllowCancel(false);
        dlg.show();
        QVERIFY(!Cancel(dlg)->isVisible());
        dlg.SetAllowCancel(true);
        QVERIFY(Cancel(dlg)->isVisible());
    }

    void longTextIsShortenedInTheMiddle()
    {
        TfrmProgress dlg;
        const QString path = QStringLiteral("/srv/opnamen/2024/03/15/") + QString(60, QLatin1Char('x'))
            + QStringLiteral("/15032024121 vergadering.mp3");
        dlg.SetProgress(5, path);
        const QString shown = Caption(dlg)->text();
        QCOMPARE(dlg.CaptionText(), path);
        QVERIFY(shown.contains(QChar(0x2026)));
        QVERIFY(shown.startsWith(QStringLiteral("/srv/")));
        QVERIFY(shown.endsWith(QStringLiteral("vergadering.mp3")));
        QVERIFY(QFontMetrics(Caption(dlg)->font()).horizontalAdvance(shown) <= 388);
        QCOMPARE(Caption(dlg)->width(), 388);  // the label does not grow with its text
    }
};

VORNAK_TEST_MAIN(tst_uProgress)
#include "tst_uProgress.moc"

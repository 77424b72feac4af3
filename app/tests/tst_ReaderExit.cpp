// The reader program ends when its main window closes, also after the first start that made the demo.
// Runs the real program on a virtual display (xvfb-run) and closes its window through the menu
// "Programma > Afsluiten" with xdotool, as an operator would.
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Starts the reader, waits until its settings file is written and its main window (the only visible window
// of the reader's title that is wider than the demo's wait window) shows, then opens the menu "Programma"
// with a click on its title and chooses its last item "Afsluiten" with the keyboard. Prints "shown" once the
// window was found, then "ended CODE" when the process ended within 60 s of the choice, else "still running"
// (the process is then killed). Every wait is a bounded loop on an event, not a fixed pause.
const char *const CloseScript = R"sh(
"$READER" >"$LOG" 2>&1 & pid=$!
win=
for _ in $(seq 1 600); do
  kill -0 $pid 2>/dev/null || { echo "ended early"; exit 0; }
  if [ -f "$INI" ]; then
    for w in $(xdotool search --onlyvisible --name '^Vornak Reader 2026$' 2>/dev/null); do
      width=$(xdotool getwindowgeometry --shell "$w" | sed -n 's/^WIDTH=//p')
      [ "${width:-0}" -gt 600 ] && win=$w
    done
  fi
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || { echo "no window"; kill $pid; exit 0; }
echo shown
before=$(xdotool search --onlyvisible --name '.*' 2>/dev/null | wc -l)
xdotool mousemove --window "$win" 30 10 click 1
for _ in $(seq 1 50); do  # until the menu's popup shows
  [ "$(xdotool search --onlyvisible --name '.*' 2>/dev/null | wc -l)" -gt "$before" ] && break
  sleep 0.1
done
xdotool key Up Return
for _ in $(seq 1 300); do
  if ! kill -0 $pid 2>/dev/null; then wait $pid; echo "ended $?"; exit 0; fi
  sleep 0.2
done
echo "still running"
kill -9 $pid
)sh";

bool Have(const char *AProgram)
{
    return !QStandardPaths::findExecutable(QLatin1String(AProgram)).isEmpty();
}

} // namespace

class TestReaderExit : public QObject {
    Q_OBJECT
private slots:
    void processEndsWhenTheWindowClosesAfterTheFirstStart();
};

void TestReaderExit::processEndsWhenTheWindowClosesAfterTheFirstStart()
{
    QVERIFY2(Have("xvfb-run") && Have("xdotool"), "xvfb-run and xdotool are needed (tools/install.sh)");
    // An empty, writable folder of its own (the portable layout), two floors down so that no recorder
    // settings of a neighbouring folder are found: the first start makes the demo there.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkpath(QStringLiteral("home/app/bin")));
    const QString bin = tmp.filePath(QStringLiteral("home/app/bin/"));
    const QString reader = bin + QStringLiteral("VornakReader2026");
    QVERIFY(QFile::copy(QStringLiteral(READER_EXE), reader));
    QVERIFY(QFile::setPermissions(reader, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));  // the virtual display's own windows, not offscreen ones
    env.insert(QStringLiteral("HOME"), tmp.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.filePath(QStringLiteral("home/.config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), tmp.filePath(QStringLiteral("home/.local/share")));
    env.insert(QStringLiteral("READER"), reader);
    env.insert(QStringLiteral("INI"), bin + QStringLiteral("VornakReader2026.ini"));
    env.insert(QStringLiteral("LOG"), tmp.filePath(QStringLiteral("reader.log")));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("xvfb-run"), {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x800x24"),
                                           QStringLiteral("bash"), QStringLiteral("-c"), QLatin1String(CloseScript)});
    QVERIFY(run.waitForFinished(240000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    QFile log(tmp.filePath(QStringLiteral("reader.log")));
    const QString readerLog = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    const QString why = out + QStringLiteral("\n--- reader:\n") + readerLog;
    QVERIFY2(QFileInfo::exists(bin + QStringLiteral("demo/Vornak2026.sqlite")), qPrintable(why));  // a first start
    QVERIFY2(out.contains(QStringLiteral("shown\n")), qPrintable(why));
    QVERIFY2(out.contains(QStringLiteral("ended 0\n")), qPrintable(why));
}

VORNAK_TEST_GUILESS_MAIN(TestReaderExit)
#include "tst_ReaderExit.moc"

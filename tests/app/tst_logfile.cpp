#include "CLogFile.h"
#include "CSettings.h"
#include "TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <ctime>

// Log entries, rotation and the cross-thread entry. One working directory serves the whole case,
// since the settings object is bound to the first "settings.conf" it sees; every test starts
// from an empty directory apart from that file.
class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void entryFormat();
    void stampFollowsDaylightSaving();
    void sizeLimitIsInclusive();
    void rotationWalksAndWraps();
    void rotationByFileCount_data();
    void rotationByFileCount();
    void staleNumberedFileIsEmptied();
    void restartContinuesCountedFile();
    void disabledLogChangesNothing();
    void lineFeedsAreWrittenButNotEmitted();
    void unopenableFileStillEmits();
    void addLogFromAnotherThreadKeepsOrder();

private:
    static QByteArray read(const QString &name);
    static void removeLogFiles();

    TempWorkDir *dir = nullptr;
};

void TestLogFile::initTestCase()
{
    dir = new TempWorkDir;
    QVERIFY(dir->isValid());
    QVERIFY(CSettings::getInstance(QStringLiteral("settings.conf")));
}

void TestLogFile::removeLogFiles()
{
    QDir here(QDir::currentPath());
    for (const QString &name : here.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name == QLatin1String("settings.conf"))
            continue;
        QFileInfo info(here.filePath(name));
        if (info.isDir())
            QDir(info.filePath()).removeRecursively();
        else
            QFile::remove(info.filePath());
    }
}

void TestLogFile::init()
{
    removeLogFiles();
    CSettings::getInstance(QString())->clear();
    CSettings::writeValue(QStringLiteral("file_max_size"), 1000000);
}

QByteArray TestLogFile::read(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void TestLogFile::entryFormat()
{
    CLogFile log(QStringLiteral("history"), QString());
    QSignalSpy spy(&log, &CLogFile::addLogSignal);
    log.addLogMetod(QStringLiteral("hello"));

    const QByteArray content = read(QStringLiteral("history.log"));
    const QList<QByteArray> lines = content.split('\n');
    QCOMPARE(lines.size(), 4); // the file begins with an empty line
    QVERIFY(lines[0].isEmpty());
    QVERIFY(lines[1].endsWith("]" + QByteArray(65, '*')));
    QVERIFY(
        lines[2].endsWith("]**                      New session                            **"));
    const QRegularExpression stamp(
        QStringLiteral("^\\[\\d\\d-[A-Z][a-z]{2}-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]hello$"));
    QVERIFY2(stamp.match(QString::fromUtf8(lines[3])).hasMatch(), lines[3].constData());

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), QString::fromUtf8(lines[3]));
    QCOMPARE(spy[0][1].value<CLogFile::ELogMessageType>(), CLogFile::LogInfo);

    CLogFile withInfo(QStringLiteral("other"), QStringLiteral("gw"));
    QVERIFY(read(QStringLiteral("other.log")).endsWith("]**  New session  [gw] **"));
}

// Stamps are made once per second and completed with the milliseconds; the local time must
// still jump with the clock change, to the millisecond.
void TestLogFile::stampFollowsDaylightSaving()
{
    const QByteArray previousZone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    CLogFile log(QStringLiteral("history"), QString());
    const auto at = [](const char *utc) {
        return QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs)
            .toMSecsSinceEpoch();
    };
    const QStringList stamps = {
        log.stampAt(at("2026-03-29T00:59:59.001Z")), log.stampAt(at("2026-03-29T00:59:59.999Z")),
        log.stampAt(at("2026-03-29T01:00:00.000Z")), log.stampAt(at("2026-03-29T01:00:00.075Z")),
        log.stampAt(at("2026-10-25T00:59:59.500Z")), log.stampAt(at("2026-10-25T01:00:00.000Z")),
        log.stampAt(at("2026-12-31T22:59:59.999Z")), log.stampAt(at("2026-12-31T23:00:00.000Z")),
    };
    if (previousZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", previousZone);
    tzset();
    QCOMPARE(stamps, (QStringList{"29-Mar-26 01:59:59.001", "29-Mar-26 01:59:59.999",
                                  "29-Mar-26 03:00:00.000", "29-Mar-26 03:00:00.075",
                                  "25-Oct-26 02:59:59.500", "25-Oct-26 02:00:00.000",
                                  "31-Dec-26 23:59:59.999", "01-Jan-27 00:00:00.000"}));
}

void TestLogFile::sizeLimitIsInclusive()
{
    CSettings::writeValue(QStringLiteral("max_files_counter"), 3);
    CLogFile log(QStringLiteral("history"), QString());

    CSettings::writeValue(QStringLiteral("file_max_size"),
                          QFileInfo(QStringLiteral("history.log")).size());
    log.addLogMetod(QStringLiteral("at the limit"));
    QVERIFY(read(QStringLiteral("history.log")).endsWith("]at the limit"));
    QVERIFY(!QFile::exists(QStringLiteral("history(1).log")));

    CSettings::writeValue(QStringLiteral("file_max_size"),
                          QFileInfo(QStringLiteral("history.log")).size() - 1);
    log.addLogMetod(QStringLiteral("one byte over"));
    QVERIFY(!read(QStringLiteral("history.log")).contains("one byte over"));
    QVERIFY(read(QStringLiteral("history(1).log")).endsWith("]one byte over"));
    QCOMPARE(CSettings::readValue(QStringLiteral("files_counter")).toInt(), 1);
}

void TestLogFile::rotationWalksAndWraps()
{
    CSettings::writeValue(QStringLiteral("max_files_counter"), 3);
    CLogFile log(QStringLiteral("history"), QString());
    CSettings::writeValue(QStringLiteral("file_max_size"), 0);

    log.addLogMetod(QStringLiteral("A"));
    QVERIFY(read(QStringLiteral("history(1).log")).endsWith("]A"));
    log.addLogMetod(QStringLiteral("B"));
    QVERIFY(read(QStringLiteral("history(2).log")).endsWith("]B"));
    QCOMPARE(CSettings::readValue(QStringLiteral("files_counter")).toInt(), 2);

    log.addLogMetod(QStringLiteral("C"));
    QVERIFY(!QFile::exists(QStringLiteral("history(1).log")));
    QVERIFY(!QFile::exists(QStringLiteral("history(2).log")));
    const QByteArray unnumbered = read(QStringLiteral("history.log"));
    QVERIFY(unnumbered.startsWith("\n["));
    QVERIFY(unnumbered.endsWith("]C"));
    QCOMPARE(unnumbered.count('\n'), 1);
    QCOMPARE(CSettings::readValue(QStringLiteral("files_counter")).toInt(), 0);
}

void TestLogFile::rotationByFileCount_data()
{
    QTest::addColumn<QVariant>("maxFiles");
    QTest::addColumn<int>("files");
    QTest::addRow("max_files_counter 1") << QVariant(1) << 1;
    // An absent key counts as the dialog's default: history is kept, not emptied each time.
    QTest::addRow("max_files_counter absent") << QVariant() << 20;
}

void TestLogFile::rotationByFileCount()
{
    QFETCH(QVariant, maxFiles);
    QFETCH(int, files);
    if (maxFiles.isValid())
        CSettings::writeValue(QStringLiteral("max_files_counter"), maxFiles);
    CLogFile log(QStringLiteral("history"), QString());
    CSettings::writeValue(QStringLiteral("file_max_size"), 0);
    const auto fileName = [](int index) {
        return index == 0 ? QStringLiteral("history.log")
                          : QStringLiteral("history(%1).log").arg(index);
    };

    // Every entry rotates first: entry k lands in file k modulo the count, and the wrap to the
    // unnumbered file deletes the numbered ones and empties it.
    for (int k = 1; k <= files + 1; ++k) {
        const QByteArray text = "entry " + QByteArray::number(k);
        log.addLogMetod(QString::fromLatin1(text));
        const int index = k % files;
        const QByteArray content = read(fileName(index));
        QVERIFY2(content.endsWith("]" + text), qPrintable(fileName(index)));
        QCOMPARE(content.count('\n'), 1);
        if (index == 0) {
            for (int numbered = 1; numbered < files; ++numbered)
                QVERIFY2(!QFile::exists(fileName(numbered)), qPrintable(fileName(numbered)));
        } else if (k < files) {
            QVERIFY(read(fileName(0)).contains("New session"));
        }
        QCOMPARE(CSettings::readValue(QStringLiteral("files_counter")).toInt(), index);
    }
}

void TestLogFile::staleNumberedFileIsEmptied()
{
    dir->writeFile(QStringLiteral("history(1).log"), "stale lines from an earlier run\n");
    CSettings::writeValue(QStringLiteral("max_files_counter"), 3);
    CLogFile log(QStringLiteral("history"), QString());
    CSettings::writeValue(QStringLiteral("file_max_size"), 0);

    log.addLogMetod(QStringLiteral("fresh"));
    const QByteArray content = read(QStringLiteral("history(1).log"));
    QVERIFY(!content.contains("stale"));
    QVERIFY(content.endsWith("]fresh"));
}

void TestLogFile::restartContinuesCountedFile()
{
    dir->writeFile(QStringLiteral("history(2).log"), "earlier run");
    CSettings::writeValue(QStringLiteral("files_counter"), 2);
    CLogFile log(QStringLiteral("history"), QString());
    log.addLogMetod(QStringLiteral("continued"));

    const QByteArray content = read(QStringLiteral("history(2).log"));
    QVERIFY(content.startsWith("earlier run\n["));
    QVERIFY(content.endsWith("]continued"));
    QVERIFY(!QFile::exists(QStringLiteral("history.log")));
}

void TestLogFile::disabledLogChangesNothing()
{
    dir->writeFile(QStringLiteral("history.log"), "kept");
    CSettings::writeValue(QStringLiteral("use_log"), false);
    CSettings::writeValue(QStringLiteral("file_max_size"), 0);
    CLogFile log(QStringLiteral("history"), QString());
    QSignalSpy spy(&log, &CLogFile::addLogSignal);
    log.addLogMetod(QStringLiteral("not written"));

    QCOMPARE(read(QStringLiteral("history.log")), QByteArray("kept"));
    QCOMPARE(spy.count(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("history(1).log")));
}

void TestLogFile::lineFeedsAreWrittenButNotEmitted()
{
    CLogFile log(QStringLiteral("history"), QString());
    QSignalSpy spy(&log, &CLogFile::addLogSignal);
    log.addLogMetod(QStringLiteral("one\ntwo\n"), CLogFile::LogError);

    QVERIFY(read(QStringLiteral("history.log")).endsWith("]one\ntwo\n"));
    QCOMPARE(spy.count(), 1);
    const QString emitted = spy[0][0].toString();
    QVERIFY(!emitted.contains(QLatin1Char('\n')));
    QVERIFY(emitted.endsWith(QStringLiteral("]onetwo")));
    QCOMPARE(spy[0][1].value<CLogFile::ELogMessageType>(), CLogFile::LogError);
}

void TestLogFile::unopenableFileStillEmits()
{
    QDir().mkdir(QStringLiteral("history.log")); // a directory cannot be opened as the log
    QTest::ignoreMessage(QtDebugMsg, "[CLogFile] Invalid file opening!");
    CLogFile log(QStringLiteral("history"), QString());
    QSignalSpy spy(&log, &CLogFile::addLogSignal);

    QTest::ignoreMessage(QtDebugMsg, "[CLogFile::addLogMetod] File is closed!");
    log.addLogMetod(QStringLiteral("still shown"));
    QCOMPARE(spy.count(), 1);
    QVERIFY(spy[0][0].toString().endsWith(QStringLiteral("]still shown")));
}

void TestLogFile::addLogFromAnotherThreadKeepsOrder()
{
    CLogFile *log = CLogFile::getInstance(QStringLiteral("threaded"), QString());
    QCOMPARE(CLogFile::getInstance(QStringLiteral("ignored"), QStringLiteral("x")), log);
    QCOMPARE(CLogFile::instance(), log);
    QSignalSpy spy(log, &CLogFile::addLogSignal);

    constexpr int lines = 200;
    QThread *writer = QThread::create([] {
        for (int i = 0; i < lines; ++i)
            addLog(QStringLiteral("line %1").arg(i));
    });
    writer->start();
    QVERIFY(writer->wait(10000));
    delete writer;

    QTRY_COMPARE(spy.count(), lines);
    for (int i = 0; i < lines; ++i)
        QVERIFY(spy[i][0].toString().endsWith(QStringLiteral("]line %1").arg(i)));
    const QByteArray content = read(QStringLiteral("threaded.log"));
    QVERIFY(content.indexOf("]line 0\n") < content.indexOf("]line 199"));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"

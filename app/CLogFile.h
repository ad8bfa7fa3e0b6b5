#pragma once

#include <QFile>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <limits>

// The rotating log file of the gateway. Lines reach it from any thread through addLog(); every
// write happens in the thread the object lives in (the GUI thread).
class CLogFile : public QObject
{
    Q_OBJECT
public:
    enum ELogMessageType : int { LogInfo = 0, LogError = 2 };
    Q_ENUM(ELogMessageType)

    CLogFile(const QString &name, const QString &sessionInfo, QObject *parent = nullptr);
    ~CLogFile() override;

    static CLogFile *getInstance(const QString &name, const QString &sessionInfo);
    static CLogFile *instance();

    // Seam for tests and the log-settings dialog: the file currently written.
    QString currentFileName() const { return file.fileName(); }

    // The time stamp of an entry written at the given time (milliseconds since the epoch), as
    // "dd-MMM-yy HH:mm:ss.zzz" in local time; a seam for tests.
    QString stampAt(qint64 msecsSinceEpoch);

    // Hands one line over to the log's thread; false when there is no log object. Lines posted
    // while others wait are written by the same queued call, in the order they came.
    static bool post(const QString &text, ELogMessageType type);
    // False when a line logged now from this thread would not be written ("use_log" is off), so
    // callers can skip building it. Known only in the log's own thread; elsewhere true.
    static bool isEnabled();

signals:
    void addLogSignal(QString logStr, CLogFile::ELogMessageType type);

public slots:
    void addLogMetod(QString logStr = QString(), CLogFile::ELogMessageType type = LogInfo);
    void addLogIntoFileOnly(QString logStr);

private slots:
    void writePending();

private:
    struct SPendingLine
    {
        QString text;
        ELogMessageType type = LogInfo;
    };

    QString fileNameFor(int index) const;
    QString buildEntry(const QString &logStr);
    bool openFile(QIODevice::OpenMode mode);
    void rotate();
    void writeEntry(const QString &entry);

    QFile file;
    QMutex mutex;
    QString sessionInfo;
    QString name;
    int fileIndex = 0;
    // Bytes in `file`, kept here so that the size test needs no file-system call per entry.
    qint64 fileBytes = 0;
    // The local time stamp up to its milliseconds, made once per second: local time only
    // changes offset (daylight saving, a new zone) at a whole second.
    qint64 stampSecond = std::numeric_limits<qint64>::min();
    QString stampHead;

    QMutex pendingMutex;
    QList<SPendingLine> pending;

    static CLogFile *self;
};

Q_DECLARE_METATYPE(CLogFile::ELogMessageType)

// The one logging function of the program; callable from any thread.
void addLog(const QString &text, CLogFile::ELogMessageType type = CLogFile::LogInfo,
            bool alsoDebug = false);
// Logs the line and also prints it on standard error: for what must be seen even where no window
// is (a refused start, a port that cannot be served).
void addLogAndPrint(const QString &text, CLogFile::ELogMessageType type = CLogFile::LogInfo);

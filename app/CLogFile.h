#pragma once

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>

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

signals:
    void addLogSignal(QString logStr, CLogFile::ELogMessageType type);

public slots:
    void addLogMetod(QString logStr = QString(), CLogFile::ELogMessageType type = LogInfo);
    void addLogIntoFileOnly(QString logStr);

private:
    QString fileNameFor(int index) const;
    QString buildEntry(const QString &logStr) const;
    void rotate();
    void writeEntry(const QString &entry);

    QFile file;
    QMutex mutex;
    QString sessionInfo;
    QString name;
    int fileIndex = 0;

    static CLogFile *self;
};

Q_DECLARE_METATYPE(CLogFile::ELogMessageType)

// The one logging function of the program; callable from any thread.
void addLog(const QString &text, CLogFile::ELogMessageType type = CLogFile::LogInfo,
            bool alsoDebug = false);

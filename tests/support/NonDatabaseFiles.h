#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

// Contents of a "server.db" that is no SQLite database, with the reason SQLite gives for it.
struct SNonDatabaseFile
{
    const char *name;
    QByteArray bytes;
    QByteArray reason;
};

inline QList<SNonDatabaseFile> nonDatabaseFiles()
{
    const QByteArray notADatabase("file is not a database");
    QByteArray random(4096, '\0');
    QRandomGenerator generator(20240611);
    for (char &c : random)
        c = char(generator.bounded(256));
    const QByteArray magic("SQLite format 3", 16);
    return {
        {"random bytes", random, notADatabase},
        {"text file", QByteArray("dev_eui;port\n70B3D5E75E00F001;502\n"), notADatabase},
        {"header cut short", magic.left(13), notADatabase},
        {"header then garbage", magic + QByteArray(4080, '\xa5'), notADatabase},
    };
}

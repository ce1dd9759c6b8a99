#ifndef FILEBYTES_H
#define FILEBYTES_H

#include <QByteArray>
#include <QString>

// The whole of a file, or nothing when it cannot be read.
QByteArray fileBytes(const QString &path);

#endif // FILEBYTES_H
